#include "refhost/png_codec.hpp"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "refhost/file_io.hpp"

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("PNG: " + reason);
}

std::uint32_t read_u32_be(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

// stb reserves an IDAT chunk's declared length before it reads the chunk,
// so a few bytes claiming a huge chunk would make the host reserve
// gigabytes. Every chunk up to IEND must lie inside the data; stb refuses
// any file for which this fails, only later.
void check_chunks_inside(const unsigned char* data, std::size_t size) {
  std::size_t at = sizeof png_signature;
  if (size < at)
    reject("no PNG signature");
  // Length, type and CRC take 12 bytes besides the chunk's data.
  while (size - at >= 12) {
    const std::uint32_t length = read_u32_be(data + at);
    if (length > size - at - 12)
      reject("chunk at byte " + std::to_string(at) + " extends past the end of the data");
    const bool last = std::memcmp(data + at + 4, "IEND", 4) == 0;
    at += 12 + std::size_t{length};
    if (last)
      return;
  }
  reject("no IEND chunk");
}

struct pixels_releaser {
  void operator()(unsigned char* pixels) const { stb_glue::free_pixels(pixels); }
};

}  // namespace

bool has_png_signature(const unsigned char* data, std::size_t size) {
  if (size < sizeof png_signature)
    return false;
  for (std::size_t i = 0; i < sizeof png_signature; ++i) {
    if (data[i] != png_signature[i])
      return false;
  }
  return true;
}

host_image_ptr decode_png(const unsigned char* data, std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX))
    reject("file too large to decode");
  const int length = static_cast<int>(size);
  // Refuse oversized pictures before stb allocates for them.
  int width = 0;
  int height = 0;
  if (!stb_glue::probe_size(data, length, &width, &height))
    reject(stb_glue::failure_reason());
  if (width <= 0 || height <= 0)
    reject("empty picture");
  if (std::int64_t{width} * height > memory_image::max_pixels) {
    reject("picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels is larger than the host supports");
  }
  check_chunks_inside(data, size);
  std::unique_ptr<unsigned char, pixels_releaser> rgba(
      stb_glue::load_rgba(data, length, &width, &height));
  if (!rgba)
    reject(stb_glue::failure_reason());

  host_image_ptr image = make_host_image(width, height);
  const unsigned char* source = rgba.get();
  for (Bgra8& pixel : image->pixels()) {
    pixel = Bgra8{source[2], source[1], source[0], source[3]};
    source += 4;
  }
  return image;
}

std::vector<unsigned char> encode_png(const memory_image& image) {
  const std::int32_t width = image.width();
  const std::int32_t height = image.height();
  if (width <= 0 || height <= 0) {
    reject("cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels");
  }
  std::vector<unsigned char> rgba;
  rgba.reserve(image.pixels().size() * 4);
  for (const Bgra8& pixel : image.pixels()) {
    rgba.insert(rgba.end(), {pixel.red, pixel.green, pixel.blue, pixel.alpha});
  }
  std::vector<unsigned char> out;
  if (!stb_glue::write_png(out, width, height, rgba.data()))
    reject("encoder failed");
  return out;
}

host_image_ptr decode_image_file(const std::string& path) {
  const std::vector<unsigned char> bytes = read_file_bytes(path);
  try {
    if (has_png_signature(bytes.data(), bytes.size()))
      return decode_png(bytes.data(), bytes.size());
    return decode_tga(bytes.data(), bytes.size());
  } catch (const image_format_error& error) {
    throw image_format_error(path + ": " + error.what());
  }
}
