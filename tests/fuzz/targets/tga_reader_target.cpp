#include "refhost/pictures/tga_codec.hpp"
#include "tests/fuzz/fuzz_check.hpp"
#include "tests/fuzz/fuzz_targets.hpp"
#include "tests/fuzz/same_pixels.hpp"

namespace {

constexpr const char* tga_target = "fuzz_tga_reader";

// What the host writes it must read back as it was, in every way it writes.
void require_round_trip(const memory_image& image, const tga_storage& storage) {
  const std::vector<unsigned char> encoded = encode_tga(image, storage);
  host_image_ptr again;
  try {
    again = decode_tga(encoded.data(), encoded.size());
  } catch (const image_format_error&) {
    fuzz_require(false, tga_target, "cannot read back its own encoding");
  }
  fuzz_require(same_pixels(image, *again), tga_target, "encoding and decoding changed the pixels");
}

}  // namespace

int fuzz_tga_reader(const std::uint8_t* data, std::size_t size) {
  picture read;
  try {
    read = read_tga(data, size);
  } catch (const image_format_error&) {
    return 0;
  }
  const host_image_ptr& image = read.view;
  fuzz_require(image != nullptr, tga_target, "accepted input gave no picture");
  fuzz_require(size >= 18, tga_target, "accepted a file shorter than the header");

  const std::int32_t width = data[12] | data[13] << 8;
  const std::int32_t height = data[14] | data[15] << 8;
  const unsigned type = data[2];
  const unsigned depth = data[16];
  fuzz_require(image->width() == width && image->height() == height, tga_target,
               "picture size differs from the header");
  fuzz_require(image->pixels().size() == static_cast<std::size_t>(width) * height, tga_target,
               "pixel count differs from the size");
  const bool grey = type == 3 || type == 11;
  fuzz_require(read.source.grey == grey && read.source.run_length == (type >= 9), tga_target,
               "the source's kind differs from the header's");
  for (const Bgra8& pixel : image->pixels()) {
    fuzz_require(!grey || (pixel.red == pixel.green && pixel.green == pixel.blue), tga_target,
                 "a grey picture has a coloured pixel");
  }

  // A plain true-colour picture's first stored pixel lands in the corner
  // the descriptor names.
  const unsigned descriptor = data[17];
  const std::size_t first = 18 + std::size_t{data[0]};
  if (type == 2 && data[1] == 0 && (depth == 24 || depth == 32)) {
    const std::int32_t corner_x = (descriptor & 0x10) != 0 ? width - 1 : 0;
    const std::int32_t corner_y = (descriptor & 0x20) != 0 ? 0 : height - 1;
    const Bgra8& corner = image->at(corner_x, corner_y);
    fuzz_require(corner.blue == data[first] && corner.green == data[first + 1] &&
                     corner.red == data[first + 2] &&
                     corner.alpha == (depth == 32 ? data[first + 3] : 255),
                 tga_target, "first stored pixel is not in the corner the descriptor names");
  }

  require_round_trip(*image, tga_storage{});
  require_round_trip(*image, tga_storage{true, true, false});
  return 0;
}
