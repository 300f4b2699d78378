#include <windows.h>

#include <cstring>
#include <string>

#include "refhost/hosting/module_file_check.hpp"
#include "refhost/hosting/plugin_module.hpp"

plugin_module::plugin_module(const std::string& path) : path_(path) {
  handle_ = LoadLibraryA(checked_module_path(path).c_str());
  if (handle_ == nullptr) {
    throw module_error("cannot load plug-in module " + path + " (error " +
                       std::to_string(GetLastError()) + ")");
  }
  resolve_entry_points();
}

plugin_module::~plugin_module() {
  if (handle_ != nullptr)
    FreeLibrary(static_cast<HMODULE>(handle_));
}

void* plugin_module::resolve(const char* name) const {
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), name);
  if (symbol == nullptr) {
    FreeLibrary(static_cast<HMODULE>(handle_));
    throw module_error("plug-in module " + path_ + " does not export " + name);
  }
  return reinterpret_cast<void*>(symbol);
}

resource_view plugin_module::find_resource(const char* type, const char* name,
                                           std::uint16_t language) const {
  // Windows compares resource names and types without regard to case.
  auto module = static_cast<HMODULE>(handle_);
  HRSRC found = FindResourceExA(module, type, name, language);
  if (found == nullptr)
    return {};
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr)
    return {};
  return resource_view{static_cast<const unsigned char*>(LockResource(loaded)),
                       static_cast<std::size_t>(SizeofResource(module, found))};
}
