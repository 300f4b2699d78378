// A 16-bit picture's samples beside the 8-bit view the plug-in draws into,
// and how they take in what it drew.

#include <gtest/gtest.h>

#include <algorithm>

#include "refhost/pictures/png_codec.hpp"
#include "tests/support/codec_test_support.hpp"
#include "tests/support/png_builder.hpp"

TEST(deep_samples, KeepWhatTheViewLeavesAndTakeWhatItChanges) {
  // Grey and alpha, 3x1: a sample just short of full shows as 254, so an
  // alpha the plug-in makes 255 becomes full, never stays just short of it.
  picture grey;
  grey.view = make_host_image(3, 1);
  grey.deep = deep_samples(3, 1, deep_samples::layout::grey_alpha);
  const std::uint16_t samples[6] = {1000, 65500, 65535, 65535, 514, 0};
  std::copy(samples, samples + 6, grey.deep.row(0));
  for (std::int32_t x = 0; x < 3; ++x)
    grey.view->at(x, 0) = grey.deep.view_pixel(grey.deep.row(0), x);
  EXPECT_TRUE(same_pixel(grey.view->at(0, 0), Bgra8{3, 3, 3, 254}));
  EXPECT_TRUE(same_pixel(grey.view->at(1, 0), Bgra8{255, 255, 255, 255}));
  EXPECT_TRUE(same_pixel(grey.view->at(2, 0), Bgra8{2, 2, 2, 0}));

  // Every pixel made opaque; the last drawn on in grey: the samples stay grey.
  for (Bgra8& pixel : grey.view->pixels()) pixel.alpha = 255;
  grey.view->at(2, 0) = Bgra8{0, 0, 0, 255};
  grey.take_changes();
  ASSERT_EQ(grey.deep.channels(), deep_samples::layout::grey_alpha);
  EXPECT_EQ(std::vector<std::uint16_t>(grey.deep.row(0), grey.deep.row(0) + 6),
            (std::vector<std::uint16_t>{1000, 65535, 65535, 65535, 0, 65535}));

  // Drawn on in colour: the samples gain colour, the grey kept where the
  // view kept it.
  grey.view->at(1, 0) = Bgra8{255, 0, 255, 255};
  grey.take_changes();
  ASSERT_EQ(grey.deep.channels(), deep_samples::layout::rgba);
  EXPECT_EQ(std::vector<std::uint16_t>(grey.deep.row(0), grey.deep.row(0) + 8),
            (std::vector<std::uint16_t>{1000, 1000, 1000, 65535, 65535, 0, 65535, 65535}));

  // RGB without alpha that the plug-in made transparent somewhere gains alpha.
  picture colour;
  colour.view = make_host_image(1, 1);
  colour.deep = deep_samples(1, 1, deep_samples::layout::rgb);
  std::fill(colour.deep.row(0), colour.deep.row(0) + 3, std::uint16_t{40000});
  colour.view->at(0, 0) = Bgra8{155, 155, 155, 128};
  colour.take_changes();
  ASSERT_EQ(colour.deep.channels(), deep_samples::layout::rgba);
  EXPECT_EQ(std::vector<std::uint16_t>(colour.deep.row(0), colour.deep.row(0) + 4),
            (std::vector<std::uint16_t>{40000, 40000, 40000, 128 * 257}));
}

TEST(deep_samples, PngWritesThemAtSixteenBitsWithTheChunksItKept) {
  // A grey and alpha picture not drawn on (an aborted render) comes back
  // sample for sample, its transparency and background kept.
  const png_layout layout{5, 4, 16, 4, false};
  const auto sample = [](std::uint32_t x, std::uint32_t y, unsigned c) {
    return (x * 13007u + y * 7919u + c * 30011u) & 0xFFFF;
  };
  const png_bytes file =
      build_png(layout, {{"gAMA", {0, 0, 0xB1, 0x8F}}, {"bKGD", {0x12, 0x34}}},
                zlib_stored(png_filtered_rows(layout, sample)), {{"tEXt", {'k', 0, 'v'}}});
  const picture read = read_png(memory_source(file.data(), file.size()));
  const png_bytes written = encode_png(read);
  const auto all_but_image_data = [](const png_bytes& png) {
    png_chunk_list chunks = chunks_of(png);
    chunks.erase(std::remove_if(chunks.begin(), chunks.end(),
                                [](const auto& chunk) { return chunk.first == "IDAT"; }),
                 chunks.end());
    return chunks;
  };
  EXPECT_EQ(all_but_image_data(written), all_but_image_data(file));
  const picture again = read_png(memory_source(written.data(), written.size()));
  for (std::int32_t y = 0; y < 4; ++y) {
    for (std::int32_t i = 0; i < 10; ++i)
      EXPECT_EQ(again.deep.row(y)[i],
                sample(static_cast<std::uint32_t>(i / 2), static_cast<std::uint32_t>(y),
                       static_cast<unsigned>(i % 2)));
  }

  // A palette's background becomes the colour it names.
  const png_layout palette{2, 1, 8, 3, false};
  const png_bytes mapped =
      build_png(palette, {{"PLTE", {1, 2, 3, 40, 50, 60}}, {"bKGD", {1}}},
                zlib_stored(png_filtered_rows(palette, [](auto x, auto, unsigned) { return x; })));
  const png_chunk_list out =
      chunks_of(encode_png(read_png(memory_source(mapped.data(), mapped.size()))));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1], (std::pair<std::string, png_bytes>{"bKGD", {0, 40, 0, 50, 0, 60}}));
}
