// PNG encoding: the picture's rows filtered and compressed in blocks of
// about 256 KiB, each block the way that suits its content (see
// bench/README.md for the measurements behind these choices):
// - flat blocks (rendered skies, flat shading, text: most pixels equal the
//   one to their left) keep their rows unfiltered and go through zlib's
//   lazy matching, which finds their repeats many rows apart;
// - textured blocks (noise, photographs) take the average filter and
//   zlib's run-length strategy: their repeats are rare, and matching would
//   cost several times the time for larger files.
// Opaque pictures, which is what the plug-in leaves, are written as RGB.
// Frames up to the whole-frame limit are filtered the same way into one
// buffer the thread keeps and compressed in one call (libdeflate natively:
// it cannot continue a stream, so it cannot share a frame between cores,
// but it makes a frame on one core in about 60 % of zlib's time).

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "refhost/pictures/png/frame_buffers.hpp"
#include "refhost/pictures/png/parallel_deflate.hpp"
#include "refhost/pictures/png/png_row_filters.hpp"
#include "refhost/pictures/png/whole_frame_deflate.hpp"
#include "refhost/pictures/png_codec.hpp"

namespace {

constexpr std::size_t block_target_bytes = std::size_t{256} << 10;
constexpr std::size_t dictionary_target_bytes = std::size_t{32} << 10;

void put_u32_be(unsigned char* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

void write_chunk(const byte_sink& sink, const char* type, const unsigned char* data,
                 std::size_t size) {
  unsigned char head[8];
  put_u32_be(head, static_cast<std::uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (size != 0)
    crc = crc32(crc, data, static_cast<uInt>(size));
  unsigned char tail[4];
  put_u32_be(tail, static_cast<std::uint32_t>(crc));
  sink(head, sizeof head);
  if (size != 0)
    sink(data, size);
  sink(tail, sizeof tail);
}

// What one pass over the picture tells the writer.
struct picture_survey {
  bool opaque = true;
  std::vector<std::uint32_t> repeats;  // per row: pixels equal to their left neighbour
};

std::uint32_t pixel_word(const Bgra8* pixel) {
  std::uint32_t word = 0;
  std::memcpy(&word, pixel, 4);
  return word;
}

picture_survey survey(const memory_image& image) {
  picture_survey found;
  found.repeats.resize(static_cast<std::size_t>(image.height()));
  const std::size_t width = static_cast<std::size_t>(image.width());
  std::uint32_t all_pixels = 0xFFFFFFFFu;  // every pixel's bits ANDed: alpha is the top byte
  for (std::int32_t y = 0; y < image.height(); ++y) {
    const Bgra8* row = &image.at(0, y);
    std::uint32_t repeats = 0;
    std::size_t x = 1;
#if defined(__SSE2__)
    // Four pixels and their left neighbours at a time.
    __m128i anded = _mm_set1_epi32(-1);
    for (; x + 4 <= width; x += 4) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x - 1));
      repeats += static_cast<std::uint32_t>(
          __builtin_popcount(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(pixels, left)))));
      anded = _mm_and_si128(anded, pixels);
    }
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), anded);
    all_pixels &= lanes[0] & lanes[1] & lanes[2] & lanes[3];
#endif
    all_pixels &= pixel_word(row);
    for (; x < width; ++x) {
      repeats += pixel_word(row + x) == pixel_word(row + x - 1) ? 1 : 0;
      all_pixels &= pixel_word(row + x);
    }
    found.repeats[static_cast<std::size_t>(y)] = repeats;
  }
  found.opaque = all_pixels >> 24 == 255;
  return found;
}

class png_block_maker {
 public:
  png_block_maker(const memory_image& image, const picture_survey& found,
                  const png_compression& choices)
      : image_(image), channels_(found.opaque ? 3 : 4), flat_level_(choices.flat_level) {
    const std::size_t width = static_cast<std::size_t>(image.width());
    row_bytes_ = width * channels_;
    rows_per_block_ = std::max<std::size_t>(1, block_target_bytes / (row_bytes_ + 1));
    const std::size_t height = static_cast<std::size_t>(image.height());
    const std::size_t blocks = (height + rows_per_block_ - 1) / rows_per_block_;
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::size_t first = b * rows_per_block_;
      const std::size_t end = std::min(height, first + rows_per_block_);
      std::uint64_t repeats = 0;
      for (std::size_t y = first; y < end; ++y) repeats += found.repeats[y];
      flat_.push_back(repeats * 256 >=
                      std::uint64_t{choices.flat_share_256} * width * (end - first));
    }
  }

  unsigned channels() const { return channels_; }
  std::size_t blocks() const { return flat_.size(); }
  int flat_level() const { return flat_level_; }
  // The whole frame's rows, filtered, with their filter bytes.
  std::size_t filtered_bytes() const {
    return static_cast<std::size_t>(image_.height()) * (row_bytes_ + 1);
  }
  bool mostly_flat() const {
    return 2 * static_cast<std::size_t>(std::count(flat_.begin(), flat_.end(), true)) >=
           flat_.size();
  }

  // The block's rows filtered as its kind wants, after as many rows before
  // it (filtered as theirs want) as make the dictionary.
  void operator()(std::size_t index, deflate_block& block) const {
    const std::size_t height = static_cast<std::size_t>(image_.height());
    const std::size_t first = index * rows_per_block_;
    const std::size_t end = std::min(height, first + rows_per_block_);
    const std::size_t stride = row_bytes_ + 1;
    const std::size_t dictionary_rows =
        std::min(first, (dictionary_target_bytes + stride - 1) / stride);
    block.bytes.resize((end - first + dictionary_rows) * stride);
    block.dictionary_bytes = dictionary_rows * stride;
    block.level = flat_[index] ? flat_level_ : 1;
    block.strategy = flat_[index] ? Z_DEFAULT_STRATEGY : Z_RLE;
    filter_rows(first - dictionary_rows, end, block.bytes.data());
  }

  // Rows `first` to `end` filtered as their blocks want, into `out`.
  // Unfiltered rows are taken straight into `out`, where the row below
  // finds them.
  void filter_rows(std::size_t first, std::size_t end, unsigned char* out) const {
    std::vector<unsigned char> row(row_bytes_);
    std::vector<unsigned char> above(row_bytes_);
    const unsigned char* row_above = nullptr;  // as the picture has it
    if (first > 0) {
      take_row(first - 1, above.data());
      row_above = above.data();
    }
    for (std::size_t y = first; y < end; ++y, out += row_bytes_ + 1) {
      const png_filter filter = flat_[y / rows_per_block_] ? png_filter::none : png_filter::average;
      out[0] = static_cast<unsigned char>(filter);
      if (filter == png_filter::none) {
        take_row(y, out + 1);
        row_above = out + 1;
        continue;
      }
      take_row(y, row.data());
      filter_png_row(filter, row.data(), row_above, out + 1, row_bytes_, channels_);
      row.swap(above);
      row_above = above.data();
    }
  }

 private:
  // Row y as the file stores it: red first, alpha only when kept.
  void take_row(std::size_t y, unsigned char* out) const {
    const Bgra8* pixel = &image_.at(0, static_cast<std::int32_t>(y));
    const std::size_t width = static_cast<std::size_t>(image_.width());
    if (channels_ == 3) {
      for (std::size_t x = 0; x < width; ++x, out += 3) {
        out[0] = pixel[x].red;
        out[1] = pixel[x].green;
        out[2] = pixel[x].blue;
      }
      return;
    }
    for (std::size_t x = 0; x < width; ++x, out += 4) {
      out[0] = pixel[x].red;
      out[1] = pixel[x].green;
      out[2] = pixel[x].blue;
      out[3] = pixel[x].alpha;
    }
  }

  const memory_image& image_;
  unsigned channels_;
  int flat_level_;
  std::size_t row_bytes_ = 0;
  std::size_t rows_per_block_ = 1;
  std::vector<bool> flat_;  // per block
};

}  // namespace

std::string png_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 ||
      std::int64_t{width} * std::int64_t{height} > memory_image::max_pixels) {
    return "PNG cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels here (1 to " + std::to_string(memory_image::max_pixels) + " pixels)";
  }
  return {};
}

void write_png(const memory_image& image, const byte_sink& sink, int spare_threads,
               const png_compression& choices) {
  const std::string limitation = png_size_limitation(image.width(), image.height());
  if (!limitation.empty())
    throw image_format_error(limitation);
  const png_block_maker blocks(image, survey(image), choices);

  sink(png_signature, sizeof png_signature);
  unsigned char header[13] = {};
  put_u32_be(header, static_cast<std::uint32_t>(image.width()));
  put_u32_be(header + 4, static_cast<std::uint32_t>(image.height()));
  header[8] = 8;
  header[9] = blocks.channels() == 3 ? 2 : 6;  // RGB or RGBA; compression, filter, interlace 0
  write_chunk(sink, "IHDR", header, sizeof header);
  const std::size_t filtered_bytes = blocks.filtered_bytes();
  if (filtered_bytes <= choices.whole_frame_limit) {
    frame_buffers& buffers = this_thread_frame_buffers();
    unsigned char* rows = buffers.rows.reserve(filtered_bytes);
    blocks.filter_rows(0, static_cast<std::size_t>(image.height()), rows);
    const std::size_t room = whole_deflate_bound(filtered_bytes);
    unsigned char* stream = buffers.compressed.reserve(room);
    write_chunk(sink, "IDAT", stream,
                whole_deflate(rows, filtered_bytes, blocks.flat_level(), !blocks.mostly_flat(),
                              stream, room));
  } else {
    deflate_blocks(blocks.blocks(), std::cref(blocks), spare_threads,
                   [&](const unsigned char* data, std::size_t size) {
                     write_chunk(sink, "IDAT", data, size);
                   });
  }
  write_chunk(sink, "IEND", nullptr, 0);
}

std::vector<unsigned char> encode_png(const memory_image& image, int spare_threads) {
  std::vector<unsigned char> out;
  write_png(
      image,
      [&out](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      spare_threads);
  return out;
}
