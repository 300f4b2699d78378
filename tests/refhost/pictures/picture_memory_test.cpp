#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "refhost/pictures/image_handle.hpp"

// A thread reuses the memory of the last picture it let go of for the next
// of the same size: what the last one held must not show through.
TEST(picture_memory, AReusedPictureStartsAsANewOne) {
  const Bgra8* first_pixels = nullptr;
  {
    const host_image_ptr first = make_host_image(1024, 1024, Bgra8{1, 2, 3, 4});
    first_pixels = first->pixels().data();
  }
  const host_image_ptr second = make_host_image(1024, 1024);
  ASSERT_EQ(second->pixels().data(), first_pixels);  // the case under test: memory reused
  EXPECT_TRUE(std::all_of(second->pixels().begin(), second->pixels().end(), [](const Bgra8& p) {
    const Bgra8 zero{0, 0, 0, 0};
    return std::memcmp(&p, &zero, sizeof p) == 0;
  }));
}
