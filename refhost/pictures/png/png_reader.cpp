// PNG decoding: chunks read in pieces as they come, their checksums
// checked, the image data inflated one row at a time into a row and the
// row above it, and each row unfiltered and expanded straight into the
// picture. Nothing but the picture grows with the file. Frames up to the
// whole-frame limit are instead gathered and inflated in one call, which
// libdeflate does three times as fast as zlib's stream, into buffers the
// thread keeps; should that fail, zlib's stream takes the same data again
// and says what is wrong, as it would have.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "refhost/pictures/byte_reader.hpp"
#include "refhost/pictures/png/frame_buffers.hpp"
#include "refhost/pictures/png/png_row_filters.hpp"
#include "refhost/pictures/png/whole_frame_deflate.hpp"
#include "refhost/pictures/png_codec.hpp"

namespace {

// Row buffers grow with the width: up to this many pixels a side they stay
// within a fraction of the largest picture.
constexpr std::uint64_t decoder_max_side = std::uint64_t{1} << 24;
// Compressed data may inflate past the last row by this much (encoders
// pad); more is a decompression bomb or corrupt.
constexpr std::size_t max_surplus_bytes = std::size_t{64} << 10;
constexpr std::uint32_t max_chunk_length = 0x7FFFFFFF;
// The ancillary chunks a picture keeps for its outputs (text, a colour
// profile, Exif) take at most this much in all; a file with more is
// refused rather than stamped without them.
constexpr std::size_t max_kept_chunk_bytes = std::size_t{16} << 20;

bool chunk_named(const unsigned char* type, const char* name) {
  return std::memcmp(type, name, 4) == 0;
}

// Whether an ancillary chunk stays true of the stamped picture, so that its
// outputs keep it. Colour (gAMA, cHRM, sRGB, iCCP, cICP, mDCv, cLLi),
// physical size and position (pHYs, sCAL, oFFs), text and Exif describe the
// picture whatever the report covers; tIME stays and says when the stamp
// changed the picture. Left out: tRNS, whose transparency the outputs carry
// as alpha; bKGD, which they write in their own colour type; sBIT, since
// the report's pixels use every bit; hIST and sPLT, counts and palettes of
// the pixels before the stamp. Other chunks go by the PNG rule for editors
// that change the pixels: only those marked safe to copy stay.
bool keeps_chunk(const unsigned char* type) {
  static const char* const kept[] = {"gAMA", "cHRM", "sRGB", "iCCP", "cICP", "mDCv", "cLLi", "pHYs",
                                     "sCAL", "oFFs", "tEXt", "zTXt", "iTXt", "eXIf", "tIME"};
  static const char* const left_out[] = {"tRNS", "bKGD", "sBIT", "hIST", "sPLT"};
  if ((type[0] & 0x20) == 0)
    return false;  // critical: the writer makes its own
  for (const char* name : kept) {
    if (chunk_named(type, name))
      return true;
  }
  for (const char* name : left_out) {
    if (chunk_named(type, name))
      return false;
  }
  return (type[3] & 0x20) != 0;
}

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("PNG: " + reason);
}

std::uint32_t read_u32_be(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

std::string size_text(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string chunk_name(const unsigned char* type) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    const unsigned char c = type[i];
    name += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? std::string(1, static_cast<char>(c))
                                                             : "\\x" + std::to_string(c);
  }
  return name;
}

unsigned channels_of(unsigned colour_type) {
  switch (colour_type) {
    case 2:
      return 3;
    case 4:
      return 2;
    case 6:
      return 4;
    default:
      return 1;
  }
}

struct png_header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned depth = 0;
  unsigned colour_type = 0;
  bool interlaced = false;
};

void check_header(const png_header& png, unsigned compression, unsigned filter,
                  unsigned interlace) {
  static const char* const allowed_depths[7] = {"1, 2, 4, 8, 16", "", "8, 16", "1, 2, 4, 8",
                                                "8, 16",          "", "8, 16"};
  if (png.width == 0 || png.height == 0 || png.width > INT32_MAX || png.height > INT32_MAX)
    reject("the header gives an impossible size of " + size_text(png.width, png.height));
  if (png.colour_type > 6 || allowed_depths[png.colour_type][0] == '\0')
    reject("unknown colour type " + std::to_string(png.colour_type));
  const std::string depths = allowed_depths[png.colour_type];
  const std::string depth = std::to_string(png.depth);
  if ((", " + depths + ",").find(" " + depth + ",") == std::string::npos) {
    reject(depth + "-bit samples are impossible for colour type " +
           std::to_string(png.colour_type) + " (it takes " + depths + ")");
  }
  if (compression != 0 || filter != 0 || interlace > 1)
    reject("unknown compression, filter or interlace method in the header");
  const std::string size = size_text(png.width, png.height);
  if (std::uint64_t{png.width} * png.height > memory_image::max_pixels) {
    reject("a picture of " + size + " pixels is larger than the host supports (at most " +
           std::to_string(memory_image::max_pixels) + " pixels)");
  }
  if (png.width > decoder_max_side || png.height > decoder_max_side) {
    reject("a picture of " + size + " pixels is beyond the decoder's " +
           std::to_string(decoder_max_side) + " pixels per side");
  }
}

// Where the rows of one pass lie in the picture: all of it, or one of the
// seven interlaced passes.
struct pass_grid {
  std::uint32_t start_x, start_y, step_x, step_y;
};
constexpr pass_grid whole_picture = {0, 0, 1, 1};
constexpr pass_grid interlaced_passes[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

std::uint32_t cells(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

// Red and blue swapped in every pixel, four pixels at a time where SSE2 is.
void rgba_to_bgra(const unsigned char* row, Bgra8* target, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= count; i += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i * 4));
    const __m128i green_alpha =
        _mm_and_si128(pixels, _mm_set1_epi32(static_cast<int>(0xFF00FF00u)));
    const __m128i red_blue = _mm_and_si128(pixels, _mm_set1_epi32(0x00FF00FF));
    const __m128i blue_red =
        _mm_or_si128(_mm_srli_epi32(red_blue, 16), _mm_slli_epi32(red_blue, 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + i), _mm_or_si128(green_alpha, blue_red));
  }
#endif
  for (; i < count; ++i)
    target[i] = Bgra8{row[i * 4 + 2], row[i * 4 + 1], row[i * 4], row[i * 4 + 3]};
}

class png_decoder {
 public:
  png_decoder(const byte_source& source, std::size_t whole_frame_limit)
      : in_(source), whole_frame_limit_(whole_frame_limit) {
    palette_.fill(Bgra8{0, 0, 0, 255});
  }
  ~png_decoder() {
    if (inflating_)
      inflateEnd(&stream_);
  }
  png_decoder(const png_decoder&) = delete;
  png_decoder& operator=(const png_decoder&) = delete;

  picture decode() {
    unsigned char signature[sizeof png_signature];
    if (in_.read(signature, sizeof signature) != sizeof signature ||
        std::memcmp(signature, png_signature, sizeof signature) != 0)
      reject("no PNG signature");
    while (read_chunk()) {
    }
    if (!result_.view)
      reject("no image data (IDAT)");
    if (whole_)
      inflate_whole();
    if (!rows_done_) {
      const std::string pass = png_.interlaced ? " of pass " + std::to_string(pass_ + 1) : "";
      reject("the image data ends in row " + std::to_string(row_) + pass + " of the " +
             size_text(png_.width, png_.height) + " picture: the file is cut short or corrupt");
    }
    return std::move(result_);
  }

 private:
  // Reads one chunk; false after IEND.
  bool read_chunk() {
    const std::uint64_t at = in_.offset();
    unsigned char head[8];
    if (in_.read(head, sizeof head) != sizeof head)
      reject("no IEND chunk: the file is cut short");
    const std::uint32_t length = read_u32_be(head);
    const unsigned char* type = head + 4;
    const auto named = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (length > max_chunk_length)
      reject("chunk at byte " + std::to_string(at) + " claims " + std::to_string(length) +
             " bytes");
    if (!header_seen_ && !named("IHDR"))
      reject("the first chunk is not the header (IHDR)");
    const bool critical = (type[0] & 0x20) == 0;
    if (critical && !named("IHDR") && !named("PLTE") && !named("IDAT") && !named("IEND"))
      reject("unknown critical chunk " + chunk_name(type));

    uLong crc = crc32(0, type, 4);
    const bool image_data = named("IDAT");
    if (image_data && !result_.view)
      start_image();
    // Chunks the decoder uses besides the image data are small; those the
    // outputs keep are held whole, within max_kept_chunk_bytes; the others
    // are read and dropped.
    std::vector<unsigned char> body;
    const bool used = named("IHDR") || named("PLTE") || named("tRNS") || named("bKGD");
    const bool kept = !used && !image_data && keeps_chunk(type);
    if (kept) {
      if (length > max_kept_chunk_bytes - kept_bytes_) {
        reject("its text, colour profile and other chunks take more than " +
               std::to_string(max_kept_chunk_bytes >> 20) + " MiB, more than the host keeps");
      }
      kept_bytes_ += length;
      body.reserve(length);
    } else if (used) {
      body.reserve(std::min<std::uint32_t>(length, 1024));
    }
    for (std::uint32_t left = length; left > 0;) {
      const unsigned char* piece = nullptr;
      const std::size_t count = in_.next(&piece, left);
      if (count == 0)
        reject("chunk at byte " + std::to_string(at) + " extends past the end of the data");
      crc = crc32(crc, piece, static_cast<uInt>(count));
      if (image_data && whole_)
        gather(piece, count);
      else if (image_data)
        inflate_piece(piece, count);
      else if (kept)
        body.insert(body.end(), piece, piece + count);
      else if (used && body.size() < 1024)
        body.insert(body.end(), piece, piece + std::min<std::size_t>(count, 1024 - body.size()));
      left -= static_cast<std::uint32_t>(count);
    }
    unsigned char stored[4];
    if (in_.read(stored, sizeof stored) != sizeof stored)
      reject("chunk at byte " + std::to_string(at) + " extends past the end of the data");
    if (read_u32_be(stored) != crc) {
      // As the reference library does: a damaged critical chunk is a
      // damaged file; a damaged ancillary one is left out.
      if (critical) {
        reject("the checksum of the " + chunk_name(type) + " chunk at byte " + std::to_string(at) +
               " is wrong: the file is corrupt");
      }
      return true;
    }
    if (named("IHDR"))
      read_header(body, length);
    else if (named("PLTE"))
      read_palette(body, length);
    else if (named("tRNS"))
      read_transparency(body, length);
    else if (named("bKGD"))
      read_background(body, length);
    else if (kept)
      keep_chunk(type, std::move(body));
    return !named("IEND");
  }

  void read_header(const std::vector<unsigned char>& body, std::uint32_t length) {
    if (header_seen_ || length != 13)
      reject(header_seen_ ? "more than one header (IHDR)" : "the header (IHDR) is not 13 bytes");
    header_seen_ = true;
    png_.width = read_u32_be(body.data());
    png_.height = read_u32_be(body.data() + 4);
    png_.depth = body[8];
    png_.colour_type = body[9];
    png_.interlaced = body[12] == 1;
    check_header(png_, body[10], body[11], body[12]);
  }

  void read_palette(const std::vector<unsigned char>& body, std::uint32_t length) {
    if (palette_entries_ != 0)
      reject("more than one palette (PLTE)");
    if (length == 0 || length % 3 != 0 || length > 768)
      reject("a palette (PLTE) of " + std::to_string(length) + " bytes");
    if (result_.view)
      reject("the palette (PLTE) comes after the image data");
    palette_entries_ = length / 3;
    for (std::uint32_t i = 0; i < palette_entries_; ++i)
      palette_[i] = Bgra8{body[i * 3 + 2], body[i * 3 + 1], body[i * 3], 255};
  }

  void read_transparency(const std::vector<unsigned char>& body, std::uint32_t length) {
    if (result_.view)
      reject("the transparency chunk (tRNS) comes after the image data");
    if (png_.colour_type == 3) {
      if (palette_entries_ == 0)
        reject("the transparency chunk (tRNS) comes before the palette (PLTE)");
      if (length > palette_entries_) {
        reject("the transparency chunk (tRNS) has " + std::to_string(length) +
               " entries for a palette of " + std::to_string(palette_entries_));
      }
      for (std::uint32_t i = 0; i < length; ++i) palette_[i].alpha = body[i];
      return;
    }
    if (png_.colour_type == 4 || png_.colour_type == 6)
      reject("a transparency chunk (tRNS) in a picture with alpha");
    if (length != 2 * channels_of(png_.colour_type))
      reject("a transparency chunk (tRNS) of " + std::to_string(length) + " bytes");
    // Compared as the samples come, 16-bit ones whole; narrower ones as
    // the 8-bit values they become.
    static const unsigned scale[9] = {0, 0xFF, 0x55, 0, 0x11, 0, 0, 0, 0x01};
    has_key_ = true;
    for (unsigned c = 0; c < channels_of(png_.colour_type); ++c) {
      const unsigned value = unsigned{body[c * 2]} << 8 | body[c * 2 + 1];
      key_[c] = png_.depth == 16 ? value : (value & 0xFF) * scale[png_.depth] & 0xFF;
    }
  }

  void keep_chunk(const unsigned char* type, std::vector<unsigned char> body) {
    png_chunk chunk;
    std::memcpy(chunk.type.data(), type, 4);
    chunk.data = std::move(body);
    chunk.after_image_data = result_.view != nullptr;
    result_.source.png_chunks.push_back(std::move(chunk));
  }

  // The background colour as 16-bit red, green and blue. One that names no
  // colour of the picture (a wrong length, an index past the palette) is
  // left out, as a damaged ancillary chunk is.
  void read_background(const std::vector<unsigned char>& body, std::uint32_t length) {
    const auto value = [&](std::size_t at) { return unsigned{body[at]} << 8 | body[at + 1]; };
    // A sample of the picture's depth at 16 bits: 1 becomes 65535, 3 at 2 bits 65535.
    const auto widened = [&](unsigned sample) {
      const unsigned most = (1u << png_.depth) - 1;
      return static_cast<std::uint16_t>(sample > most ? 65535 : sample * (65535 / most));
    };
    if (png_.colour_type == 3) {
      if (length != 1 || body[0] >= palette_entries_)
        return;
      const Bgra8 entry = palette_[body[0]];
      result_.source.background = {static_cast<std::uint16_t>(entry.red * 257),
                                   static_cast<std::uint16_t>(entry.green * 257),
                                   static_cast<std::uint16_t>(entry.blue * 257)};
    } else if (png_.colour_type == 0 || png_.colour_type == 4) {
      if (length != 2)
        return;
      const std::uint16_t grey = widened(value(0));
      result_.source.background = {grey, grey, grey};
    } else {
      if (length != 6)
        return;
      result_.source.background = {widened(value(0)), widened(value(2)), widened(value(4))};
    }
  }

  void start_image() {
    if (png_.colour_type == 3 && palette_entries_ == 0)
      reject("no palette (PLTE) for a colour-mapped picture");
    channels_ = channels_of(png_.colour_type);
    const std::size_t bits = std::size_t{channels_} * png_.depth;
    pixel_bytes_ = std::max<std::size_t>(1, bits / 8);
    result_.view = make_host_image(static_cast<std::int32_t>(png_.width),
                                   static_cast<std::int32_t>(png_.height));
    result_.source.grey = png_.colour_type == 0 || png_.colour_type == 4;
    if (png_.depth == 16) {
      // The samples themselves, with an alpha channel where tRNS names a
      // colour that is transparent.
      const bool alpha = has_key_ || png_.colour_type == 4 || png_.colour_type == 6;
      const deep_samples::layout layout =
          result_.source.grey
              ? (alpha ? deep_samples::layout::grey_alpha : deep_samples::layout::grey)
              : (alpha ? deep_samples::layout::rgba : deep_samples::layout::rgb);
      result_.deep = deep_samples(static_cast<std::int32_t>(png_.width),
                                  static_cast<std::int32_t>(png_.height), layout);
    }
    pass_ = png_.interlaced ? 0 : 6;  // the single pass takes the last number
    begin_pass();
    filtered_bytes_ = 0;
    for (unsigned pass = png_.interlaced ? 0 : 6; pass < 7; ++pass) {
      const pass_grid g = png_.interlaced ? interlaced_passes[pass] : whole_picture;
      const std::uint64_t width = cells(png_.width, g.start_x, g.step_x);
      const std::uint64_t height = cells(png_.height, g.start_y, g.step_y);
      if (width != 0)
        filtered_bytes_ += height * (1 + (width * bits + 7) / 8);
    }
    whole_ = filtered_bytes_ <= whole_frame_limit_;
    if (whole_)
      buffers_ = &this_thread_frame_buffers();
    else
      start_stream();
  }

  void start_stream() {
    const std::size_t widest = (std::size_t{png_.width} * channels_ * png_.depth + 7) / 8;
    scan_.assign(widest + 1, 0);
    previous_.assign(widest + 1, 0);
    if (inflateInit(&stream_) != Z_OK)
      throw std::bad_alloc();
    inflating_ = true;
  }

  // Keeps a piece of the image data for inflate_whole. Data well past what
  // the rows could compress to go to zlib's stream instead, which ends
  // them as it ends any stream that inflates too far.
  void gather(const unsigned char* data, std::size_t size) {
    const std::uint64_t most = filtered_bytes_ + filtered_bytes_ / 8 + max_surplus_bytes;
    reused_bytes& gathered = buffers_->compressed;
    if (gathered_ + size > most) {
      stream_gathered();
      inflate_piece(data, size);
      return;
    }
    if (gathered_ + size > gathered.capacity()) {
      const std::size_t grown = std::max(gathered_ + size, 2 * gathered.capacity());
      gathered.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(grown, most)), gathered_);
    }
    std::memcpy(gathered.data() + gathered_, data, size);
    gathered_ += size;
  }

  // What was gathered goes through zlib's stream, and so does the rest.
  void stream_gathered() {
    whole_ = false;
    start_stream();
    inflate_piece(buffers_->compressed.data(), gathered_);
  }

  void inflate_whole() {
    const std::size_t needed = static_cast<std::size_t>(filtered_bytes_);
    const std::size_t room = needed + max_surplus_bytes;
    unsigned char* rows = buffers_->rows.reserve(room);
    const long long produced = whole_inflate(buffers_->compressed.data(), gathered_, rows, room);
    if (produced < 0 || static_cast<std::size_t>(produced) < needed) {
      stream_gathered();
      return;
    }
    const unsigned char* above = nullptr;
    for (std::size_t at = 0; !rows_done_;) {
      unsigned char* scan = rows + at;
      at += scan_bytes_;  // before finish_row moves to the next pass
      finish_row(scan, above);
      above = scan;
    }
  }

  pass_grid grid() const { return png_.interlaced ? interlaced_passes[pass_] : whole_picture; }

  // Moves to the next pass with pixels, from pass_ on; none left: done.
  void begin_pass() {
    for (; pass_ < 7; ++pass_) {
      const pass_grid g = grid();
      pass_width_ = cells(png_.width, g.start_x, g.step_x);
      pass_height_ = cells(png_.height, g.start_y, g.step_y);
      if (pass_width_ != 0 && pass_height_ != 0)
        break;
    }
    rows_done_ = pass_ == 7;
    row_ = 0;
    filled_ = 0;
    scan_bytes_ = 1 + (std::size_t{pass_width_} * channels_ * png_.depth + 7) / 8;
  }

  void inflate_piece(const unsigned char* data, std::size_t size) {
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    while (stream_.avail_in > 0 && !stream_ended_) {
      unsigned char* target = rows_done_ ? surplus_ : scan_.data() + filled_;
      const std::size_t room = rows_done_ ? sizeof surplus_ : scan_bytes_ - filled_;
      stream_.next_out = target;
      stream_.avail_out = static_cast<uInt>(room);
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_MEM_ERROR)
        throw std::bad_alloc();
      if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_STREAM_ERROR) {
        reject(std::string("the compressed image data is corrupt (") +
               (stream_.msg != nullptr ? stream_.msg : "zlib") + ")");
      }
      const std::size_t produced = room - stream_.avail_out;
      if (rows_done_) {
        surplus_bytes_ += produced;
        if (surplus_bytes_ > max_surplus_bytes) {
          reject("too large or corrupt: its compressed data inflates to more than a " +
                 size_text(png_.width, png_.height) + " picture needs");
        }
      } else {
        filled_ += produced;
        if (filled_ == scan_bytes_) {
          finish_row(scan_.data(), previous_.data());
          scan_.swap(previous_);
          filled_ = 0;
        }
      }
      if (result == Z_STREAM_END)
        stream_ended_ = true;
      else if (result == Z_BUF_ERROR)
        break;
    }
  }

  // Row `scan` (its filter byte first) into the picture; `above` is the
  // row before it in the pass, reconstructed.
  void finish_row(unsigned char* scan, const unsigned char* above) {
    const unsigned filter = scan[0];
    if (filter > 4)
      reject("unknown row filter " + std::to_string(filter) + " in row " + std::to_string(row_));
    unfilter_png_row(static_cast<png_filter>(filter), scan + 1, row_ == 0 ? nullptr : above + 1,
                     scan_bytes_ - 1, pixel_bytes_);
    expand_row(scan + 1);
    if (++row_ == pass_height_) {
      ++pass_;
      begin_pass();
    }
  }

  // Sample `index` of the row at the picture's depth.
  unsigned sample(const unsigned char* row, std::size_t index) const {
    switch (png_.depth) {
      case 16:
        return unsigned{row[index * 2]} << 8 | row[index * 2 + 1];
      case 8:
        return row[index];
      default: {
        const std::size_t bit = index * png_.depth;
        const unsigned shift = 8 - png_.depth - static_cast<unsigned>(bit % 8);
        return row[bit / 8] >> shift & ((1u << png_.depth) - 1);
      }
    }
  }

  // The 8-bit value of a sample that is not a palette index.
  unsigned char as_8_bit(unsigned value) const {
    static const unsigned scale[9] = {0, 0xFF, 0x55, 0, 0x11, 0, 0, 0, 0x01};
    return static_cast<unsigned char>(
        png_.depth == 16 ? deep_samples::as_8_bit(static_cast<std::uint16_t>(value))
                         : value * scale[png_.depth]);
  }

  Bgra8 pixel_at(const unsigned char* row, std::uint32_t i) const {
    const std::size_t first = std::size_t{i} * channels_;
    if (png_.colour_type == 3) {
      const unsigned index = sample(row, first);
      return index < palette_entries_ ? palette_[index] : Bgra8{0, 0, 0, 255};
    }
    unsigned values[4];
    for (unsigned c = 0; c < channels_; ++c) values[c] = sample(row, first + c);
    const auto keyed = [&](unsigned c) {
      return png_.depth == 16 ? values[c] == key_[c] : as_8_bit(values[c]) == key_[c];
    };
    switch (png_.colour_type) {
      case 0: {
        const unsigned char grey = as_8_bit(values[0]);
        return Bgra8{grey, grey, grey, static_cast<std::uint8_t>(has_key_ && keyed(0) ? 0 : 255)};
      }
      case 2:
        return Bgra8{
            as_8_bit(values[2]), as_8_bit(values[1]), as_8_bit(values[0]),
            static_cast<std::uint8_t>(has_key_ && keyed(0) && keyed(1) && keyed(2) ? 0 : 255)};
      case 4: {
        const unsigned char grey = as_8_bit(values[0]);
        return Bgra8{grey, grey, grey, as_8_bit(values[1])};
      }
      default:
        return Bgra8{as_8_bit(values[2]), as_8_bit(values[1]), as_8_bit(values[0]),
                     as_8_bit(values[3])};
    }
  }

  // A 16-bit row into the samples, and their 8-bit values into the view.
  void expand_deep_row(const unsigned char* row, std::uint32_t y, const pass_grid& g) {
    deep_samples& deep = result_.deep;
    const unsigned channels = deep.channel_count();
    std::uint16_t* samples = deep.row(static_cast<std::int32_t>(y));
    Bgra8* view = &result_.view->at(0, static_cast<std::int32_t>(y));
    for (std::uint32_t i = 0; i < pass_width_; ++i) {
      const std::uint32_t x = g.start_x + i * g.step_x;
      std::uint16_t* s = samples + std::size_t{x} * channels;
      bool keyed = has_key_;
      for (unsigned c = 0; c < channels_; ++c) {
        s[c] = static_cast<std::uint16_t>(sample(row, std::size_t{i} * channels_ + c));
        keyed = keyed && s[c] == key_[c];
      }
      if (has_key_)
        s[channels_] = keyed ? 0 : 65535;
      view[x] = deep.view_pixel(samples, static_cast<std::int32_t>(x));
    }
  }

  void expand_row(const unsigned char* row) {
    const pass_grid g = grid();
    const std::uint32_t y = g.start_y + row_ * g.step_y;
    Bgra8* target =
        &result_.view->at(static_cast<std::int32_t>(g.start_x), static_cast<std::int32_t>(y));
    if (png_.depth == 16) {
      expand_deep_row(row, y, g);
      return;
    }
    // The rows of most renders, without a call per pixel.
    if (png_.depth == 8 && g.step_x == 1 && png_.colour_type == 6) {
      rgba_to_bgra(row, target, pass_width_);
      return;
    }
    if (png_.depth == 8 && g.step_x == 1 && png_.colour_type == 2 && !has_key_) {
      for (std::uint32_t i = 0; i < pass_width_; ++i, row += 3)
        target[i] = Bgra8{row[2], row[1], row[0], 255};
      return;
    }
    for (std::uint32_t i = 0; i < pass_width_; ++i) target[i * g.step_x] = pixel_at(row, i);
  }

  byte_reader in_;
  png_header png_;
  bool header_seen_ = false;
  std::array<Bgra8, 256> palette_;
  std::uint32_t palette_entries_ = 0;
  bool has_key_ = false;
  unsigned key_[3] = {};

  picture result_;
  std::size_t kept_bytes_ = 0;
  unsigned channels_ = 0;
  std::size_t pixel_bytes_ = 1;
  z_stream stream_{};
  bool inflating_ = false;
  std::size_t whole_frame_limit_;
  std::uint64_t filtered_bytes_ = 0;  // of every pass
  bool whole_ = false;                // gathering for inflate_whole
  frame_buffers* buffers_ = nullptr;
  std::size_t gathered_ = 0;
  bool stream_ended_ = false;
  std::vector<unsigned char> scan_;      // the row being inflated, its filter byte first
  std::vector<unsigned char> previous_;  // the row above it, reconstructed
  std::size_t scan_bytes_ = 0;
  std::size_t filled_ = 0;
  unsigned pass_ = 0;
  std::uint32_t pass_width_ = 0;
  std::uint32_t pass_height_ = 0;
  std::uint32_t row_ = 0;
  bool rows_done_ = false;
  unsigned char surplus_[16384];
  std::size_t surplus_bytes_ = 0;
};

}  // namespace

bool has_png_signature(const unsigned char* data, std::size_t size) {
  return size >= sizeof png_signature &&
         std::memcmp(data, png_signature, sizeof png_signature) == 0;
}

picture read_png(const byte_source& source, std::size_t whole_frame_limit) {
  return png_decoder(source, whole_frame_limit).decode();
}

host_image_ptr decode_png(const byte_source& source, std::size_t whole_frame_limit) {
  return read_png(source, whole_frame_limit).view;
}

host_image_ptr decode_png(const unsigned char* data, std::size_t size) {
  return decode_png(memory_source(data, size));
}
