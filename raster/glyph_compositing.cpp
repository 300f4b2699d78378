// Burning glyphs into the host's picture, one host call per pixel access.

#include <algorithm>
#include <cstdint>

#include "plugin/velloq_component.hpp"
#include "raster/saturate.hpp"

namespace {

constexpr ColorRgb white = {1.0f, 1.0f, 1.0f};
constexpr ColorRgb black = {0.0f, 0.0f, 0.0f};
constexpr float outline_opacity = 0.5f;
constexpr float glyph_opacity = 1.0f;

// The eight neighbours of the pen, in the order they are drawn (y downwards).
constexpr int outline_offsets[8][2] = {{+1, +1}, {0, +1},  {-1, +1}, {+1, 0},
                                       {-1, 0},  {+1, -1}, {0, -1},  {-1, -1}};

// colour over the old byte at coverage a, truncated toward zero.
std::uint8_t blend_channel(float colour, float coverage, std::uint8_t old) {
  const double a = coverage;
  double v = static_cast<double>(colour) * 255.0 * a + old * (1.0 - a);
  if (v >= 255.0)
    v = 255.0;
  if (v < 0.0)
    v = 0.0;
  return static_cast<std::uint8_t>(static_cast<int>(v));
}

}  // namespace

void velloq_component::draw_glyph(HostImage* target, char ch, const ColorRgb& colour,
                                  std::int32_t x, std::int32_t y, float opacity) {
  const auto n = static_cast<unsigned char>(static_cast<unsigned char>(ch) - 0x20);
  if (n > 94)
    return;
  const int column = n % 16;
  const int row = n / 16;

  ImageSize size{0, 0};
  target->get_size(&size, 0);
  if (!glyph_atlas)
    return;

  // Only cell pixels inside the target are visited; the others would be
  // skipped without any host call anyway.
  const clipped_range rows = clip_to_extent(y, std::int64_t{y} + cell_height, size.height);
  const clipped_range columns = clip_to_extent(x, std::int64_t{x} + cell_width, size.width);
  for (std::int64_t ty = rows.first; ty < rows.last; ++ty) {
    const auto i = static_cast<std::int32_t>(ty - y);
    for (std::int64_t tx = columns.first; tx < columns.last; ++tx) {
      const auto k = static_cast<std::int32_t>(tx - x);
      Bgra8 glyph{0, 0, 0, 0};
      glyph_atlas->get_pixel(cell_width * column + k, cell_height * row + i, &glyph, 0);
      const auto a = static_cast<float>(glyph.alpha / 255.0 * opacity);
      if (!(a > 0.0f))
        continue;

      Bgra8 pixel{0, 0, 0, 0};
      target->get_pixel(static_cast<std::int32_t>(tx), static_cast<std::int32_t>(ty), &pixel, 0);
      pixel.red = blend_channel(colour.red, a, pixel.red);
      pixel.green = blend_channel(colour.green, a, pixel.green);
      pixel.blue = blend_channel(colour.blue, a, pixel.blue);
      pixel.alpha = std::max(pixel.alpha, glyph.alpha);
      target->set_pixel(static_cast<std::int32_t>(tx), static_cast<std::int32_t>(ty), &pixel, 0);
    }
  }
}

std::int32_t velloq_component::draw_text(HostImage* target, const char* text,
                                         bool bright_background, std::int32_t x, std::int32_t y) {
  const ColorRgb& outline = bright_background ? white : black;
  const ColorRgb& fill = bright_background ? black : white;
  std::int64_t pen_x = x;
  std::int64_t pen_y = y;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      pen_y += cell_height;
      pen_x = x;
      continue;
    }
    for (const auto& offset : outline_offsets) {
      draw_glyph(target, *p, outline, saturate_to_int32(pen_x + offset[0]),
                 saturate_to_int32(pen_y + offset[1]), outline_opacity);
    }
    draw_glyph(target, *p, fill, saturate_to_int32(pen_x), saturate_to_int32(pen_y), glyph_opacity);
    pen_x += cell_width;
  }
  return saturate_to_int32(pen_y);
}

void velloq_component::fill_alpha(HostImage* target, float value) {
  const auto alpha = static_cast<std::uint8_t>(static_cast<std::int32_t>(value * 255.0));
  ImageSize size{0, 0};
  target->get_size(&size, 0);
  for (std::int32_t y = 0; y < size.height; ++y) {
    for (std::int32_t x = 0; x < size.width; ++x) {
      Bgra8 pixel{0, 0, 0, 0};
      target->get_pixel(x, y, &pixel, 0);
      pixel.alpha = alpha;
      target->set_pixel(x, y, &pixel, 0);
    }
  }
}
