#include "refhost/pictures/jpeg_codec.hpp"

#include <algorithm>
#include <cstring>

#include "refhost/pictures/png/png_colour_profile.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

// JPEG's header keeps each side in 16 bits; libjpeg takes up to 65500.
constexpr std::int32_t jpeg_max_side = 65500;
// A profile inflated from a PNG's iCCP chunk: at most what the PNG reader
// keeps of its chunks.
constexpr std::size_t max_profile_bytes = std::size_t{16} << 20;

bool all_grey(const memory_image& image) {
  return std::all_of(image.pixels().begin(), image.pixels().end(),
                     [](const Bgra8& p) { return p.red == p.green && p.green == p.blue; });
}

// The picture's profile: a JPEG's own, or the one a PNG's iCCP holds.
std::vector<unsigned char> icc_profile_of(const picture_source& source) {
  if (!source.icc_profile.empty())
    return source.icc_profile;
  for (const png_chunk& chunk : source.png_chunks) {
    if (std::memcmp(chunk.type.data(), "iCCP", 4) == 0)
      return icc_profile_of_iccp(chunk.data, max_profile_bytes);
  }
  return {};
}

}  // namespace

bool has_jpeg_signature(const unsigned char* data, std::size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

picture read_jpeg(const byte_source& source) {
#if VELLOQ_HAS_LIBJPEG
  return read_jpeg_libjpeg(source);
#else
  return read_jpeg_stb(source);
#endif
}

picture read_jpeg(const unsigned char* data, std::size_t size) {
  return read_jpeg(memory_source(data, size));
}

std::string jpeg_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 || width > jpeg_max_side || height > jpeg_max_side) {
    return "JPEG cannot store a picture of " + std::to_string(width) + "x" +
           std::to_string(height) + " pixels (1 to " + std::to_string(jpeg_max_side) + " per side)";
  }
  return {};
}

void write_jpeg(const picture& stamped, const byte_sink& sink, int quality) {
  const memory_image& view = *stamped.view;
  const std::string limitation = jpeg_size_limitation(view.width(), view.height());
  if (!limitation.empty())
    throw image_format_error(limitation);
  const bool grey = stamped.source.grey && all_grey(view);
  // A grey picture's profile describes grey samples, not the colour ones of
  // a grey picture that a plug-in drew on in colour.
  const bool profile_fits = grey || !stamped.source.grey;
  const std::vector<unsigned char> profile =
      profile_fits ? icc_profile_of(stamped.source) : std::vector<unsigned char>();
#if VELLOQ_HAS_LIBJPEG
  write_jpeg_libjpeg(view, grey, profile, sink, quality);
#else
  write_jpeg_stb(view, grey, profile, sink, quality);
#endif
}
