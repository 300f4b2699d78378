#include "tests/support/png_builder.hpp"

#include <algorithm>
#include <cstdlib>

namespace {

void put_u32_be(png_bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

std::uint32_t crc32(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(const png_bytes& data) {
  std::uint32_t a = 1, b = 0;
  for (unsigned char byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

void append_chunk(png_bytes& png, const std::string& type, const png_bytes& body) {
  put_u32_be(png, static_cast<std::uint32_t>(body.size()));
  const std::size_t checked_from = png.size();
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), body.begin(), body.end());
  put_u32_be(png, crc32(png.data() + checked_from, png.size() - checked_from));
}

// Deflate's bit order: values go in least significant bit first.
class bit_writer {
 public:
  void put(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
      pending_ |= ((value >> i) & 1u) << filled_;
      if (++filled_ == 8) {
        out.push_back(static_cast<unsigned char>(pending_));
        pending_ = 0;
        filled_ = 0;
      }
    }
  }
  // Huffman codes go in most significant bit first.
  void put_code(std::uint32_t code, int length) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
    put(reversed, length);
  }
  void flush() {
    if (filled_ != 0)
      out.push_back(static_cast<unsigned char>(pending_));
    pending_ = 0;
    filled_ = 0;
  }
  png_bytes out;

 private:
  std::uint32_t pending_ = 0;
  int filled_ = 0;
};

const unsigned char zlib_header[2] = {0x78, 0x01};

}  // namespace

unsigned png_channels(unsigned colour_type) {
  static const unsigned channels[7] = {1, 0, 3, 1, 2, 0, 4};
  return colour_type < 7 ? channels[colour_type] : 0;
}

// Filters a row in place as an encoder would, `type` 0 to 4.
void apply_filter(unsigned type, unsigned char* row, const png_bytes& above, std::size_t bpp) {
  const png_bytes raw(row, row + above.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const int a = i >= bpp ? raw[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    const int prediction[5] = {0, a, b, (a + b) / 2, paeth};
    row[i] = static_cast<unsigned char>(raw[i] - prediction[type]);
  }
}

png_bytes png_filtered_rows(const png_layout& layout, const png_sample_source& sample,
                            bool every_filter) {
  struct pass {
    std::uint32_t x0, y0, dx, dy;
  };
  static const pass adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  static const pass whole = {0, 0, 1, 1};
  const unsigned channels = png_channels(layout.colour_type);
  png_bytes rows;
  for (int p = 0; p < (layout.interlaced ? 7 : 1); ++p) {
    const pass& step = layout.interlaced ? adam7[p] : whole;
    if (step.x0 >= layout.width)
      continue;
    const std::size_t bits_per_pixel = std::size_t{channels} * layout.depth;
    const std::size_t row_bytes =
        ((layout.width - step.x0 + step.dx - 1) / step.dx * bits_per_pixel + 7) / 8;
    png_bytes above(row_bytes, 0);  // a pass starts below a row of zeros
    for (std::uint32_t y = step.y0; y < layout.height; y += step.dy) {
      const unsigned type = every_filter ? (y / step.dy) % 5 : 0;
      rows.push_back(static_cast<unsigned char>(type));
      const std::size_t row_start = rows.size();
      unsigned bits = 0, filled = 0;
      for (std::uint32_t x = step.x0; x < layout.width; x += step.dx) {
        for (unsigned c = 0; c < channels; ++c) {
          const unsigned value = sample(x, y, c);
          if (layout.depth == 16) {
            rows.insert(rows.end(), {static_cast<unsigned char>(value >> 8),
                                     static_cast<unsigned char>(value & 0xFF)});
            continue;
          }
          bits = bits << layout.depth | (value & ((1u << layout.depth) - 1));
          filled += layout.depth;
          if (filled == 8) {
            rows.push_back(static_cast<unsigned char>(bits));
            bits = filled = 0;
          }
        }
      }
      if (filled != 0)
        rows.push_back(static_cast<unsigned char>(bits << (8 - filled)));
      const png_bytes raw(rows.begin() + row_start, rows.end());
      apply_filter(type, rows.data() + row_start, above,
                   std::max<std::size_t>(1, bits_per_pixel / 8));
      above = raw;
    }
  }
  return rows;
}

png_bytes zlib_stored(const png_bytes& data) {
  png_bytes out(zlib_header, zlib_header + 2);
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(data.size() - at, 65535);
    const bool last = at + length == data.size();
    out.push_back(last ? 1 : 0);
    out.insert(out.end(),
               {static_cast<unsigned char>(length & 0xFF), static_cast<unsigned char>(length >> 8),
                static_cast<unsigned char>(~length & 0xFF),
                static_cast<unsigned char>((~length >> 8) & 0xFF)});
    out.insert(out.end(), data.begin() + at, data.begin() + at + length);
    at += length;
  } while (at < data.size());
  put_u32_be(out, adler32(data));
  return out;
}

png_bytes zlib_zero_bomb(std::uint64_t zero_bytes) {
  bit_writer bits;
  bits.out.assign(zlib_header, zlib_header + 2);
  bits.put(1, 1);          // the last block
  bits.put(1, 2);          // fixed Huffman codes
  bits.put_code(0x30, 8);  // literal 0
  std::uint64_t left = zero_bytes - 1;
  // Length 258 is code 285 (8 bits, no extra bits); distance 1 is code 0
  // (5 bits).
  for (; left >= 258; left -= 258) {
    bits.put_code(0xC5, 8);
    bits.put(0, 5);
  }
  for (; left > 0; --left) bits.put_code(0x30, 8);
  bits.put_code(0, 7);  // end of block
  bits.flush();
  // Adler-32 of zeros: a stays 1, b adds 1 per byte.
  put_u32_be(bits.out, static_cast<std::uint32_t>(zero_bytes % 65521) << 16 | 1u);
  return bits.out;
}

png_bytes build_png(const png_layout& layout, const png_chunk_list& chunks_before_data,
                    const png_bytes& zlib_stream, const png_chunk_list& chunks_after_data) {
  png_bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png_bytes header;
  put_u32_be(header, layout.width);
  put_u32_be(header, layout.height);
  header.insert(header.end(), {static_cast<unsigned char>(layout.depth),
                               static_cast<unsigned char>(layout.colour_type), 0, 0,
                               static_cast<unsigned char>(layout.interlaced ? 1 : 0)});
  append_chunk(png, "IHDR", header);
  for (const auto& chunk : chunks_before_data) append_chunk(png, chunk.first, chunk.second);
  append_chunk(png, "IDAT", zlib_stream);
  for (const auto& chunk : chunks_after_data) append_chunk(png, chunk.first, chunk.second);
  append_chunk(png, "IEND", {});
  return png;
}

png_chunk_list chunks_of(const png_bytes& png) {
  png_chunk_list chunks;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                               std::size_t{png[at + 2]} << 8 | png[at + 3];
    if (png.size() - at - 12 < length)
      break;
    chunks.emplace_back(std::string(png.begin() + at + 4, png.begin() + at + 8),
                        png_bytes(png.begin() + at + 8, png.begin() + at + 8 + length));
    at += 12 + length;
  }
  return chunks;
}
