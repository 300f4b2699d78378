#include <zlib.h>

#include <new>

#include "refhost/pictures/png/whole_frame_deflate.hpp"
#include "refhost/pictures/png_codec.hpp"

// zlib gains nothing from whole frames, and its blocks let idle cores share
// a frame: whole frames only when asked.
const std::size_t png_whole_frame_limit = 0;

namespace {

// The whole input and output: one call does the work.
void span_whole(z_stream& stream, const unsigned char* data, std::size_t size, unsigned char* out,
                std::size_t capacity) {
  stream.next_in = const_cast<unsigned char*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out;
  stream.avail_out = static_cast<uInt>(capacity);
}

}  // namespace

std::size_t whole_deflate_bound(std::size_t size) {
  return compressBound(static_cast<uLong>(size));
}

std::size_t whole_deflate(const unsigned char* data, std::size_t size, int level, bool textured,
                          unsigned char* out, std::size_t capacity) {
  z_stream stream{};
  if (deflateInit2(&stream, textured ? 1 : level, Z_DEFLATED, 15, 8,
                   textured ? Z_RLE : Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::bad_alloc();
  span_whole(stream, data, size, out, capacity);
  const int result = deflate(&stream, Z_FINISH);
  const std::size_t produced = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END)  // the bound holds; only memory can fail
    throw std::bad_alloc();
  return produced;
}

long long whole_inflate(const unsigned char* data, std::size_t size, unsigned char* out,
                        std::size_t capacity) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK)
    throw std::bad_alloc();
  span_whole(stream, data, size, out, capacity);
  const int result = inflate(&stream, Z_FINISH);
  const std::size_t produced = stream.total_out;
  inflateEnd(&stream);
  if (result == Z_MEM_ERROR)
    throw std::bad_alloc();
  return result == Z_STREAM_END ? static_cast<long long>(produced) : -1;
}
