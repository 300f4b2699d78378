// PNG encoding: the picture's rows filtered and compressed in blocks of
// about 256 KiB, each block the way that suits its content (see
// bench/README.md for the measurements behind these choices):
// - flat blocks (rendered skies, flat shading, text: most pixels equal the
//   one to their left) keep their rows unfiltered and go through zlib's
//   lazy matching, which finds their repeats many rows apart;
// - textured blocks (noise, photographs) take the average filter and
//   zlib's run-length strategy: their repeats are rare, and matching would
//   cost several times the time for larger files.
// Opaque pictures, which is what the plug-in leaves, are written without
// alpha; grey files' pictures that are still grey as grey; pictures with
// 16-bit samples at 16 bits. The chunks the reader kept go back where they
// stood, before or after the image data.
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
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "refhost/pictures/png/frame_buffers.hpp"
#include "refhost/pictures/png/parallel_deflate.hpp"
#include "refhost/pictures/png/png_colour_profile.hpp"
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

bool all_grey(const memory_image& image) {
  return std::all_of(image.pixels().begin(), image.pixels().end(),
                     [](const Bgra8& p) { return p.red == p.green && p.green == p.blue; });
}

// What the file stores of each pixel, and how its rows are made: from the
// view at 8 bits, or from the samples at 16.
class png_rows {
 public:
  png_rows(const memory_image& view, const deep_samples* deep, bool grey, bool alpha)
      : view_(view),
        deep_(deep != nullptr && !deep->empty() ? deep : nullptr),
        grey_(grey),
        alpha_(alpha) {}

  unsigned depth() const { return deep_ != nullptr ? 16 : 8; }
  unsigned colour_type() const { return (grey_ ? 0 : 2) + (alpha_ ? 4 : 0); }
  unsigned channels() const { return (grey_ ? 1 : 3) + (alpha_ ? 1 : 0); }
  std::size_t pixel_bytes() const { return channels() * depth() / 8; }
  const memory_image& view() const { return view_; }

  // Row y as the file stores it: red first, alpha only when kept.
  void take_row(std::size_t y, unsigned char* out) const {
    const std::size_t width = static_cast<std::size_t>(view_.width());
    if (deep_ != nullptr) {
      take_deep_row(y, width, out);
      return;
    }
    const Bgra8* pixel = &view_.at(0, static_cast<std::int32_t>(y));
    if (grey_) {
      for (std::size_t x = 0; x < width; ++x) {
        *out++ = pixel[x].red;
        if (alpha_)
          *out++ = pixel[x].alpha;
      }
      return;
    }
    if (!alpha_) {
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

 private:
  // The samples big-endian; their colour channels are the file's (the
  // samples are grey only while the picture is), their alpha left out
  // when the picture is opaque.
  void take_deep_row(std::size_t y, std::size_t width, unsigned char* out) const {
    const std::uint16_t* s = deep_->row(static_cast<std::int32_t>(y));
    const unsigned colours = deep_->is_grey() ? 1 : 3;
    const unsigned stride = deep_->channel_count();
    for (std::size_t x = 0; x < width; ++x, s += stride) {
      for (unsigned c = 0; c < colours; ++c) {
        *out++ = static_cast<unsigned char>(s[c] >> 8);
        *out++ = static_cast<unsigned char>(s[c] & 0xFF);
      }
      if (alpha_) {
        const std::uint16_t alpha = deep_->has_alpha() ? s[stride - 1] : 65535;
        *out++ = static_cast<unsigned char>(alpha >> 8);
        *out++ = static_cast<unsigned char>(alpha & 0xFF);
      }
    }
  }

  const memory_image& view_;
  const deep_samples* deep_;
  bool grey_;
  bool alpha_;
};

class png_block_maker {
 public:
  png_block_maker(const png_rows& rows, const picture_survey& found, const png_compression& choices)
      : rows_(rows),
        image_(rows.view()),
        pixel_bytes_(rows.pixel_bytes()),
        flat_level_(choices.flat_level) {
    const std::size_t width = static_cast<std::size_t>(image_.width());
    row_bytes_ = width * pixel_bytes_;
    rows_per_block_ = std::max<std::size_t>(1, block_target_bytes / (row_bytes_ + 1));
    const std::size_t height = static_cast<std::size_t>(image_.height());
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
      filter_png_row(filter, row.data(), row_above, out + 1, row_bytes_, pixel_bytes_);
      row.swap(above);
      row_above = above.data();
    }
  }

 private:
  void take_row(std::size_t y, unsigned char* out) const { rows_.take_row(y, out); }

  const png_rows& rows_;
  const memory_image& image_;
  std::size_t pixel_bytes_;
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

namespace {

// When the stamp changed the picture, as tIME keeps it: UTC.
std::array<unsigned char, 7> png_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  const unsigned year = static_cast<unsigned>(utc.tm_year + 1900);
  return {static_cast<unsigned char>(year >> 8),      static_cast<unsigned char>(year & 0xFF),
          static_cast<unsigned char>(utc.tm_mon + 1), static_cast<unsigned char>(utc.tm_mday),
          static_cast<unsigned char>(utc.tm_hour),    static_cast<unsigned char>(utc.tm_min),
          static_cast<unsigned char>(utc.tm_sec)};
}

void write_kept_chunks(const byte_sink& sink, const picture_source& source, bool after_image_data,
                       bool grey_kept) {
  for (const png_chunk& chunk : source.png_chunks) {
    if (chunk.after_image_data != after_image_data)
      continue;
    const std::string type(chunk.type.begin(), chunk.type.end());
    // A grey picture's profile describes grey samples: not the colour ones
    // of a grey picture that a plug-in drew on in colour.
    if (type == "iCCP" && !grey_kept)
      continue;
    if (type == "tIME") {
      write_chunk(sink, "tIME", png_time_now().data(), 7);
      continue;
    }
    write_chunk(sink, type.c_str(), chunk.data.data(), chunk.data.size());
  }
}

bool has_chunk(const picture_source& source, const char* type) {
  return std::any_of(
      source.png_chunks.begin(), source.png_chunks.end(),
      [&](const png_chunk& chunk) { return std::memcmp(chunk.type.data(), type, 4) == 0; });
}

// The background colour in the file's own colour type and depth.
void write_background(const byte_sink& sink, const picture_source& source, const png_rows& rows) {
  if (!source.background)
    return;
  unsigned char data[6];
  std::size_t size = 0;
  for (unsigned c = 0; c < (rows.channels() >= 3 ? 3u : 1u); ++c) {
    const std::uint16_t value = (*source.background)[c];
    const unsigned stored = rows.depth() == 16 ? value : deep_samples::as_8_bit(value);
    data[size++] = static_cast<unsigned char>(stored >> 8);
    data[size++] = static_cast<unsigned char>(stored & 0xFF);
  }
  write_chunk(sink, "bKGD", data, size);
}

void write_png_file(const memory_image& image, const deep_samples* deep,
                    const picture_source& source, const byte_sink& sink, int spare_threads,
                    const png_compression& choices) {
  const std::string limitation = png_size_limitation(image.width(), image.height());
  if (!limitation.empty())
    throw image_format_error(limitation);
  const picture_survey found = survey(image);
  const bool grey = source.grey && all_grey(image);
  const png_rows rows(image, deep, grey, !found.opaque);
  const png_block_maker blocks(rows, found, choices);

  sink(png_signature, sizeof png_signature);
  unsigned char header[13] = {};
  put_u32_be(header, static_cast<std::uint32_t>(image.width()));
  put_u32_be(header + 4, static_cast<std::uint32_t>(image.height()));
  header[8] = static_cast<unsigned char>(rows.depth());
  header[9] = static_cast<unsigned char>(rows.colour_type());  // compression, filter, interlace 0
  write_chunk(sink, "IHDR", header, sizeof header);
  const bool grey_kept = grey || !source.grey;
  write_kept_chunks(sink, source, false, grey_kept);
  // A JPEG's profile, in the chunk PNG keeps it in.
  if (!source.icc_profile.empty() && grey_kept && !has_chunk(source, "iCCP") &&
      !has_chunk(source, "sRGB")) {
    const std::vector<unsigned char> chunk = iccp_chunk_data(source.icc_profile);
    write_chunk(sink, "iCCP", chunk.data(), chunk.size());
  }
  write_background(sink, source, rows);
  const std::size_t filtered_bytes = blocks.filtered_bytes();
  if (filtered_bytes <= choices.whole_frame_limit) {
    frame_buffers& buffers = this_thread_frame_buffers();
    unsigned char* filtered = buffers.rows.reserve(filtered_bytes);
    blocks.filter_rows(0, static_cast<std::size_t>(image.height()), filtered);
    const std::size_t room = whole_deflate_bound(filtered_bytes);
    unsigned char* stream = buffers.compressed.reserve(room);
    write_chunk(sink, "IDAT", stream,
                whole_deflate(filtered, filtered_bytes, blocks.flat_level(), !blocks.mostly_flat(),
                              stream, room));
  } else {
    deflate_blocks(blocks.blocks(), std::cref(blocks), spare_threads,
                   [&](const unsigned char* data, std::size_t size) {
                     write_chunk(sink, "IDAT", data, size);
                   });
  }
  write_kept_chunks(sink, source, true, grey_kept);
  write_chunk(sink, "IEND", nullptr, 0);
}

}  // namespace

void write_png(const picture& stamped, const byte_sink& sink, int spare_threads,
               const png_compression& choices) {
  write_png_file(*stamped.view, &stamped.deep, stamped.source, sink, spare_threads, choices);
}

void write_png(const memory_image& image, const byte_sink& sink, int spare_threads,
               const png_compression& choices) {
  write_png_file(image, nullptr, picture_source{}, sink, spare_threads, choices);
}

std::vector<unsigned char> encode_png(const picture& stamped, int spare_threads) {
  std::vector<unsigned char> out;
  write_png(
      stamped,
      [&out](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      spare_threads);
  return out;
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
