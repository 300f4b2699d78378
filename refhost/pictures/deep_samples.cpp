#include "refhost/pictures/deep_samples.hpp"

#include <utility>

namespace {

bool is_grey_pixel(const Bgra8& pixel) {
  return pixel.red == pixel.green && pixel.green == pixel.blue;
}

// The new sample of a channel: kept while its 8-bit value is the view's.
std::uint16_t merged(std::uint16_t sample, std::uint8_t drawn) {
  return deep_samples::as_8_bit(sample) == drawn ? sample
                                                 : static_cast<std::uint16_t>(drawn * 257u);
}

}  // namespace

deep_samples::deep_samples(std::int32_t width, std::int32_t height, layout channels)
    : width_(width),
      height_(height),
      layout_(channels),
      samples_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
               static_cast<unsigned>(channels)) {}

Bgra8 deep_samples::view_pixel(const std::uint16_t* row, std::int32_t x) const {
  const std::uint16_t* s = row + static_cast<std::size_t>(x) * channel_count();
  switch (layout_) {
    case layout::grey:
      return Bgra8{as_8_bit(s[0]), as_8_bit(s[0]), as_8_bit(s[0]), 255};
    case layout::grey_alpha:
      return Bgra8{as_8_bit(s[0]), as_8_bit(s[0]), as_8_bit(s[0]), as_8_bit(s[1])};
    case layout::rgb:
      return Bgra8{as_8_bit(s[2]), as_8_bit(s[1]), as_8_bit(s[0]), 255};
    default:
      return Bgra8{as_8_bit(s[2]), as_8_bit(s[1]), as_8_bit(s[0]), as_8_bit(s[3])};
  }
}

void deep_samples::widen(layout wider) {
  deep_samples widened(width_, height_, wider);
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::uint16_t* from = row(y);
    std::uint16_t* to = widened.row(y);
    for (std::int32_t x = 0; x < width_;
         ++x, from += channel_count(), to += widened.channel_count()) {
      const bool colour = !is_grey();
      to[0] = from[0];
      if (!widened.is_grey()) {
        to[1] = colour ? from[1] : from[0];
        to[2] = colour ? from[2] : from[0];
      }
      if (widened.has_alpha())
        to[widened.channel_count() - 1] = has_alpha() ? from[channel_count() - 1] : 65535;
    }
  }
  *this = std::move(widened);
}

void deep_samples::take_changes(const memory_image& view) {
  bool grey = true;
  bool opaque = true;
  for (const Bgra8& pixel : view.pixels()) {
    grey = grey && is_grey_pixel(pixel);
    opaque = opaque && pixel.alpha == 255;
  }
  const bool colour = !is_grey() || !grey;
  const bool alpha = has_alpha() || !opaque;
  const layout needed =
      colour ? (alpha ? layout::rgba : layout::rgb) : (alpha ? layout::grey_alpha : layout::grey);
  if (needed != layout_)
    widen(needed);
  for (std::int32_t y = 0; y < height_; ++y) {
    std::uint16_t* s = row(y);
    const Bgra8* pixel = &view.at(0, y);
    for (std::int32_t x = 0; x < width_; ++x, ++pixel, s += channel_count()) {
      s[0] = merged(s[0], pixel->red);
      if (colour) {
        s[1] = merged(s[1], pixel->green);
        s[2] = merged(s[2], pixel->blue);
      }
      if (alpha)
        s[channel_count() - 1] = merged(s[channel_count() - 1], pixel->alpha);
    }
  }
}
