#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "tests/support/codec_test_support.hpp"
#include "tests/support/png_builder.hpp"

TEST(png_codec, RoundTripKeepsEveryChannel) {
  const host_image_ptr picture = make_test_picture(7, 5);
  const bytes file = encode_png(*picture);
  ASSERT_TRUE(has_png_signature(file.data(), 8));
  EXPECT_FALSE(has_png_signature(file.data(), 7));
  EXPECT_TRUE(same_picture(*picture, *decode_png(file.data(), file.size())));
}

TEST(png_codec, RejectsTruncatedAndForeignData) {
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

TEST(png_codec, HeadersBeyondWhatTheHostDecodesSayWhatIsWrong) {
  struct header_case {
    std::uint32_t width, height;
    unsigned depth, colour_type;
    const char* message;
  };
  const header_case cases[] = {
      {20000, 20000, 8, 0, "20000x20000 pixels is larger than the host supports"},
      {100000, 100000, 8, 6, "100000x100000 pixels is larger than the host supports"},
      {1u << 25, 1, 8, 6, "beyond the decoder's 16777216 pixels per side"},
      // Within every limit, its data all but missing.
      {4096, 4096, 16, 6, "the image data ends in row 0 of the 4096x4096 picture"},
      {0, 5, 8, 6, "impossible size of 0x5"},
      {5, 0x80000000u, 8, 6, "impossible size"},
      {8, 8, 16, 3, "16-bit samples are impossible for colour type 3"},
      {8, 8, 3, 0, "3-bit samples are impossible for colour type 0"},
      {8, 8, 8, 5, "unknown colour type 5"},
  };
  for (const header_case& c : cases) {
    png_layout layout;
    layout.width = c.width;
    layout.height = c.height;
    layout.depth = c.depth;
    layout.colour_type = c.colour_type;
    const std::string message = rejection(decode_png, build_png(layout, {}, zlib_stored({0})));
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
  EXPECT_THROW(encode_png(*make_host_image(0, 3)), image_format_error);
}

namespace {

// A sample at a depth scaled to 8 bits, as the plug-in sees them: 16-bit
// ones as the largest v with v * 257 not above them.
unsigned char as_8_bit(unsigned value, unsigned depth) {
  if (depth == 16)
    return static_cast<unsigned char>(value / 257);
  return static_cast<unsigned char>(value * 255 / ((1u << depth) - 1));
}

// A sample value that differs by pixel and channel and covers the depth.
unsigned test_sample(std::uint32_t x, std::uint32_t y, unsigned channel, unsigned depth) {
  const unsigned mask = depth == 16 ? 0xFFFF : (1u << depth) - 1;
  return (x * 2654435761u + y * 40503u + channel * 977u) >> 7 & mask;
}

Bgra8 expected_pixel(const png_layout& layout, std::uint32_t x, std::uint32_t y) {
  const auto s = [&](unsigned c) {
    return as_8_bit(test_sample(x, y, c, layout.depth), layout.depth);
  };
  switch (layout.colour_type) {
    case 0:
      return Bgra8{s(0), s(0), s(0), 255};
    case 2:
      return Bgra8{s(2), s(1), s(0), 255};
    case 4:
      return Bgra8{s(0), s(0), s(0), s(1)};
    default:
      return Bgra8{s(2), s(1), s(0), s(3)};
  }
}

}  // namespace

TEST(png_codec, ReadsEveryDepthLayoutAndRowFilter) {
  // Rows take the five filters in turn: three- and four-byte pixels are
  // un-filtered a pixel at a time, the others a byte at a time.
  const std::pair<unsigned, std::vector<unsigned>> depths[] = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {4, {8, 16}}, {6, {8, 16}}};
  // Large enough that the picture, not the budget's slack, decides.
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
      {1, 1}, {3, 5}, {9, 17}, {33, 7}, {301, 203}};
  for (const auto& [colour_type, type_depths] : depths) {
    for (unsigned depth : type_depths) {
      for (const auto& [width, height] : sizes) {
        for (bool interlaced : {false, true}) {
          const png_layout layout{width, height, depth, colour_type, interlaced};
          const png_bytes file = build_png(
              layout, {},
              zlib_stored(png_filtered_rows(
                  layout, [&](auto x, auto y, unsigned c) { return test_sample(x, y, c, depth); },
                  true)));
          const std::string name = "type " + std::to_string(colour_type) + ", " +
                                   std::to_string(depth) + " bits, " + std::to_string(width) + "x" +
                                   std::to_string(height) + (interlaced ? ", interlaced" : "");
          host_image_ptr image;
          try {
            image = decode_exact(decode_png, file, file.size());
          } catch (const image_format_error& error) {
            ADD_FAILURE() << name << ": " << error.what();
            continue;
          }
          host_image_ptr expected = make_host_image(width, height);
          for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x)
              expected->at(x, y) = expected_pixel(layout, x, y);
          }
          EXPECT_TRUE(same_picture(*expected, *image)) << name;
          if (depth != 16)
            continue;
          // The 16-bit samples themselves are kept beside the view.
          const picture deep = read_png(memory_source(file.data(), file.size()));
          ASSERT_EQ(deep.deep.channel_count(), png_channels(colour_type)) << name;
          int differing = 0;
          for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint16_t* row = deep.deep.row(static_cast<std::int32_t>(y));
            for (std::uint32_t i = 0; i < width * png_channels(colour_type); ++i)
              differing += row[i] != test_sample(i / png_channels(colour_type), y,
                                                 i % png_channels(colour_type), 16);
          }
          EXPECT_EQ(differing, 0) << name;
        }
      }
    }
  }
}

TEST(png_codec, PaletteIndicesPastThePaletteAreOpaqueBlack) {
  // Four entries, indices up to 255: bytes past the palette must never
  // reach the picture.
  const png_bytes palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
  for (bool interlaced : {false, true}) {
    const png_layout layout{16, 16, 8, 3, interlaced};
    const auto index = [](std::uint32_t x, std::uint32_t y, unsigned) { return y * 16 + x; };
    const png_bytes rows = png_filtered_rows(layout, index);
    const png_bytes plain = build_png(layout, {{"PLTE", palette}}, zlib_stored(rows));
    const host_image_ptr image = decode_exact(decode_png, plain, plain.size());
    for (std::uint32_t i = 0; i < 256; ++i) {
      const Bgra8 pixel = image->at(i % 16, i / 16);
      const Bgra8 expected =
          i < 4 ? Bgra8{palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 255}
                : Bgra8{0, 0, 0, 255};
      ASSERT_TRUE(same_pixel(pixel, expected)) << "index " << i;
    }
    // Transparency for the given entries applies; the added ones stay opaque.
    const png_bytes file =
        build_png(layout, {{"PLTE", palette}, {"tRNS", {0, 128}}}, zlib_stored(rows));
    const host_image_ptr seen_through = decode_exact(decode_png, file, file.size());
    EXPECT_EQ(seen_through->at(0, 0).alpha, 0);
    EXPECT_EQ(seen_through->at(1, 0).alpha, 128);
    EXPECT_EQ(seen_through->at(2, 0).alpha, 255);
    EXPECT_EQ(seen_through->at(9, 0).alpha, 255);
  }
  // More transparency entries than palette entries is refused as before.
  const png_layout layout{2, 2, 8, 3, false};
  const png_bytes rows = png_filtered_rows(layout, [](auto, auto, unsigned) { return 0u; });
  EXPECT_NE(rejection(decode_png, build_png(layout, {{"PLTE", palette}, {"tRNS", {1, 2, 3, 4, 5}}},
                                            zlib_stored(rows)))
                .find("tRNS) has 5 entries for a palette of 4"),
            std::string::npos);
}

TEST(png_codec, CompressedDataInflatingPastThePictureIsRefused) {
  // An 8x8 picture whose data inflates to 16 MiB (about 100 KiB of file).
  const png_layout layout{8, 8, 8, 6, false};
  const png_bytes bomb = build_png(layout, {}, zlib_zero_bomb(std::uint64_t{16} << 20));
  EXPECT_LT(bomb.size(), 120000u);
  const std::string message = rejection(decode_png, bomb);
  EXPECT_NE(message.find("too large or corrupt: its compressed data inflates to more than a 8x8 "
                         "picture needs"),
            std::string::npos)
      << message;
  // The same picture with exactly its data, and a little more than it
  // (encoders may pad), decodes.
  const std::uint64_t exact = 8 * (1 + 8 * 4);
  EXPECT_EQ(rejection(decode_png, build_png(layout, {}, zlib_zero_bomb(exact))), "(accepted)");
  EXPECT_EQ(rejection(decode_png, build_png(layout, {}, zlib_zero_bomb(exact + 100))),
            "(accepted)");
}

TEST(image_file, ChoosesTheDecoderByContentNotByName) {
  const scratch_folder folder;
  const host_image_ptr picture = make_test_picture(3, 4);
  write_file_atomically(folder.file("really_tga.png"), encode_tga(*picture),
                        replace_policy::keep_existing);
  write_file_atomically(folder.file("really_png.tga"), encode_png(*picture),
                        replace_policy::keep_existing);
  EXPECT_TRUE(same_picture(*picture, *decode_image_file(folder.file("really_tga.png"))));
  EXPECT_TRUE(same_picture(*picture, *decode_image_file(folder.file("really_png.tga"))));
}

TEST(image_file, ErrorsNameTheFile) {
  const scratch_folder folder;
  const std::string broken = folder.file("broken.png");
  bytes half_png = encode_png(*make_test_picture(8, 8));
  half_png.resize(half_png.size() / 2);
  write_file_atomically(broken, half_png, replace_policy::keep_existing);
  try {
    decode_image_file(broken);
    ADD_FAILURE() << "a broken PNG was accepted";
  } catch (const image_format_error& error) {
    EXPECT_NE(std::string(error.what()).find(broken + ": PNG: "), std::string::npos)
        << error.what();
  }
  EXPECT_THROW(decode_image_file(folder.file("missing.tga")), file_error);
}

TEST(png_codec, WrittenFilesCarryValidChunksAndDecodeBack) {
  // Every chunk's checksum must hold: readers refuse the file otherwise.
  const host_image_ptr picture = make_test_picture(300, 200);
  const bytes file = encode_png(*picture);
  EXPECT_TRUE(same_picture(*picture, *decode_png(file.data(), file.size())));
  std::size_t at = 8;
  std::vector<std::string> chunks;
  while (at + 12 <= file.size()) {
    const std::uint32_t length = std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 |
                                 std::uint32_t{file[at + 2]} << 8 | file[at + 3];
    ASSERT_LE(at + 12 + length, file.size());
    const unsigned char* type = &file[at + 4];
    const unsigned char* stored = type + 4 + length;
    const std::uint32_t crc = std::uint32_t{stored[0]} << 24 | std::uint32_t{stored[1]} << 16 |
                              std::uint32_t{stored[2]} << 8 | stored[3];
    EXPECT_EQ(crc32(0, type, 4 + length), crc) << std::string(type, type + 4);
    chunks.emplace_back(type, type + 4);
    at += 12 + length;
  }
  EXPECT_EQ(at, file.size());
  EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(png_codec, AFailingSinkStopsTheWriteAndPassesItsError) {
  const host_image_ptr picture = make_test_picture(64, 64);
  int calls = 0;
  EXPECT_THROW(write_png(*picture,
                         [&](const unsigned char*, std::size_t) {
                           ++calls;
                           throw file_error("disk full");
                         }),
               file_error);
  EXPECT_EQ(calls, 1);
}

TEST(png_codec, DamagedChunksAreRefusedAndDamagedExtrasLeftOut) {
  const bytes file = encode_png(*make_test_picture(16, 16));
  const std::size_t idat = 33;  // after the signature and the 25 bytes of IHDR
  const std::pair<std::size_t, const char*> damages[] = {
      {16, "checksum of the IHDR chunk at byte 8 is wrong"},  // its width
      {29, "checksum of the IHDR chunk at byte 8 is wrong"},  // its checksum
      {idat + 20, "corrupt"},  // inflated as it comes: zlib may be first to see it
      {file.size() - 13, "checksum of the IDAT chunk at byte 33 is wrong"},
      {file.size() - 1, "checksum of the IEND chunk"},
  };
  for (const auto& [at, message] : damages) {
    bytes damaged = file;
    damaged[at] ^= 0x10;
    EXPECT_NE(rejection(decode_png, damaged).find(message), std::string::npos) << at;
  }
  // Damaged compressed data under a correct chunk checksum: zlib's own.
  const png_layout layout{4, 4, 8, 6, false};
  png_bytes stream =
      zlib_stored(png_filtered_rows(layout, [](auto x, auto, unsigned) { return x; }));
  stream.back() ^= 1;
  EXPECT_NE(
      rejection(decode_png, build_png(layout, {}, stream)).find("compressed image data is corrupt"),
      std::string::npos);
  // A damaged ancillary chunk is left out, as the reference library does.
  stream.back() ^= 1;
  png_bytes with_text = build_png(layout, {{"tEXt", {'a', 0, 'b'}}}, stream);
  with_text[idat + 8] ^= 0x10;
  EXPECT_EQ(rejection(decode_png, with_text), "(accepted)");
}

namespace {

constexpr std::size_t always_whole = std::size_t{1} << 30;

// Several blocks of rows, flat above and noisy below, so that both ways of
// compressing meet in one stream.
host_image_ptr flat_and_noisy_picture() {
  host_image_ptr picture = make_host_image(600, 500);
  for (std::int32_t y = 0; y < 500; ++y) {
    for (std::int32_t x = 0; x < 600; ++x) {
      const std::uint32_t noise = static_cast<std::uint32_t>(x * 2654435761u ^ y * 40503u) >> 13;
      picture->at(x, y) = y < 250 ? Bgra8{40, static_cast<std::uint8_t>(x / 64), 120, 255}
                                  : Bgra8{static_cast<std::uint8_t>(noise), 90,
                                          static_cast<std::uint8_t>(noise >> 8), 255};
    }
  }
  return picture;
}

bytes encode_png_with(const memory_image& picture, std::size_t whole_frame_limit,
                      int spare_threads = 0) {
  png_compression choices;
  choices.whole_frame_limit = whole_frame_limit;
  bytes out;
  write_png(
      picture,
      [&out](const unsigned char* data, std::size_t size) {
        out.insert(out.end(), data, data + size);
      },
      spare_threads, choices);
  return out;
}

host_image_ptr decode_streamed(const unsigned char* data, std::size_t size) {
  return decode_png(memory_source(data, size), 0);
}
host_image_ptr decode_whole(const unsigned char* data, std::size_t size) {
  return decode_png(memory_source(data, size), always_whole);
}

}  // namespace

TEST(png_codec, WritesOpaquePicturesAsRgbAndTheSameFileOnAnyNumberOfThreads) {
  const host_image_ptr picture = flat_and_noisy_picture();
  const bytes alone = encode_png_with(*picture, 0);
  EXPECT_EQ(alone[25], 2);  // colour type: RGB
  EXPECT_TRUE(same_picture(*picture, *decode_png(alone.data(), alone.size())));
  for (int spare_threads : {1, 3}) EXPECT_EQ(encode_png_with(*picture, 0, spare_threads), alone);
  // One pixel not opaque, wherever it lies, keeps the alpha.
  for (const std::int32_t x : {0, 301, 599}) {
    host_image_ptr translucent = flat_and_noisy_picture();
    translucent->at(x, 499).alpha = 254;
    const bytes with_alpha = encode_png_with(*translucent, 0, 2);
    EXPECT_EQ(with_alpha[25], 6) << x;  // RGBA
    EXPECT_TRUE(same_picture(*translucent, *decode_png(with_alpha.data(), with_alpha.size())));
  }
}

// Frames within the whole-frame limit are made and read in one call; both
// ways must give the same pixels, and the same errors for the same fault.
TEST(png_codec, WholeFramesAndStreamsReadAndWriteAlike) {
  host_image_ptr opaque = flat_and_noisy_picture();
  host_image_ptr mostly_noise = flat_and_noisy_picture();  // taken for speed, not for size
  for (std::int32_t y = 0; y < 400; ++y)
    std::copy_n(&mostly_noise->at(0, 250 + y % 250), 600, &mostly_noise->at(0, y));
  const host_image_ptr with_alpha = make_test_picture(97, 61);
  for (const memory_image* picture : {opaque.get(), mostly_noise.get(), with_alpha.get()}) {
    for (const std::size_t limit : {std::size_t{0}, always_whole}) {
      const bytes file = encode_png_with(*picture, limit);
      for (const decoder decode : {decode_streamed, decode_whole}) {
        EXPECT_TRUE(same_picture(*picture, *decode_exact(decode, file, file.size())))
            << picture->width() << ", limit " << limit;
      }
    }
  }
  const png_layout layout{33, 7, 8, 6, true};
  const png_bytes rows = png_filtered_rows(
      layout, [](auto x, auto y, unsigned c) { return x * 7 + y * 3 + c; }, true);
  png_bytes unknown_filter = rows;
  unknown_filter[0] = 7;
  png_bytes corrupt = zlib_stored(rows);
  corrupt.back() ^= 1;                   // the Adler checksum
  png_bytes padded = zlib_stored(rows);  // bytes past the stream's end, which are ignored
  padded.resize(padded.size() + (std::size_t{200} << 10));
  const png_bytes cases[] = {
      build_png(layout, {}, zlib_stored(rows)),
      build_png(layout, {}, zlib_stored(png_bytes(rows.begin(), rows.end() - 40))),
      build_png(layout, {}, zlib_stored(unknown_filter)),
      build_png(layout, {}, corrupt),
      build_png(layout, {}, padded),
      build_png(layout, {}, zlib_zero_bomb(std::uint64_t{1} << 20)),
      build_png(layout, {}, zlib_zero_bomb(rows.size() + 1000)),
  };
  for (const png_bytes& file : cases) {
    const std::string streamed = rejection(decode_streamed, file);
    EXPECT_EQ(rejection(decode_whole, file), streamed);
    if (streamed == "(accepted)") {
      EXPECT_TRUE(same_picture(*decode_streamed(file.data(), file.size()),
                               *decode_whole(file.data(), file.size())));
    }
  }
}

TEST(image_file, WhatIsNeitherPngNorTgaIsSaidToBeNeither) {
  const scratch_folder folder;
  const std::string text = "a note saved with the wrong name, long enough for a header";
  for (const bytes& content :
       {bytes{}, bytes{0x89, 'P', 'N', 'G'}, bytes(text.begin(), text.end())}) {
    const std::string path = folder.file("picture.png");
    write_file_atomically(path, content, replace_policy::replace_existing);
    try {
      decode_image_file(path);
      ADD_FAILURE() << content.size() << " bytes accepted";
    } catch (const image_format_error& error) {
      EXPECT_EQ(std::string(error.what()), path + ": not a PNG, TGA or JPEG picture");
    }
  }
}
