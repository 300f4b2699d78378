#pragma once
// The product line's fixed texts.

#include <cstdint>
#include <string>

// The short version text of an older host's version number, "x.x.x" when
// the number is not one of the known releases.
const char* version_label(std::int32_t version);

// The platform the host was built for, whatever system it runs on.
std::string platform_label();

// From this host version on, the host's own version text names the product.
inline constexpr std::int32_t host_version_text_threshold = 440487;
