#pragma once
// Whether two decoded pictures are the same to the byte.

#include <cstring>

#include "refhost/pictures/memory_image.hpp"

inline bool same_pixels(const memory_image& a, const memory_image& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         std::memcmp(a.pixels().data(), b.pixels().data(), a.pixels().size() * sizeof(Bgra8)) == 0;
}
