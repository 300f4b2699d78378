#include "refhost/pictures/png_codec.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"
#include "tests/fuzz/same_pixels.hpp"

namespace {

constexpr const char* png_target = "fuzz_png_reader";

// Inputs this small are read as whole frames; larger frames are read as a
// stream. What the stream accepts, whole-frame reading accepts with the same
// pixels (it hands to the stream what libdeflate refuses; libdeflate takes a
// few streams zlib refuses, such as code lengths for unused symbols).
host_image_ptr decode_png_streamed(const std::uint8_t* data, std::size_t size) {
  try {
    return decode_png(memory_source(data, size), 0);
  } catch (const image_format_error&) {
    return nullptr;
  }
}

}  // namespace

int fuzz_png_reader(const std::uint8_t* data, std::size_t size) {
  host_image_ptr image;
  try {
    image = decode_png(data, size);
  } catch (const image_format_error&) {
    fuzz_require(decode_png_streamed(data, size) == nullptr, png_target,
                 "whole-frame reading refused what the stream accepts");
    return 0;
  }
  const host_image_ptr streamed = decode_png_streamed(data, size);
  fuzz_require(streamed == nullptr || same_pixels(*image, *streamed), png_target,
               "whole-frame and streamed reading gave different pixels");
  fuzz_require(image != nullptr, png_target, "accepted input gave no picture");
  fuzz_require(has_png_signature(data, size), png_target,
               "accepted bytes without the PNG signature");
  fuzz_require(image->width() > 0 && image->height() > 0, png_target, "accepted an empty picture");
  fuzz_require(std::int64_t{image->width()} * image->height() <= memory_image::max_pixels,
               png_target, "accepted a picture beyond the host's limit");
  fuzz_require(image->pixels().size() == static_cast<std::size_t>(image->width()) * image->height(),
               png_target, "pixel count differs from the size");

  // What the host writes it must read back as it was.
  const std::vector<unsigned char> encoded = encode_png(*image);
  host_image_ptr again;
  try {
    again = decode_png(encoded.data(), encoded.size());
  } catch (const image_format_error&) {
    fuzz_require(false, png_target, "cannot read back its own encoding");
  }
  fuzz_require(same_pixels(*image, *again), png_target, "encoding and decoding changed the pixels");
  return 0;
}
