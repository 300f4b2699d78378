#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/tga_codec.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

bytes tga_header(unsigned width, unsigned height, unsigned depth, unsigned descriptor,
                 unsigned image_type = 2, unsigned colour_map_type = 0) {
  bytes header(18, 0);
  header[1] = static_cast<unsigned char>(colour_map_type);
  header[2] = static_cast<unsigned char>(image_type);
  header[12] = static_cast<unsigned char>(width & 0xFF);
  header[13] = static_cast<unsigned char>(width >> 8);
  header[14] = static_cast<unsigned char>(height & 0xFF);
  header[15] = static_cast<unsigned char>(height >> 8);
  header[16] = static_cast<unsigned char>(depth);
  header[17] = static_cast<unsigned char>(descriptor);
  return header;
}

// The picture stored in the order the descriptor names: bit 5 set for rows
// top to bottom, bit 4 for pixels right to left.
bytes store(const memory_image& picture, unsigned depth, unsigned descriptor) {
  bytes out = tga_header(picture.width(), picture.height(), depth, descriptor);
  for (std::int32_t row = 0; row < picture.height(); ++row) {
    const std::int32_t y = (descriptor & 0x20) ? row : picture.height() - 1 - row;
    for (std::int32_t column = 0; column < picture.width(); ++column) {
      const std::int32_t x = (descriptor & 0x10) ? picture.width() - 1 - column : column;
      const Bgra8& p = picture.at(x, y);
      out.insert(out.end(), {p.blue, p.green, p.red});
      if (depth == 32)
        out.push_back(p.alpha);
    }
  }
  return out;
}

host_image_ptr decode(const bytes& file) {
  return decode_tga(file.data(), file.size());
}

}  // namespace

TEST(tga_codec, EncodesBottomUpWithFooterAndDecodesBack) {
  const host_image_ptr picture = make_test_picture(5, 3);
  const bytes file = encode_tga(*picture);

  ASSERT_EQ(file.size(), 18u + 5 * 3 * 4 + 26);
  EXPECT_EQ(bytes(file.begin(), file.begin() + 18), tga_header(5, 3, 32, 0x08));
  // The first stored pixel is the bottom-left one.
  EXPECT_EQ(file[18], picture->at(0, 2).blue);
  EXPECT_EQ(file[21], picture->at(0, 2).alpha);
  // No extension area, no developer directory, then the signature.
  const auto footer = file.end() - 26;
  EXPECT_EQ(bytes(footer, footer + 8), bytes(8, 0));
  EXPECT_EQ(std::memcmp(&*(footer + 8), "TRUEVISION-XFILE.", 18), 0);

  EXPECT_TRUE(same_picture(*picture, *decode(file)));
}

TEST(tga_codec, EveryStorageOrderDecodesToTheUprightPicture) {
  host_image_ptr picture = make_test_picture(3, 2);
  for (const unsigned descriptor : {0x08u, 0x28u, 0x18u, 0x38u}) {
    EXPECT_TRUE(same_picture(*picture, *decode(store(*picture, 32, descriptor))))
        << "descriptor " << descriptor;
  }
  // An image ID is skipped and whatever follows the pixels is ignored.
  bytes with_id = store(*picture, 32, 0x08);
  with_id[0] = 3;
  with_id.insert(with_id.begin() + 18, {0xEE, 0xEE, 0xEE});
  with_id.insert(with_id.end(), 40, 0xAB);
  EXPECT_TRUE(same_picture(*picture, *decode(with_id)));

  for (Bgra8& pixel : picture->pixels()) pixel.alpha = 255;
  for (const unsigned descriptor : {0x00u, 0x20u}) {
    const bytes file = store(*picture, 24, descriptor);
    ASSERT_EQ(file.size(), 18u + 3 * 2 * 3);
    EXPECT_TRUE(same_picture(*picture, *decode(file))) << "24 bits, descriptor " << descriptor;
  }

  // Two rows of two pixels written out by hand, bottom row first.
  bytes file = tga_header(2, 2, 32, 0x08);
  file.insert(file.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const host_image_ptr decoded = decode(file);
  EXPECT_TRUE(same_pixel(decoded->at(0, 1), Bgra8{1, 2, 3, 4}));
  EXPECT_TRUE(same_pixel(decoded->at(1, 1), Bgra8{5, 6, 7, 8}));
  EXPECT_TRUE(same_pixel(decoded->at(0, 0), Bgra8{9, 10, 11, 12}));
  EXPECT_TRUE(same_pixel(decoded->at(1, 0), Bgra8{13, 14, 15, 16}));
}

TEST(tga_codec, CommittedAtlasDecodesUpright) {
  std::ifstream in(VELLOQ_SOURCE_DIR "/resources/ascii.tga", std::ios::binary);
  if (!in)
    GTEST_SKIP() << "resources/ascii.tga is not there yet";
  const bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const host_image_ptr atlas = decode(file);
  ASSERT_EQ(atlas->width(), 128);
  ASSERT_EQ(atlas->height(), 72);
  int mismatches = 0;
  for (std::int32_t y = 0; y < 72; ++y) {
    for (std::int32_t x = 0; x < 128; ++x) {
      const unsigned char* stored = &file[18 + ((71 - y) * 128 + x) * 4];
      if (!same_pixel(atlas->at(x, y), Bgra8{stored[0], stored[1], stored[2], stored[3]})) {
        ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(tga_codec, RejectsTruncatedFilesAtEveryLength) {
  bytes file = store(*make_test_picture(3, 2), 32, 0x08);
  file[0] = 2;
  file.insert(file.begin() + 18, {0x55, 0x55});
  for (std::size_t length = 0; length < file.size(); ++length) {
    EXPECT_THROW(decode_exact(decode_tga, file, length), image_format_error) << "length " << length;
  }
  EXPECT_NO_THROW(decode_exact(decode_tga, file, file.size()));

  EXPECT_EQ(rejection(decode_tga, bytes(file.begin(), file.begin() + 7)),
            "TGA: truncated header (needs 18 bytes, has 7)");
  EXPECT_EQ(rejection(decode_tga, bytes(file.begin(), file.begin() + 19)),
            "TGA: truncated image ID (needs 20 bytes, has 19)");
  EXPECT_EQ(rejection(decode_tga, bytes(file.begin(), file.end() - 1)),
            "TGA: truncated pixel data (needs 24 bytes, has 23)");
}

TEST(tga_codec, RejectsWhatItDoesNotDecode) {
  struct {
    bytes header;
    const char* reason;
  } const cases[] = {
      {tga_header(1, 1, 32, 8, 2, 2), "colour-map type 2"},
      {tga_header(1, 1, 8, 0, 1, 0), "without a colour map"},
      {tga_header(1, 1, 8, 0, 9, 0), "without a colour map"},
      {tga_header(1, 1, 8, 0, 1, 1), "colour-map entries of 0 bits"},
      {tga_header(1, 1, 32, 8, 3), "32 bits per pixel are not supported for image type 3"},
      {tga_header(1, 1, 12, 0, 10), "12 bits per pixel"},
      {tga_header(1, 1, 32, 8, 0), "no image data"},
      {tga_header(1, 1, 32, 8, 7), "unknown image type 7"},
      {tga_header(0, 1, 32, 8), "empty picture"},
      {tga_header(1, 0, 32, 8), "empty picture"},
      {tga_header(65535, 65535, 32, 8), "larger than the host supports"},
      {tga_header(16385, 16385, 24, 0), "larger than the host supports"},
      // At the limit the size is fine and the missing pixels are the fault.
      {tga_header(16384, 16384, 24, 0), "truncated pixel data"},
      {tga_header(1, 1, 8, 0), "8 bits per pixel are not supported for image type 2"},
      {tga_header(1, 1, 32, 0x48), "interleaved"},
  };
  for (const auto& c : cases) {
    bytes file = c.header;
    file.insert(file.end(), {1, 2, 3, 4});
    const std::string message = rejection(decode_tga, file);
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
  }

  EXPECT_THROW(encode_tga(*make_host_image(0, 4)), image_format_error);
  EXPECT_THROW(encode_tga(*make_host_image(65536, 1)), image_format_error);
  EXPECT_NO_THROW(encode_tga(*make_host_image(65535, 1)));
}

TEST(tga_codec, WritesInBoundedPiecesThatMakeTheSameFile) {
  // 700 x 400 pixels: 1.1 MB of rows, more than one piece.
  const host_image_ptr picture = make_test_picture(700, 400);
  bytes streamed;
  std::size_t pieces = 0;
  write_tga(*picture, [&](const unsigned char* data, std::size_t size) {
    EXPECT_LE(size, std::size_t{1} << 20);
    streamed.insert(streamed.end(), data, data + size);
    ++pieces;
  });
  EXPECT_GT(pieces, 3u);  // header, two blocks of rows at least, footer
  EXPECT_EQ(streamed, encode_tga(*picture));
  EXPECT_TRUE(same_picture(*picture, *decode(streamed)));
}

TEST(tga_codec, FilesAreReadAsTheDecoderReadsTheirBytes) {
  // Rows of Bgra8 in either vertical order go straight from the file into
  // the picture; 24-bit and right-to-left files through the decoder.
  const scratch_folder folder;
  const host_image_ptr picture = make_test_picture(37, 23);
  host_image_ptr opaque = make_test_picture(37, 23);
  for (Bgra8& pixel : opaque->pixels()) pixel.alpha = 255;
  struct stored {
    const char* name;
    bytes file;
    const memory_image& expected;
  };
  bytes with_id = store(*picture, 32, 0x28);
  with_id[0] = 5;
  with_id.insert(with_id.begin() + 18, {1, 2, 3, 4, 5});
  const stored files[] = {
      {"bottom_up.tga", store(*picture, 32, 0x08), *picture},
      {"top_down.tga", store(*picture, 32, 0x28), *picture},
      {"with_id.tga", with_id, *picture},
      {"right_to_left.tga", store(*picture, 32, 0x18), *picture},
      {"24_bit.tga", store(*opaque, 24, 0x00), *opaque},
  };
  for (const stored& entry : files) {
    write_file_atomically(folder.file(entry.name), entry.file, replace_policy::keep_existing);
    EXPECT_TRUE(same_picture(entry.expected, *decode_image_file(folder.file(entry.name))))
        << entry.name;
  }
  // Cut short, the file says what the decoder says, naming the file.
  bytes cut = store(*picture, 32, 0x08);
  cut.resize(cut.size() - 1);
  write_file_atomically(folder.file("cut.tga"), cut, replace_policy::keep_existing);
  try {
    decode_image_file(folder.file("cut.tga"));
    ADD_FAILURE() << "a cut file was decoded";
  } catch (const image_format_error& error) {
    EXPECT_EQ(std::string(error.what()),
              folder.file("cut.tga") + ": TGA: truncated pixel data (needs 3404 bytes, has 3403)");
  }
}

namespace {

// A colour-mapped header: `entries` entries of `entry_bits` from index `first`.
bytes mapped_header(unsigned width, unsigned height, unsigned image_type, unsigned first,
                    unsigned entries, unsigned entry_bits) {
  bytes header = tga_header(width, height, 8, 0x20, image_type, 1);
  header[3] = static_cast<unsigned char>(first);
  header[5] = static_cast<unsigned char>(entries);
  header[7] = static_cast<unsigned char>(entry_bits);
  return header;
}

void append(bytes& file, std::initializer_list<unsigned> values) {
  for (const unsigned value : values) file.push_back(static_cast<unsigned char>(value));
}

Bgra8 grey(std::uint8_t value, std::uint8_t alpha = 255) {
  return Bgra8{value, value, value, alpha};
}

}  // namespace

TEST(tga_codec, ReadsRunLengthColourMappedGreyAndSixteenBitPictures) {
  // 3x2 pictures written out by hand. Run-length packets: 0x80 | (n - 1)
  // and one pixel, or n - 1 and n pixels; a packet may run on into the next
  // row. Rows bottom to top unless the descriptor says 0x20.
  struct {
    const char* what;
    bytes file;
    std::vector<Bgra8> rows;  // the upright picture, top row first
  } cases[] = {
      {"32-bit runs from the bottom", tga_header(3, 2, 32, 0x08, 10), {}},
      {"24-bit runs from the top", tga_header(3, 2, 24, 0x20, 10), {}},
      {"16-bit with an alpha bit", tga_header(3, 2, 16, 0x21, 2), {}},
      {"15-bit", tga_header(3, 2, 15, 0x20, 2), {}},
      {"grey", tga_header(3, 2, 8, 0x20, 3), {}},
      {"grey runs", tga_header(3, 2, 8, 0x20, 11), {}},
      {"grey and alpha", tga_header(3, 2, 16, 0x28, 3), {}},
      {"colour-mapped, 24-bit entries from 2", mapped_header(3, 2, 1, 2, 3, 24), {}},
      {"colour-mapped runs, 16-bit entries", mapped_header(3, 2, 9, 0, 2, 15), {}},
      {"true colour with an unused map", tga_header(3, 2, 24, 0x20, 2, 1), {}},
  };
  // A run of four crossing from the bottom row into the top, then two raw.
  append(cases[0].file, {0x83, 1, 2, 3, 4, 0x01, 5, 6, 7, 8, 9, 10, 11, 12});
  cases[0].rows = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12},
                   {1, 2, 3, 4}, {1, 2, 3, 4}, {1, 2, 3, 4}};
  append(cases[1].file, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x82, 10, 11, 12});
  cases[1].rows = {{1, 2, 3, 255},    {4, 5, 6, 255},    {7, 8, 9, 255},
                   {10, 11, 12, 255}, {10, 11, 12, 255}, {10, 11, 12, 255}};
  // 5-5-5 little-endian: blue low. 0x7FFF white, 0x001F blue, 0x03E0 green,
  // 0x7C00 red; the top bit is alpha with one alpha bit, ignored at 15 bits.
  append(cases[2].file, {0xFF, 0xFF, 0x1F, 0x00, 0xE0, 0x83, 0x00, 0xFC, 0x10, 0x42, 0x00, 0x00});
  cases[2].rows = {{255, 255, 255, 255}, {255, 0, 0, 0},     {0, 255, 0, 255},
                   {0, 0, 255, 255},     {132, 132, 132, 0}, {0, 0, 0, 0}};
  append(cases[3].file, {0xFF, 0x7F, 0x1F, 0x80, 0xE0, 0x03, 0x00, 0x7C, 0x10, 0x42, 0x00, 0x00});
  cases[3].rows = {{255, 255, 255, 255}, {255, 0, 0, 255},     {0, 255, 0, 255},
                   {0, 0, 255, 255},     {132, 132, 132, 255}, {0, 0, 0, 255}};
  append(cases[4].file, {0, 50, 100, 150, 200, 255});
  cases[4].rows = {grey(0), grey(50), grey(100), grey(150), grey(200), grey(255)};
  append(cases[5].file, {0x84, 7, 0x00, 9});
  cases[5].rows = {grey(7), grey(7), grey(7), grey(7), grey(7), grey(9)};
  append(cases[6].file, {10, 255, 20, 128, 30, 0, 40, 1, 50, 2, 60, 3});
  cases[6].rows = {grey(10, 255), grey(20, 128), grey(30, 0),
                   grey(40, 1),   grey(50, 2),   grey(60, 3)};
  // Map entries 2, 3, 4; index 1 lies before the map and 9 past it: black.
  append(cases[7].file, {10, 20, 30, 40, 50, 60, 70, 80, 90, 2, 3, 4, 1, 9, 2});
  cases[7].rows = {{10, 20, 30, 255}, {40, 50, 60, 255}, {70, 80, 90, 255},
                   {0, 0, 0, 255},    {0, 0, 0, 255},    {10, 20, 30, 255}};
  append(cases[8].file, {0x1F, 0x00, 0x00, 0x7C, 0x85, 1});
  cases[8].rows = std::vector<Bgra8>(6, Bgra8{0, 0, 255, 255});
  // A two-entry map of 24 bits stands before the pixels and is skipped.
  cases[9].file[5] = 2;
  cases[9].file[7] = 24;
  append(cases[9].file,
         {99, 99, 99, 98, 98, 98, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
  cases[9].rows = {{1, 2, 3, 255},    {4, 5, 6, 255},    {7, 8, 9, 255},
                   {10, 11, 12, 255}, {13, 14, 15, 255}, {16, 17, 18, 255}};

  for (const auto& c : cases) {
    const host_image_ptr expected = make_host_image(3, 2);
    std::copy(c.rows.begin(), c.rows.end(), expected->pixels().begin());
    const picture read = read_tga(c.file.data(), c.file.size());
    EXPECT_TRUE(same_picture(*expected, *read.view)) << c.what;
    // Cut anywhere in the pixels, every file is refused whole.
    const std::size_t pixels_start = c.file.size() - 1;
    EXPECT_THROW(decode_exact(decode_tga, c.file, pixels_start), image_format_error) << c.what;
  }
  EXPECT_TRUE(read_tga(cases[5].file.data(), cases[5].file.size()).source.grey);
  EXPECT_TRUE(read_tga(cases[5].file.data(), cases[5].file.size()).source.run_length);
  EXPECT_TRUE(read_tga(cases[1].file.data(), cases[1].file.size()).source.top_to_bottom);
  EXPECT_FALSE(read_tga(cases[0].file.data(), cases[0].file.size()).source.top_to_bottom);
}

TEST(tga_codec, WritesRunsGreyAndEitherOriginAsItsInputStoredThem) {
  // Flat areas with edges, as rendered frames have them, and every pixel
  // grey, so that the grey file can hold it.
  const host_image_ptr flat = make_host_image(300, 40, Bgra8{90, 90, 90, 255});
  for (std::int32_t x = 100; x < 300; x += 7) flat->at(x, 5) = grey(static_cast<std::uint8_t>(x));
  for (std::int32_t y = 20; y < 40; ++y) flat->at(299, y) = grey(3);
  const bytes plain = encode_tga(*flat);
  for (const bool grey_file : {false, true}) {
    for (const bool top_down : {false, true}) {
      const tga_storage storage{true, top_down, grey_file};
      const bytes runs = encode_tga(*flat, storage);
      EXPECT_EQ(runs[2], grey_file ? 11 : 10);
      EXPECT_EQ(runs[16], grey_file ? 8 : 32);
      EXPECT_EQ((runs[17] & 0x20) != 0, top_down);
      EXPECT_LT(runs.size(), plain.size() / 10);
      EXPECT_TRUE(same_picture(*flat, *decode(runs))) << grey_file << top_down;
    }
  }
  // Noise, where runs are rare, takes at most a packet header per 128 pixels more.
  const host_image_ptr noise = make_test_picture(300, 20);
  const bytes noisy = encode_tga(*noise, tga_storage{true, false, false});
  EXPECT_LE(noisy.size(), encode_tga(*noise).size() + 20 * 3);
  EXPECT_TRUE(same_picture(*noise, *decode(noisy)));

  // A stamped picture keeps its file's choices; grey only while it is grey.
  bytes grey_runs = tga_header(2, 1, 8, 0x20, 11);
  append(grey_runs, {0x81, 40});
  picture stamped = read_tga(grey_runs.data(), grey_runs.size());
  const auto written = [&] {
    bytes out;
    write_tga(stamped, [&](const unsigned char* data, std::size_t size) {
      out.insert(out.end(), data, data + size);
    });
    return out;
  };
  const bytes kept = written();
  EXPECT_EQ(bytes(kept.begin(), kept.begin() + 18), tga_header(2, 1, 8, 0x20, 11));
  stamped.view->at(1, 0) = Bgra8{0, 0, 255, 255};  // drawn on in colour
  const bytes coloured = written();
  EXPECT_EQ(bytes(coloured.begin(), coloured.begin() + 18), tga_header(2, 1, 32, 0x28, 10));
  EXPECT_TRUE(same_picture(*stamped.view, *decode(coloured)));
}
