#pragma once
// A component that has run its begin hook against a test host whose atlas
// the test chooses, so raster operations can be called one by one.

#include <gtest/gtest.h>

#include <vector>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

class raster_fixture : public ::testing::Test {
 protected:
  raster_fixture() {
    component = velloq_component::create();
    static_cast<IUnknown*>(component)->AddRef();
  }
  ~raster_fixture() override { static_cast<IUnknown*>(component)->Release(); }

  // Loads `atlas` (128 x 72 upright pixels) through the begin hook.
  void load_atlas(const std::vector<Bgra8>& atlas) {
    host.atlas_pixels = atlas;
    component->begin_render(&host.job, &host.application, 0);
    host.ledger.calls.clear();
    host.ledger.clear_counts();
  }
  void load_shipped_atlas() { load_atlas(shipped_atlas_pixels()); }

  // An atlas with no coverage anywhere.
  static std::vector<Bgra8> empty_atlas() {
    return std::vector<Bgra8>(128 * 72, Bgra8{0, 0, 0, 0});
  }
  // Sets the coverage of pixel (k, i) in the cell of character `ch`.
  static void set_coverage(std::vector<Bgra8>& atlas, char ch, int k, int i, std::uint8_t alpha) {
    const int n = static_cast<unsigned char>(ch) - 0x20;
    atlas[static_cast<std::size_t>((n / 16) * 12 + i) * 128 + (n % 16) * 8 + k].alpha = alpha;
  }

  fake_platform platform;
  test_host host{32, 32, Bgra8{0, 0, 0, 0}};
  velloq_component* component;
};

inline bool same_pixel(const Bgra8& a, const Bgra8& b) {
  return a.blue == b.blue && a.green == b.green && a.red == b.red && a.alpha == b.alpha;
}
