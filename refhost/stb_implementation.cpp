// The one translation unit that compiles stb's image reader and writer.
// Their functions are static here; the rest of the host reaches them only
// through stb_glue.

#include <string.h>

#include <vector>

#include "refhost/png_codec.hpp"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#endif

// stb copies zero bytes to a null buffer when a PNG's first IDAT chunk is
// empty, and C leaves memcpy with a null pointer undefined even for no bytes.
// Its copies go through this, which skips empty ones.
static void* stb_copy_bytes(void* to, const void* from, size_t count) {
  return count == 0 ? to : memcpy(to, from, count);
}
#define memcpy stb_copy_bytes

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#undef memcpy

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace stb_glue {

unsigned char* load_rgba(const unsigned char* data, int size, int* width, int* height) {
  int channels = 0;
  return stbi_load_from_memory(data, size, width, height, &channels, 4);
}

bool probe_size(const unsigned char* data, int size, int* width, int* height) {
  int channels = 0;
  return stbi_info_from_memory(data, size, width, height, &channels) != 0;
}

void free_pixels(unsigned char* pixels) {
  stbi_image_free(pixels);
}

const char* failure_reason() {
  const char* reason = stbi_failure_reason();
  return reason != nullptr ? reason : "unknown error";
}

bool write_png(std::vector<unsigned char>& out, int width, int height, const unsigned char* rgba) {
  const auto append = [](void* context, void* bytes, int count) {
    auto* sink = static_cast<std::vector<unsigned char>*>(context);
    const auto* first = static_cast<const unsigned char*>(bytes);
    sink->insert(sink->end(), first, first + count);
  };
  return stbi_write_png_to_func(append, &out, width, height, 4, rgba, width * 4) != 0;
}

}  // namespace stb_glue
