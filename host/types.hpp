#pragma once
// Plain data exchanged with the host, laid out exactly as the host lays it.

#include <cstddef>
#include <cstdint>

// One pixel, the only pixel form the host exchanges.
struct Bgra8 {
  std::uint8_t blue;
  std::uint8_t green;
  std::uint8_t red;
  std::uint8_t alpha;
};
static_assert(sizeof(Bgra8) == 4, "Bgra8 is four bytes");
static_assert(offsetof(Bgra8, blue) == 0 && offsetof(Bgra8, alpha) == 3, "Bgra8 byte order");

// Width and height of a HostImage, as get_size writes them.
struct ImageSize {
  std::int32_t width;
  std::int32_t height;
};
static_assert(sizeof(ImageSize) == 8, "ImageSize is two int32");
static_assert(offsetof(ImageSize, height) == 4, "ImageSize: width first");

// Four unsigned 32-bit words, in this order; not the GUID byte layout.
struct Uuid {
  std::uint32_t words[4];
};
static_assert(sizeof(Uuid) == 16, "Uuid is four words");

// A colour as three floats from 0 to 1.
struct ColorRgb {
  float red;
  float green;
  float blue;
};
static_assert(sizeof(ColorRgb) == 12, "ColorRgb is three floats");
static_assert(offsetof(ColorRgb, blue) == 8, "ColorRgb order red, green, blue");

// Image pixels, origin top-left, y downwards, right and bottom exclusive.
struct TextBlock {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};
static_assert(sizeof(TextBlock) == 16, "TextBlock is four int32");
static_assert(offsetof(TextBlock, bottom) == 12, "TextBlock order left, top, right, bottom");

// The one-byte class that the host's "empty result" operations return by
// value; on the wire that is a location the callee writes and returns.
struct empty_result {
  std::uint8_t value;
};
static_assert(sizeof(empty_result) == 1, "empty_result is one byte");
