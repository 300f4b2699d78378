#include <libdeflate.h>

#include <memory>
#include <new>

#include "refhost/pictures/png/whole_frame_deflate.hpp"
#include "refhost/pictures/png_codec.hpp"

// Filtered rows of up to 32 MiB: a 3840x2160 frame with alpha fits.
const std::size_t png_whole_frame_limit = std::size_t{32} << 20;

namespace {

struct compressor_freer {
  void operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
  }
};
struct decompressor_freer {
  void operator()(libdeflate_decompressor* decompressor) const {
    libdeflate_free_decompressor(decompressor);
  }
};

// Each thread keeps the compressor of the level it used last: a worker
// uses one level frame after frame, and making one costs its tables.
libdeflate_compressor* compressor_for(int level) {
  thread_local std::unique_ptr<libdeflate_compressor, compressor_freer> kept;
  thread_local int kept_level = 0;
  if (!kept || kept_level != level) {
    kept.reset(libdeflate_alloc_compressor(level));
    kept_level = level;
    if (!kept)
      throw std::bad_alloc();
  }
  return kept.get();
}

}  // namespace

std::size_t whole_deflate_bound(std::size_t size) {
  return libdeflate_zlib_compress_bound(nullptr, size);
}

std::size_t whole_deflate(const unsigned char* data, std::size_t size, int level, bool textured,
                          unsigned char* out, std::size_t capacity) {
  // libdeflate's level 1 is what zlib's run-length coding is to zlib on
  // such data: as small, and its fastest.
  return libdeflate_zlib_compress(compressor_for(textured ? 1 : level), data, size, out, capacity);
}

long long whole_inflate(const unsigned char* data, std::size_t size, unsigned char* out,
                        std::size_t capacity) {
  thread_local std::unique_ptr<libdeflate_decompressor, decompressor_freer> decompressor(
      libdeflate_alloc_decompressor());
  if (!decompressor)
    throw std::bad_alloc();
  std::size_t produced = 0;
  if (libdeflate_zlib_decompress(decompressor.get(), data, size, out, capacity, &produced) !=
      LIBDEFLATE_SUCCESS)
    return -1;
  return static_cast<long long>(produced);
}
