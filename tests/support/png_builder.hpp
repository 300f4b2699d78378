#pragma once
// PNG files built chunk by chunk, for tests that need what no encoder
// writes: short palettes, interlacing, every depth, decompression bombs.
// Lengths, CRCs and Adler checksums are all correct.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using png_bytes = std::vector<unsigned char>;

struct png_layout {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  unsigned depth = 8;
  unsigned colour_type = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
  bool interlaced = false;
};

// Samples per pixel of a colour type.
unsigned png_channels(unsigned colour_type);

// The filtered rows of a picture whose samples `sample(x, y, channel)`
// gives, packed at the layout's depth; the seven passes one after the other
// when interlaced. Filter type 0 throughout, or with `every_filter` the
// five types in turn, row by row.
using png_sample_source =
    std::function<unsigned(std::uint32_t x, std::uint32_t y, unsigned channel)>;
png_bytes png_filtered_rows(const png_layout& layout, const png_sample_source& sample,
                            bool every_filter = false);

// A zlib stream holding `data` in stored (uncompressed) blocks.
png_bytes zlib_stored(const png_bytes& data);

// A zlib stream that inflates to `zero_bytes` zeros (at least 1): a literal
// and then matches of 258 bytes at distance 1 in fixed Huffman codes, about
// 160 times smaller than what it inflates to.
png_bytes zlib_zero_bomb(std::uint64_t zero_bytes);

using png_chunk_list = std::vector<std::pair<std::string, png_bytes>>;

// Signature, IHDR, the given chunks, IDAT holding `zlib_stream`, the chunks
// after it, IEND.
png_bytes build_png(const png_layout& layout, const png_chunk_list& chunks_before_data,
                    const png_bytes& zlib_stream, const png_chunk_list& chunks_after_data = {});

// Every chunk of a PNG file after the signature, type and data, in order.
png_chunk_list chunks_of(const png_bytes& png);
