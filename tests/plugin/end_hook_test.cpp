// The end hook's sequence of host calls and its ownership of references.

#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/velloq_component.hpp"
#include "tests/support/component_fixture.hpp"

namespace {

class end_hook : public component_fixture {
 protected:
  end_hook() { host.image.pixels().assign(host.image.pixels().size(), Bgra8{10, 20, 30, 0}); }

  // The ledger without pixel traffic and without the per-glyph size queries.
  static std::vector<std::string> outline_of(const call_ledger& ledger) {
    std::vector<std::string> kept;
    for (const auto& call : ledger.calls) {
      if (call.rfind("atlas", 0) == 0)
        continue;
      if (!kept.empty() && call == "image.get_size" && kept.back() == "image.get_size")
        continue;
      kept.push_back(call);
    }
    return kept;
  }

  void render() {
    component->begin_render(&host.job, &host.application, 0);
    host.ledger.calls.clear();
    component->end_render(0);
  }
};

TEST_F(end_hook, calls_the_host_in_its_fixed_order_and_releases_every_owned_reference) {
  host.use_shipped_atlas();
  host.application.version = 440467;  // the older product line, setup time in seconds
  host.settings.facts.gi_method = 1;  // asks for irradiance caching
  render();

  const std::vector<std::string> expected = {
      "job.is_aborted", "job.get_output_image", "image.get_size", "job.get_application",
      // describe_version
      "application.get_version",
      // describe_render_method
      "application.get_render_settings", "settings.get_renderer_uuid", "settings.Release",
      // describe_gi
      "application.get_render_settings", "settings.get_gi_method",
      "settings.get_irradiance_caching", "settings.Release",
      // describe_setup_time: the version after the time
      "application.get_render_settings", "settings.get_setup_time", "application.get_version",
      "settings.Release",
      // describe_rendering_time
      "application.get_render_settings", "settings.get_rendering_time", "settings.Release",
      // drawing (one size query per glyph, collapsed here) and the opacity pass
      "image.get_size",
      // notification, then the application and the image go back
      "application.get_render_settings", "settings.notify_image_changed", "settings.Release",
      "application.Release", "image.Release"};
  EXPECT_EQ(outline_of(host.ledger), expected);
  EXPECT_EQ(host.settings.notifications, 1);
  EXPECT_TRUE(host.reference_problems().empty());
  EXPECT_EQ(host.image.books().reserved_not_zero, 0);
  EXPECT_EQ(host.image.books().outside_accesses, 0);
  // The opacity pass leaves every pixel opaque with its colour, and the
  // report changed the bottom-left corner only.
  EXPECT_TRUE(std::all_of(host.image.pixels().begin(), host.image.pixels().end(),
                          [](const Bgra8& p) { return p.alpha == 255; }));
  EXPECT_EQ(host.image.at(63, 0).red, 30);
}

TEST_F(end_hook, an_aborted_render_asks_nothing_more_and_leaves_the_picture) {
  host.use_shipped_atlas();
  host.job.aborted = true;
  const std::vector<Bgra8> before = host.image.pixels();
  render();
  EXPECT_EQ(host.ledger.calls, std::vector<std::string>{"job.is_aborted"});
  EXPECT_EQ(host.image.pixels().size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), host.image.pixels().begin(),
                         [](const Bgra8& a, const Bgra8& b) {
                           return a.blue == b.blue && a.green == b.green && a.red == b.red &&
                                  a.alpha == b.alpha;
                         }));
}

TEST_F(end_hook, without_a_begin_hook_does_nothing) {
  component->end_render(0);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(end_hook, a_throwing_host_call_is_contained_and_every_reference_goes_back_once) {
  host.use_shipped_atlas();
  // A clean run first, to find where get_gi_method falls among the calls:
  // the exception then comes in the middle of the report, with the output
  // image, the application and the settings held.
  render();
  std::int64_t gi_index = 0;
  {
    std::int64_t index = 0;
    for (const auto& call : host.ledger.calls) {
      if (call.find(".Release") != std::string::npos)
        continue;
      ++index;
      if (call == "settings.get_gi_method")
        gi_index = index;
    }
  }
  ASSERT_GT(gi_index, 0);
  ASSERT_TRUE(host.reference_problems().empty());

  host.image.pixels().assign(host.image.pixels().size(), Bgra8{10, 20, 30, 0});
  component->begin_render(&host.job, &host.application, 0);
  host.ledger.calls.clear();
  host.ledger.throw_at = host.ledger.counted_calls + gi_index;
  component->end_render(0);  // returns normally
  host.ledger.throw_at = 0;
  EXPECT_EQ(host.ledger.count("settings.notify_image_changed"), 1);  // only the clean run
  EXPECT_TRUE(host.reference_problems().empty());
  // Nothing was drawn: the picture keeps its transparent alpha.
  EXPECT_EQ(host.image.at(0, 47).alpha, 0);

  // The component serves the next render.
  component->begin_render(&host.job, &host.application, 0);
  component->end_render(0);
  EXPECT_EQ(host.ledger.count("settings.notify_image_changed"), 2);
  EXPECT_EQ(host.image.at(0, 47).alpha, 255);
  EXPECT_TRUE(host.reference_problems().empty());
}

}  // namespace
