#include "refhost/pictures/picture_header.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/jpeg/jpeg_markers.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/png_codec.hpp"

const char* const formats_read = "PNG, TGA and JPEG";

namespace {

// A JPEG's frame header follows its Exif and ICC segments, which may take
// tens of kilobytes.
constexpr std::size_t jpeg_header_bytes = std::size_t{256} << 10;
constexpr std::size_t first_bytes = 32;

struct unread_kind {
  const char* name;
  const char* extensions;  // space-separated, lower case
  const char* signature;   // the first bytes
  std::size_t signature_size;
  std::size_t signature_at;
};

const unread_kind unread_kinds[] = {
    {"TIFF", ".tif .tiff", "II*\0", 4, 0},
    {"TIFF", "", "MM\0*", 4, 0},
    {"BigTIFF", "", "II+\0", 4, 0},
    {"OpenEXR", ".exr", "\x76\x2F\x31\x01", 4, 0},
    {"DPX", ".dpx", "SDPX", 4, 0},
    {"DPX", "", "XPDS", 4, 0},
    {"Cineon", ".cin", "\x80\x2A\x5F\xD7", 4, 0},
    {"Radiance HDR", ".hdr .rgbe", "#?RADIANCE", 10, 0},
    {"Radiance HDR", "", "#?RGBE", 6, 0},
    {"Photoshop", ".psd", "8BPS", 4, 0},
    {"BMP", ".bmp", "BM", 2, 0},
    {"GIF", ".gif", "GIF8", 4, 0},
    {"WebP", ".webp", "WEBP", 4, 8},
    {"JPEG 2000", ".jp2 .j2k", "\0\0\0\x0CjP  ", 8, 0},
    {"JPEG 2000", "", "\xFF\x4F\xFF\x51", 4, 0},
    {"JPEG XL", ".jxl", "\xFF\x0A", 2, 0},
    {"HEIF", ".heic .heif .avif", "ftypheic", 8, 4},
    {"HEIF", "", "ftypmif1", 8, 4},
    {"AVIF", "", "ftypavif", 8, 4},
};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The beginning of the file: `first_bytes`, and for a JPEG as far as its
// frame header, read in growing steps: most lie within the first
// kilobytes, after an Exif block tens of kilobytes on.
std::vector<unsigned char> beginning_of(const std::string& path) {
  std::vector<unsigned char> bytes(first_bytes);
  try {
    input_file file(path);
    bytes.resize(file.read(bytes.data(), bytes.size()));
    if (!has_jpeg_signature(bytes.data(), bytes.size()))
      return bytes;
    for (std::size_t step = std::size_t{4} << 10; bytes.size() < jpeg_header_bytes; step *= 4) {
      if (read_jpeg_structure(bytes.data(), bytes.size(), true).components != 0)
        break;
      const std::size_t had = bytes.size();
      bytes.resize(std::min(jpeg_header_bytes, had + step));
      const std::size_t got = file.read(bytes.data() + had, bytes.size() - had);
      bytes.resize(had + got);
      if (got == 0)
        break;
    }
  } catch (const file_error&) {
    bytes.clear();
  } catch (const image_format_error&) {
    // No JPEG after all: its frame fails on its own.
  }
  return bytes;
}

std::uint32_t big_endian(const std::vector<unsigned char>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

}  // namespace

std::optional<picture_size> read_picture_size(const std::string& path) {
  // The signature, the IHDR chunk's length and type, width, height, depth
  // and colour type.
  constexpr std::size_t png_header_end = 26;
  constexpr std::size_t tga_header = 18;
  const std::vector<unsigned char> bytes = beginning_of(path);
  if (has_png_signature(bytes.data(), bytes.size())) {
    if (bytes.size() < png_header_end || big_endian(bytes, 16) > INT32_MAX ||
        big_endian(bytes, 20) > INT32_MAX)
      return std::nullopt;
    picture_size size{static_cast<std::int32_t>(big_endian(bytes, 16)),
                      static_cast<std::int32_t>(big_endian(bytes, 20))};
    if (bytes[24] == 16) {
      static const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
      size.bytes_per_pixel += 2 * channels[bytes[25] % 7];
    }
    return size;
  }
  if (has_jpeg_signature(bytes.data(), bytes.size())) {
    jpeg_structure frame;
    try {
      frame = read_jpeg_structure(bytes.data(), bytes.size(), true);
    } catch (const image_format_error&) {
      return std::nullopt;
    }
    if (frame.components == 0)
      return std::nullopt;
    picture_size size{static_cast<std::int32_t>(frame.width),
                      static_cast<std::int32_t>(frame.height)};
    // A progressive file's coefficients, 2 bytes each, at most one per
    // sample; stb's decoder (no libjpeg) holds its own copy of the pixels.
    if (frame.progressive)
      size.bytes_per_pixel += 2 * frame.components;
#if !VELLOQ_HAS_LIBJPEG
    size.bytes_per_pixel += frame.components;
#endif
    return size;
  }
  if (bytes.size() < tga_header)
    return std::nullopt;
  return picture_size{bytes[12] | bytes[13] << 8, bytes[14] | bytes[15] << 8};
}

std::string unread_format(const std::string& path) {
  const std::vector<unsigned char> bytes = beginning_of(path);
  for (const unread_kind& kind : unread_kinds) {
    if (bytes.size() >= kind.signature_at + kind.signature_size &&
        std::memcmp(bytes.data() + kind.signature_at, kind.signature, kind.signature_size) == 0)
      return kind.name;
  }
  if (has_jpeg_signature(bytes.data(), bytes.size())) {
    try {
      const jpeg_structure found = read_jpeg_structure(bytes.data(), bytes.size(), true);
      if (found.components == 4)
        return "CMYK JPEG";
      if (!found.unsupported.empty())
        return found.unsupported.substr(0, found.unsupported.find(" is not"));
      if (found.precision != 0 && found.precision != 8)
        return std::to_string(found.precision) + "-bit JPEG";
    } catch (const image_format_error&) {
      // Damaged: its frame fails on its own.
    }
  }
  return {};
}

std::string unread_format_of_name(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos)
    return {};
  const std::string extension = lower(file_name.substr(dot));
  for (const unread_kind& kind : unread_kinds) {
    const std::string listed = std::string(" ") + kind.extensions + " ";
    if (*kind.extensions != '\0' && listed.find(" " + extension + " ") != std::string::npos)
      return kind.name;
  }
  return {};
}
