#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "refhost/hosting/scene.hpp"

namespace {

// Weighted as the plug-in weighs the picture under its report.
double luminance(const Bgra8& p) {
  return p.red * 0.299 / 255 + p.green * 0.587 / 255 + p.blue * 0.114 / 255;
}

double mean_luminance(const memory_image& image, std::int32_t left, std::int32_t top,
                      std::int32_t right, std::int32_t bottom) {
  double sum = 0;
  for (std::int32_t y = top; y < bottom; ++y) {
    for (std::int32_t x = left; x < right; ++x) sum += luminance(image.at(x, y));
  }
  return sum / (double(right - left) * (bottom - top));
}

bool same_bytes(const memory_image& a, const memory_image& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         std::memcmp(a.pixels().data(), b.pixels().data(), a.pixels().size() * 4) == 0;
}

std::uint32_t fnv1a(const memory_image& image) {
  std::uint32_t hash = 2166136261u;
  for (const Bgra8& p : image.pixels()) {
    for (const std::uint8_t byte : {p.blue, p.green, p.red, p.alpha}) {
      hash = (hash ^ byte) * 16777619u;
    }
  }
  return hash;
}

}  // namespace

TEST(scene, SameArgumentsGiveTheSameBytesAndFramesMove) {
  const host_image_ptr first = render_scene(160, 120, 3, 24);
  const host_image_ptr again = render_scene(160, 120, 3, 24);
  EXPECT_TRUE(same_bytes(*first, *again));

  EXPECT_FALSE(same_bytes(*first, *render_scene(160, 120, 4, 24)));
  // The motion repeats every frame_count frames, in both directions.
  EXPECT_TRUE(same_bytes(*first, *render_scene(160, 120, 27, 24)));
  EXPECT_TRUE(same_bytes(*first, *render_scene(160, 120, -21, 24)));
  // A still has one picture whatever the frame number.
  EXPECT_TRUE(same_bytes(*render_scene(160, 120, 0, 1), *render_scene(160, 120, 5, 0)));
}

// The 32-bit build computes with SSE2 so that it matches the 64-bit one;
// this fingerprint, taken from the native build, holds both to the same
// bytes. Update it only for a deliberate change to the scene.
TEST(scene, BytesAreTheSameOnEveryPlatform) {
  EXPECT_EQ(fnv1a(*render_scene(96, 72, 5, 24)), 4235867723u);
}

TEST(scene, ReportCornerIsDarkWhileBrightAreasExist) {
  for (std::int32_t frame = 0; frame < 24; frame += 3) {
    const host_image_ptr image = render_scene(640, 480, frame, 24);
    ASSERT_EQ(image->width(), 640);
    ASSERT_EQ(image->height(), 480);
    // Room for a report of 14 lines of 60 characters in 8 x 12 cells.
    EXPECT_LT(mean_luminance(*image, 2, 480 - 2 - 14 * 12, 2 + 60 * 8, 478), 0.5)
        << "frame " << frame;
    double brightest = 0;
    double darkest = 1;
    for (const Bgra8& p : image->pixels()) {
      brightest = std::max(brightest, luminance(p));
      darkest = std::min(darkest, luminance(p));
    }
    EXPECT_GT(brightest, 0.9) << "frame " << frame;
    EXPECT_LT(darkest, 0.2) << "frame " << frame;
  }
}

TEST(scene, AlphaCoversGeometryOnly) {
  const host_image_ptr image = render_scene(640, 480, 0, 24);
  for (std::int32_t x = 0; x < 640; x += 37) {
    EXPECT_EQ(image->at(x, 0).alpha, 0) << "sky at x " << x;
    EXPECT_EQ(image->at(x, 479).alpha, 255) << "ground at x " << x;
  }
}

TEST(scene, RefusesEmptySizes) {
  EXPECT_THROW(render_scene(0, 480, 0, 1), std::invalid_argument);
  EXPECT_THROW(render_scene(640, 0, 0, 1), std::invalid_argument);
  EXPECT_THROW(render_scene(-4, 3, 0, 1), std::invalid_argument);
  EXPECT_THROW(render_scene(100000, 100000, 0, 1), std::length_error);
  EXPECT_EQ(render_scene(1, 1, 0, 1)->pixels().size(), 1u);
}
