#pragma once
// The samples of a picture deeper than the plug-in sees it (16 bits a
// sample), held beside its 8-bit view. The plug-in draws into the view;
// afterwards each sample whose 8-bit value it left as it was keeps its
// full value, and each it changed becomes that value at 16 bits (v * 257).
//
// A sample's 8-bit value is the largest v whose v * 257 does not pass it
// (sample / 257): 255 then stands for the full sample alone, so an alpha
// that the plug-in makes 255 (every pixel opaque) becomes 65535, never an
// alpha just short of it that merely looked opaque; and a value the
// plug-in wrote reads back as itself. It lies at most one step below the
// nearest 8-bit value.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "refhost/pictures/memory_image.hpp"

class deep_samples {
 public:
  // Channels of a pixel, in the order PNG stores them; alpha last.
  enum class layout : unsigned { grey = 1, grey_alpha = 2, rgb = 3, rgba = 4 };

  deep_samples() = default;  // none: an 8-bit picture
  // Throws std::bad_alloc. Pixels come with every sample 0.
  deep_samples(std::int32_t width, std::int32_t height, layout channels);

  bool empty() const { return samples_.empty(); }
  layout channels() const { return layout_; }
  unsigned channel_count() const { return static_cast<unsigned>(layout_); }
  bool has_alpha() const { return layout_ == layout::grey_alpha || layout_ == layout::rgba; }
  bool is_grey() const { return layout_ == layout::grey || layout_ == layout::grey_alpha; }

  std::uint16_t* row(std::int32_t y) { return samples_.data() + row_start(y); }
  const std::uint16_t* row(std::int32_t y) const { return samples_.data() + row_start(y); }

  static std::uint8_t as_8_bit(std::uint16_t sample) {
    return static_cast<std::uint8_t>(sample / 257);
  }

  // The view's pixel of a row's pixel x, as the plug-in first sees it.
  Bgra8 view_pixel(const std::uint16_t* row, std::int32_t x) const;

  // Takes in what the plug-in drew into `view` (of the same size), as the
  // class comment says. Where the view holds colour the samples had not
  // (a grey picture drawn on in colour) or transparency (no alpha channel
  // before), the samples gain those channels first. Throws std::bad_alloc.
  void take_changes(const memory_image& view);

 private:
  std::size_t row_start(std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * channel_count();
  }
  void widen(layout wider);

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  layout layout_ = layout::rgba;
  std::vector<std::uint16_t, picture_allocator<std::uint16_t>> samples_;
};
