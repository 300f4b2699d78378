#include "plugin/exports.hpp"

#include "plugin/identity.hpp"
#include "plugin/velloq_component.hpp"

// Like the hooks, every export contains exceptions here: none may unwind into
// the host (see velloq_component.cpp). A failed call answers as for a
// foreign interface id.

extern "C" {

std::int32_t VELLOQ_STDCALL has_interface(const void* interface_id, HostApplication* application) {
  try {
    // The version is always asked first, whatever the id.
    if (application->get_version(0) < lowest_host_version)
      return 0;
    return is_effector_interface_id(interface_id) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

const char* VELLOQ_STDCALL get_name(const void* interface_id, std::int32_t,
                                    HostApplication* application, std::int32_t) {
  if (!is_effector_interface_id(interface_id))
    return nullptr;
  try {
    HostServices* services = application->get_services(0);
    if (services == nullptr)
      return nullptr;
    return services->get_localized_string("plugin_title");
  } catch (...) {
    return nullptr;
  }
}

std::int32_t VELLOQ_STDCALL get_interface_version(std::int32_t) {
  return interface_version;
}

Uuid* VELLOQ_STDCALL get_uuid(Uuid* result, const void* interface_id, std::int32_t, std::int32_t) {
  *result = is_effector_interface_id(interface_id) ? identity().plugin_uuid : nil_uuid;
  return result;
}

std::int32_t VELLOQ_STDCALL is_resident(std::int32_t, std::int32_t, std::int32_t) {
  return 0;
}

PluginInfo* VELLOQ_STDCALL get_info(PluginInfo* result, std::int32_t, std::int32_t) {
  *result = plugin_info;
  return result;
}

std::int32_t VELLOQ_STDCALL has_separate_interfaces(std::int32_t) {
  return 0;
}

std::int32_t VELLOQ_STDCALL create_interface(std::int32_t, std::int32_t, void** out, std::int32_t,
                                             std::int32_t) {
  try {
    velloq_component* component = velloq_component::create();
    // The first reference goes through the component's own table.
    IUnknown* unknown = component;
    const ULONG count = unknown->AddRef();
    *out = component;
    return static_cast<std::int32_t>(count);
  } catch (...) {
    // Out of memory: nothing is written through `out`.
    return 0;
  }
}
}
