#pragma once
// Every call the plug-in can make on the host's five objects, listed once:
// the ledger counts, lists, faults and names them from this list.

#include <cstdint>

// X(owner, call, kind): owner is the interface that declares the call; kind
// says how the call takes part in the books:
//   reference  AddRef and Release, counted as references, never faulted;
//   plain      any other call with a plain answer;
//   pixel      one pixel: counted always, listed only when asked for;
//   owned      answers an owned reference, which a fault may make null;
//   borrowed   answers a borrowed object, null only when the ledger says so.
#define HOST_KIT_CALLS(X)                          \
  X(host_object, AddRef, reference)                \
  X(host_object, Release, reference)               \
  X(HostImage, get_size, plain)                    \
  X(HostImage, get_pixel, pixel)                   \
  X(HostImage, set_pixel, pixel)                   \
  X(RenderJob, is_aborted, plain)                  \
  X(RenderJob, get_output_image, owned)            \
  X(RenderJob, get_application, owned)             \
  X(HostApplication, get_version, plain)           \
  X(HostApplication, get_services, borrowed)       \
  X(HostApplication, get_render_settings, owned)   \
  X(HostServices, get_localized_string, plain)     \
  X(HostServices, load_image_resource, owned)      \
  X(HostServices, get_version_text, plain)         \
  X(RenderSettings, get_renderer_uuid, plain)      \
  X(RenderSettings, get_gi_method, plain)          \
  X(RenderSettings, get_irradiance_caching, plain) \
  X(RenderSettings, get_setup_time, plain)         \
  X(RenderSettings, get_rendering_time, plain)     \
  X(RenderSettings, notify_image_changed, plain)

namespace host_kit {

enum class call : std::uint8_t {
#define HOST_KIT_CALL_ENUM(owner, name, kind) name,
  HOST_KIT_CALLS(HOST_KIT_CALL_ENUM)
#undef HOST_KIT_CALL_ENUM
};

enum class call_kind : std::uint8_t { reference, plain, pixel, owned, borrowed };

inline constexpr int call_count = 0
#define HOST_KIT_CALL_COUNT(owner, name, kind) +1
    HOST_KIT_CALLS(HOST_KIT_CALL_COUNT)
#undef HOST_KIT_CALL_COUNT
    ;

struct call_facts {
  const char* interface_name;
  const char* name;
  call_kind kind;
};

inline constexpr call_facts call_table[call_count] = {
#define HOST_KIT_CALL_FACTS(owner, name, kind) {#owner, #name, call_kind::kind},
    HOST_KIT_CALLS(HOST_KIT_CALL_FACTS)
#undef HOST_KIT_CALL_FACTS
};

constexpr const call_facts& facts_of(call c) {
  return call_table[static_cast<int>(c)];
}

}  // namespace host_kit
