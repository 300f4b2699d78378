#pragma once
// PNG through stb, and picking a decoder by a file's first bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "refhost/image_handle.hpp"
#include "refhost/tga_codec.hpp"

// The largest picture file the host reads: the largest picture it holds
// (memory_image::max_pixels), four bytes a pixel stored without any
// compression, and 16 MiB more for headers, metadata and framing. Reading
// stops past it, so that a device such as /dev/zero cannot fill memory.
inline constexpr std::size_t max_picture_file_bytes =
    std::size_t{4} * memory_image::max_pixels + (std::size_t{16} << 20);

// Any PNG stb reads (palette, grey, 16-bit and interlaced included), as
// Bgra8; pictures without alpha get 255. Palette indices past the end of
// the palette give opaque black, as the reference PNG library gives them.
// Throws image_format_error saying what is wrong: pictures larger than
// memory_image::max_pixels, pixel data that inflates to more than the
// header's size needs, and whatever stb refuses.
host_image_ptr decode_png(const unsigned char* data, std::size_t size);

// An 8-bit RGBA PNG. Throws image_format_error for a picture it cannot hold.
std::vector<unsigned char> encode_png(const memory_image& image);

// Why a PNG cannot hold a picture of this size; empty when it can.
std::string png_size_limitation(std::int32_t width, std::int32_t height);

// Whether the bytes begin with the eight-byte PNG signature.
bool has_png_signature(const unsigned char* data, std::size_t size);

// Reads (up to max_picture_file_bytes) and decodes a picture file: PNG when
// it carries the PNG signature, TGA otherwise, whatever its name says.
// Throws file_error when it cannot be read or is too large, and
// image_format_error, naming the path, when it cannot be decoded.
host_image_ptr decode_image_file(const std::string& path);

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
// Appends the PNG for RGBA rows of width * 4 bytes; false on failure.
bool write_png(std::vector<unsigned char>& out, int width, int height, const unsigned char* rgba);
}  // namespace stb_glue
