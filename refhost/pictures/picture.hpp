#pragma once
// A picture as velloq-host holds it from its file to its outputs: the 8-bit
// view the plug-in draws into, the deeper samples beside it when the file
// had them, and what the file said of itself that the outputs keep.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "refhost/pictures/deep_samples.hpp"
#include "refhost/pictures/image_handle.hpp"

// An ancillary PNG chunk kept for the outputs, as the file had it.
struct png_chunk {
  std::array<char, 4> type{};
  std::vector<unsigned char> data;
  bool after_image_data = false;  // where it stood: before or after IDAT
};

// What a picture file says of itself beyond its pixels.
struct picture_source {
  // Stored as grey: outputs stay grey while every pixel is.
  bool grey = false;
  // PNG chunks whose meaning the stamp leaves true (colour, physical
  // size, text, time), in the file's order.
  std::vector<png_chunk> png_chunks;
  // A PNG's background colour (bKGD) as 16-bit red, green and blue: the
  // outputs write it in their own colour type and depth.
  std::optional<std::array<std::uint16_t, 3>> background;
  // A JPEG's ICC profile (a PNG's travels in its iCCP chunk).
  std::vector<unsigned char> icc_profile;
  // How a TGA stored its pixels: a TGA output does the same.
  bool run_length = false;
  bool top_to_bottom = false;
};

struct picture {
  host_image_ptr view;
  deep_samples deep;  // empty for 8-bit pictures
  picture_source source;

  // After the plug-in has drawn: the deeper samples take its changes.
  void take_changes() {
    if (!deep.empty())
      deep.take_changes(*view);
  }
};
