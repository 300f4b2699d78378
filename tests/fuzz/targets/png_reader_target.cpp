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

  // What the host writes it must read back as it was: the view, the 16-bit
  // samples and the chunks it keeps.
  const picture full = read_png(memory_source(data, size));
  fuzz_require(same_pixels(*image, *full.view), png_target, "the picture differs from its view");
  const std::vector<unsigned char> encoded = encode_png(full);
  picture again;
  try {
    again = read_png(memory_source(encoded.data(), encoded.size()));
  } catch (const image_format_error&) {
    fuzz_require(false, png_target, "cannot read back its own encoding");
  }
  fuzz_require(same_pixels(*image, *again.view), png_target,
               "encoding and decoding changed the pixels");
  fuzz_require(
      full.deep.empty() == again.deep.empty() && full.deep.is_grey() == again.deep.is_grey(),
      png_target, "encoding and decoding changed the depth or the colour");
  const unsigned colours = full.deep.is_grey() ? 1 : 3;
  for (std::int32_t y = 0; !full.deep.empty() && y < image->height(); ++y) {
    const std::uint16_t* before = full.deep.row(y);
    const std::uint16_t* after = again.deep.row(y);
    for (std::int32_t x = 0; x < image->width(); ++x) {
      for (unsigned c = 0; c < colours; ++c) {
        fuzz_require(
            before[x * full.deep.channel_count() + c] == after[x * again.deep.channel_count() + c],
            png_target, "encoding and decoding changed a 16-bit sample");
      }
    }
  }
  fuzz_require(full.source.png_chunks.size() == again.source.png_chunks.size() &&
                   full.source.background == again.source.background,
               png_target, "encoding and decoding changed the chunks kept");
  return 0;
}
