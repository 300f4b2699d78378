// The host calls a whole end hook makes, read from the ledger's trace and
// held to what the contract allows: one call per pixel access and nothing
// cached, the atlas only read, the opacity pass over every pixel once.

#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

namespace {

using host_kit::call;

TEST(host_call_contract, a_render_makes_exactly_the_calls_the_contract_names) {
  constexpr int picture_width = 640, picture_height = 480;
  fake_platform platform;
  test_host host(picture_width, picture_height, Bgra8{40, 40, 40, 255});
  host.use_shipped_atlas();
  host.settings.facts.gi_method = 1;
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(&host.job, &host.application, 0);
  const RenderReport report = component->assemble_report(&host.application);
  ASSERT_EQ(host.services.loaded.size(), 1u);
  const std::uint32_t image = host.image.books().id;
  const std::uint32_t atlas = host.services.loaded.front()->books().id;
  host.ledger.trace_calls = true;
  component->end_render(0);
  static_cast<IUnknown*>(component)->Release();

  // The picture's calls in order, and the atlas's.
  std::vector<host_kit::traced_call> on_image;
  std::int64_t atlas_reads = 0, atlas_other = 0;
  for (const host_kit::traced_call& c : host.ledger.trace) {
    if (c.object == image && c.what != call::AddRef && c.what != call::Release)
      on_image.push_back(c);
    if (c.object == atlas && c.what == call::get_pixel)
      ++atlas_reads;
    else if (c.object == atlas && c.what != call::AddRef && c.what != call::Release)
      ++atlas_other;
  }
  EXPECT_EQ(atlas_other, 0) << "the atlas is only read";

  // The report's block: its lines and its longest line, in cells of 8 x 12.
  std::int64_t characters = 0, lines = 0, longest = 0, current = 0;
  for (char c : report) {
    if (c == '\n') {
      ++lines;
      longest = std::max(longest, current);
      current = 0;
    } else {
      ++characters;
      ++current;
    }
  }

  // First the size, then every pixel under the block read once for the
  // contrast.
  const std::int64_t luminance_reads = longest * 8 * lines * 12;
  ASSERT_GT(on_image.size(), static_cast<std::size_t>(luminance_reads));
  EXPECT_EQ(on_image[0].what, call::get_size);
  for (std::int64_t i = 1; i <= luminance_reads; ++i)
    ASSERT_EQ(on_image[static_cast<std::size_t>(i)].what, call::get_pixel) << i;

  // Last, the opacity pass: the size, then each pixel read and written back,
  // row by row, once.
  const std::size_t opacity =
      on_image.size() - 2 * static_cast<std::size_t>(picture_width * picture_height);
  ASSERT_EQ(on_image[opacity - 1].what, call::get_size);
  for (int y = 0, i = 0; y < picture_height; ++y) {
    for (int x = 0; x < picture_width; ++x, i += 2) {
      const host_kit::traced_call& read = on_image[opacity + static_cast<std::size_t>(i)];
      const host_kit::traced_call& write = on_image[opacity + static_cast<std::size_t>(i) + 1];
      ASSERT_TRUE(read.what == call::get_pixel && read.x == x && read.y == y) << x << "," << y;
      ASSERT_TRUE(write.what == call::set_pixel && write.x == x && write.y == y) << x << "," << y;
    }
  }

  // Between them the glyphs: nine draws (outline and glyph) of each drawn
  // character, each asking the size once, then, for each covered cell
  // pixel, the picture's pixel read and written back at once, never cached.
  std::int64_t sizes = 0, covered = 0;
  for (std::size_t i = 1 + static_cast<std::size_t>(luminance_reads); i + 1 < opacity; ++i) {
    const host_kit::traced_call& c = on_image[i];
    if (c.what == call::get_size) {
      ++sizes;
      continue;
    }
    ASSERT_EQ(c.what, call::get_pixel) << i;
    const host_kit::traced_call& next = on_image[++i];
    ASSERT_TRUE(next.what == call::set_pixel && next.x == c.x && next.y == c.y) << i;
    ++covered;
  }
  EXPECT_EQ(sizes, 9 * characters);
  // Each covered cell pixel was first read from the atlas.
  EXPECT_LE(covered, atlas_reads);
  EXPECT_GT(covered, 1000);
  EXPECT_EQ(host.ledger.count("image.get_size"), 1 + 9 * characters + 1);
}

}  // namespace
