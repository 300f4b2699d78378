// Whole renders through the emulated DLL, every byte compared with the
// native module stamping the same picture on the same machine: the report,
// the placement, the contrast choice and every blended pixel must agree,
// and so must the host calls each makes and the references each keeps.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "host/effector_interface.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "tests/emulated_windows/foreign_plugin.hpp"
#include "tests/emulated_windows/twin_machine.hpp"

namespace {

struct picture {
  std::string name;
  std::int32_t width, height;
  std::function<Bgra8(std::int32_t x, std::int32_t y)> pixel;
};

picture uniform(const std::string& name, std::int32_t width, std::int32_t height, Bgra8 colour) {
  return {name, width, height, [colour](std::int32_t, std::int32_t) { return colour; }};
}

picture noise(const std::string& name, std::int32_t width, std::int32_t height,
              std::uint32_t seed) {
  return {name, width, height, [seed](std::int32_t x, std::int32_t y) {
            std::uint32_t h = seed ^ (static_cast<std::uint32_t>(y) * 73856093u) ^
                              (static_cast<std::uint32_t>(x) * 19349663u);
            h = (h ^ (h >> 13)) * 0x5BD1E995u;
            h ^= h >> 15;
            return Bgra8{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8),
                         static_cast<std::uint8_t>(h >> 16), static_cast<std::uint8_t>(h >> 24)};
          }};
}

// The host's side of a render: the same on both modules.
void set_up_host(test_host& host) {
  host.use_shipped_atlas();
  host.application.version = 440487;
  host.services.version_text = "Vorlen 12.0.0 build 440487";
  host.settings.facts.renderer = Uuid{{1, 0, 0, 0}};  // path tracing
  host.settings.facts.gi_method = 1;
  host.settings.facts.irradiance_caching = true;
  host.settings.facts.setup_time = 1500;
  host.settings.facts.rendering_time = 61234;
}

void paint(test_image& image, const picture& p) {
  for (std::int32_t y = 0; y < p.height; ++y) {
    for (std::int32_t x = 0; x < p.width; ++x) image.at(x, y) = p.pixel(x, y);
  }
}

struct frame_record {
  std::vector<Bgra8> pixels;
  std::vector<std::string> calls;
  std::map<std::string, std::int64_t> counts;
};

struct animation_record {
  std::vector<frame_record> frames;
  std::vector<std::string> problems;
  std::int64_t clock_reads = 0;
};

// Paints each picture into the host's output image in turn and has one
// component stamp it; `stamp` runs one frame's begin and end hooks.
animation_record record_animation(test_host& host, const std::vector<picture>& frames,
                                  const std::function<std::string()>& stamp) {
  animation_record record;
  for (const picture& frame : frames) {
    paint(host.image, frame);
    host.ledger.calls.clear();
    host.ledger.clear_counts();
    const std::string problem = stamp();
    if (!problem.empty())
      record.problems.push_back(frame.name + ": " + problem);
    record.frames.push_back({host.image.pixels(), host.ledger.calls, host.ledger.counts()});
  }
  return record;
}

// `x87_control`: the floating-point state the host calls with.
animation_record stamp_in_dll(const std::vector<picture>& frames, const twin_machine& machine,
                              std::uint16_t x87_control) {
  foreign_plugin dll(machine.as_windows());
  dll.process.cpu.x87_control = x87_control;
  test_host host(frames[0].width, frames[0].height);
  set_up_host(host);
  const std::uint32_t component = dll.create_component();
  animation_record record =
      record_animation(host, frames, [&] { return dll.render_frame(component, host); });
  const call_outcome released = dll.call_slot(component, 2, call_convention::com_stdcall, {});
  if (!released.clean() || released.eax != 0)
    record.problems.push_back("last Release " + released.describe());
  for (const std::string& problem : host.reference_problems(false))
    record.problems.push_back(problem);
  if (host.image.books().reserved_not_zero != 0 || host.image.books().outside_accesses != 0)
    record.problems.push_back("pixel calls with a reserved argument or outside the image");
  for (const std::string& problem : dll.module.unload().problems)
    record.problems.push_back("at unload: " + problem);
  const auto ticks = dll.process.stub_calls().find("KERNEL32.dll!GetTickCount");
  record.clock_reads = ticks == dll.process.stub_calls().end() ? 0 : ticks->second;
  return record;
}

animation_record stamp_natively(const std::vector<picture>& frames, const twin_machine& machine) {
  plugin_module module(VELLOQ_MODULE_PATH);
  test_host host(frames[0].width, frames[0].height);
  set_up_host(host);
  void* created = nullptr;
  module.entry_points().create_interface(0, 0, &created, 0, 0);
  auto* component = static_cast<effector_interface*>(created);
  scoped_native_facts facts(machine.as_native());
  animation_record record = record_animation(host, frames, [&] {
    component->begin_render(&host.job, &host.application, 0);
    component->end_render(0);
    return std::string();
  });
  record.clock_reads = facts.clock_reads();
  static_cast<IUnknown*>(component)->Release();
  for (const std::string& problem : host.reference_problems(false))
    record.problems.push_back(problem);
  return record;
}

std::string first_difference(const std::vector<Bgra8>& a, const std::vector<Bgra8>& b,
                             std::int32_t width) {
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i].blue != b[i].blue || a[i].green != b[i].green || a[i].red != b[i].red ||
        a[i].alpha != b[i].alpha) {
      auto text = [](const Bgra8& p) {
        return "(" + std::to_string(p.blue) + "," + std::to_string(p.green) + "," +
               std::to_string(p.red) + "," + std::to_string(p.alpha) + ")";
      };
      return "pixel (" + std::to_string(i % static_cast<std::size_t>(width)) + ", " +
             std::to_string(i / static_cast<std::size_t>(width)) + "): DLL " + text(a[i]) +
             ", native " + text(b[i]);
    }
  }
  return a.size() == b.size() ? std::string() : "sizes differ";
}

// Both modules stamp `frames` on one component each; everything must
// agree. The DLL's record, for further checks.
animation_record expect_same_stamps(const std::vector<picture>& frames,
                                    const twin_machine& machine = twin_machine(),
                                    std::uint16_t x87_control = 0x027F) {
  const animation_record dll = stamp_in_dll(frames, machine, x87_control);
  const animation_record native = stamp_natively(frames, machine);
  EXPECT_TRUE(dll.problems.empty()) << ::testing::PrintToString(dll.problems);
  EXPECT_TRUE(native.problems.empty()) << ::testing::PrintToString(native.problems);
  EXPECT_EQ(dll.frames.size(), frames.size());
  EXPECT_EQ(native.frames.size(), frames.size());
  // Two ticks a frame each: the begin hook's and the total time's.
  EXPECT_EQ(dll.clock_reads, 2 * static_cast<std::int64_t>(frames.size()));
  EXPECT_EQ(native.clock_reads, 2 * static_cast<std::int64_t>(frames.size()));
  for (std::size_t i = 0; i < std::min(dll.frames.size(), native.frames.size()); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i + 1) + ", " + frames[i].name);
    EXPECT_EQ(dll.frames[i].calls, native.frames[i].calls);
    EXPECT_EQ(dll.frames[i].counts, native.frames[i].counts);
    EXPECT_EQ(first_difference(dll.frames[i].pixels, native.frames[i].pixels, frames[i].width), "");
  }
  return dll;
}

// Every picture holds the whole text block unless it says otherwise.
TEST(render, dark_and_bright_pictures) {
  expect_same_stamps({uniform("dark", 160, 180, Bgra8{12, 8, 4, 0})});
  expect_same_stamps({uniform("bright", 160, 180, Bgra8{250, 245, 240, 128})});
}

TEST(render, mid_grey_127_gives_white_text_and_128_black) {
  for (std::uint8_t grey : {127, 128}) {
    const picture p = uniform("grey " + std::to_string(grey), 96, 180, Bgra8{grey, grey, grey, 0});
    const animation_record dll = expect_same_stamps({p});
    // The contrast choice itself: fully covered glyph pixels take the text colour.
    ASSERT_EQ(dll.frames.size(), 1u);
    const std::vector<Bgra8>& pixels = dll.frames[0].pixels;
    const std::uint8_t text = grey == 127 ? 255 : 0;
    EXPECT_TRUE(std::any_of(pixels.begin(), pixels.end(),
                            [text](const Bgra8& px) { return px.red == text && px.green == text; }))
        << "no pixel in the text colour " << int{text};
  }
}

TEST(render, noise_a_single_pixel_and_a_block_above_the_top) {
  expect_same_stamps({noise("noise", 120, 180, 7)});
  expect_same_stamps({uniform("1x1", 1, 1, Bgra8{1, 2, 3, 4})});
  expect_same_stamps({noise("block above the top", 200, 60, 11)});
}

TEST(render, under_windows_xp_sp3_and_its_loader) {
  twin_machine xp;
  xp.version = windows_version::xp_sp3;
  expect_same_stamps({noise("noise", 120, 180, 13), uniform("1x1", 1, 1, Bgra8{5, 6, 7, 8})}, xp);
}

TEST(render, an_animation_on_one_component_with_a_wrapping_tick) {
  twin_machine machine;
  // Frame 2 starts just before the millisecond counter wraps and ends after.
  machine.ticks = {5000, 6250, 0xFFFFFF00u, 0x00000100u, 700, 1700};
  expect_same_stamps({uniform("dark", 96, 72, Bgra8{0, 0, 0, 255}), noise("noise", 96, 72, 3),
                      uniform("bright", 96, 72, Bgra8{255, 255, 255, 255})},
                     machine);
}

// A host may leave the x87 unit as it needs it, not as the plug-in does:
// Direct3D 9 sets single precision unless told otherwise, a bare FNINIT
// gives 64-bit precision, and a host may unmask the invalid-operation,
// division and overflow exceptions to catch its own faults (the mean of a
// block with no pixel inside the picture is 0/0). The stamp must not
// change, nor leave an exception pending for the host, and the host must
// get its control word back: every call checks both.
TEST(render, whatever_floating_point_state_the_host_calls_with) {
  const std::vector<picture> frames = {noise("noise", 120, 180, 5),
                                       uniform("1x1", 1, 1, Bgra8{9, 9, 9, 9})};
  for (std::uint16_t control : {std::uint16_t{0x007F}, std::uint16_t{0x037F}, std::uint16_t{0x0272},
                                std::uint16_t{0x0E7F}}) {
    SCOPED_TRACE("x87 control word " + std::to_string(control));
    for (const picture& frame : frames) expect_same_stamps({frame}, twin_machine(), control);
  }
}

}  // namespace
