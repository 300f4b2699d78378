#pragma once
// The eight functions through which the host discovers the plug-in. The host
// calls them by name with the standard Windows convention (callee pops).
// Results returned by value arrive, as MSVC passes them, through a location
// the caller gives as the first argument; the function returns it.

#include <cstdint>

#include "host/abi.hpp"
#include "host/host_application.hpp"
#include "host/types.hpp"
#include "plugin/identity.hpp"

#if defined(_WIN32)
#define VELLOQ_EXPORT
#else
#define VELLOQ_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Called first: does the module offer `interface_id` to this host?
VELLOQ_EXPORT std::int32_t VELLOQ_STDCALL has_interface(const void* interface_id,
                                                        HostApplication* application);
// Called after has_interface: the title shown for the interface.
VELLOQ_EXPORT const char* VELLOQ_STDCALL get_name(const void* interface_id, std::int32_t,
                                                  HostApplication* application, std::int32_t);
// Called during discovery: the interface version the module was built for.
VELLOQ_EXPORT std::int32_t VELLOQ_STDCALL get_interface_version(std::int32_t);
// Called during discovery: the plug-in's UUID, or the nil Uuid for another id.
VELLOQ_EXPORT Uuid* VELLOQ_STDCALL get_uuid(Uuid* result, const void* interface_id, std::int32_t,
                                            std::int32_t);
// Called during discovery: whether the module must stay loaded.
VELLOQ_EXPORT std::int32_t VELLOQ_STDCALL is_resident(std::int32_t, std::int32_t, std::int32_t);
// Called during discovery: the plug-in's info record.
VELLOQ_EXPORT PluginInfo* VELLOQ_STDCALL get_info(PluginInfo* result, std::int32_t, std::int32_t);
// Called during discovery: whether each interface lives in a module of its own.
VELLOQ_EXPORT std::int32_t VELLOQ_STDCALL has_separate_interfaces(std::int32_t);
// Called last: creates one component and stores it through `out`.
VELLOQ_EXPORT std::int32_t VELLOQ_STDCALL create_interface(std::int32_t, std::int32_t, void** out,
                                                           std::int32_t, std::int32_t);
}
