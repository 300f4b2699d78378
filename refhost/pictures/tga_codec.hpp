#pragma once
// Truevision TGA as renderers and paint programs write it: true-colour
// (15, 16, 24 and 32 bits), greyscale (8 bits, or 16 with alpha) and
// colour-mapped pictures, each stored plain or run-length encoded, in any
// of the four row and column orders. Written as 32-bit true colour, or
// 8-bit grey for a grey picture, plain or run-length encoded.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/picture.hpp"
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
  unsigned depth = 0;          // bits a stored pixel takes (an index's, when colour-mapped)
  unsigned alpha_bits = 0;     // what the descriptor says of the pixels' alpha
  bool run_length = false;     // types 9, 10 and 11
  bool colour_mapped = false;  // types 1 and 9
  bool grey = false;           // types 3 and 11
  bool top_to_bottom = false;  // rows stored from the top
  bool right_to_left = false;  // pixels of a row stored from the right
  unsigned map_first = 0;      // the index of the colour map's first entry
  unsigned map_length = 0;     // its entries; a true-colour picture may carry an unused one
  unsigned map_depth = 0;      // bits an entry takes
  std::size_t map_offset = 0;  // where the colour map, or else the pixels, start
  std::size_t map_bytes = 0;
  std::size_t pixel_bytes = 0;  // the plain pixels' bytes; run-length data take at most about this

  std::size_t bytes_per_pixel() const { return (depth + 7) / 8; }
  // Whether the rows are stored as rows of Bgra8, left to right.
  bool rows_are_bgra8() const {
    return !run_length && !colour_mapped && !grey && depth == 32 && !right_to_left;
  }
};

// Reads and checks the header and skips the image ID; the colour map and
// the pixels need not be in `data`. Throws image_format_error as
// decode_tga does.
tga_layout read_tga_layout(const unsigned char* data, std::size_t size);

// Whether a header of at least 18 bytes could begin a TGA file: a TGA has
// no signature, but its colour-map type, image type and depth take few
// values.
bool looks_like_tga(const unsigned char* data, std::size_t size);

// Reads the colour map and the pixels a checked header describes from
// `source` (the bytes from layout.map_offset on), row by row straight into
// the picture. Pixel (x, y) is the upright picture, top row first; pixels
// without alpha get 255, 15- and 16-bit ones have their five bits a channel
// widened to eight, and the top bit of a 16-bit one is its alpha when the
// descriptor gives it one alpha bit. An index past the colour map gives
// opaque black. Throws image_format_error when the data are cut short.
picture read_tga(const tga_layout& layout, const byte_source& source);

// The same from a whole file in memory; the image ID is skipped and a
// footer, if any, is ignored. Throws image_format_error for anything it
// does not take, never reading past `size`.
picture read_tga(const unsigned char* data, std::size_t size);
host_image_ptr decode_tga(const unsigned char* data, std::size_t size);

struct tga_storage {
  bool run_length = false;
  bool top_to_bottom = false;
  bool grey = false;  // 8-bit grey from the red channel; else 32-bit BGRA
};

// A TGA 2.0 file of the picture, with the footer, handed to `sink` in
// pieces of up to about 1 MiB. Rows go left to right (readers often ignore
// the bit that says otherwise), from the bottom unless `top_to_bottom`;
// runs never cross a row. Throws image_format_error for a picture
// tga_size_limitation refuses.
void write_tga(const memory_image& image, const byte_sink& sink, const tga_storage& storage = {});

// As the picture's file stored it: run-length encoded and from the top when
// it was, grey while a grey file's picture is still grey and opaque.
void write_tga(const picture& stamped, const byte_sink& sink);

// The same file in memory.
std::vector<unsigned char> encode_tga(const memory_image& image, const tga_storage& storage = {});

// Why a TGA cannot hold a picture of this size (its header keeps each side
// in 16 bits); empty when it can.
std::string tga_size_limitation(std::int32_t width, std::int32_t height);
