#pragma once
// Owning handle for a memory_image. The image is reference-counted and
// deletes itself on its last Release, so the handle gives back the one
// reference it holds instead of deleting.

#include <cstdint>
#include <memory>

#include "refhost/pictures/memory_image.hpp"

struct host_image_releaser {
  void operator()(memory_image* image) const {
    if (image != nullptr)
      image->Release();
  }
};

using host_image_ptr = std::unique_ptr<memory_image, host_image_releaser>;

// A new image holding its creator's reference. Throws as memory_image does.
inline host_image_ptr make_host_image(std::int32_t width, std::int32_t height,
                                      Bgra8 fill = {0, 0, 0, 0}) {
  return host_image_ptr(new memory_image(width, height, fill));
}
