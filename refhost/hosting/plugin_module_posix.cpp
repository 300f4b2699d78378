#include <dlfcn.h>
#include <strings.h>

#include <cstring>

#include "plugin/module_resources.hpp"
#include "refhost/hosting/module_file_check.hpp"
#include "refhost/hosting/plugin_module.hpp"

plugin_module::plugin_module(const std::string& path) : path_(path) {
  handle_ = dlopen(checked_module_path(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw module_error("cannot load plug-in module " + path + ": " +
                       (reason != nullptr ? reason : "unknown error"));
  }
  resolve_entry_points();
}

plugin_module::~plugin_module() {
  if (handle_ != nullptr)
    dlclose(handle_);
}

void* plugin_module::resolve(const char* name) const {
  void* symbol = dlsym(handle_, name);
  if (symbol == nullptr) {
    dlclose(handle_);
    throw module_error("plug-in module " + path_ + " does not export " + name);
  }
  return symbol;
}

resource_view plugin_module::find_resource(const char* type, const char* name,
                                           std::uint16_t language) const {
  auto* table = static_cast<const module_resource*>(dlsym(handle_, "velloq_module_resources"));
  auto* count = static_cast<const unsigned*>(dlsym(handle_, "velloq_module_resource_count"));
  if (table == nullptr || count == nullptr)
    return {};
  for (unsigned i = 0; i < *count; ++i) {
    const module_resource& entry = table[i];
    if (entry.language == language && strcasecmp(entry.type, type) == 0 &&
        strcasecmp(entry.name, name) == 0) {
      return resource_view{entry.data, entry.size};
    }
  }
  return {};
}
