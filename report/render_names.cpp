#include "report/render_names.hpp"

#include "plugin/identity.hpp"
#include "plugin/uuid.hpp"

namespace {

// The two renderers the module does not parse at load time.
constexpr Uuid wire_frame = {{0x31300000u, 0x53B811D9u, 0xBCFF000Au, 0x95BACEB2u}};
constexpr Uuid tesserak = {{0x20301201u, 0x53B811D9u, 0xBCFF000Au, 0x95BACEB2u}};

}  // namespace

const char* renderer_name(const Uuid& renderer) {
  const identity_constants& ids = identity();
  const struct {
    const Uuid& uuid;
    const char* name;
  } renderers[] = {
      {ids.draft_ray_tracing, "Ray Tracing(Draft)"},
      {ids.ray_tracing, "Ray Tracing"},
      {ids.path_tracing, "Path Tracing"},
      {ids.toon_renderer, "Toon Renderer"},
      {wire_frame, "Wire-frame"},
      {tesserak, "TESSERAK"},
  };
  for (const auto& entry : renderers) {
    if (uuid_equal(renderer, entry.uuid))
      return entry.name;
  }
  return "Unknown";
}

const char* gi_label(std::int32_t code) {
  switch (code) {
    case 0:
      return "None";
    case 1:
      return "Path Tracing";
    case 2:
      return "Photon Mapping";
    case 3:
      return "Radiosity";
    case 5:
      return "Path Tracing + Photon Mapping";
    default:
      return "Unknown";
  }
}

bool gi_has_irradiance_caching(std::int32_t code) {
  return code == 1 || code == 5;
}
