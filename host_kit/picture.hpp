#pragma once
// A picture held in memory as rows of Bgra8, top row first: the HostImage of
// every host here. Pixel access is bounds-checked and touches nothing else:
// no allocation, no lock. A read outside the picture leaves the buffer as it
// was; a write there is dropped. With books, each pixel call is recorded and
// one outside the picture noted; the picture may then also claim a size it
// does not hold, as a hostile host's might.
// The plug-in's pixel calls come from inside its hooks on the thread that
// drives the component, while a host may read the picture from other cores:
// [when: per render; thread: render; re-entrant: no]

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_image.hpp"
#include "host_kit/host_object_base.hpp"

namespace host_kit {

template <class Policy>
class picture final : public host_object_base<HostImage, Policy> {
 public:
  using pixel_vector = std::vector<Bgra8, typename Policy::pixel_allocator>;

  // Pictures larger than this are refused rather than allocated.
  static constexpr std::int64_t max_pixels = std::int64_t{1} << 28;

  // Throws std::invalid_argument for a negative size and std::length_error
  // for one beyond max_pixels.
  picture(std::int32_t width, std::int32_t height, Bgra8 fill = {0, 0, 0, 0})
      : width_(checked_extent(width, height)),
        height_(height),
        pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
    // The pixels come zero; only another fill is written.
    const std::uint32_t zero = 0;
    if (std::memcmp(&fill, &zero, sizeof fill) != 0)
      std::fill(pixels_.begin(), pixels_.end(), fill);
  }

  // [when: per render; thread: render; re-entrant: no]
  void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t reserved) override {
    if constexpr (Policy::keeps_books) {
      count_reserved(reserved);
      this->note(call::get_size);
      *size = answered_size();
      return;
    }
    size->width = width_;
    size->height = height_;
  }
  // [when: per render; thread: render; re-entrant: no]
  void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                 std::int32_t reserved) override {
    if constexpr (Policy::keeps_books) {
      if (!recorded_access(call::get_pixel, x, y, reserved))
        return;
    }
    if (inside(x, y))
      *pixel = pixels_[index(x, y)];
  }
  // [when: per render; thread: render; re-entrant: no]
  void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                 std::int32_t reserved) override {
    if constexpr (Policy::keeps_books) {
      if (!recorded_access(call::set_pixel, x, y, reserved))
        return;
    }
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
  bool inside(std::int32_t x, std::int32_t y) const {
    // One unsigned comparison per axis also rejects negative coordinates.
    return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(width_) &&
           static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height_);
  }

  // With books: the size get_size answers instead of the one held; pixel
  // calls are judged against it, and reach pixels only where both hold.
  void claim_size(ImageSize size) {
    static_assert(Policy::keeps_books, "only a picture with books claims another size");
    answered_ = size;
  }
  ImageSize answered_size() const { return answered_; }

 private:
  static std::int32_t checked_extent(std::int32_t width, std::int32_t height) {
    if (width < 0 || height < 0) {
      throw std::invalid_argument("image size " + std::to_string(width) + "x" +
                                  std::to_string(height) + " is negative");
    }
    if (std::int64_t{width} * height > max_pixels) {
      throw std::length_error("image size " + std::to_string(width) + "x" + std::to_string(height) +
                              " is larger than the host supports");
    }
    return width;
  }
  std::size_t index(std::int32_t x, std::int32_t y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }
  void count_reserved(std::int32_t reserved) {
    if (reserved != 0)
      ++this->books().reserved_not_zero;
  }
  // Records a pixel call; false when it falls outside the answered size.
  bool recorded_access(call c, std::int32_t x, std::int32_t y, std::int32_t reserved) {
    count_reserved(reserved);
    this->note(c, x, y);
    const ImageSize& size = answered_;
    if (x >= 0 && y >= 0 && x < size.width && y < size.height)
      return true;
    object_books& books = this->books();
    if (books.outside_accesses++ == 0)
      books.first_outside = std::string(facts_of(c).name) + "(" + std::to_string(x) + ", " +
                            std::to_string(y) + ") on " + books.name + " of " +
                            std::to_string(size.width) + "x" + std::to_string(size.height);
    return false;
  }

  std::int32_t width_;
  std::int32_t height_;
  pixel_vector pixels_;
  ImageSize answered_{width_, height_};
};

}  // namespace host_kit

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "set_pixel assembles a pixel's bytes into a little-endian word");
