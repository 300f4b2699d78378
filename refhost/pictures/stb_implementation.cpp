// The one translation unit that compiles stb's image reader and writer.
// Their functions are static here; the rest of the host reaches them only
// through stb_glue.

#include <string.h>
#include <zlib.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <vector>

#include "refhost/pictures/png_codec.hpp"

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

// Every block stb's reader takes goes through these, which count what it
// holds while a decode's budget is active, refuse what would pass it, and
// tell that refusal apart from the system running out of memory. A block
// carries its size in front of it, as free() needs to know what goes.
namespace {

struct allocation_budget {
  size_t limit = 0;
  size_t held = 0;
  bool exceeded = false;
  bool failed = false;
};

thread_local allocation_budget* active_budget = nullptr;

constexpr size_t block_header = alignof(std::max_align_t) > sizeof(size_t)
                                    ? alignof(std::max_align_t)
                                    : sizeof(size_t);

unsigned char* block_start(void* block) {
  return block == nullptr ? nullptr : static_cast<unsigned char*>(block) - block_header;
}

size_t block_size(void* block) {
  size_t size = 0;
  if (block != nullptr)
    memcpy(&size, block_start(block), sizeof size);
  return size;
}

void* budget_realloc(void* block, size_t size) {
  const size_t old_size = block_size(block);
  allocation_budget* budget = active_budget;
  if (budget != nullptr) {
    const size_t others = budget->held - (old_size < budget->held ? old_size : budget->held);
    if (size > budget->limit || others > budget->limit - size) {
      budget->exceeded = true;
      return nullptr;
    }
  }
  if (size > SIZE_MAX - block_header)
    return nullptr;
  auto* grown = static_cast<unsigned char*>(std::realloc(block_start(block), size + block_header));
  if (grown == nullptr) {
    if (budget != nullptr)
      budget->failed = true;
    return nullptr;
  }
  memcpy(grown, &size, sizeof size);
  if (budget != nullptr)
    budget->held = budget->held - (old_size < budget->held ? old_size : budget->held) + size;
  return grown + block_header;
}

void* budget_malloc(size_t size) {
  return budget_realloc(nullptr, size);
}

void budget_free(void* block) {
  if (block == nullptr)
    return;
  if (allocation_budget* budget = active_budget) {
    const size_t size = block_size(block);
    budget->held -= size < budget->held ? size : budget->held;
  }
  std::free(block_start(block));
}

}  // namespace

#define STBI_MALLOC(size) budget_malloc(size)
#define STBI_REALLOC(block, size) budget_realloc(block, size)
#define STBI_FREE(block) budget_free(block)

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>

// stb's writer deflates and checksums with zlib, which is several times
// faster than its own deflate for files of the same size or smaller. The
// result goes back to stb, which frees it with free(). The level is the
// caller's, per thread: stb's own level is one variable for all threads.
namespace {

thread_local int deflate_level = Z_DEFAULT_COMPRESSION;

unsigned char* zlib_deflate(const unsigned char* data, int size, int* compressed_size) {
  const int level = deflate_level;
  uLongf room = compressBound(static_cast<uLong>(size));
  auto* out = static_cast<unsigned char*>(std::malloc(room));
  if (out == nullptr)
    return nullptr;
  if (compress2(out, &room, data, static_cast<uLong>(size), level) != Z_OK || room > INT_MAX) {
    std::free(out);
    return nullptr;
  }
  *compressed_size = static_cast<int>(room);
  return out;
}

}  // namespace

#define STBIW_ZLIB_COMPRESS(data, size, compressed_size, stb_level) \
  zlib_deflate(data, size, compressed_size)
#define STBIW_CRC32(data, size) static_cast<unsigned int>(crc32(0, data, static_cast<uInt>(size)))

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#undef memcpy

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace stb_glue {

load_outcome load_rgba(const unsigned char* data, int size, size_t memory_budget) {
  allocation_budget budget;
  budget.limit = memory_budget;
  active_budget = &budget;
  load_outcome outcome;
  int channels = 0;
  outcome.rgba = stbi_load_from_memory(data, size, &outcome.width, &outcome.height, &channels, 4);
  active_budget = nullptr;
  outcome.over_budget = budget.exceeded;
  outcome.out_of_memory = budget.failed;
  return outcome;
}

void free_pixels(unsigned char* pixels) {
  stbi_image_free(pixels);
}

const char* failure_reason() {
  const char* reason = stbi_failure_reason();
  return reason != nullptr ? reason : "the decoder failed without saying why";
}

void set_png_filter(int filter) {
  stbi_write_force_png_filter = filter;
}

// Before main, so before any thread encodes.
const bool png_filter_chosen = (set_png_filter(png_row_filter), true);

bool write_png(const byte_sink& sink, int width, int height, const unsigned char* rgba, int level) {
  int size = 0;
  deflate_level = level;
  unsigned char* png = stbi_write_png_to_mem(rgba, width * 4, width, height, 4, &size);
  if (png == nullptr)
    return false;
  // The sink may throw (a full disk); the buffer goes back to stb first.
  std::exception_ptr failure;
  try {
    sink(png, static_cast<std::size_t>(size));
  } catch (...) {
    failure = std::current_exception();
  }
  STBIW_FREE(png);
  if (failure)
    std::rethrow_exception(failure);
  return true;
}

}  // namespace stb_glue
