#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/file_io.hpp"
#include "refhost/png_codec.hpp"
#include "tests/refhost_codecs/codec_test_support.hpp"

namespace {

void put_u32(bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

// A signature and an IHDR chunk; stb reads the size from it without
// checking the CRC, which is left zero.
bytes png_start(std::uint32_t width, std::uint32_t height, unsigned colour_type) {
  bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  put_u32(out, 13);
  out.insert(out.end(), {'I', 'H', 'D', 'R'});
  put_u32(out, width);
  put_u32(out, height);
  out.insert(out.end(), {8, static_cast<unsigned char>(colour_type), 0, 0, 0});
  put_u32(out, 0);
  return out;
}

}  // namespace

TEST(PngCodec, RoundTripKeepsEveryChannel) {
  const host_image_ptr picture = make_test_picture(7, 5);
  const bytes file = encode_png(*picture);
  ASSERT_TRUE(has_png_signature(file.data(), 8));
  EXPECT_FALSE(has_png_signature(file.data(), 7));
  EXPECT_TRUE(same_picture(*picture, *decode_png(file.data(), file.size())));
}

TEST(PngCodec, RejectsTruncatedAndForeignData) {
  const bytes file = encode_png(*make_test_picture(16, 16));
  for (const std::size_t length :
       {std::size_t{0}, std::size_t{5}, std::size_t{8}, std::size_t{20}, std::size_t{33},
        std::size_t{40}, file.size() / 2, file.size() - 12}) {
    EXPECT_THROW(decode_exact(decode_png, file, length), image_format_error) << "length " << length;
  }
  const std::string message = rejection(decode_png, bytes(file.begin(), file.begin() + 20));
  EXPECT_EQ(message.rfind("PNG: ", 0), 0u) << message;
  EXPECT_GT(message.size(), 5u);
  const bytes tga = encode_tga(*make_test_picture(2, 2));
  EXPECT_THROW(decode_exact(decode_png, tga, tga.size()), image_format_error);
}

TEST(PngCodec, RefusesPicturesBeyondTheHostLimit) {
  // Grey, so that stb's own limit of 2^30 bytes does not step in first.
  EXPECT_NE(rejection(decode_png, png_start(20000, 20000, 0)).find("larger than the host supports"),
            std::string::npos);
  EXPECT_THROW(encode_png(*make_host_image(0, 3)), image_format_error);
}

TEST(ImageFile, ChoosesTheDecoderByContentNotByName) {
  const scratch_folder folder;
  const host_image_ptr picture = make_test_picture(3, 4);
  write_file_atomically(folder.file("really_tga.png"), encode_tga(*picture));
  write_file_atomically(folder.file("really_png.tga"), encode_png(*picture));
  EXPECT_TRUE(same_picture(*picture, *decode_image_file(folder.file("really_tga.png"))));
  EXPECT_TRUE(same_picture(*picture, *decode_image_file(folder.file("really_png.tga"))));
}

TEST(ImageFile, ErrorsNameTheFile) {
  const scratch_folder folder;
  const std::string broken = folder.file("broken.png");
  bytes half_png = encode_png(*make_test_picture(8, 8));
  half_png.resize(half_png.size() / 2);
  write_file_atomically(broken, half_png);
  try {
    decode_image_file(broken);
    ADD_FAILURE() << "a broken PNG was accepted";
  } catch (const image_format_error& error) {
    EXPECT_NE(std::string(error.what()).find(broken + ": PNG: "), std::string::npos)
        << error.what();
  }
  EXPECT_THROW(decode_image_file(folder.file("missing.tga")), file_error);
}
