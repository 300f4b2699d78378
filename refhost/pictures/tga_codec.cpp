#include "refhost/pictures/tga_codec.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "refhost/pictures/byte_reader.hpp"

namespace {

constexpr std::size_t header_size = 18;
constexpr char footer_signature[] = "TRUEVISION-XFILE.";  // with its NUL: 18 bytes

// Descriptor bits: 0-3 alpha bits, 4 right-to-left, 5 top-to-bottom,
// 6-7 the long-obsolete interleaving.
constexpr unsigned alpha_bits_mask = 0x0F;
constexpr unsigned right_to_left_bit = 0x10;
constexpr unsigned top_to_bottom_bit = 0x20;
constexpr unsigned interleave_bits = 0xC0;
// A packet's first byte: a run of one pixel repeated, or that many pixels
// stored one by one; the low seven bits are the count less one.
constexpr unsigned run_bit = 0x80;
constexpr std::size_t most_in_packet = 128;

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

// The depths each kind of picture stores its pixels in.
void check_depth(const tga_layout& layout, unsigned image_type) {
  const unsigned depth = layout.depth;
  const bool true_colour = !layout.colour_mapped && !layout.grey;
  const bool fine = true_colour ? depth == 15 || depth == 16 || depth == 24 || depth == 32
                                : depth == 8 || depth == 16;
  if (!fine) {
    reject(std::to_string(depth) + " bits per pixel are not supported for image type " +
           std::to_string(image_type) + " (only " +
           (true_colour ? "15, 16, 24 and 32" : "8 and 16") + ")");
  }
}

// Five bits widened to eight as the file's full scale: 31 becomes 255.
std::uint8_t widen_5(unsigned value) {
  return static_cast<std::uint8_t>(value << 3 | value >> 2);
}

// One stored pixel (or colour-map entry) of `bits` bits as Bgra8; a 16-bit
// one's top bit is its alpha when `alpha_bit`.
Bgra8 true_colour(const unsigned char* stored, unsigned bits, bool alpha_bit) {
  switch (bits) {
    case 32:
      return Bgra8{stored[0], stored[1], stored[2], stored[3]};
    case 24:
      return Bgra8{stored[0], stored[1], stored[2], 255};
    default: {
      const unsigned value = read_u16(stored);
      const std::uint8_t alpha = !alpha_bit || bits == 15 || (value & 0x8000) != 0 ? 255 : 0;
      return Bgra8{widen_5(value & 31), widen_5(value >> 5 & 31), widen_5(value >> 10 & 31), alpha};
    }
  }
}

// Stored pixels to Bgra8, the way the header says they are stored.
class pixel_decoder {
 public:
  explicit pixel_decoder(const tga_layout& layout) : layout_(layout) {}

  std::vector<Bgra8>& colour_map() { return map_; }

  Bgra8 operator()(const unsigned char* stored) const {
    if (layout_.colour_mapped) {
      const unsigned index = layout_.depth == 8 ? stored[0] : read_u16(stored);
      // Indices before the map's first entry or past its end: opaque black.
      const unsigned entry = index - layout_.map_first;
      return index >= layout_.map_first && entry < map_.size() ? map_[entry] : Bgra8{0, 0, 0, 255};
    }
    if (layout_.grey)
      return Bgra8{stored[0], stored[0], stored[0],
                   layout_.depth == 16 ? stored[1] : std::uint8_t{255}};
    return true_colour(stored, layout_.depth, layout_.alpha_bits == 1);
  }

 private:
  const tga_layout& layout_;
  std::vector<Bgra8> map_;
};

[[noreturn]] void reject_truncated_pixels(const tga_layout& layout, std::size_t available) {
  reject("truncated pixel data (needs " + std::to_string(layout.pixel_bytes) + " bytes, has " +
         std::to_string(available) + ")");
}

// Fills `row` (width pixels, as stored) from the file's next pixels: plain
// or in run-length packets, which may run on from one row into the next.
class stored_pixels {
 public:
  stored_pixels(const tga_layout& layout, byte_reader& in, const pixel_decoder& decode)
      : layout_(layout), in_(in), decode_(decode), bytes_(layout.bytes_per_pixel()) {
    if (!layout.run_length)
      raw_.resize(static_cast<std::size_t>(layout.width) * bytes_);
  }

  void read_row(Bgra8* row, std::int32_t row_number) {
    const std::size_t width = static_cast<std::size_t>(layout_.width);
    if (!layout_.run_length) {
      const std::size_t got = in_.read(raw_.data(), raw_.size());
      read_ += got;
      if (got != raw_.size())
        reject_truncated_pixels(layout_, read_);
      for (std::size_t x = 0; x < width; ++x) row[x] = decode_(raw_.data() + x * bytes_);
      return;
    }
    for (std::size_t x = 0; x < width;) {
      if (left_ == 0)
        start_packet(row_number);
      const std::size_t count = std::min(left_, width - x);
      if (run_) {
        std::fill(row + x, row + x + count, repeated_);
      } else {
        unsigned char stored[4];
        for (std::size_t k = 0; k < count; ++k) {
          take(stored, row_number);
          row[x + k] = decode_(stored);
        }
      }
      x += count;
      left_ -= count;
    }
  }

 private:
  void take(unsigned char* stored, std::int32_t row_number) {
    if (in_.read(stored, bytes_) != bytes_) {
      reject("truncated run-length data (it ends in row " + std::to_string(row_number + 1) +
             " of " + std::to_string(layout_.height) + ")");
    }
  }

  void start_packet(std::int32_t row_number) {
    unsigned char head = 0;
    take_header(&head, row_number);
    run_ = (head & run_bit) != 0;
    left_ = (head & ~run_bit) + std::size_t{1};
    if (run_) {
      unsigned char stored[4];
      take(stored, row_number);
      repeated_ = decode_(stored);
    }
  }

  void take_header(unsigned char* head, std::int32_t row_number) {
    if (in_.read(head, 1) != 1) {
      reject("truncated run-length data (it ends in row " + std::to_string(row_number + 1) +
             " of " + std::to_string(layout_.height) + ")");
    }
  }

  const tga_layout& layout_;
  byte_reader& in_;
  const pixel_decoder& decode_;
  std::size_t bytes_;
  std::vector<unsigned char> raw_;  // a plain row as stored
  std::size_t read_ = 0;            // plain bytes read so far
  std::size_t left_ = 0;            // pixels left in the packet
  bool run_ = false;
  Bgra8 repeated_{0, 0, 0, 0};
};

bool is_grey_opaque(const memory_image& image) {
  return std::all_of(image.pixels().begin(), image.pixels().end(), [](const Bgra8& p) {
    return p.red == p.green && p.green == p.blue && p.alpha == 255;
  });
}

// A row as stored: four bytes a pixel, or one for grey.
std::size_t store_row(const Bgra8* pixels, std::size_t width, bool grey, unsigned char* out) {
  if (!grey) {
    std::memcpy(out, pixels, width * 4);
    return width * 4;
  }
  for (std::size_t x = 0; x < width; ++x) out[x] = pixels[x].red;
  return width;
}

// A stored row in run-length packets: runs of two or more equal pixels as
// one, the pixels between them as they are; no packet past the row.
std::size_t encode_runs(const unsigned char* row, std::size_t width, std::size_t bytes,
                        unsigned char* out) {
  const auto same = [&](std::size_t a, std::size_t b) {
    return std::memcmp(row + a * bytes, row + b * bytes, bytes) == 0;
  };
  std::size_t written = 0;
  for (std::size_t x = 0; x < width;) {
    std::size_t end = x + 1;
    while (end < width && end - x < most_in_packet && same(end, x)) ++end;
    if (end - x >= 2) {
      out[written++] = static_cast<unsigned char>(run_bit | (end - x - 1));
      std::memcpy(out + written, row + x * bytes, bytes);
      written += bytes;
      x = end;
      continue;
    }
    end = x + 1;
    while (end < width && end - x < most_in_packet && !(end + 1 < width && same(end, end + 1)))
      ++end;
    out[written++] = static_cast<unsigned char>(end - x - 1);
    std::memcpy(out + written, row + x * bytes, (end - x) * bytes);
    written += (end - x) * bytes;
    x = end;
  }
  return written;
}

}  // namespace

tga_layout read_tga_layout(const unsigned char* data, std::size_t size) {
  if (size < header_size) {
    reject("truncated header (needs " + std::to_string(header_size) + " bytes, has " +
           std::to_string(size) + ")");
  }
  const unsigned id_length = data[0];
  const unsigned colour_map_type = data[1];
  const unsigned image_type = data[2];
  const unsigned width = read_u16(data + 12);
  const unsigned height = read_u16(data + 14);
  const unsigned descriptor = data[17];

  tga_layout layout;
  switch (image_type) {
    case 1:
    case 2:
    case 3:
    case 9:
    case 10:
    case 11:
      break;
    case 0:
      reject("the file holds no image data (type 0)");
    default:
      reject("unknown image type " + std::to_string(image_type));
  }
  if (colour_map_type > 1)
    reject("colour-map type " + std::to_string(colour_map_type) + " is not supported");
  layout.run_length = image_type >= 9;
  layout.colour_mapped = image_type == 1 || image_type == 9;
  layout.grey = image_type == 3 || image_type == 11;
  layout.depth = data[16];
  layout.alpha_bits = descriptor & alpha_bits_mask;
  if (layout.colour_mapped && colour_map_type != 1)
    reject("a colour-mapped picture (type " + std::to_string(image_type) +
           ") without a colour map");
  if (colour_map_type == 1) {
    layout.map_first = read_u16(data + 3);
    layout.map_length = read_u16(data + 5);
    layout.map_depth = data[7];
    if (layout.map_depth != 15 && layout.map_depth != 16 && layout.map_depth != 24 &&
        layout.map_depth != 32) {
      reject("colour-map entries of " + std::to_string(layout.map_depth) +
             " bits are not supported (only 15, 16, 24 and 32)");
    }
    layout.map_bytes = std::size_t{layout.map_length} * ((layout.map_depth + 7) / 8);
  }

  if (width == 0 || height == 0) {
    reject("empty picture (" + std::to_string(width) + "x" + std::to_string(height) + ")");
  }
  if (std::int64_t{width} * height > memory_image::max_pixels) {
    reject("picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels is larger than the host supports");
  }
  check_depth(layout, image_type);
  if ((descriptor & interleave_bits) != 0)
    reject("interleaved rows are not supported");

  layout.map_offset = header_size + id_length;
  if (size < layout.map_offset) {
    reject("truncated image ID (needs " + std::to_string(layout.map_offset) + " bytes, has " +
           std::to_string(size) + ")");
  }
  layout.width = static_cast<std::int32_t>(width);
  layout.height = static_cast<std::int32_t>(height);
  layout.top_to_bottom = (descriptor & top_to_bottom_bit) != 0;
  layout.right_to_left = (descriptor & right_to_left_bit) != 0;
  // At most 2^28 pixels of 4 bytes: no overflow even with a 32-bit size_t.
  layout.pixel_bytes = std::size_t{width} * height * layout.bytes_per_pixel();
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

picture read_tga(const tga_layout& layout, const byte_source& source) {
  byte_reader in(source);
  pixel_decoder decode(layout);
  if (layout.map_bytes != 0) {
    std::vector<unsigned char> map(layout.map_bytes);
    const std::size_t got = in.read(map.data(), map.size());
    if (got != map.size()) {
      reject("truncated colour map (needs " + std::to_string(map.size()) + " bytes, has " +
             std::to_string(got) + ")");
    }
    // Only a colour-mapped picture looks its pixels up; others skip the map.
    if (layout.colour_mapped) {
      const std::size_t entry_bytes = (layout.map_depth + 7) / 8;
      for (std::size_t at = 0; at < map.size(); at += entry_bytes)
        decode.colour_map().push_back(
            true_colour(map.data() + at, layout.map_depth, layout.alpha_bits == 1));
    }
  }

  picture result;
  result.view = make_host_image(layout.width, layout.height);
  result.source.grey = layout.grey;
  result.source.run_length = layout.run_length;
  result.source.top_to_bottom = layout.top_to_bottom;
  memory_image& image = *result.view;
  // Plain rows of Bgra8 go straight into the picture; others through one row.
  static_assert(sizeof(Bgra8) == 4, "a 32-bit TGA row is a row of Bgra8");
  const std::size_t row_bytes = static_cast<std::size_t>(layout.width) * 4;
  std::size_t read = 0;
  stored_pixels stored(layout, in, decode);
  std::vector<Bgra8> row(layout.rows_are_bgra8() ? 0 : static_cast<std::size_t>(layout.width));
  for (std::int32_t r = 0; r < layout.height; ++r) {
    Bgra8* target = &image.at(0, layout.top_to_bottom ? r : layout.height - 1 - r);
    if (row.empty()) {
      const std::size_t got = in.read(reinterpret_cast<unsigned char*>(target), row_bytes);
      read += got;
      if (got != row_bytes)
        reject_truncated_pixels(layout, read);
      continue;
    }
    stored.read_row(row.data(), r);
    if (layout.right_to_left)
      std::reverse_copy(row.begin(), row.end(), target);
    else
      std::copy(row.begin(), row.end(), target);
  }
  return result;
}

picture read_tga(const unsigned char* data, std::size_t size) {
  const tga_layout layout = read_tga_layout(data, size);
  // Too few bytes for the pixels are refused before the picture is made:
  // plain ones take their size, packets at least a header and a pixel for
  // every 128 pixels.
  const std::size_t available = size - layout.map_offset;
  const std::size_t pixels = layout.pixel_bytes / layout.bytes_per_pixel();
  if (!layout.run_length && available < layout.map_bytes + layout.pixel_bytes)
    reject_truncated_pixels(layout,
                            available < layout.map_bytes ? 0 : available - layout.map_bytes);
  if (layout.run_length && available < layout.map_bytes + (pixels + most_in_packet - 1) /
                                                              most_in_packet *
                                                              (1 + layout.bytes_per_pixel()))
    reject("truncated run-length data (too short for " + std::to_string(pixels) + " pixels)");
  return read_tga(layout, memory_source(data + layout.map_offset, size - layout.map_offset));
}

host_image_ptr decode_tga(const unsigned char* data, std::size_t size) {
  return read_tga(data, size).view;
}

std::string tga_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
    return "TGA cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels (1 to 65535 per side)";
  }
  return {};
}

void write_tga(const memory_image& image, const byte_sink& sink, const tga_storage& storage) {
  const std::int32_t width = image.width();
  const std::int32_t height = image.height();
  const std::string limitation = tga_size_limitation(width, height);
  if (!limitation.empty())
    throw image_format_error(limitation);
  // ID length, colour-map type, image type, then five zero bytes for the
  // absent colour map and the origin (0, 0); size, depth, descriptor.
  unsigned char header[header_size] = {
      0, 0, static_cast<unsigned char>((storage.grey ? 3 : 2) + (storage.run_length ? 8 : 0))};
  put_u16(header + 12, static_cast<unsigned>(width));
  put_u16(header + 14, static_cast<unsigned>(height));
  header[16] = storage.grey ? 8 : 32;
  header[17] = static_cast<unsigned char>((storage.grey ? 0 : 8) |
                                          (storage.top_to_bottom ? top_to_bottom_bit : 0));
  sink(header, sizeof header);

  const std::size_t columns = static_cast<std::size_t>(width);
  const std::size_t bytes = storage.grey ? 1 : 4;
  const std::size_t row_bytes = bytes * columns;
  // A run-length row takes at most a packet header more per 128 pixels.
  const std::size_t most_row_bytes =
      storage.run_length ? row_bytes + (columns + most_in_packet - 1) / most_in_packet : row_bytes;
  std::vector<unsigned char> block(std::max(write_block_bytes, most_row_bytes));
  std::vector<unsigned char> row(storage.run_length ? row_bytes : 0);
  std::size_t filled = 0;
  for (std::int32_t r = 0; r < height; ++r) {
    const std::int32_t y = storage.top_to_bottom ? r : height - 1 - r;
    if (block.size() - filled < most_row_bytes) {
      sink(block.data(), filled);
      filled = 0;
    }
    if (!storage.run_length) {
      filled += store_row(&image.at(0, y), columns, storage.grey, block.data() + filled);
      continue;
    }
    store_row(&image.at(0, y), columns, storage.grey, row.data());
    filled += encode_runs(row.data(), columns, bytes, block.data() + filled);
  }
  sink(block.data(), filled);
  // No extension area, no developer directory, then the signature.
  unsigned char footer[8 + sizeof footer_signature] = {};
  std::memcpy(footer + 8, footer_signature, sizeof footer_signature);
  sink(footer, sizeof footer);
}

void write_tga(const picture& stamped, const byte_sink& sink) {
  tga_storage storage;
  storage.run_length = stamped.source.run_length;
  storage.top_to_bottom = stamped.source.top_to_bottom;
  storage.grey = stamped.source.grey && is_grey_opaque(*stamped.view);
  write_tga(*stamped.view, sink, storage);
}

std::vector<unsigned char> encode_tga(const memory_image& image, const tga_storage& storage) {
  std::vector<unsigned char> out;
  out.reserve(header_size + std::size_t{4} * image.pixels().size() + 26);
  write_tga(
      image,
      [&out](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      storage);
  return out;
}
