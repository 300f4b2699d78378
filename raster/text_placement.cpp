// Where the report goes and how bright the picture is under it.

#include <cstdint>

#include "plugin/velloq_component.hpp"
#include "raster/saturate.hpp"

namespace {

constexpr std::int32_t margin = 2;
constexpr float red_weight = 0.299f;
constexpr float green_weight = 0.587f;
constexpr float blue_weight = 0.114f;

}  // namespace

TextBlock velloq_component::compute_text_block(const ImageSize& size, RenderReport report) {
  // Only lines closed by a line break count; the scan stops at a NUL as the
  // drawing does.
  std::int64_t breaks = 0;
  std::int64_t current = 0;
  std::int64_t longest = 0;
  for (const char* p = report.c_str(); *p != '\0'; ++p) {
    if (*p == '\n') {
      ++breaks;
      if (current > longest)
        longest = current;
      current = 0;
    } else {
      ++current;
    }
  }
  TextBlock block{};
  block.left = margin;
  block.top = saturate_to_int32(std::int64_t{size.height} - breaks * cell_height - margin);
  block.right = saturate_to_int32(longest * cell_width + margin);
  block.bottom = saturate_to_int32(std::int64_t{size.height} - margin);
  return block;
}

float velloq_component::mean_luminance(HostImage* image, const ImageSize& size,
                                       const TextBlock& block) {
  double sum = 0.0;
  // 64 bits: a block under a hostile image size can hold more than 2^31 pixels.
  std::int64_t count = 0;
  // Pixels outside the image are left out; visiting only the inside gives
  // the same calls in the same order without walking a huge empty range.
  const clipped_range rows = clip_to_extent(block.top, block.bottom, size.height);
  const clipped_range columns = clip_to_extent(block.left, block.right, size.width);
  for (std::int64_t y = rows.first; y < rows.last; ++y) {
    for (std::int64_t x = columns.first; x < columns.last; ++x) {
      Bgra8 pixel{0, 0, 0, 0};
      image->get_pixel(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), &pixel, 0);
      ++count;
      sum += pixel.red * static_cast<double>(red_weight) / 255;
      sum += pixel.green * static_cast<double>(green_weight) / 255;
      sum += pixel.blue * static_cast<double>(blue_weight) / 255;
    }
  }
  // No pixel gives 0 / 0, not a number: the caller then picks dark colours.
  return static_cast<float>(sum / static_cast<double>(count));
}
