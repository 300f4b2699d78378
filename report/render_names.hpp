#pragma once
// Names of the renderers and global-illumination methods the host reports.

#include <cstdint>

#include "host/types.hpp"

// The first of the known renderers whose UUID equals `renderer`, else "Unknown".
const char* renderer_name(const Uuid& renderer);

// The GI method's text; "Unknown" for codes the host does not define.
const char* gi_label(std::int32_t code);

// Only the two path-tracing methods report their irradiance-caching state.
bool gi_has_irradiance_caching(std::int32_t code);
