#pragma once
// Helpers shared by the codec tests: small pictures to encode, comparison,
// and a scratch folder that is removed afterwards.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "refhost/pictures/tga_codec.hpp"

using bytes = std::vector<unsigned char>;
using decoder = host_image_ptr (*)(const unsigned char*, std::size_t);

// Decodes the first `length` bytes from a buffer of exactly that length,
// so that a read beyond it is caught by the sanitizer build.
inline host_image_ptr decode_exact(decoder decode, const bytes& data, std::size_t length) {
  const std::unique_ptr<unsigned char[]> copy(new unsigned char[length == 0 ? 1 : length]);
  if (length != 0)
    std::memcpy(copy.get(), data.data(), length);
  return decode(copy.get(), length);
}

// The decoder's message for the data, or "(accepted)".
inline std::string rejection(decoder decode, const bytes& data) {
  try {
    decode_exact(decode, data, data.size());
  } catch (const image_format_error& error) {
    return error.what();
  }
  return "(accepted)";
}

inline bool same_pixel(const Bgra8& a, const Bgra8& b) {
  return a.blue == b.blue && a.green == b.green && a.red == b.red && a.alpha == b.alpha;
}

// Every channel differs between pixels and between channels, so a swap of
// channels, rows or columns shows.
inline host_image_ptr make_test_picture(std::int32_t width, std::int32_t height) {
  host_image_ptr image = make_host_image(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const int n = y * width + x;
      image->at(x, y) =
          Bgra8{static_cast<std::uint8_t>(n * 7 + 1), static_cast<std::uint8_t>(n * 7 + 2),
                static_cast<std::uint8_t>(n * 7 + 3), static_cast<std::uint8_t>(255 - n * 11)};
    }
  }
  return image;
}

inline ::testing::AssertionResult same_picture(const memory_image& expected,
                                               const memory_image& actual) {
  if (expected.width() != actual.width() || expected.height() != actual.height()) {
    return ::testing::AssertionFailure()
           << "size " << actual.width() << "x" << actual.height() << ", expected "
           << expected.width() << "x" << expected.height();
  }
  for (std::int32_t y = 0; y < expected.height(); ++y) {
    for (std::int32_t x = 0; x < expected.width(); ++x) {
      if (!same_pixel(expected.at(x, y), actual.at(x, y))) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class scratch_folder {
 public:
  scratch_folder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("velloq_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& item : std::filesystem::directory_iterator(path_)) {
      found.push_back(item.path().filename().string());
    }
    return found;
  }

 private:
  std::filesystem::path path_;
};
