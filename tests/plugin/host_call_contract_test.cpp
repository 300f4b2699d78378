// The host calls a whole render makes, counted through the ledger and
// checked against what the contract allows: one call per pixel access and
// nothing cached.

#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

namespace {

TEST(host_call_contract, a_render_makes_exactly_the_calls_the_contract_names) {
  constexpr int width = 640, height = 480;
  fake_platform platform;
  test_host host(width, height, Bgra8{40, 40, 40, 255});
  host.use_shipped_atlas();
  host.settings.facts.gi_method = 1;
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(&host.job, &host.application, 0);
  const RenderReport report = component->assemble_report(&host.application);
  host.ledger.clear_counts();
  component->end_render(0);

  // Expected counts, worked out from the report and the atlas alone.
  const int offsets[9][2] = {{1, 1},  {0, 1},  {-1, 1},  {1, 0}, {-1, 0},
                             {1, -1}, {0, -1}, {-1, -1}, {0, 0}};
  std::int64_t characters = 0, atlas_reads = 0, covered = 0;
  int lines = 0, longest = 0, current = 0;
  for (char c : report) {
    if (c == '\n') {
      ++lines;
      longest = std::max(longest, current);
      current = 0;
    } else {
      ++current;
    }
  }
  const int top = height - lines * 12 - 2;
  int pen_x = 2, pen_y = top;
  for (char c : report) {
    if (c == '\n') {
      pen_x = 2;
      pen_y += 12;
      continue;
    }
    ++characters;
    const int n = static_cast<unsigned char>(c) - 0x20;
    for (const auto& o : offsets) {
      if (n < 0 || n > 94)
        continue;
      for (int i = 0; i < 12; ++i) {
        for (int k = 0; k < 8; ++k) {
          const int x = pen_x + o[0] + k, y = pen_y + o[1] + i;
          if (x < 0 || y < 0 || x >= width || y >= height)
            continue;
          ++atlas_reads;
          const Bgra8& g =
              shipped_atlas_pixels()[static_cast<std::size_t>((n / 16) * 12 + i) * 128 +
                                     (n % 16) * 8 + k];
          if (g.alpha > 0)
            ++covered;
        }
      }
    }
    pen_x += 8;
  }
  const std::int64_t luminance_reads = std::int64_t{longest} * 8 * lines * 12;
  const std::int64_t image_pixels = std::int64_t{width} * height;

  EXPECT_EQ(host.ledger.count("atlas1.get_pixel"), atlas_reads);
  EXPECT_EQ(host.ledger.count("image.get_pixel"), luminance_reads + covered + image_pixels);
  EXPECT_EQ(host.ledger.count("image.set_pixel"), covered + image_pixels);
  // Once for the hook, nine times per character, once for the opacity pass.
  EXPECT_EQ(host.ledger.count("image.get_size"), 1 + 9 * characters + 1);
  EXPECT_EQ(host.ledger.count("atlas1.get_size"), 0);
  EXPECT_GT(covered, 1000);
  static_cast<IUnknown*>(component)->Release();
}

}  // namespace
