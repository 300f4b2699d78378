#pragma once
// A JPEG file's structure read from its markers alone, without decoding:
// its frame (size, components, kind), its ICC profile, and whether it runs
// to its end-of-image marker. A decoder that fills what a file cut short
// lacks with grey, as stb's does, is not handed such a file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct jpeg_structure {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  unsigned components = 0;  // 1 grey, 3 colour, 4 CMYK
  unsigned precision = 0;   // bits a sample
  bool progressive = false;
  // Why a decoder of baseline and progressive Huffman JPEG cannot read it:
  // lossless, hierarchical or arithmetic-coded frames; empty when it can.
  std::string unsupported;
  std::vector<unsigned char> icc_profile;  // its APP2 chunks joined in order
  bool icc_damaged = false;                // chunks missing, repeated or out of count
  bool complete = false;                   // the end-of-image marker follows the last scan
  // What is wrong with a Huffman table (more than 256 codes, an unknown
  // class or slot, a segment that ends inside one); empty when none is.
  // stb's reader writes past its tables on such a file.
  std::string damaged_table;
};

// The structure as far as `size` bytes show it; with `until_frame`, only
// as far as the frame header, from the beginning of a file (components 0:
// none there). Throws image_format_error for what is no JPEG (no SOI
// marker, a segment past the end unless `until_frame`, a second frame
// header, no frame header before the first scan).
jpeg_structure read_jpeg_structure(const unsigned char* data, std::size_t size,
                                   bool until_frame = false);
