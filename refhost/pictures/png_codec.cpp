#include "refhost/pictures/png_codec.hpp"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// stb's own bounds: no side above 2^24, and sizes it keeps in an int.
constexpr std::uint64_t decoder_max_side = std::uint64_t{1} << 24;
constexpr std::uint64_t decoder_max_block = INT_MAX;

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("PNG: " + reason);
}

std::uint32_t read_u32_be(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
         static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

void put_u32_be(unsigned char* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

std::string size_text(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// What the decoder needs to know before it trusts stb with the data.
struct png_layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned depth = 0;
  unsigned colour_type = 0;
  bool interlaced = false;
  bool transparency = false;      // a tRNS chunk
  std::size_t palette_chunk = 0;  // offset of the PLTE chunk; 0: none
  std::uint32_t palette_entries = 0;
  std::uint64_t idat_bytes = 0;
  std::uint64_t idat_staging = 0;  // what stb reserves to gather the IDAT chunks
};

unsigned channels_of(unsigned colour_type) {
  switch (colour_type) {
    case 0:
    case 3:
      return 1;
    case 2:
      return 3;
    case 4:
      return 2;
    default:
      return 4;
  }
}

void check_header_fields(const png_layout& png, unsigned compression, unsigned filter,
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

// stb gathers the IDAT chunks in one block that starts at the first
// chunk's length (at least 4096) and doubles until the next one fits.
void add_idat(png_layout& png, std::uint32_t length) {
  const std::uint64_t needed = png.idat_bytes + length;
  if (needed > png.idat_staging) {
    if (png.idat_staging == 0)
      png.idat_staging = length > 4096 ? length : 4096;
    while (needed > png.idat_staging) png.idat_staging *= 2;
  }
  png.idat_bytes = needed;
}

// Walks the chunks: every one up to IEND must lie inside the data (stb
// reserves an IDAT's declared length before reading it), and the header
// must describe a picture the host can hold.
png_layout read_layout(const unsigned char* data, std::size_t size) {
  if (size < sizeof png_signature)
    reject("no PNG signature");
  png_layout png;
  bool header_seen = false;
  std::size_t at = sizeof png_signature;
  // Length, type and CRC take 12 bytes besides the chunk's data.
  while (size - at >= 12) {
    const std::uint32_t length = read_u32_be(data + at);
    if (length > size - at - 12)
      reject("chunk at byte " + std::to_string(at) + " extends past the end of the data");
    const unsigned char* type = data + at + 4;
    const unsigned char* body = data + at + 8;
    const auto named = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (!header_seen && !named("IHDR") && !named("CgBI"))
      reject("the first chunk is not the header (IHDR)");
    if (named("IHDR")) {
      if (header_seen || length != 13)
        reject(header_seen ? "more than one header (IHDR)" : "the header (IHDR) is not 13 bytes");
      header_seen = true;
      png.width = read_u32_be(body);
      png.height = read_u32_be(body + 4);
      png.depth = body[8];
      png.colour_type = body[9];
      png.interlaced = body[12] == 1;
      check_header_fields(png, body[10], body[11], body[12]);
    } else if (named("PLTE")) {
      if (png.palette_chunk != 0)
        reject("more than one palette (PLTE)");
      png.palette_chunk = at;
      png.palette_entries = length / 3;
    } else if (named("tRNS")) {
      if (png.colour_type == 3 && length > png.palette_entries) {
        reject("the transparency chunk (tRNS) has " + std::to_string(length) +
               " entries for a palette of " + std::to_string(png.palette_entries));
      }
      png.transparency = true;
    } else if (named("IDAT")) {
      add_idat(png, length);
    }
    at += 12 + std::size_t{length};
    if (named("IEND")) {
      if (!header_seen)
        reject("no header (IHDR)");
      return png;
    }
  }
  reject("no IEND chunk: the file is cut short");
}

// Bytes of the filtered rows the compressed data must inflate to: a filter
// byte and the packed samples per row, over the seven passes when
// interlaced.
std::uint64_t raw_stream_bytes(const png_layout& png) {
  const std::uint64_t bits_per_pixel = std::uint64_t{channels_of(png.colour_type)} * png.depth;
  const auto rows_of = [&](std::uint64_t width, std::uint64_t height) -> std::uint64_t {
    if (width == 0 || height == 0)
      return 0;
    return height * (1 + (width * bits_per_pixel + 7) / 8);
  };
  if (!png.interlaced)
    return rows_of(png.width, png.height);
  static const unsigned pass_start_x[7] = {0, 4, 0, 2, 0, 1, 0};
  static const unsigned pass_start_y[7] = {0, 0, 4, 0, 2, 0, 1};
  static const unsigned pass_step_x[7] = {8, 8, 4, 4, 2, 2, 1};
  static const unsigned pass_step_y[7] = {8, 8, 8, 4, 4, 2, 2};
  std::uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    const auto count = [](std::uint64_t size, unsigned start, unsigned step) -> std::uint64_t {
      return size > start ? (size - start + step - 1) / step : 0;
    };
    total += rows_of(count(png.width, pass_start_x[pass], pass_step_x[pass]),
                     count(png.height, pass_start_y[pass], pass_step_y[pass]));
  }
  return total;
}

// The most memory stb may hold while decoding this file. It inflates into
// a block of its own estimate and doubles it while the data goes on; the
// rows then become pixels in blocks of the picture's size (two at a time
// at most: a conversion's source and its result). Compressed data that
// inflates past this is a decompression bomb or corrupt.
std::uint64_t decoding_budget(const png_layout& png) {
  const std::uint64_t width = png.width;
  const std::uint64_t height = png.height;
  const unsigned channels = channels_of(png.colour_type);
  const std::uint64_t needed = raw_stream_bytes(png);
  const std::uint64_t estimate = (width * png.depth + 7) / 8 * height * channels + height;
  std::uint64_t inflate_block = estimate;
  while (inflate_block < needed) inflate_block *= 2;
  // stb's widest picture block: 16-bit samples, four channels.
  const std::uint64_t picture_block = width * height * 4 * (png.depth == 16 ? 2 : 1);
  return png.idat_staging + inflate_block + 2 * picture_block + (std::uint64_t{64} << 10);
}

void check_decodable(const png_layout& png) {
  const std::string size = size_text(png.width, png.height);
  // stb works on 16-bit samples as they are, adding alpha to RGB and to
  // grey with a transparent colour.
  const unsigned channels = channels_of(png.colour_type);
  const bool adds_alpha = png.colour_type == 2 || (png.colour_type == 0 && png.transparency);
  const unsigned working_channels = channels + (adds_alpha ? 1 : 0);
  const std::uint64_t working_bytes =
      std::uint64_t{png.width} * png.height * working_channels * (png.depth == 16 ? 2 : 1);
  if (working_bytes > decoder_max_block || raw_stream_bytes(png) > decoder_max_block) {
    reject("a " + size + " picture with " + std::to_string(png.depth) +
           "-bit samples needs more than the decoder's 2 GiB to work in; save it with 8-bit "
           "samples or smaller");
  }
}

// stb keeps a palette of 256 entries and fills only those the file gives,
// so an index past the end would copy bytes nobody wrote into the picture.
// A copy whose palette has all 256 entries, the missing ones black, avoids
// that (stb gives every palette entry alpha 255 unless tRNS says
// otherwise). stb does not check CRCs, so the grown chunk keeps its own.
std::vector<unsigned char> with_full_palette(const unsigned char* data, std::size_t size,
                                             const png_layout& png) {
  const std::size_t entries_at = png.palette_chunk + 8;
  const std::size_t given = std::size_t{png.palette_entries} * 3;
  std::vector<unsigned char> copy;
  copy.reserve(size + 768 - given);
  copy.insert(copy.end(), data, data + entries_at + given);
  copy.insert(copy.end(), 768 - given, 0);
  copy.insert(copy.end(), data + entries_at + given, data + size);
  put_u32_be(copy.data() + png.palette_chunk, 768);
  return copy;
}

bool needs_full_palette(const png_layout& png, const unsigned char* data) {
  if (png.colour_type != 3 || png.palette_chunk == 0)
    return false;
  // Chunks stb refuses anyway are left for it to refuse.
  const std::uint32_t length = read_u32_be(data + png.palette_chunk);
  return length % 3 == 0 && length > 0 && length < 768;
}

struct pixels_releaser {
  void operator()(unsigned char* pixels) const { stb_glue::free_pixels(pixels); }
};

}  // namespace

bool has_png_signature(const unsigned char* data, std::size_t size) {
  return size >= sizeof png_signature &&
         std::memcmp(data, png_signature, sizeof png_signature) == 0;
}

host_image_ptr decode_png(const unsigned char* data, std::size_t size) {
  if (!has_png_signature(data, size))
    reject("no PNG signature");
  if (size > static_cast<std::size_t>(INT_MAX))
    reject("file of " + std::to_string(size) + " bytes is too large to decode");
  const png_layout png = read_layout(data, size);
  check_decodable(png);

  std::vector<unsigned char> patched;
  if (needs_full_palette(png, data)) {
    patched = with_full_palette(data, size, png);
    data = patched.data();
    size = patched.size();
  }
  const std::uint64_t budget = decoding_budget(png);
  const stb_glue::load_outcome decoded =
      stb_glue::load_rgba(data, static_cast<int>(size),
                          budget > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(budget));
  std::unique_ptr<unsigned char, pixels_releaser> rgba(decoded.rgba);
  const std::string picture = size_text(png.width, png.height) + " picture";
  if (!rgba) {
    if (decoded.over_budget) {
      reject("too large or corrupt: its compressed data inflates to more than a " + picture +
             " needs");
    }
    if (decoded.out_of_memory)
      reject("not enough memory to decode a " + picture);
    reject(stb_glue::failure_reason());
  }

  host_image_ptr image = make_host_image(decoded.width, decoded.height);
  const unsigned char* source = rgba.get();
  for (Bgra8& pixel : image->pixels()) {
    pixel = Bgra8{source[2], source[1], source[0], source[3]};
    source += 4;
  }
  return image;
}

std::string png_size_limitation(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0 ||
      std::int64_t{width} * std::int64_t{height} > memory_image::max_pixels) {
    return "PNG cannot store a picture of " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels here (1 to " + std::to_string(memory_image::max_pixels) + " pixels)";
  }
  return {};
}

void write_png(const memory_image& image, const byte_sink& sink) {
  const std::string limitation = png_size_limitation(image.width(), image.height());
  if (!limitation.empty())
    throw image_format_error(limitation);
  // stb takes red first; the picture holds blue first.
  std::unique_ptr<unsigned char[]> rgba(new unsigned char[image.pixels().size() * 4]);
  unsigned char* target = rgba.get();
  for (const Bgra8& pixel : image.pixels()) {
    target[0] = pixel.red;
    target[1] = pixel.green;
    target[2] = pixel.blue;
    target[3] = pixel.alpha;
    target += 4;
  }
  if (!stb_glue::write_png(sink, image.width(), image.height(), rgba.get(), png_deflate_level))
    reject("the encoder failed (out of memory?)");
}

std::vector<unsigned char> encode_png(const memory_image& image) {
  std::vector<unsigned char> out;
  write_png(image, [&out](const unsigned char* data, std::size_t size) {
    out.insert(out.end(), data, data + size);
  });
  return out;
}
