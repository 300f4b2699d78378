#pragma once
// A plug-in module loaded the way the host loads it: opened by path, its
// eight entry points resolved by their platform names, its resources found
// by type, name and language.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "host/plugin_entry_points.hpp"

struct module_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct resource_view {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr; }
};

class plugin_module {
 public:
  // Throws module_error when the module cannot be opened or lacks an entry point.
  explicit plugin_module(const std::string& path);
  ~plugin_module();
  plugin_module(const plugin_module&) = delete;
  plugin_module& operator=(const plugin_module&) = delete;

  const plugin_entry_points& entry_points() const { return entry_points_; }
  const std::string& path() const { return path_; }

  // The resource of this type and name (names compare without regard to
  // case, as Windows resource names do) in `language`; empty when absent.
  resource_view find_resource(const char* type, const char* name, std::uint16_t language) const;

 private:
  void* resolve(const char* name) const;
  // Resolves the eight entry points under this platform's names.
  void resolve_entry_points();

  std::string path_;
  void* handle_ = nullptr;
  plugin_entry_points entry_points_{};
};
