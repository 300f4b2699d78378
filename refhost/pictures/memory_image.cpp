#include "refhost/pictures/memory_image.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::int32_t checked_extent(std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("image size " + std::to_string(width) + "x" +
                                std::to_string(height) + " is negative");
  }
  if (std::int64_t{width} * height > memory_image::max_pixels) {
    throw std::length_error("image size " + std::to_string(width) + "x" + std::to_string(height) +
                            " is larger than the host supports");
  }
  return width;
}

}  // namespace

memory_image::memory_image(std::int32_t width, std::int32_t height, Bgra8 fill)
    : width_(checked_extent(width, height)),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
  // The pixels come zero (picture_allocator); only another fill is written.
  const std::uint32_t zero = 0;
  if (std::memcmp(&fill, &zero, sizeof fill) != 0)
    std::fill(pixels_.begin(), pixels_.end(), fill);
}
