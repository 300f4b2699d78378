#pragma once
// PNG through stb, and picking a decoder by a file's first bytes.

#include <cstddef>
#include <string>
#include <vector>

#include "refhost/image_handle.hpp"
#include "refhost/tga_codec.hpp"

// Any PNG stb reads (palette, grey, 16-bit and interlaced included), as
// Bgra8; pictures without alpha get 255. Throws image_format_error with
// stb's reason, and for pictures larger than memory_image::max_pixels.
host_image_ptr decode_png(const unsigned char* data, std::size_t size);

// An 8-bit RGBA PNG. Throws image_format_error for an empty picture.
std::vector<unsigned char> encode_png(const memory_image& image);

// Whether the bytes begin with the eight-byte PNG signature.
bool has_png_signature(const unsigned char* data, std::size_t size);

// Reads and decodes a picture file: PNG when it carries the PNG signature,
// TGA otherwise, whatever its name says. Throws file_error when it cannot
// be read and image_format_error, naming the path, when it cannot be decoded.
host_image_ptr decode_image_file(const std::string& path);

// The few stb calls the codec makes. They are defined next to stb's
// implementation, which keeps stb's own functions private to that file.
namespace stb_glue {
// RGBA rows, top first, to be given back with free_pixels; null on failure.
unsigned char* load_rgba(const unsigned char* data, int size, int* width, int* height);
// The picture's size without decoding it; false when stb cannot tell.
bool probe_size(const unsigned char* data, int size, int* width, int* height);
void free_pixels(unsigned char* pixels);
const char* failure_reason();
// Appends the PNG for RGBA rows of width * 4 bytes; false on failure.
bool write_png(std::vector<unsigned char>& out, int width, int height, const unsigned char* rgba);
}  // namespace stb_glue
