#include "refhost/pictures/tga_codec.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

void put_u16(unsigned char* out, unsigned value) {
  out[0] = static_cast<unsigned char>(value & 0xFF);
  out[1] = static_cast<unsigned char>(value >> 8 & 0xFF);
}

// Rows gathered into blocks of this size before they go to the sink: few
// system calls, and memory that does not grow with the picture.
constexpr std::size_t write_block_bytes = std::size_t{1} << 20;

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

[[noreturn]] void reject_truncated_pixels(const tga_layout& layout, std::size_t available) {
  reject("truncated pixel data (needs " + std::to_string(layout.pixel_bytes) + " bytes, has " +
         std::to_string(available) + ")");
}

}  // namespace

tga_layout read_tga_layout(const unsigned char* data, std::size_t size) {
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

  tga_layout layout;
  layout.pixel_offset = header_size + id_length;
  if (size < layout.pixel_offset) {
    reject("truncated image ID (needs " + std::to_string(layout.pixel_offset) + " bytes, has " +
           std::to_string(size) + ")");
  }
  layout.width = static_cast<std::int32_t>(width);
  layout.height = static_cast<std::int32_t>(height);
  layout.bytes_per_pixel = depth / 8;
  layout.top_to_bottom = (descriptor & top_to_bottom_bit) != 0;
  layout.right_to_left = (descriptor & right_to_left_bit) != 0;
  // At most 2^28 pixels of 4 bytes: no overflow even with a 32-bit size_t.
  layout.pixel_bytes = std::size_t{width} * height * layout.bytes_per_pixel;
  return layout;
}

bool looks_like_tga(const unsigned char* data, std::size_t size) {
  if (size < header_size)
    return false;
  const unsigned colour_map_type = data[1];
  const unsigned image_type = data[2];
  const unsigned depth = data[16];
  const bool known_type = image_type <= 3 || (image_type >= 9 && image_type <= 11);
  const bool known_depth = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
  return colour_map_type <= 1 && known_type && known_depth;
}

host_image_ptr read_tga_pixels(const tga_layout& layout, const byte_source& pixels) {
  host_image_ptr image = make_host_image(layout.width, layout.height);
  const std::size_t row_bytes = static_cast<std::size_t>(layout.width) * layout.bytes_per_pixel;
  // Rows that are rows of Bgra8 go straight into the picture; others
  // through one row.
  static_assert(sizeof(Bgra8) == 4, "a 32-bit TGA row is a row of Bgra8");
  std::vector<unsigned char> row(layout.rows_are_bgra8() ? 0 : row_bytes);
  std::size_t read = 0;
  for (std::int32_t y = 0; y < layout.height; ++y) {
    Bgra8* target = &image->at(0, layout.top_to_bottom ? y : layout.height - 1 - y);
    unsigned char* into = row.empty() ? reinterpret_cast<unsigned char*>(target) : row.data();
    std::size_t got = 0;
    while (got < row_bytes) {
      const std::size_t count = pixels(into + got, row_bytes - got);
      if (count == 0)
        break;
      got += count;
    }
    read += got;
    if (got != row_bytes)
      reject_truncated_pixels(layout, read);
    if (row.empty())
      continue;
    const unsigned char* source = row.data();
    for (std::int32_t column = 0; column < layout.width; ++column) {
      Bgra8& pixel = target[layout.right_to_left ? layout.width - 1 - column : column];
      pixel.blue = source[0];
      pixel.green = source[1];
      pixel.red = source[2];
      pixel.alpha = layout.bytes_per_pixel == 4 ? source[3] : 255;
      source += layout.bytes_per_pixel;
    }
  }
  return image;
}

host_image_ptr decode_tga(const unsigned char* data, std::size_t size) {
  const tga_layout layout = read_tga_layout(data, size);
  if (size - layout.pixel_offset < layout.pixel_bytes)
    reject_truncated_pixels(layout, size - layout.pixel_offset);
  return read_tga_pixels(layout,
                         memory_source(data + layout.pixel_offset, size - layout.pixel_offset));
}

std::string tga_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
    return "TGA cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels (1 to 65535 per side)";
  }
  return {};
}

void write_tga(const memory_image& image, const byte_sink& sink) {
  const std::int32_t width = image.width();
  const std::int32_t height = image.height();
  const std::string limitation = tga_size_limitation(width, height);
  if (!limitation.empty())
    throw image_format_error(limitation);
  // ID length, colour-map type, image type, then five zero bytes for the
  // absent colour map and the origin (0, 0); size, depth, descriptor.
  unsigned char header[header_size] = {0, 0, 2};
  put_u16(header + 12, static_cast<unsigned>(width));
  put_u16(header + 14, static_cast<unsigned>(height));
  header[16] = 32;
  header[17] = 0x08;
  sink(header, sizeof header);

  // The picture's rows are already Bgra8, the bytes a 32-bit TGA stores;
  // only their order is reversed.
  const std::size_t row_bytes = std::size_t{4} * static_cast<std::size_t>(width);
  const std::size_t rows_per_block = std::max<std::size_t>(1, write_block_bytes / row_bytes);
  std::vector<unsigned char> block(std::min<std::size_t>(rows_per_block, height) * row_bytes);
  for (std::int32_t y = height - 1; y >= 0;) {
    std::size_t filled = 0;
    for (std::size_t row = 0; row < rows_per_block && y >= 0; ++row, --y) {
      std::memcpy(block.data() + filled, &image.at(0, y), row_bytes);
      filled += row_bytes;
    }
    sink(block.data(), filled);
  }
  // No extension area, no developer directory, then the signature.
  unsigned char footer[8 + sizeof footer_signature] = {};
  std::memcpy(footer + 8, footer_signature, sizeof footer_signature);
  sink(footer, sizeof footer);
}

std::vector<unsigned char> encode_tga(const memory_image& image) {
  std::vector<unsigned char> out;
  out.reserve(header_size + std::size_t{4} * image.pixels().size() + 26);
  write_tga(image, [&out](const unsigned char* data, std::size_t size) {
    out.insert(out.end(), data, data + size);
  });
  return out;
}
