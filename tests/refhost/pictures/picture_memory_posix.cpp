#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "refhost/pictures/png_codec.hpp"
#include "tests/support/codec_test_support.hpp"
#include "tests/support/png_builder.hpp"

namespace {

constexpr std::uint32_t side = 4096;
constexpr std::size_t picture_bytes = std::size_t{side} * side * 4;

std::size_t address_space_in_use() {
  unsigned long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr || std::fscanf(statm, "%lu", &pages) != 1)
    pages = 0;
  if (statm != nullptr)
    std::fclose(statm);
  return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Runs `work` in a child process whose address space may grow by the
// picture and 30 % more; true when it finished within that.
bool within_a_picture_and_a_third(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = address_space_in_use() + picture_bytes * 13 / 10;
    setrlimit(RLIMIT_AS, &limit);
    try {
      work();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// A decoder that inflates the whole image data before un-filtering it, or an
// encoder that converts the picture before compressing it, holds a second
// picture's worth: neither fits.
TEST(picture_memory, DecodingAndWritingCostThePictureAndLittleMore) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than any limit allows";
#endif
  const png_layout layout{side, side, 8, 6, false};
  const bytes png = build_png(layout, {}, zlib_zero_bomb(std::uint64_t{side} * (1 + side * 4)));
  bytes tga(18 + std::size_t{side} * side * 3, 0);  // 24-bit: converted row by row
  tga[2] = 2;
  tga[13] = tga[15] = side >> 8;
  tga[16] = 24;
  const auto count_bytes = [](std::size_t& total) {
    return [&total](const unsigned char*, std::size_t size) { total += size; };
  };
  EXPECT_TRUE(within_a_picture_and_a_third([&] {
    const host_image_ptr image = decode_png(png.data(), png.size());
    std::size_t written = 0;
    write_png(*image, count_bytes(written));
    if (image->at(side - 1, side - 1).alpha != 0 || written == 0)
      _exit(2);
  }));
  EXPECT_TRUE(within_a_picture_and_a_third([&] {
    const host_image_ptr image = decode_tga(tga.data(), tga.size());
    std::size_t written = 0;
    write_tga(*image, count_bytes(written));
    if (image->at(0, 0).alpha != 255 || written < picture_bytes)
      _exit(2);
  }));
}
