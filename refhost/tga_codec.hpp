#pragma once
// Truevision TGA, the format of the module's glyph atlas: uncompressed
// true-colour pictures only, which is all the host needs to read.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/image_handle.hpp"

// Thrown by every decoder for input it will not take, with a message that
// says what is wrong.
struct image_format_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decodes an uncompressed true-colour TGA (image type 2) of 24 or 32 bits
// per pixel, stored in any of the four row and column orders. Pixel (x, y)
// of the result is the upright picture, top row first; 24-bit pixels get
// alpha 255. The image ID is skipped and a footer, if any, is ignored.
// Throws image_format_error for anything else, never reading past `size`.
host_image_ptr decode_tga(const unsigned char* data, std::size_t size);

// A 32-bit type-2 TGA with descriptor 0x08 (8 alpha bits, rows bottom to
// top) and the TGA 2.0 footer. Throws image_format_error for a picture
// tga_size_limitation refuses.
std::vector<unsigned char> encode_tga(const memory_image& image);

// Why a TGA cannot hold a picture of this size (its header keeps each side
// in 16 bits); empty when it can.
std::string tga_size_limitation(std::int32_t width, std::int32_t height);
