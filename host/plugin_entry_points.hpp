#pragma once
// The eight functions through which the host discovers a plug-in module,
// and the data they exchange. The plug-in defines them and velloq-host
// resolves and calls them; both take their types from the one list below,
// so a signature that differs between the two cannot compile.
//
// The host calls them by name with the standard Windows convention (callee
// pops). A result returned by value (Uuid, PluginInfo) arrives, as MSVC
// passes it, through a location the caller gives as the first argument; the
// function returns that location. The export names carry MSVC's decoration,
// whose byte count includes that hidden location.

#include <cstdint>

#include "host/abi.hpp"
#include "host/host_application.hpp"
#include "host/types.hpp"

// The record get_info returns: six int32 words.
struct PluginInfo {
  std::int32_t newest_host_version;  // hosts from here on supply their own version text
  std::int32_t lowest_host_version;  // the version gate of has_interface
  std::int32_t host_word_3;          // the remaining four are the host's to define
  std::int32_t host_word_4;
  std::int32_t host_word_5;
  std::int32_t host_word_6;
};
static_assert(sizeof(PluginInfo) == 24, "PluginInfo is six int32");

// The effector interface id, {50E47D64-8922-11D1-9A00-00C04FCC9C26}, in
// GUID byte layout: the 16 bytes the host passes and compares.
inline constexpr std::uint8_t effector_interface_id[16] = {
    0x64, 0x7D, 0xE4, 0x50, 0x22, 0x89, 0xD1, 0x11, 0x9A, 0x00, 0x00, 0xC0, 0x4F, 0xCC, 0x9C, 0x26};

// X(name, exported name, result, parameters), in the order the host calls them.
#define VELLOQ_ENTRY_POINTS(X)                                                                \
  /* Called first: does the module offer `interface_id` to this host?                         \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(has_interface, "_has_interface@8", std::int32_t,                                          \
    (const void* interface_id, HostApplication* application))                                 \
  /* Called after has_interface: the title shown for the interface.                           \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(get_name, "_get_name@16", const char*,                                                    \
    (const void* interface_id, std::int32_t, HostApplication* application, std::int32_t))     \
  /* The plug-in's UUID, or the nil Uuid for another id.                                      \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(get_uuid, "_get_uuid@16", Uuid*,                                                          \
    (Uuid * result, const void* interface_id, std::int32_t, std::int32_t))                    \
  /* The interface version the module was built for.                                          \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(get_interface_version, "_get_interface_version@4", std::int32_t, (std::int32_t))          \
  /* The plug-in's info record.                                                               \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(get_info, "_get_info@12", PluginInfo*, (PluginInfo * result, std::int32_t, std::int32_t)) \
  /* Whether the module must stay loaded.                                                     \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(is_resident, "_is_resident@12", std::int32_t, (std::int32_t, std::int32_t, std::int32_t)) \
  /* Whether each interface lives in a module of its own.                                     \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(has_separate_interfaces, "_has_separate_interfaces@4", std::int32_t, (std::int32_t))      \
  /* Called last: creates one component and stores it through `out`; each                     \
     call makes a new one, sharing nothing with the others.                                   \
     [when: discovery; thread: any; re-entrant: yes] */                                       \
  X(create_interface, "_create_interface@20", std::int32_t,                                   \
    (std::int32_t, std::int32_t, void** out, std::int32_t, std::int32_t))

// has_interface_fn, get_name_fn, ...: the function types.
#define VELLOQ_ENTRY_POINT_TYPE(name, exported, result, parameters) \
  using name##_fn = result VELLOQ_STDCALL parameters;
VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_TYPE)
#undef VELLOQ_ENTRY_POINT_TYPE

// The entry points as a host holds them once resolved.
struct plugin_entry_points {
#define VELLOQ_ENTRY_POINT_FIELD(name, exported, result, parameters) name##_fn* name = nullptr;
  VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_FIELD)
#undef VELLOQ_ENTRY_POINT_FIELD
};

inline constexpr int entry_point_count = 8;

// The names the host looks them up by: MSVC's decorated names in a Windows
// module, the plain names in a native one.
inline constexpr const char* decorated_entry_point_names[entry_point_count] = {
#define VELLOQ_ENTRY_POINT_EXPORTED(name, exported, result, parameters) exported,
    VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_EXPORTED)
#undef VELLOQ_ENTRY_POINT_EXPORTED
};
inline constexpr const char* plain_entry_point_names[entry_point_count] = {
#define VELLOQ_ENTRY_POINT_NAME(name, exported, result, parameters) #name,
    VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_NAME)
#undef VELLOQ_ENTRY_POINT_NAME
};

// The entry points by name, in the list's order, for a host that calls them
// by position in these tables.
enum class entry_point {
#define VELLOQ_ENTRY_POINT_ENUM(name, exported, result, parameters) name,
  VELLOQ_ENTRY_POINTS(VELLOQ_ENTRY_POINT_ENUM)
#undef VELLOQ_ENTRY_POINT_ENUM
};
constexpr const char* decorated_name_of(entry_point e) {
  return decorated_entry_point_names[static_cast<int>(e)];
}
