#pragma once
// The plug-in's identity and the UUID constants parsed when the module loads.

#include <cstdint>

#include "host/com_unknown.hpp"
#include "host/types.hpp"

// The effector interface id in GUID byte layout, compared byte for byte.
extern const std::uint8_t effector_interface_id[16];
bool is_effector_interface_id(const void* id);

// The record get_info returns: six int32 words.
struct PluginInfo {
  std::int32_t newest_host_version;  // 440487: hosts from here on supply their version text
  std::int32_t lowest_host_version;  // 430000: the version gate of has_interface
  std::int32_t host_word_3;          // the remaining four are the host's to define
  std::int32_t host_word_4;
  std::int32_t host_word_5;
  std::int32_t host_word_6;
};
static_assert(sizeof(PluginInfo) == 24, "PluginInfo is six int32");

inline constexpr PluginInfo plugin_info = {440487, 430000, 1, 2, 0, 1};
inline constexpr std::int32_t lowest_host_version = 430000;
inline constexpr std::int32_t interface_version = 25;

// Parsed at module load, before any export can run, in this order.
struct identity_constants {
  Uuid draft_ray_tracing;
  Uuid ray_tracing;
  Uuid path_tracing;
  Uuid toon_renderer;
  Uuid plugin_uuid;
};
const identity_constants& identity();

inline constexpr Uuid nil_uuid = {{0, 0, 0, 0}};
