#pragma once
// PNG through stb, and picking a decoder by a file's first bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/picture_formats.hpp"
#include "refhost/pictures/tga_codec.hpp"

// Any PNG stb reads (palette, grey, 16-bit and interlaced included), as
// Bgra8; pictures without alpha get 255. Palette indices past the end of
// the palette give opaque black, as the reference PNG library gives them.
// Throws image_format_error saying what is wrong: pictures larger than
// memory_image::max_pixels, pixel data that inflates to more than the
// header's size needs, and whatever stb refuses.
host_image_ptr decode_png(const unsigned char* data, std::size_t size);

// How velloq-host's PNG files are made (bench/README.md has the figures):
// zlib at a fast level, whose files are a few per cent larger than the
// default level's for a fraction of its time, and every row filtered with
// Paeth, which on renders and photos gives the files stb's trial of all
// five filters per row gives, without that trial's time.
inline constexpr int png_deflate_level = 2;
inline constexpr int png_row_filter = 4;

// An 8-bit RGBA PNG, handed to `sink` whole. Throws image_format_error for a
// picture it cannot hold, and what the sink throws.
void write_png(const memory_image& image, const byte_sink& sink);

// The same file in memory.
std::vector<unsigned char> encode_png(const memory_image& image);

// Why a PNG cannot hold a picture of this size; empty when it can.
std::string png_size_limitation(std::int32_t width, std::int32_t height);

// Whether the bytes begin with the eight-byte PNG signature.
bool has_png_signature(const unsigned char* data, std::size_t size);

// The few stb calls the codec makes. They are defined next to stb's
// implementation, which keeps stb's own functions private to that file.
namespace stb_glue {
struct load_outcome {
  unsigned char* rgba = nullptr;  // rows, top first; give back with free_pixels
  int width = 0;
  int height = 0;
  bool over_budget = false;    // stb asked for more memory than allowed
  bool out_of_memory = false;  // the system had none to give
};
// Decodes to RGBA while stb holds at most `memory_budget` bytes at once.
load_outcome load_rgba(const unsigned char* data, int size, std::size_t memory_budget);
void free_pixels(unsigned char* pixels);
const char* failure_reason();
// Hands the PNG for RGBA rows of width * 4 bytes to `sink`, compressed by
// zlib at `level`; false when stb or zlib fail.
bool write_png(const byte_sink& sink, int width, int height, const unsigned char* rgba, int level);
// The row filter every later write_png uses: 0 to 4 forces one, -1 lets
// stb try all five on every row. Not while another thread encodes.
void set_png_filter(int filter);
}  // namespace stb_glue
