#include "refhost/pictures/whole_picture_check.hpp"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <exception>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr std::size_t png_header_end = 33;  // signature, IHDR's length, type, data and CRC
constexpr unsigned char png_end_chunk[12] = {0,   0,   0,    0,    'I',  'E',
                                             'N', 'D', 0xAE, 0x42, 0x60, 0x82};

std::uint32_t big_endian(const unsigned char* at) {
  return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 |
         at[3];
}

picture_completeness whole_png(input_file& file, const unsigned char* header, std::size_t got) {
  if (got < png_header_end)
    return {picture_completeness::cut_short, {}};
  const std::uint32_t width = big_endian(header + 16);
  const std::uint32_t height = big_endian(header + 20);
  const uLong checksum = crc32(crc32(0, nullptr, 0), header + 12, 17);
  if (big_endian(header + 8) != 13 || std::memcmp(header + 12, "IHDR", 4) != 0 ||
      checksum != big_endian(header + 29) || width == 0 || height == 0 || width > INT32_MAX ||
      height > INT32_MAX)
    return {};
  unsigned char end[sizeof png_end_chunk] = {};
  if (file.regular_size() >= static_cast<long long>(png_header_end + sizeof end)) {
    file.seek(file.regular_size() - static_cast<long long>(sizeof end));
    file.read(end, sizeof end);
  }
  if (std::memcmp(end, png_end_chunk, sizeof end) != 0)
    return {picture_completeness::cut_short, {}};
  return {picture_completeness::whole,
          {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)}};
}

}  // namespace

picture_completeness check_picture_whole(const std::string& path) {
  try {
    input_file file(path);
    if (file.regular_size() < 0)
      return {};
    unsigned char header[18 + 255] = {};
    const std::size_t got = file.read(header, sizeof header);
    // A PNG's signature, or as much of it as a file cut that short holds.
    if (got == 0 || (got < sizeof png_signature && std::memcmp(header, png_signature, got) == 0))
      return {picture_completeness::cut_short, {}};
    if (has_png_signature(header, got))
      return whole_png(file, header, got);
    // A JPEG ends with its end-of-image marker; what stops before it is cut.
    if (has_jpeg_signature(header, got)) {
      unsigned char end[2] = {};
      if (file.regular_size() >= 4) {
        file.seek(file.regular_size() - 2);
        file.read(end, sizeof end);
      }
      if (end[0] != 0xFF || end[1] != 0xD9)
        return {picture_completeness::cut_short, {}};
    }
    bool tga_header = false;
    if (looks_like_tga(header, got)) {
      try {
        // Run-length data tell their length only as they are decoded: below.
        const tga_layout layout = read_tga_layout(header, got);
        tga_header = true;
        if (!layout.run_length) {
          if (static_cast<unsigned long long>(file.regular_size()) <
              layout.map_offset + layout.map_bytes + layout.pixel_bytes)
            return {picture_completeness::cut_short, {}};
          return {picture_completeness::whole, {layout.width, layout.height}};
        }
      } catch (const image_format_error&) {
        // A kind of TGA whose size its header does not tell: decoded below.
      }
    }
    try {
      const host_image_ptr picture = decode_image_file(path);
      return {picture_completeness::whole, {picture->width(), picture->height()}};
    } catch (const image_format_error&) {
      // A sound TGA header over run-length data that stop short.
      if (tga_header)
        return {picture_completeness::cut_short, {}};
      throw;
    }
  } catch (const std::exception&) {
    return {};
  }
}
