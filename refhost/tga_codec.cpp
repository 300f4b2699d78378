#include "refhost/tga_codec.hpp"

#include <cstdint>
#include <string>

namespace {

constexpr std::size_t header_size = 18;
constexpr char footer_signature[] = "TRUEVISION-XFILE.";  // with its NUL: 18 bytes

// Descriptor bits: 0-3 alpha bits, 4 right-to-left, 5 top-to-bottom,
// 6-7 the long-obsolete interleaving.
constexpr unsigned right_to_left_bit = 0x10;
constexpr unsigned top_to_bottom_bit = 0x20;
constexpr unsigned interleave_bits = 0xC0;

unsigned read_u16(const unsigned char* bytes) {
  return static_cast<unsigned>(bytes[0]) | static_cast<unsigned>(bytes[1]) << 8;
}

void put_u16(std::vector<unsigned char>& out, unsigned value) {
  out.push_back(static_cast<unsigned char>(value & 0xFF));
  out.push_back(static_cast<unsigned char>(value >> 8 & 0xFF));
}

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("TGA: " + reason);
}

void check_image_type(unsigned colour_map_type, unsigned image_type) {
  if (colour_map_type != 0) {
    reject("colour-map type " + std::to_string(colour_map_type) + " is not supported");
  }
  switch (image_type) {
    case 2:
      return;
    case 0:
      reject("the file holds no image data (type 0)");
    case 1:
      reject("colour-mapped images (type 1) are not supported");
    case 3:
      reject("greyscale images (type 3) are not supported");
    case 9:
    case 10:
    case 11:
      reject("run-length encoded images (type " + std::to_string(image_type) +
             ") are not supported");
    default:
      reject("unknown image type " + std::to_string(image_type));
  }
}

}  // namespace

host_image_ptr decode_tga(const unsigned char* data, std::size_t size) {
  if (size < header_size) {
    reject("truncated header (needs " + std::to_string(header_size) + " bytes, has " +
           std::to_string(size) + ")");
  }
  const unsigned id_length = data[0];
  check_image_type(data[1], data[2]);
  const unsigned width = read_u16(data + 12);
  const unsigned height = read_u16(data + 14);
  const unsigned depth = data[16];
  const unsigned descriptor = data[17];

  if (width == 0 || height == 0) {
    reject("empty picture (" + std::to_string(width) + "x" + std::to_string(height) + ")");
  }
  if (std::int64_t{width} * height > memory_image::max_pixels) {
    reject("picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels is larger than the host supports");
  }
  if (depth != 24 && depth != 32) {
    reject(std::to_string(depth) + " bits per pixel are not supported (only 24 and 32)");
  }
  if ((descriptor & interleave_bits) != 0)
    reject("interleaved rows are not supported");

  const std::size_t pixel_offset = header_size + id_length;
  if (size < pixel_offset) {
    reject("truncated image ID (needs " + std::to_string(pixel_offset) + " bytes, has " +
           std::to_string(size) + ")");
  }
  const std::size_t bytes_per_pixel = depth / 8;
  // At most 2^28 pixels of 4 bytes: no overflow even with a 32-bit size_t.
  const std::size_t pixel_bytes = std::size_t{width} * height * bytes_per_pixel;
  if (size - pixel_offset < pixel_bytes) {
    reject("truncated pixel data (needs " + std::to_string(pixel_bytes) + " bytes, has " +
           std::to_string(size - pixel_offset) + ")");
  }

  host_image_ptr image =
      make_host_image(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  const bool top_to_bottom = (descriptor & top_to_bottom_bit) != 0;
  const bool right_to_left = (descriptor & right_to_left_bit) != 0;
  const unsigned char* source = data + pixel_offset;
  for (unsigned row = 0; row < height; ++row) {
    const auto y = static_cast<std::int32_t>(top_to_bottom ? row : height - 1 - row);
    for (unsigned column = 0; column < width; ++column) {
      const auto x = static_cast<std::int32_t>(right_to_left ? width - 1 - column : column);
      Bgra8& pixel = image->at(x, y);
      pixel.blue = source[0];
      pixel.green = source[1];
      pixel.red = source[2];
      pixel.alpha = bytes_per_pixel == 4 ? source[3] : 255;
      source += bytes_per_pixel;
    }
  }
  return image;
}

std::string tga_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
    return "TGA cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels (1 to 65535 per side)";
  }
  return {};
}

std::vector<unsigned char> encode_tga(const memory_image& image) {
  const std::int32_t width = image.width();
  const std::int32_t height = image.height();
  const std::string limitation = tga_size_limitation(width, height);
  if (!limitation.empty())
    throw image_format_error(limitation);
  std::vector<unsigned char> out;
  out.reserve(header_size +
              std::size_t{4} * static_cast<std::size_t>(width) * static_cast<std::size_t>(height) +
              26);
  // ID length, colour-map type, image type, then five zero bytes for the
  // absent colour map and the origin (0, 0).
  out.insert(out.end(), {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  put_u16(out, static_cast<unsigned>(width));
  put_u16(out, static_cast<unsigned>(height));
  out.push_back(32);
  out.push_back(0x08);
  for (std::int32_t y = height - 1; y >= 0; --y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const Bgra8& pixel = image.at(x, y);
      out.insert(out.end(), {pixel.blue, pixel.green, pixel.red, pixel.alpha});
    }
  }
  // No extension area, no developer directory, then the signature.
  out.insert(out.end(), 8, 0);
  out.insert(out.end(), footer_signature, footer_signature + sizeof footer_signature);
  return out;
}
