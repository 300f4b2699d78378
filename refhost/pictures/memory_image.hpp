#pragma once
// A picture held in memory as rows of Bgra8, top row first. Pixel access is
// bounds-checked and touches nothing else: no allocation, no lock. A read
// outside the picture leaves the buffer as it was; a write there is dropped.
// The plug-in's pixel calls come from inside its hooks on the worker that
// stamps the picture, while the encoders may read it from spare cores:
// [when: per frame; thread: its worker; re-entrant: no]

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/host_image.hpp"
#include "refhost/pictures/picture_memory.hpp"
#include "host_kit/host_object_base.hpp"

using pixel_vector = std::vector<Bgra8, picture_allocator<Bgra8>>;

class memory_image final : public ref_counted<HostImage> {
 public:
  // Throws std::invalid_argument for a negative size and std::length_error
  // for one beyond max_pixels.
  memory_image(std::int32_t width, std::int32_t height, Bgra8 fill = {0, 0, 0, 0});

  // Pictures larger than this are refused rather than allocated.
  static constexpr std::int64_t max_pixels = std::int64_t{1} << 28;

  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t) override {
    size->width = width_;
    size->height = height_;
  }
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t) override {
    if (inside(x, y))
      *pixel = pixels_[index(x, y)];
  }
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t) override {
    if (!inside(x, y))
      return;
    // Read byte by byte: a plug-in typically has just written one byte of
    // its pixel (the alpha) over the four get_pixel wrote, and a four-byte
    // read spanning both stores waits for them to reach the cache, where
    // single bytes are taken straight from the stores. Written as one word.
    const volatile auto* bytes = reinterpret_cast<const volatile std::uint8_t*>(pixel);
    const std::uint32_t value = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    std::memcpy(&pixels_[index(x, y)], &value, sizeof value);
  }

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  const Bgra8& at(std::int32_t x, std::int32_t y) const { return pixels_[index(x, y)]; }
  Bgra8& at(std::int32_t x, std::int32_t y) { return pixels_[index(x, y)]; }
  const pixel_vector& pixels() const { return pixels_; }
  pixel_vector& pixels() { return pixels_; }

 private:
  bool inside(std::int32_t x, std::int32_t y) const {
    // One unsigned comparison per axis also rejects negative coordinates.
    return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(width_) &&
           static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height_);
  }
  std::size_t index(std::int32_t x, std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }

  std::int32_t width_;
  std::int32_t height_;
  pixel_vector pixels_;
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "set_pixel assembles a pixel's bytes into a little-endian word");
