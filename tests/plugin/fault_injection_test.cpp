// Every host call of a render made to throw in turn: the hooks always
// return, every owned reference goes back exactly once, and the component
// serves the next render. Each owned result answering null in turn is the
// validator's faults.null_host_objects, run on the native module in
// tests/validator; the borrowed services missing is below.

#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

namespace {

// A small picture keeps the number of pixel calls, and so of cases, low;
// its bottom rows still receive the last report line.
constexpr std::int32_t width = 40;
constexpr std::int32_t height = 18;

// Every call of a render in turn, in the optimised builds. The sanitizers
// make each render many times slower and the case count grows with the
// square of the calls, so there every fifth call (most of them the next
// round of the same pixel loop) keeps that build within minutes; the
// optimised build still tries them all.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::int64_t fault_stride = 5;
#else
constexpr std::int64_t fault_stride = 1;
#endif

struct render_counts {
  std::int64_t calls;
  std::int64_t object_calls;
};

void prepare(test_host& host) {
  host.use_shipped_atlas();
  host.application.version = 440500;  // asks for the version text too
  host.settings.facts.gi_method = 1;  // and for irradiance caching
}

render_counts clean_render_counts() {
  fake_platform platform;
  test_host host(width, height);
  prepare(host);
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  component->begin_render(&host.job, &host.application, 0);
  component->end_render(0);
  static_cast<IUnknown*>(component)->Release();
  return {host.ledger.counted_calls, host.ledger.object_calls};
}

bool fully_opaque(const test_image& image) {
  return std::all_of(image.pixels().begin(), image.pixels().end(),
                     [](const Bgra8& p) { return p.alpha == 255; });
}

// One faulty render, then a clean one on the same component with a fresh
// host, then the component's release: no reference problem anywhere.
void check_render_with(std::int64_t throw_at, std::int64_t null_at) {
  fake_platform platform;
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  {
    test_host host(width, height);
    prepare(host);
    host.ledger.throw_at = throw_at;
    host.ledger.null_at = null_at;
    component->begin_render(&host.job, &host.application, 0);
    component->end_render(0);
    EXPECT_EQ(host.image.books().outside_accesses, 0);
    const std::vector<std::string> problems = host.reference_problems();
    EXPECT_TRUE(problems.empty()) << "fault at " << throw_at << "/" << null_at << ": "
                                  << problems.front();
    EXPECT_LE(host.settings.notifications, 1);
    // Release the faulty render's atlas before its host goes away.
    test_host next(width, height);
    prepare(next);
    component->begin_render(&next.job, &next.application, 0);
    EXPECT_TRUE(host.reference_problems(false).empty())
        << "fault at " << throw_at << "/" << null_at;
    component->end_render(0);
    EXPECT_EQ(next.settings.notifications, 1) << "fault at " << throw_at << "/" << null_at;
    EXPECT_TRUE(fully_opaque(next.image));
    static_cast<IUnknown*>(component)->Release();
    EXPECT_TRUE(next.reference_problems(false).empty())
        << "fault at " << throw_at << "/" << null_at;
  }
}

TEST(fault_injection, every_host_call_may_throw) {
  const render_counts counts = clean_render_counts();
  ASSERT_GT(counts.calls, 100);
  for (std::int64_t k = 1; k <= counts.calls; k += fault_stride) {
    check_render_with(k, 0);
    if (::testing::Test::HasFailure())
      break;
  }
}

class missing_object : public ::testing::Test {
 protected:
  missing_object() {
    prepare(host);
    component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
  }
  ~missing_object() override { static_cast<IUnknown*>(component)->Release(); }

  // Renders with the object-returning call named `call` answering null.
  void render_without(const std::string& call) {
    host.ledger.null_at = 0;
    host.ledger.calls.clear();
    // Find the call's place among the object calls of a dry run's ledger.
    const std::vector<std::string> object_calls = {
        "application.get_services", "services.load_image_resource", "job.get_output_image",
        "job.get_application", "application.get_render_settings"};
    component->begin_render(&host.job, &host.application, 0);
    component->end_render(0);
    std::int64_t index = 0, found = 0;
    for (const auto& entry : host.ledger.calls) {
      if (std::find(object_calls.begin(), object_calls.end(), entry) == object_calls.end()) {
        continue;
      }
      ++index;
      if (entry == call && found == 0)
        found = index;
    }
    ASSERT_GT(found, 0) << call;
    host.image.pixels().assign(host.image.pixels().size(), Bgra8{10, 20, 30, 0});
    host.settings.notifications = 0;
    host.ledger.calls.clear();
    host.ledger.clear_counts();
    host.ledger.null_at = host.ledger.object_calls + found;
    component->begin_render(&host.job, &host.application, 0);
    component->end_render(0);
    host.ledger.null_at = 0;
  }

  fake_platform platform;
  test_host host{40, 200};
  velloq_component* component;
};

TEST_F(missing_object, no_services_or_no_atlas_leaves_the_picture_unlettered_but_opaque) {
  for (const char* call : {"application.get_services", "services.load_image_resource"}) {
    render_without(call);
    EXPECT_EQ(component->glyph_cell_width(), 0) << call;
    EXPECT_EQ(component->current_glyph_atlas(), nullptr) << call;
    EXPECT_EQ(host.settings.notifications, 1) << call;
    EXPECT_TRUE(fully_opaque(host.image)) << call;
    EXPECT_EQ(host.ledger.count("image.set_pixel"), 40 * 200) << call;  // the opacity pass only
    EXPECT_TRUE(std::all_of(host.image.pixels().begin(), host.image.pixels().end(),
                            [](const Bgra8& p) { return p.red == 30; }))
        << call;
  }
}

TEST_F(missing_object, no_output_image_or_no_application_leaves_the_picture_alone) {
  for (const char* call : {"job.get_output_image", "job.get_application"}) {
    render_without(call);
    EXPECT_EQ(host.settings.notifications, 0) << call;
    EXPECT_TRUE(std::all_of(host.image.pixels().begin(), host.image.pixels().end(),
                            [](const Bgra8& p) { return p.alpha == 0 && p.red == 30; }))
        << call;
    EXPECT_TRUE(host.reference_problems().empty()) << call;
  }
}

TEST_F(missing_object, no_version_text_falls_back_to_the_numbered_product_line) {
  host.services.version_text_is_null = true;
  component->begin_render(&host.job, &host.application, 0);
  EXPECT_EQ(component->describe_version(&host.application),
            "Vorlen x.x.x build 440500 for Windows (IA-32)\n");
}

}  // namespace
