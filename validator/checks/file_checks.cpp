// The file as the loader reads it, before anything of it runs.

#include <algorithm>
#include <cstdio>

#include "emulated_windows/process/windows_functions.hpp"
#include "host/plugin_entry_points.hpp"
#include "validator/windows_dll_source.hpp"

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string without_service_pack(windows_version version) {
  const std::string name = windows_version_name(version);
  return name.substr(0, name.rfind(" SP"));
}

}  // namespace

VALIDATOR_CHECK(check_file_format, {"file.format",
                                    "a PE32 i386 DLL exporting the host's entry points",
                                    {},
                                    check_level::standard,
                                    check_target::windows_dll}) {
  const pe_file& image = *file_of(context).image;
  const pe_headers& h = image.headers();
  if (h.machine != 0x014C || h.optional_magic != 0x010B || (h.characteristics & 0x2000) == 0)
    return failed("not a 32-bit x86 DLL (PE32, machine i386, the DLL flag)");
  const std::vector<std::string> names = image.export_names();
  int entry_points = 0;
  for (const char* name : decorated_entry_point_names)
    entry_points += std::count(names.begin(), names.end(), name) != 0 ? 1 : 0;
  if (entry_points == 0)
    return failed("exports none of the eight entry points (_has_interface@8, ...): not a plug-in");
  return passed("PE32 i386 DLL, " + std::to_string(entry_points) + " of the eight entry points");
}

VALIDATOR_CHECK(check_file_relocations,
                {"file.relocations",
                 "base relocations, so that it loads where its base is taken",
                 {"file.format"},
                 check_level::standard,
                 check_target::windows_dll}) {
  const pe_file& image = *file_of(context).image;
  const std::vector<std::uint32_t> relocations = image.base_relocations();
  if (relocations.empty())
    return failed("has no base relocations: where another module already sits at its base " +
                  hex(image.headers().image_base) + ", Windows cannot load it");
  return passed(std::to_string(relocations.size()) + " relocations, preferred base " +
                hex(image.headers().image_base));
}

VALIDATOR_CHECK(check_file_imports,
                {"file.imports",
                 "every import exists on the oldest Windows asked for (--windows)",
                 {"file.format"},
                 check_level::standard,
                 check_target::windows_dll}) {
  const pe_file& image = *file_of(context).image;
  const windows_version oldest = context.options.oldest;
  // What the oldest Windows lacks, and what the validator cannot date.
  std::vector<std::string> missing, undated;
  std::size_t count = 0;
  for (const pe_import_module& module : image.imports()) {
    count += module.functions.size();
    if (const char* runtime = gcc_runtime_dll(module.dll)) {
      missing.push_back(module.dll + " (" + runtime +
                        ", which neither Windows nor the host ships: link it statically, -static)");
      continue;
    }
    if (!windows_lists_dll(module.dll)) {
      undated.push_back(module.dll + " (a DLL whose functions the validator does not list)");
      continue;
    }
    for (const std::string& function : module.functions) {
      const std::string name = module.dll + "!" + function;
      windows_version first{};
      switch (windows_function_record(module.dll, function, &first)) {
        case function_record::dated:
          if (first > oldest)
            missing.push_back(name + " (from " + without_service_pack(first) + " on)");
          break;
        case function_record::undated:
          undated.push_back(name + " (no Windows header dates it)");
          break;
        case function_record::unlisted:
          if (function[0] == '#')
            undated.push_back(name + " (an import by number)");
          else
            missing.push_back(name + " (exported by no Windows that mingw-w64 knows)");
          break;
      }
    }
  }
  if (image.directory_rva(pe_directory::delay_imports) != 0)
    missing.push_back("delay-loaded imports, which fail just the same where they are missing");
  auto listed = [](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? " " : "; ") + n;
    return text;
  };
  if (!missing.empty())
    return failed("imports what " + std::string(windows_version_name(oldest)) +
                  " lacks:" + listed(missing));
  if (!undated.empty())
    return not_judged("no first Windows known for" + listed(undated));
  return passed(std::to_string(count) + " imports, all exported by " +
                windows_version_name(oldest));
}
