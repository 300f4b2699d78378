#pragma once
// Pixel positions are int32 at the host boundary, but sums of a hostile size
// and a long text can leave that range. They are computed in 64 bits and
// saturated, which changes nothing for any position inside an image.

#include <cstdint>
#include <limits>

inline std::int32_t saturate_to_int32(std::int64_t value) {
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

// The half-open range [first, last) limited to [0, extent).
struct clipped_range {
  std::int64_t first;
  std::int64_t last;
};
inline clipped_range clip_to_extent(std::int64_t first, std::int64_t last, std::int32_t extent) {
  clipped_range range{first < 0 ? 0 : first, last > extent ? extent : last};
  if (range.last < range.first)
    range.last = range.first;
  return range;
}
