#include "plugin/identity.hpp"

#include <cstring>

#include "plugin/uuid.hpp"

bool is_effector_interface_id(const void* id) {
  return std::memcmp(id, effector_interface_id, sizeof effector_interface_id) == 0;
}

namespace {

identity_constants parse_identity() {
  identity_constants constants{};
  constants.draft_ray_tracing = parse_uuid("00000002-0000-0000-0000-000000000000");
  constants.ray_tracing = parse_uuid("00000000-0000-0000-0000-000000000000");
  constants.path_tracing = parse_uuid("00000001-0000-0000-0000-000000000000");
  constants.toon_renderer = parse_uuid("18473b78-6e0b-4beb-b514-3cc9bc31d80f");
  constants.plugin_uuid = parse_uuid("05A838F5-CA63-446b-9F83-727D554E9C40");
  return constants;
}

// A namespace-scope object: initialised while the module loads, before the
// host can reach any export.
const identity_constants loaded_identity = parse_identity();

}  // namespace

const identity_constants& identity() {
  return loaded_identity;
}
