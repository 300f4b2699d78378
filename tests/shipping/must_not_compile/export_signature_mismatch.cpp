// An export whose definition strays from the host's list of entry points
// must not compile. Built twice by a test: as it stands, which must fail,
// and with VELLOQ_MATCHING_SIGNATURE, which must compile, so that the
// failure is shown to come from the mismatch alone.

#include "plugin/exports.hpp"

#ifdef VELLOQ_MATCHING_SIGNATURE
extern "C" std::int32_t VELLOQ_STDCALL get_interface_version(std::int32_t) {
  return 25;
}
#else
// One argument too many: the host would pop four bytes that were never pushed.
extern "C" std::int32_t VELLOQ_STDCALL get_interface_version(std::int32_t, std::int32_t) {
  return 25;
}
#endif
