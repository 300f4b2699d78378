#include "refhost/pictures/picture_header.hpp"

#include <cstddef>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"

std::optional<picture_size> read_picture_size(const std::string& path) {
  // The signature, the IHDR chunk's length and type, then width and height.
  constexpr std::size_t png_size_end = 24;
  constexpr std::size_t tga_header = 18;
  unsigned char header[png_size_end] = {};
  std::size_t got = 0;
  try {
    got = input_file(path).read(header, sizeof header);
  } catch (const file_error&) {
    return std::nullopt;
  }
  const auto big_endian = [&](std::size_t at) {
    return std::uint32_t{header[at]} << 24 | std::uint32_t{header[at + 1]} << 16 |
           std::uint32_t{header[at + 2]} << 8 | header[at + 3];
  };
  if (has_png_signature(header, got)) {
    if (got < png_size_end || big_endian(16) > INT32_MAX || big_endian(20) > INT32_MAX)
      return std::nullopt;
    return picture_size{static_cast<std::int32_t>(big_endian(16)),
                        static_cast<std::int32_t>(big_endian(20))};
  }
  if (got < tga_header)
    return std::nullopt;
  return picture_size{header[12] | header[13] << 8, header[14] | header[15] << 8};
}
