#pragma once
// Truevision TGA, the format of the module's glyph atlas: uncompressed
// true-colour pictures only, which is all the host needs to read.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/picture_formats.hpp"

// Thrown by every decoder for input it will not take, with a message that
// says what is wrong.
struct image_format_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a TGA file's header says about its pixels, checked.
struct tga_layout {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t bytes_per_pixel = 0;  // 3 or 4
  bool top_to_bottom = false;       // rows stored from the top
  bool right_to_left = false;       // pixels of a row stored from the right
  std::size_t pixel_offset = 0;     // where the pixels start
  std::size_t pixel_bytes = 0;      // how many bytes they take

  // Whether the rows are stored as rows of Bgra8, left to right.
  bool rows_are_bgra8() const { return bytes_per_pixel == 4 && !right_to_left; }
};

// Reads and checks the header and skips the image ID; the pixels need not
// be in `data`. Throws image_format_error as decode_tga does.
tga_layout read_tga_layout(const unsigned char* data, std::size_t size);

// Whether a header of at least 18 bytes could begin a TGA file: a TGA has
// no signature, but its colour-map type, image type and depth take few
// values.
bool looks_like_tga(const unsigned char* data, std::size_t size);

// Reads the pixels a checked header describes from `pixels` (the bytes from
// the pixel offset on), row by row straight into the picture. Throws
// image_format_error when they are cut short.
host_image_ptr read_tga_pixels(const tga_layout& layout, const byte_source& pixels);

// Decodes an uncompressed true-colour TGA (image type 2) of 24 or 32 bits
// per pixel, stored in any of the four row and column orders. Pixel (x, y)
// of the result is the upright picture, top row first; 24-bit pixels get
// alpha 255. The image ID is skipped and a footer, if any, is ignored.
// Throws image_format_error for anything else, never reading past `size`.
host_image_ptr decode_tga(const unsigned char* data, std::size_t size);

// A 32-bit type-2 TGA with descriptor 0x08 (8 alpha bits, rows bottom to
// top) and the TGA 2.0 footer, handed to `sink` in pieces of up to 1 MiB.
// Throws image_format_error for a picture tga_size_limitation refuses.
void write_tga(const memory_image& image, const byte_sink& sink);

// The same file in memory.
std::vector<unsigned char> encode_tga(const memory_image& image);

// Why a TGA cannot hold a picture of this size (its header keeps each side
// in 16 bits); empty when it can.
std::string tga_size_limitation(std::int32_t width, std::int32_t height);
