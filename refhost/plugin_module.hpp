#pragma once
// A plug-in module loaded the way the host loads it: opened by path, its
// eight entry points resolved by their platform names, its resources found
// by type, name and language.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "host/abi.hpp"
#include "host/host_application.hpp"
#include "host/types.hpp"

struct module_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The info record as the host reads it: six int32 words.
struct plugin_info_record {
  std::int32_t words[6];
};

struct plugin_entry_points {
  std::int32_t(VELLOQ_STDCALL* has_interface)(const void* interface_id, HostApplication*);
  const char*(VELLOQ_STDCALL* get_name)(const void* interface_id, std::int32_t, HostApplication*,
                                        std::int32_t);
  std::int32_t(VELLOQ_STDCALL* get_interface_version)(std::int32_t);
  Uuid*(VELLOQ_STDCALL* get_uuid)(Uuid* result, const void* interface_id, std::int32_t,
                                  std::int32_t);
  std::int32_t(VELLOQ_STDCALL* is_resident)(std::int32_t, std::int32_t, std::int32_t);
  plugin_info_record*(VELLOQ_STDCALL* get_info)(plugin_info_record* result, std::int32_t,
                                                std::int32_t);
  std::int32_t(VELLOQ_STDCALL* has_separate_interfaces)(std::int32_t);
  std::int32_t(VELLOQ_STDCALL* create_interface)(std::int32_t, std::int32_t, void** out,
                                                 std::int32_t, std::int32_t);
};

// The names the entry points are exported under on this platform.
extern const char* const entry_point_names[8];

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

  std::string path_;
  void* handle_ = nullptr;
  plugin_entry_points entry_points_{};
};

// The effector interface id as the host passes it: GUID bytes.
extern const unsigned char host_effector_interface_id[16];
