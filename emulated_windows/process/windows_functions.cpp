#include "emulated_windows/process/windows_functions.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <stdexcept>

// windows_functions.txt, generated into the build.
extern const char windows_functions_text[];

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

const std::map<std::string, windows_version>& functions() {
  static const std::map<std::string, windows_version> list = [] {
    std::map<std::string, windows_version> parsed;
    std::istringstream text(windows_functions_text);
    for (std::string line; std::getline(text, line);) {
      if (line.empty() || line[0] == '#')
        continue;
      std::istringstream fields(line);
      std::string dll, function, since;
      fields >> dll >> function >> since;
      const windows_version first = since.empty()      ? windows_version::windows_2000
                                    : since == "xp"    ? windows_version::xp_sp3
                                    : since == "vista" ? windows_version::vista
                                    : since == "7"     ? windows_version::windows_7
                                                   : throw std::logic_error("bad line: " + line);
      parsed[lower(dll) + "!" + function] = first;
    }
    return parsed;
  }();
  return list;
}

}  // namespace

std::optional<windows_version> first_windows_with(const std::string& dll,
                                                  const std::string& function) {
  const auto it = functions().find(lower(dll) + "!" + function);
  if (it == functions().end())
    return std::nullopt;
  return it->second;
}

bool windows_exports(windows_version version, const std::string& dll, const std::string& function) {
  const std::optional<windows_version> first = first_windows_with(dll, function);
  return first && *first <= version;
}
