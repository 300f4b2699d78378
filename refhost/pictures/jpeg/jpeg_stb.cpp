// JPEG through stb's header-only reader and writer, which build anywhere:
// the Windows build's JPEG, and the native build's yardstick. stb reads
// from memory and fills what a cut file lacks with grey, so the file is
// held whole and its markers checked first (jpeg_markers); it writes from
// RGB rows of its own, a copy of the picture's.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "refhost/pictures/jpeg/jpeg_markers.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
// stb's reader leaves its tables as malloc gives them, and a file may
// take one it never defined: they start zero, so that such a file fails
// the same way every time.
#define STBI_MALLOC(size) std::calloc(1, size)
#define STBI_REALLOC(block, size) std::realloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 65500
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("JPEG: " + reason);
}

struct stb_pixels {
  unsigned char* data = nullptr;
  ~stb_pixels() { stbi_image_free(data); }
};

// The APP2 segments that carry an ICC profile: "ICC_PROFILE", a NUL, the
// chunk's number from 1 and the count, then up to 65519 bytes of it.
std::vector<unsigned char> icc_segments(const std::vector<unsigned char>& profile) {
  constexpr std::size_t most = 65519;
  static const char tag[] = "ICC_PROFILE";
  const std::size_t count = (profile.size() + most - 1) / most;
  std::vector<unsigned char> out;
  for (std::size_t k = 0; k < count && count <= 255; ++k) {
    const std::size_t size = std::min(most, profile.size() - k * most);
    const std::size_t length = 2 + sizeof tag + 2 + size;
    out.insert(out.end(), {0xFF, 0xE2, static_cast<unsigned char>(length >> 8),
                           static_cast<unsigned char>(length & 0xFF)});
    out.insert(out.end(), tag, tag + sizeof tag);
    out.push_back(static_cast<unsigned char>(k + 1));
    out.push_back(static_cast<unsigned char>(count));
    out.insert(out.end(), profile.begin() + static_cast<std::ptrdiff_t>(k * most),
               profile.begin() + static_cast<std::ptrdiff_t>(k * most + size));
  }
  return out;
}

// stb's output on its way to the sink, the profile's segments put in after
// its first 20 bytes (the start-of-image marker and the JFIF segment).
struct stb_output {
  const byte_sink& sink;
  const std::vector<unsigned char>& segments;
  std::size_t written = 0;

  static void write(void* context, void* data, int size) {
    auto* self = static_cast<stb_output*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t count = static_cast<std::size_t>(size);
    constexpr std::size_t header_bytes = 20;
    if (self->written < header_bytes && self->written + count >= header_bytes) {
      const std::size_t before = header_bytes - self->written;
      self->sink(bytes, before);
      if (!self->segments.empty())
        self->sink(self->segments.data(), self->segments.size());
      bytes += before;
      count -= before;
      self->written += before;
    }
    if (count != 0)
      self->sink(bytes, count);
    self->written += count;
  }
};

}  // namespace

picture read_jpeg_stb(const byte_source& source) {
  std::vector<unsigned char> file;
  for (std::size_t got = 0;;) {
    file.resize(got + (std::size_t{1} << 20));
    const std::size_t count = source(file.data() + got, file.size() - got);
    got += count;
    if (count == 0) {
      file.resize(got);
      break;
    }
  }
  const jpeg_structure found = read_jpeg_structure(file.data(), file.size());
  if (!found.unsupported.empty())
    reject(found.unsupported);
  if (found.components == 0)
    reject("no frame header");
  if (found.precision != 8)
    reject(std::to_string(found.precision) + "-bit samples are not supported (only 8)");
  if (found.components != 1 && found.components != 3)
    reject(std::string(found.components == 4
                           ? "CMYK pictures"
                           : "pictures of " + std::to_string(found.components) + " components") +
           " are not supported");
  if (found.width == 0 || found.height == 0 ||
      std::uint64_t{found.width} * found.height > std::uint64_t(memory_image::max_pixels)) {
    reject("a picture of " + std::to_string(found.width) + "x" + std::to_string(found.height) +
           " pixels is beyond what the host supports");
  }
  if (!found.complete)
    reject("the file is cut short: no end-of-image marker after its last scan");
  // Every 8x8 block of the first component takes a bit at least (its DC
  // code): a file shorter than that is no picture of its size, and stb
  // would decode all of it from nothing.
  const std::uint64_t blocks = std::uint64_t{(found.width + 7) / 8} * ((found.height + 7) / 8);
  if (file.size() < blocks / 8) {
    reject("a " + std::to_string(file.size()) + "-byte file cannot hold a picture of " +
           std::to_string(found.width) + "x" + std::to_string(found.height) +
           " pixels: it is corrupt or cut short");
  }
  if (!found.damaged_table.empty())
    reject(found.damaged_table);
  if (found.icc_damaged)
    reject("its ICC profile is damaged (chunks missing or out of order)");

  picture result;
  result.source.grey = found.components == 1;
  result.source.icc_profile = found.icc_profile;
  int width = 0;
  int height = 0;
  int components = 0;
  const int wanted = result.source.grey ? 1 : 3;
  stb_pixels pixels;
  pixels.data = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height,
                                      &components, wanted);
  if (pixels.data == nullptr)
    reject(std::string("the data are corrupt (") + stbi_failure_reason() + ")");
  if (static_cast<std::uint32_t>(width) != found.width ||
      static_cast<std::uint32_t>(height) != found.height)
    reject("the decoder's size differs from the frame header's");
  file = std::vector<unsigned char>();
  result.view = make_host_image(width, height);
  const unsigned char* from = pixels.data;
  for (Bgra8& pixel : result.view->pixels()) {
    pixel =
        wanted == 1 ? Bgra8{from[0], from[0], from[0], 255} : Bgra8{from[2], from[1], from[0], 255};
    from += wanted;
  }
  return result;
}

void write_jpeg_stb(const memory_image& view, bool grey,
                    const std::vector<unsigned char>& icc_profile, const byte_sink& sink,
                    int quality) {
  // stb writes colour only: a grey picture goes as grey samples, which it
  // writes with neutral colour.
  const int components = grey ? 1 : 3;
  std::vector<unsigned char> rows(view.pixels().size() * static_cast<std::size_t>(components));
  unsigned char* to = rows.data();
  for (const Bgra8& pixel : view.pixels()) {
    if (grey) {
      *to++ = pixel.red;
      continue;
    }
    to[0] = pixel.red;
    to[1] = pixel.green;
    to[2] = pixel.blue;
    to += 3;
  }
  const std::vector<unsigned char> segments = icc_segments(icc_profile);
  stb_output output{sink, segments};
  if (stbi_write_jpg_to_func(&stb_output::write, &output, view.width(), view.height(), components,
                             rows.data(), std::clamp(quality, 1, 100)) == 0)
    throw image_format_error("JPEG: stb's writer refused the picture");
}
