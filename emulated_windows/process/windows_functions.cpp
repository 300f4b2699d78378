#include "emulated_windows/process/windows_functions.hpp"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

// windows_functions.txt, generated into the build.
extern const char windows_functions_text[];

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct function_table {
  // "kernel32.dll!CreateEventA": its first version, or none when undated.
  std::unordered_map<std::string, std::optional<windows_version>> functions;
  std::set<std::string> dlls;  // lower case
};

const function_table& table() {
  static const function_table parsed = [] {
    static const std::pair<const char*, windows_version> tags[] = {
        {"-", windows_version::windows_2000}, {"xp", windows_version::xp_sp3},
        {"vista", windows_version::vista},    {"7", windows_version::windows_7},
        {"8", windows_version::windows_8},    {"8.1", windows_version::windows_8_1},
        {"10", windows_version::windows_10},
    };
    function_table t;
    std::istringstream text(windows_functions_text);
    for (std::string line; std::getline(text, line);) {
      if (line.empty() || line[0] == '#')
        continue;
      std::istringstream fields(line);
      std::string dll, function, since;
      fields >> dll >> function >> since;
      std::optional<windows_version> first;
      if (since != "?") {
        const auto tag = std::find_if(std::begin(tags), std::end(tags),
                                      [&since](const auto& entry) { return since == entry.first; });
        if (tag == std::end(tags))
          throw std::logic_error("windows_functions.txt: bad line: " + line);
        first = tag->second;
      }
      t.dlls.insert(lower(dll));
      t.functions[lower(dll) + "!" + function] = first;
    }
    return t;
  }();
  return parsed;
}

}  // namespace

function_record windows_function_record(const std::string& dll, const std::string& function,
                                        windows_version* first) {
  const auto it = table().functions.find(lower(dll) + "!" + function);
  if (it == table().functions.end())
    return function_record::unlisted;
  if (!it->second)
    return function_record::undated;
  if (first != nullptr)
    *first = *it->second;
  return function_record::dated;
}

std::optional<windows_version> first_windows_with(const std::string& dll,
                                                  const std::string& function) {
  windows_version first{};
  if (windows_function_record(dll, function, &first) != function_record::dated)
    return std::nullopt;
  return first;
}

bool windows_exports(windows_version version, const std::string& dll, const std::string& function) {
  const std::optional<windows_version> first = first_windows_with(dll, function);
  return first && *first <= version;
}

bool windows_lists_dll(const std::string& dll) {
  return table().dlls.count(lower(dll)) != 0;
}

const char* gcc_runtime_dll(const std::string& dll) {
  static const std::pair<const char*, const char*> runtimes[] = {
      {"libgcc_s_", "mingw's shared GCC runtime"},
      {"libstdc++", "mingw's shared C++ runtime"},
      {"libwinpthread", "mingw's POSIX threads library"},
      {"libgomp", "GCC's OpenMP runtime"},
      {"libssp", "GCC's stack protector runtime"},
      {"libatomic", "GCC's atomics runtime"},
      {"libquadmath", "GCC's quadruple precision library"},
  };
  const std::string name = lower(dll);
  for (const auto& [prefix, what] : runtimes)
    if (name.rfind(prefix, 0) == 0)
      return what;
  return nullptr;
}
