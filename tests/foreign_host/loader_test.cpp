// Loading and unloading the DLL as Windows does: a missing file is a
// clear failure, the image works when moved, and a whole session leaves
// nothing behind that it could have cleaned up.

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "tests/foreign_host/foreign_plugin.hpp"

namespace {

TEST(loader, a_missing_dll_fails_naming_the_path) {
  try {
    foreign_plugin dll(windows_machine(), 0, "/nonexistent/Velloq.dll");
    FAIL() << "loaded a file that is not there";
  } catch (const load_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/Velloq.dll"), std::string::npos) << e.what();
  }
}

// Stamps `frames` pictures of 48 x 32 on one component; the last picture.
std::vector<Bgra8> stamp(foreign_plugin& dll, int frames) {
  test_host host(48, 32, Bgra8{90, 60, 30, 0});
  host.use_shipped_atlas();
  const std::uint32_t component = dll.create_component();
  EXPECT_NE(component, 0u);
  for (int i = 0; i < frames; ++i) EXPECT_EQ(dll.render_frame(component, host), "");
  const call_outcome released = dll.call_slot(component, 2, call_convention::com_stdcall, {});
  EXPECT_TRUE(released.clean() && released.eax == 0) << released.describe();
  EXPECT_TRUE(host.reference_problems(false).empty());
  return host.image.pixels;
}

TEST(loader, moved_to_another_base_through_its_relocations_it_stamps_the_same) {
  foreign_plugin at_base;
  foreign_plugin moved(windows_machine(), emulated_layout::relocated_base);
  ASSERT_NE(moved.module.base(), at_base.module.base());
  const std::vector<Bgra8> expected = stamp(at_base, 1), actual = stamp(moved, 1);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(std::memcmp(&actual[i], &expected[i], sizeof(Bgra8)), 0) << "pixel " << i;
  }
}

TEST(loader, a_session_leaves_nothing_behind_but_what_the_runtime_keeps) {
  // What load and unload alone leave, against a session of six renders.
  foreign_plugin idle;
  const loaded_module::unload_report after_nothing = idle.module.unload();
  foreign_plugin busy;
  stamp(busy, 3);
  stamp(busy, 3);
  const loaded_module::unload_report after_renders = busy.module.unload();

  EXPECT_TRUE(after_nothing.problems.empty()) << ::testing::PrintToString(after_nothing.problems);
  EXPECT_TRUE(after_renders.problems.empty()) << ::testing::PrintToString(after_renders.problems);
  // GCC's unwinder creates its registration lock (a semaphore) when the
  // module registers its frame tables at attach, and never destroys it.
  EXPECT_EQ(after_renders.handles_left_from_attach.size(), 1u);
  EXPECT_EQ(after_renders.handles_left_from_attach, after_nothing.handles_left_from_attach);

  // Heap blocks the runtime keeps for good (its emergency exception pool
  // and the like) are there after load and unload alone; renders add none.
  auto sizes = [](const loaded_module::unload_report& report) {
    std::vector<std::uint32_t> list;
    for (const auto& [address, size] : report.leaked_blocks) list.push_back(size);
    return list;
  };
  EXPECT_EQ(sizes(after_renders), sizes(after_nothing));
  std::cout << "[ info     ] kept at unload: " << ::testing::PrintToString(sizes(after_nothing))
            << " bytes in heap blocks, "
            << ::testing::PrintToString(after_nothing.handles_left_from_attach) << "\n";
}

}  // namespace
