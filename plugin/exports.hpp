#pragma once
// The module's eight exports. Their types come from the host's list of entry
// points, so a definition that strays from it does not compile; on Windows
// velloq.def gives them the names an MSVC-built host looks up.

#include "host/plugin_entry_points.hpp"

#if defined(_WIN32)
#define VELLOQ_EXPORT
#else
#define VELLOQ_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
#define VELLOQ_DECLARE_EXPORT(name, exported, result, parameters) VELLOQ_EXPORT name##_fn name;
VELLOQ_ENTRY_POINTS(VELLOQ_DECLARE_EXPORT)
#undef VELLOQ_DECLARE_EXPORT
}
