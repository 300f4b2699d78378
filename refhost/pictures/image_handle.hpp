#pragma once
// Owning handle for a memory_image: the one reference its holder has,
// given back by Release (the last one deletes the picture).

#include <cstdint>

#include "host/owned_ref.hpp"
#include "refhost/pictures/memory_image.hpp"

using host_image_ptr = owned_ref<memory_image>;

// A new image holding its creator's reference. Throws as memory_image does.
inline host_image_ptr make_host_image(std::int32_t width, std::int32_t height,
                                      Bgra8 fill = {0, 0, 0, 0}) {
  return host_image_ptr(new memory_image(width, height, fill));
}
