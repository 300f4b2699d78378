// Hosts that answer badly: sizes from nothing to enormous, a megabyte of
// version text, extreme numbers, a wrapping tick counter. Nothing is read or
// written outside the picture and the sanitizer build sees no undefined
// behaviour.

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

namespace {

struct rendered {
  std::int64_t outside_accesses;
  std::int64_t notifications;
  std::vector<std::string> problems;
  std::int64_t pixel_calls;
};

rendered render_on(test_host& host) {
  host.use_shipped_atlas();
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(&host.job, &host.application, 0);
  component->end_render(0);
  static_cast<IUnknown*>(component)->Release();
  return {host.image.books().outside_accesses, host.settings.notifications,
          host.reference_problems(false),
          host.ledger.count("image.get_pixel") + host.ledger.count("image.set_pixel")};
}

TEST(hostile_host, image_sizes_from_none_to_enormous) {
  const ImageSize sizes[] = {
      {0, 0},         {1, 1},         {2, 2},       {3, 3},
      {-5, -5},       {-1, 300},      {300, -1},    {INT_MIN, INT_MIN},
      {INT_MIN, 100}, {100, INT_MIN}, {INT_MAX, 0}, {0, INT_MAX},
      {INT_MAX, -7},  {1 << 20, 2},   {2, 1 << 20}, {5000, 3000},
  };
  for (const ImageSize size : sizes) {
    fake_platform platform;
    test_host host(size.width, size.height);
    const rendered r = render_on(host);
    EXPECT_EQ(r.outside_accesses, 0) << size.width << "x" << size.height;
    EXPECT_EQ(r.notifications, 1) << size.width << "x" << size.height;
    EXPECT_TRUE(r.problems.empty()) << size.width << "x" << size.height;
    const std::int64_t pixels =
        size.width > 0 && size.height > 0 ? std::int64_t{size.width} * size.height : 0;
    // The opacity pass reads and writes each pixel once; the text adds to it.
    EXPECT_GE(r.pixel_calls, 2 * pixels) << size.width << "x" << size.height;
  }
}

std::string hostile_text(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text(size, ' ');
  for (char& c : text) {
    const unsigned byte = random() % 255 + 1;  // anything but NUL
    c = static_cast<char>(byte);
  }
  return text;
}

TEST(hostile_host, a_megabyte_of_version_text_with_control_and_high_bytes) {
  fake_platform platform;
  test_host host(320, 240);
  host.application.version = INT_MAX;
  host.services.version_text = hostile_text(1 << 20, 7);
  const rendered r = render_on(host);
  EXPECT_EQ(r.outside_accesses, 0);
  EXPECT_EQ(r.notifications, 1);
  EXPECT_TRUE(r.problems.empty());
}

TEST(hostile_host, the_work_grows_linearly_with_the_text) {
  std::int64_t size_queries[2];
  for (int doubled = 0; doubled < 2; ++doubled) {
    fake_platform platform;
    test_host host(64, 64);
    host.application.version = 440500;
    host.services.version_text = std::string(std::size_t{50000} << doubled, 'W');
    render_on(host);
    size_queries[doubled] = host.ledger.count("image.get_size");
  }
  // Nine size queries per character, plus the fixed lines: doubling the
  // text adds exactly nine per added character.
  EXPECT_EQ(size_queries[1] - size_queries[0], 9 * 50000);
}

TEST(hostile_host, extreme_numbers_everywhere) {
  for (const std::int32_t value : {INT_MIN, INT_MIN + 1, -1, 0, INT_MAX}) {
    fake_platform platform;
    platform.processors = value;
    platform.memory = value < 0 ? ~0ull : static_cast<std::uint64_t>(value);
    platform.ticks = {static_cast<std::uint32_t>(value), 0u};
    test_host host(200, 200);
    host.application.version = value;
    host.settings.facts.gi_method = value;
    host.settings.facts.setup_time = value;
    host.settings.facts.rendering_time = value;
    host.settings.facts.renderer = Uuid{{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
    const rendered r = render_on(host);
    EXPECT_EQ(r.outside_accesses, 0) << value;
    EXPECT_EQ(r.notifications, 1) << value;
    EXPECT_TRUE(r.problems.empty()) << value;
  }
}

}  // namespace
