#include "refhost/pictures/tga_codec.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"
#include "tests/fuzz/same_pixels.hpp"

namespace {

constexpr const char* tga_target = "fuzz_tga_reader";

}  // namespace

int fuzz_tga_reader(const std::uint8_t* data, std::size_t size) {
  host_image_ptr image;
  try {
    image = decode_tga(data, size);
  } catch (const image_format_error&) {
    return 0;
  }
  fuzz_require(image != nullptr, tga_target, "accepted input gave no picture");
  fuzz_require(size >= 18, tga_target, "accepted a file shorter than the header");

  const std::int32_t width = data[12] | data[13] << 8;
  const std::int32_t height = data[14] | data[15] << 8;
  const unsigned depth = data[16];
  fuzz_require(image->width() == width && image->height() == height, tga_target,
               "picture size differs from the header");
  fuzz_require(image->pixels().size() == static_cast<std::size_t>(width) * height, tga_target,
               "pixel count differs from the size");
  fuzz_require(depth == 24 || depth == 32, tga_target, "accepted a depth other than 24 or 32");

  // The first stored pixel lands in the corner the descriptor names.
  const unsigned descriptor = data[17];
  const std::size_t first = 18 + std::size_t{data[0]};
  const std::int32_t corner_x = (descriptor & 0x10) != 0 ? width - 1 : 0;
  const std::int32_t corner_y = (descriptor & 0x20) != 0 ? 0 : height - 1;
  const Bgra8& corner = image->at(corner_x, corner_y);
  fuzz_require(corner.blue == data[first] && corner.green == data[first + 1] &&
                   corner.red == data[first + 2] &&
                   corner.alpha == (depth == 32 ? data[first + 3] : 255),
               tga_target, "first stored pixel is not in the corner the descriptor names");

  // What the host writes it must read back as it was.
  const std::vector<unsigned char> encoded = encode_tga(*image);
  host_image_ptr again;
  try {
    again = decode_tga(encoded.data(), encoded.size());
  } catch (const image_format_error&) {
    fuzz_require(false, tga_target, "cannot read back its own encoding");
  }
  fuzz_require(same_pixels(*image, *again), tga_target, "encoding and decoding changed the pixels");
  return 0;
}
