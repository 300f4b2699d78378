// Loading the DLL as Windows does: a missing file is a clear failure, and
// the image moved to another base stamps byte for byte as at its own
// (what the process keeps after repeated loads is velloq-validate's
// residue checks').

#include <gtest/gtest.h>

#include <cstring>

#include "tests/emulated_windows/foreign_plugin.hpp"

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
  return host.image.pixels();
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

}  // namespace
