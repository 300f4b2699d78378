// A fixed text burnt into a fixed picture, checked against values worked
// out here from the atlas coverage and the blend formula.

#include <gtest/gtest.h>

#include "tests/support/raster_fixture.hpp"

namespace {

class burn_in : public raster_fixture {
 protected:
  burn_in() {
    load_shipped_atlas();
    // A diagonal gradient, alpha 0 so that the opacity pass shows.
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const auto v = static_cast<std::uint8_t>(x * 3 + y * 2);
        host.image.at(x, y) = Bgra8{v, static_cast<std::uint8_t>(v / 2), 40, 0};
      }
    }
    original = host.image.pixels();
  }

  static int coverage(char ch, int k, int i) {
    if (k < 0 || k >= 8 || i < 0 || i >= 12)
      return 0;
    const int n = ch - 0x20;
    return shipped_atlas_pixels()[static_cast<std::size_t>((n / 16) * 12 + i) * 128 + (n % 16) * 8 +
                                  k]
        .alpha;
  }

  // One channel after the black outline (eight shifted copies at half
  // opacity) and the white glyph of `ch` drawn with its cell at (px, py).
  static int expected_channel(int old, char ch, int px, int py, int x, int y) {
    const int offsets[8][2] = {{1, 1},  {0, 1},  {-1, 1}, {1, 0},
                               {-1, 0}, {1, -1}, {0, -1}, {-1, -1}};
    double v = old;
    for (const auto& o : offsets) {
      const float a = static_cast<float>(coverage(ch, x - px - o[0], y - py - o[1]) / 255.0 * 0.5);
      if (a > 0)
        v = static_cast<int>(0.0 * 255.0 * a + static_cast<int>(v) * (1.0 - a));
    }
    const float a = static_cast<float>(coverage(ch, x - px, y - py) / 255.0);
    if (a > 0) {
      const double blended = 1.0 * 255.0 * a + static_cast<int>(v) * (1.0 - a);
      v = blended >= 255.0 ? 255 : static_cast<int>(blended);
    }
    return static_cast<int>(v);
  }

  std::vector<Bgra8> original;
};

TEST_F(burn_in, every_pixel_of_the_first_glyph_matches_the_worked_values) {
  component->draw_text(&host.image, "Hi\n", false, 4, 6);
  component->fill_alpha(&host.image, 1.0f);
  int covered = 0;
  // Columns 0 to 6 of the H cell: column 7 also gets the i's outline.
  for (int y = 5; y < 6 + 12; ++y) {
    for (int x = 3; x < 4 + 7; ++x) {
      const Bgra8& before = original[static_cast<std::size_t>(y) * 32 + x];
      const Bgra8& after = host.image.at(x, y);
      EXPECT_EQ(after.blue, expected_channel(before.blue, 'H', 4, 6, x, y)) << x << "," << y;
      EXPECT_EQ(after.green, expected_channel(before.green, 'H', 4, 6, x, y)) << x << "," << y;
      EXPECT_EQ(after.red, expected_channel(before.red, 'H', 4, 6, x, y)) << x << "," << y;
      EXPECT_EQ(after.alpha, 255);
      if (coverage('H', x - 4, y - 6) == 255)
        ++covered;
    }
  }
  EXPECT_GT(covered, 10);  // the H has solid stems to check against
}

TEST_F(burn_in, pixels_away_from_the_text_keep_their_colour_and_become_opaque) {
  component->draw_text(&host.image, "Hi\n", false, 4, 6);
  component->fill_alpha(&host.image, 1.0f);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      // The text's cells span x 4..19, y 6..17; the outline one pixel more.
      if (x >= 3 && x <= 20 && y >= 5 && y <= 18)
        continue;
      const Bgra8& before = original[static_cast<std::size_t>(y) * 32 + x];
      EXPECT_TRUE(
          same_pixel(host.image.at(x, y), Bgra8{before.blue, before.green, before.red, 255}))
          << x << "," << y;
    }
  }
}

}  // namespace
