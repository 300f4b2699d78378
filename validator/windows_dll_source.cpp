#include "validator/windows_dll_source.hpp"

#include <cstring>
#include <fstream>

#include "validator/native_plugin.hpp"

namespace {
bool is_elf(const std::string& path) {
  char magic[4] = {};
  std::ifstream(path, std::ios::binary).read(magic, sizeof magic);
  return std::memcmp(magic,
                     "\x7f"
                     "ELF",
                     4) == 0;
}
}  // namespace

validation validate(const validation_options& options, const check_observer& observe) {
  std::unique_ptr<target_source> source;
  try {
    if (is_elf(options.plugin_path)) {
      // A native module that does not load, or lacks an entry point, is no plug-in.
      const plugin_module loads(options.plugin_path);
      source = std::make_unique<native_module_source>(options.plugin_path);
    } else {
      source = std::make_unique<windows_dll_source>(plugin_file::read(options.plugin_path));
    }
  } catch (const std::exception& e) {
    validation done;
    done.unusable = true;
    done.results.push_back({"file.format", check_status::failed, e.what()});
    if (observe)
      observe(done.results.back());
    return done;
  }
  return validate(options, *source, observe);
}
