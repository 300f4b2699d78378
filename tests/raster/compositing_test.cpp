// Glyph blending to the byte, the pen, clipping and the opacity pass.

#include <gtest/gtest.h>

#include "tests/support/raster_fixture.hpp"

namespace {

constexpr ColorRgb white = {1.0f, 1.0f, 1.0f};
constexpr ColorRgb black = {0.0f, 0.0f, 0.0f};

class blending : public raster_fixture {
 protected:
  blending() {
    std::vector<Bgra8> atlas = empty_atlas();
    set_coverage(atlas, 'A', 0, 0, 255);
    set_coverage(atlas, 'A', 1, 0, 136);
    load_atlas(atlas);
  }
  Bgra8& at(int x, int y) { return host.image.at(x, y); }
};

TEST_F(blending, full_coverage_at_full_opacity_replaces_whatever_lies_below) {
  for (Bgra8 below : {Bgra8{0, 0, 0, 0}, Bgra8{10, 200, 30, 40}, Bgra8{255, 255, 255, 255}}) {
    at(5, 5) = below;
    component->draw_glyph(&host.image, 'A', white, 5, 5, 1.0f);
    EXPECT_TRUE(same_pixel(at(5, 5), Bgra8{255, 255, 255, 255}));
    at(5, 5) = below;
    component->draw_glyph(&host.image, 'A', black, 5, 5, 1.0f);
    EXPECT_TRUE(same_pixel(at(5, 5), Bgra8{0, 0, 0, 255}));
  }
}

TEST_F(blending, the_half_opacity_outline_truncates_127_5_to_127_both_ways) {
  at(5, 5) = Bgra8{0, 0, 0, 255};
  component->draw_glyph(&host.image, 'A', white, 5, 5, 0.5f);
  EXPECT_TRUE(same_pixel(at(5, 5), Bgra8{127, 127, 127, 255}));
  at(5, 5) = Bgra8{255, 255, 255, 255};
  component->draw_glyph(&host.image, 'A', black, 5, 5, 0.5f);
  EXPECT_TRUE(same_pixel(at(5, 5), Bgra8{127, 127, 127, 255}));
}

TEST_F(blending, each_draw_reads_what_the_previous_one_left) {
  at(5, 5) = Bgra8{0, 0, 0, 255};
  for (std::uint8_t expected : {127, 191, 223}) {
    component->draw_glyph(&host.image, 'A', white, 5, 5, 0.5f);
    EXPECT_EQ(at(5, 5).red, expected);
    EXPECT_EQ(at(5, 5).green, expected);
    EXPECT_EQ(at(5, 5).blue, expected);
  }
}

TEST_F(blending, partial_coverage_blends_and_alpha_only_ever_grows) {
  // 136 / 255 = 0.5333...: white over grey 60 gives 136 + 60 x 0.4667 = 164.0.
  at(6, 5) = Bgra8{60, 60, 60, 200};
  component->draw_glyph(&host.image, 'A', white, 5, 5, 1.0f);
  EXPECT_EQ(at(6, 5).red, 164);
  EXPECT_EQ(at(6, 5).alpha, 200);  // the larger of 200 and the glyph's 136
  at(6, 5) = Bgra8{60, 60, 60, 50};
  component->draw_glyph(&host.image, 'A', white, 5, 5, 0.5f);
  EXPECT_EQ(at(6, 5).alpha, 136);  // the glyph's coverage, not scaled by opacity
  at(5, 5) = Bgra8{0, 0, 0, 0};
  component->draw_glyph(&host.image, 'A', white, 5, 5, 0.5f);
  EXPECT_EQ(at(5, 5).alpha, 255);
}

TEST_F(blending, uncovered_cell_pixels_cost_one_atlas_read_and_leave_the_target_alone) {
  at(7, 6) = Bgra8{1, 2, 3, 4};
  component->draw_glyph(&host.image, 'A', white, 5, 5, 1.0f);
  EXPECT_TRUE(same_pixel(at(7, 6), Bgra8{1, 2, 3, 4}));
  EXPECT_EQ(host.ledger.count("atlas1.get_pixel"), 8 * 12);
  EXPECT_EQ(host.ledger.count("image.get_pixel"), 2);  // the two covered pixels
  EXPECT_EQ(host.ledger.count("image.set_pixel"), 2);
  EXPECT_EQ(host.ledger.count("image.get_size"), 1);
}

TEST_F(blending, codes_outside_the_drawable_range_make_no_host_call) {
  for (int code : {0x00, 0x0A, 0x0D, 0x1F, 0x7F, 0x80, 0xFF}) {
    component->draw_glyph(&host.image, static_cast<char>(code), white, 5, 5, 1.0f);
  }
  EXPECT_TRUE(host.ledger.calls.empty());
  component->draw_glyph(&host.image, ' ', white, 5, 5, 1.0f);  // drawn, but empty
  EXPECT_EQ(host.ledger.count("atlas1.get_pixel"), 96);
  EXPECT_EQ(host.ledger.count("image.set_pixel"), 0);
}

TEST_F(blending, fill_alpha_sets_only_the_alpha_byte) {
  at(3, 4) = Bgra8{9, 8, 7, 6};
  component->fill_alpha(&host.image, 1.0f);
  EXPECT_TRUE(same_pixel(at(3, 4), Bgra8{9, 8, 7, 255}));
  EXPECT_EQ(host.ledger.count("image.get_pixel"), 32 * 32);
  EXPECT_EQ(host.ledger.count("image.set_pixel"), 32 * 32);
  component->fill_alpha(&host.image, 0.5f);
  EXPECT_TRUE(same_pixel(at(3, 4), Bgra8{9, 8, 7, 127}));
  EXPECT_TRUE(same_pixel(at(31, 31), Bgra8{0, 0, 0, 127}));
}

// An atlas whose every drawable cell covers only its top-left pixel shows
// where the pen put each character.
class pen : public raster_fixture {
 protected:
  pen() {
    std::vector<Bgra8> atlas = empty_atlas();
    for (int c = 0x21; c <= 0x7E; ++c) set_coverage(atlas, static_cast<char>(c), 0, 0, 255);
    load_atlas(atlas);
    host.image.pixels().assign(host.image.pixels().size(), Bgra8{100, 100, 100, 0});
  }
  std::vector<std::pair<int, int>> white_pixels() {
    std::vector<std::pair<int, int>> found;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        if (host.image.at(x, y).red == 255)
          found.emplace_back(x, y);
      }
    }
    return found;
  }
};

TEST_F(pen, line_breaks_return_the_pen_and_every_other_byte_advances_it) {
  EXPECT_EQ(component->draw_text(&host.image, "AB\nX", false, 2, 10), 22);
  EXPECT_EQ(white_pixels(), (std::vector<std::pair<int, int>>{{2, 10}, {10, 10}, {2, 22}}));
  // The black outline surrounds each glyph pixel at half opacity: 100 -> 50.
  EXPECT_EQ(host.image.at(3, 11).red, 50);
  EXPECT_EQ(host.image.at(1, 9).red, 50);
  EXPECT_EQ(host.image.at(4, 10).red, 100);
}

TEST_F(pen, undrawable_bytes_advance_without_drawing) {
  EXPECT_EQ(component->draw_text(&host.image,
                                 "\r\t \x7f\x80\xff"
                                 "A",
                                 false, 2, 10),
            10);
  EXPECT_EQ(white_pixels(), (std::vector<std::pair<int, int>>{}));  // A at 50 is outside
  host.ledger.clear_counts();
  EXPECT_EQ(component->draw_text(&host.image,
                                 "\x7f"
                                 "A\n",
                                 false, 2, 10),
            22);
  EXPECT_EQ(white_pixels(), (std::vector<std::pair<int, int>>{{10, 10}}));
  EXPECT_EQ(host.ledger.count("image.get_size"), 9);  // nine draws for A only
}

TEST_F(pen, an_empty_text_draws_nothing_and_returns_y) {
  EXPECT_EQ(component->draw_text(&host.image, "", true, 2, 17), 17);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(pen, a_bright_background_gets_black_text_with_a_white_outline) {
  component->draw_text(&host.image, "A", true, 2, 10);
  EXPECT_EQ(host.image.at(2, 10).red, 0);
  EXPECT_EQ(host.image.at(3, 11).red, 177);  // 255 x 0.5 + 100 x 0.5 = 177.5
}

TEST(clipping, glyphs_across_every_edge_touch_only_pixels_inside) {
  for (auto [x, y] : {std::pair{-5, 2}, std::pair{2, -7}, std::pair{12, 2}, std::pair{2, 6},
                      std::pair{-7, -11}, std::pair{13, 7}, std::pair{-100, 3},
                      std::pair{2147483600, 2147483600}, std::pair{-2147483647, 0}}) {
    fake_platform platform;
    test_host host(16, 12, Bgra8{0, 0, 0, 0});
    host.use_shipped_atlas();
    velloq_component* component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
    component->begin_render(&host.job, &host.application, 0);
    component->draw_text(&host.image, "W@\n#M", false, x, y);
    EXPECT_EQ(host.image.books().outside_accesses, 0) << x << "," << y;
    static_cast<IUnknown*>(component)->Release();
  }
}

TEST(clipping, a_component_without_an_atlas_only_moves_its_pen) {
  test_host host(16, 12, Bgra8{0, 0, 0, 0});
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  EXPECT_EQ(component->draw_text(&host.image, "AB\nC\n", false, 2, 3), 3);  // cell height 0
  EXPECT_EQ(host.ledger.count("image.get_pixel"), 0);
  EXPECT_EQ(host.ledger.count("image.set_pixel"), 0);
  static_cast<IUnknown*>(component)->Release();
}

}  // namespace
