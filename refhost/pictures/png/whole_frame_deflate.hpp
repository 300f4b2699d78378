#pragma once
// A frame's whole zlib stream made or read in one call, for frames whose
// filtered rows fit in png_whole_frame_limit bytes. The native build does
// it with libdeflate, which makes the built-in scene's stream about 1.6
// times as fast as zlib at the same level, within 3 % of its size, and
// inflates it 3 times as fast; but libdeflate takes only whole buffers and
// cannot continue a stream, so larger frames (whose rows are never held at
// once) stay with zlib's streams. The Windows build links zlib alone: it
// does the same with zlib, which is no faster that way, so it takes this
// way only when asked to.

#include <cstddef>

// The most `size` bytes compress to.
std::size_t whole_deflate_bound(std::size_t size);

// `data` as one zlib stream into `out`, which holds whole_deflate_bound
// bytes; returns the stream's size. `textured` data (noise, photographs)
// is compressed for speed, as the streams of blocks do (zlib's run-length
// strategy at level 1), the rest at `level`. Throws std::bad_alloc when no
// memory is left for the compressor.
std::size_t whole_deflate(const unsigned char* data, std::size_t size, int level, bool textured,
                          unsigned char* out, std::size_t capacity);

// Inflates the zlib stream `data` into `out`: the bytes it gave, or -1
// when the stream is corrupt, cut short or inflates past `capacity`. Only
// the streaming inflater says which; the caller asks it then.
long long whole_inflate(const unsigned char* data, std::size_t size, unsigned char* out,
                        std::size_t capacity);
