#pragma once
// The plug-in's identity and the UUID constants parsed when the module loads.

#include <cstdint>

#include "host/plugin_entry_points.hpp"
#include "host/types.hpp"

// Whether the 16 bytes at `id` are the effector interface id, byte for byte.
bool is_effector_interface_id(const void* id);

// 440487: hosts from here on supply their version text; 430000: the gate.
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
