#pragma once
// The formats velloq-host writes pictures in, each with what it can hold,
// so that a run checks every requested format before writing anything.

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/image_handle.hpp"

struct picture_format {
  const char* name;       // "PNG"
  const char* extension;  // ".png"
  // Why the format cannot hold a picture of this size; empty when it can.
  std::string (*size_limitation)(std::int32_t width, std::int32_t height);
  // Throws image_format_error.
  std::vector<unsigned char> (*encode)(const memory_image& image);
};

extern const picture_format png_format;
extern const picture_format tga_format;
