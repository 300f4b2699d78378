#include "refhost/pictures/jpeg/jpeg_markers.hpp"
#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"

namespace {

// What any JPEG reader accepts must agree with the file's frame header, be
// whole and opaque, and come back from the host's own writer at its size.
int check_jpeg_reader(const char* target, picture (*read)(const byte_source&),
                      const std::uint8_t* data, std::size_t size) {
  picture read_picture;
  try {
    read_picture = read(memory_source(data, size));
  } catch (const image_format_error&) {
    return 0;
  }
  const memory_image& image = *read_picture.view;
  fuzz_require(has_jpeg_signature(data, size), target, "accepted bytes without the JPEG signature");
  fuzz_require(std::int64_t{image.width()} * image.height() <= memory_image::max_pixels, target,
               "accepted a picture beyond the host's limit");
  // As far as the frame header: past it libjpeg passes what the marker walk
  // does not (a segment that claims fewer than its own two length bytes).
  jpeg_structure found;
  try {
    found = read_jpeg_structure(data, size, true);
  } catch (const image_format_error&) {
    fuzz_require(false, target, "accepted a file whose markers do not hold together");
  }
  fuzz_require(found.width == static_cast<std::uint32_t>(image.width()) &&
                   found.height == static_cast<std::uint32_t>(image.height()),
               target, "picture size differs from the frame header");
  fuzz_require(read_picture.source.grey == (found.components == 1), target,
               "grey differs from the frame's components");
  for (const Bgra8& pixel : image.pixels()) {
    fuzz_require(pixel.alpha == 255, target, "a pixel is not opaque");
    fuzz_require(
        !read_picture.source.grey || (pixel.red == pixel.green && pixel.green == pixel.blue),
        target, "a grey picture has a coloured pixel");
  }

  std::vector<unsigned char> encoded;
  write_jpeg(
      read_picture,
      [&](const unsigned char* bytes, std::size_t count) {
        encoded.insert(encoded.end(), bytes, bytes + count);
      },
      90);
  picture again;
  try {
    again = read_jpeg(encoded.data(), encoded.size());
  } catch (const image_format_error&) {
    fuzz_require(false, target, "cannot read back its own encoding");
  }
  fuzz_require(again.view->width() == image.width() && again.view->height() == image.height(),
               target, "its own encoding reads back at another size");
  fuzz_require(again.source.icc_profile == read_picture.source.icc_profile, target,
               "its own encoding lost the ICC profile");
  return 0;
}

}  // namespace

int fuzz_jpeg_reader(const std::uint8_t* data, std::size_t size) {
  return check_jpeg_reader("fuzz_jpeg_reader", read_jpeg, data, size);
}

int fuzz_jpeg_reader_stb(const std::uint8_t* data, std::size_t size) {
  return check_jpeg_reader("fuzz_jpeg_reader_stb", read_jpeg_stb, data, size);
}
