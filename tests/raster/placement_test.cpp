// Where the report goes, the brightness under it and the colours it gets.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/raster_fixture.hpp"

namespace {

class placement : public raster_fixture {
 protected:
  placement() { load_shipped_atlas(); }
  TextBlock block_for(ImageSize size, const std::string& text) {
    return component->compute_text_block(size, text);
  }
};

void expect_block(const TextBlock& block, int left, int top, int right, int bottom) {
  EXPECT_EQ(block.left, left);
  EXPECT_EQ(block.top, top);
  EXPECT_EQ(block.right, right);
  EXPECT_EQ(block.bottom, bottom);
}

TEST_F(placement, fifteen_lines_of_forty_sit_in_the_bottom_left_corner) {
  std::string report;
  for (int line = 0; line < 15; ++line) report += std::string(line == 7 ? 40 : 12, 'x') + "\n";
  expect_block(block_for({640, 480}, report), 2, 298, 322, 478);
}

TEST_F(placement, only_closed_lines_count) {
  expect_block(block_for({640, 480}, "abc\nlonger unclosed line"), 2, 466, 26, 478);
  expect_block(block_for({640, 480}, "no break at all"), 2, 478, 2, 478);
  expect_block(block_for({640, 480}, "\n\nab\n"), 2, 442, 18, 478);  // empty lines count
  expect_block(block_for({640, 480}, ""), 2, 478, 2, 478);
}

TEST_F(placement, an_unclosed_last_line_is_drawn_at_the_bottom_margin) {
  test_image& image = host.image;  // 32 x 32
  const TextBlock block = block_for({32, 32}, "AB\nCD");
  EXPECT_EQ(block.top, 18);
  EXPECT_EQ(component->draw_text(&image, "AB\nCD", false, block.left, block.top), 30);
  EXPECT_EQ(image.books().outside_accesses, 0);
}

TEST_F(placement, a_block_above_the_image_averages_only_rows_from_zero) {
  std::string report;
  for (int line = 0; line < 5; ++line) report += "abcd\n";  // 60 rows in a 32-row image
  const TextBlock block = block_for({32, 32}, report);
  EXPECT_EQ(block.top, -30);
  host.image.pixels().assign(host.image.pixels().size(), Bgra8{255, 255, 255, 255});
  const float mean = component->mean_luminance(&host.image, {32, 32}, block);
  EXPECT_FLOAT_EQ(mean, 1.0f);
  EXPECT_EQ(host.ledger.count("image.get_pixel"), 30 * 30);  // rows 0..29, columns 2..31
  EXPECT_EQ(host.image.books().outside_accesses, 0);
}

TEST_F(placement, images_under_three_pixels_average_nothing_and_pick_dark_colours) {
  for (ImageSize size : {ImageSize{2, 40}, ImageSize{40, 2}, ImageSize{0, 0}, ImageSize{1, 1}}) {
    const TextBlock block = block_for(size, "A\n");
    host.ledger.clear_counts();
    const float mean = component->mean_luminance(&host.image, size, block);
    EXPECT_TRUE(std::isnan(mean)) << size.width << "x" << size.height;
    EXPECT_FALSE(mean > 0.5f);
    EXPECT_EQ(host.ledger.count("image.get_pixel"), 0);
  }
}

TEST_F(placement, the_mean_weights_each_channel_and_reads_each_pixel_once) {
  const TextBlock block{2, 10, 10, 22};
  struct grey_case {
    std::uint8_t value;
    float mean;
  };
  for (grey_case c : {grey_case{127, 0.498039216f}, grey_case{128, 0.501960814f},
                      grey_case{255, 1.0f}, grey_case{0, 0.0f}}) {
    host.image.pixels().assign(host.image.pixels().size(), Bgra8{c.value, c.value, c.value, 0});
    host.ledger.clear_counts();
    EXPECT_FLOAT_EQ(component->mean_luminance(&host.image, {32, 32}, block), c.mean);
    EXPECT_EQ(host.ledger.count("image.get_pixel"), 8 * 12);
  }
  // Pure channels: the weights are 0.299, 0.587 and 0.114.
  host.image.pixels().assign(host.image.pixels().size(), Bgra8{0, 0, 255, 0});
  EXPECT_FLOAT_EQ(component->mean_luminance(&host.image, {32, 32}, block), 0.299f);
  host.image.pixels().assign(host.image.pixels().size(), Bgra8{255, 0, 0, 0});
  EXPECT_FLOAT_EQ(component->mean_luminance(&host.image, {32, 32}, block), 0.114f);
}

// The end hook's colour choice, seen in the pixels of a glyph's core.
class contrast : public ::testing::Test {
 protected:
  // The red byte left at a fully covered pixel of the report's first glyph.
  static int glyph_core_after_render(std::uint8_t background, bool half_white = false) {
    fake_platform platform;
    test_host host(200, 200, Bgra8{background, background, background, 255});
    if (half_white) {
      // Alternate columns of black and white: the mean is exactly 0.5.
      for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; x += 2) host.image.at(x, y) = Bgra8{255, 255, 255, 255};
      }
    }
    host.use_shipped_atlas();
    host.services.version_text = "I";  // a first glyph with fully covered pixels
    velloq_component* component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
    component->begin_render(&host.job, &host.application, 0);
    const RenderReport report = component->assemble_report(&host.application);
    const TextBlock block = component->compute_text_block({200, 200}, report);
    if (half_white) {
      EXPECT_EQ(component->mean_luminance(&host.image, {200, 200}, block), 0.5f);
    }
    component->end_render(0);
    static_cast<IUnknown*>(component)->Release();
    // Find a fully covered atlas pixel of the report's first character.
    const char first = report.at(0);
    const int n = first - 0x20;
    const std::vector<Bgra8>& atlas = shipped_atlas_pixels();
    for (int i = 0; i < 12; ++i) {
      for (int k = 0; k < 8; ++k) {
        if (atlas[static_cast<std::size_t>((n / 16) * 12 + i) * 128 + (n % 16) * 8 + k].alpha ==
            255) {
          return host.image.at(block.left + k, block.top + i).red;
        }
      }
    }
    ADD_FAILURE() << "no fully covered pixel in the first glyph";
    return -1;
  }
};

TEST_F(contrast, bright_backgrounds_get_black_text_and_dark_ones_white) {
  EXPECT_EQ(glyph_core_after_render(255), 0);
  EXPECT_EQ(glyph_core_after_render(128), 0);
  EXPECT_EQ(glyph_core_after_render(127), 255);
  EXPECT_EQ(glyph_core_after_render(0), 255);
}

TEST_F(contrast, a_mean_of_exactly_one_half_counts_as_dark) {
  EXPECT_EQ(glyph_core_after_render(0, true), 255);
}

}  // namespace
