#pragma once
// A picture owned by the host: the render output or an image resource.

#include <cstdint>

#include "host/host_object.hpp"
#include "host/types.hpp"

class HostImage : public host_object {
 public:
  // Writes width, then height, in pixels.
  virtual void VELLOQ_THISCALL get_size(ImageSize* size, std::int32_t reserved) = 0;
  // Writes pixel (x, y), origin top-left, into *pixel.
  virtual void VELLOQ_THISCALL get_pixel(std::int32_t x, std::int32_t y, Bgra8* pixel,
                                         std::int32_t reserved) = 0;
  // Replaces pixel (x, y) with *pixel.
  virtual void VELLOQ_THISCALL set_pixel(std::int32_t x, std::int32_t y, const Bgra8* pixel,
                                         std::int32_t reserved) = 0;

 protected:
  ~HostImage() = default;
};
