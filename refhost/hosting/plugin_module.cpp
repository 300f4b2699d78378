#include "refhost/hosting/plugin_module.hpp"

void plugin_module::resolve_entry_points() {
  // A Windows module exports MSVC's decorated names, a native one the plain names.
#ifdef _WIN32
  const char* const* names = decorated_entry_point_names;
#else
  const char* const* names = plain_entry_point_names;
#endif
  int index = 0;
#define VELLOQ_RESOLVE_ENTRY_POINT(name, exported, result, parameters) \
  entry_points_.name = reinterpret_cast<name##_fn*>(resolve(names[index++]));
  VELLOQ_ENTRY_POINTS(VELLOQ_RESOLVE_ENTRY_POINT)
#undef VELLOQ_RESOLVE_ENTRY_POINT
}
