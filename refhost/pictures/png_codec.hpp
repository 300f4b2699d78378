#pragma once
// PNG files: read row by row straight into the host's picture, and written
// from its rows, both through zlib, so that a frame costs its picture and a
// few hundred kilobytes besides, whatever its size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/picture.hpp"
#include "refhost/pictures/picture_file.hpp"  // what most readers of PNG files call
#include "refhost/pictures/picture_formats.hpp"
#include "refhost/pictures/tga_codec.hpp"

// Any PNG (palette, grey, 16-bit and interlaced included), as Bgra8:
// 16-bit samples are kept as they are beside their 8-bit view (see
// deep_samples), fewer than 8 bits are scaled to 0-255, pictures without
// alpha get 255 (0 where tRNS names their colour). The ancillary chunks
// that stay true of a stamped picture are kept in its source, and bKGD as
// its background.
// Palette indices past the end of the palette give opaque black, as the
// reference PNG library gives them. Throws image_format_error saying what
// is wrong: pictures larger than memory_image::max_pixels, chunks whose
// checksum is wrong, compressed data that is corrupt or inflates to more
// than the header's size needs, data cut short.
//
// A frame whose rows inflate to at most `whole_frame_limit` bytes is
// inflated in one call once its data are read, larger ones a row at a time
// as the data come. Both give the same pixels and, for any stream zlib
// refuses, the same error: a stream libdeflate refuses goes through zlib's
// stream, which says what is wrong (libdeflate takes a few that zlib
// refuses, such as code lengths given for unused symbols).
// png_whole_frame_limit, the most bytes of filtered rows a frame may take
// to be compressed or inflated whole: 32 MiB where the build has libdeflate
// (the native one), which does it much faster than zlib; 0 where zlib
// would do it (Windows), which gains nothing that way and loses the cores
// that share a frame's blocks.
extern const std::size_t png_whole_frame_limit;
picture read_png(const byte_source& source, std::size_t whole_frame_limit = png_whole_frame_limit);
// Only the view.
host_image_ptr decode_png(const byte_source& source,
                          std::size_t whole_frame_limit = png_whole_frame_limit);
host_image_ptr decode_png(const unsigned char* data, std::size_t size);

// How write_png compresses its blocks of rows (bench/README.md has the
// measurements): flat ones, where at least `flat_share_256` 256ths of the
// pixels repeat their left neighbour, unfiltered at zlib's `flat_level`;
// the others with the average filter and zlib's run-length strategy.
// A frame whose filtered rows take at most `whole_frame_limit` bytes is
// compressed whole in one call, at `flat_level` when at least half its
// blocks are flat and for speed otherwise.
struct png_compression {
  int flat_level = 6;
  unsigned flat_share_256 = 64;
  std::size_t whole_frame_limit = png_whole_frame_limit;
};

// A PNG of the picture, handed to `sink` in pieces: RGB when every pixel
// is opaque (as the plug-in leaves them) and RGBA otherwise, grey instead
// while a grey file's picture is grey; 16-bit when the picture has 16-bit
// samples, 8-bit otherwise. The chunks its file had that stay true come
// back where they stood (tIME saying now), and its background colour; a
// JPEG's ICC profile as iCCP.
// Compressed whole or in blocks of rows that `spare_threads` more threads
// may share; the file is the same whatever their number. Throws
// image_format_error for a picture it cannot hold, and what the sink throws.
void write_png(const picture& stamped, const byte_sink& sink, int spare_threads = 0,
               const png_compression& choices = {});
// An 8-bit picture without anything of a file.
void write_png(const memory_image& image, const byte_sink& sink, int spare_threads = 0,
               const png_compression& choices = {});

// The same files in memory.
std::vector<unsigned char> encode_png(const picture& stamped, int spare_threads = 0);
std::vector<unsigned char> encode_png(const memory_image& image, int spare_threads = 0);

// Why a PNG cannot hold a picture of this size; empty when it can.
std::string png_size_limitation(std::int32_t width, std::int32_t height);

// Whether the bytes begin with the eight-byte PNG signature.
bool has_png_signature(const unsigned char* data, std::size_t size);

// PNG's chunks as the reader and writer see them.
inline constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
