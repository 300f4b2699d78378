#pragma once
// A Windows error code as Windows words it, for messages.

#include <cstdint>
#include <string>

std::string system_error_text(std::uint32_t error_code);
