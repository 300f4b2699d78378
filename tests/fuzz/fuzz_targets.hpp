#pragma once
// The bodies of the fuzz targets. Each takes arbitrary bytes, feeds them to
// one reader or to the burn-in, and aborts with a message naming the broken
// property when the result breaks what that code promises. libFuzzer's
// entry points and the regression test call the same functions, so every
// input kept under corpus/ and regressions/ replays exactly as the fuzzer ran
// it. All return 0.

#include <cstddef>
#include <cstdint>

// read_tga on the bytes; an accepted picture must match its header and
// survive encode_tga and decode_tga unchanged, plain and run-length encoded.
int fuzz_tga_reader(const std::uint8_t* data, std::size_t size);

// decode_png on the bytes; an accepted picture must have a sane size and
// survive encode_png and decode_png unchanged.
int fuzz_png_reader(const std::uint8_t* data, std::size_t size);

// The build's JPEG reader (libjpeg-turbo natively), and stb's, on the bytes;
// an accepted picture must agree with the file's markers (size, grey), be
// opaque, and read back at its size with its ICC profile once written.
int fuzz_jpeg_reader(const std::uint8_t* data, std::size_t size);
int fuzz_jpeg_reader_stb(const std::uint8_t* data, std::size_t size);

// parse_string_table on the bytes; an accepted table must have distinct ids
// and read back unchanged once written out again.
int fuzz_string_table(const std::uint8_t* data, std::size_t size);

// The bytes as a report burnt into a small picture by a component that has
// run its begin hook with the shipped atlas. The first six bytes choose the
// picture: width and height (each 0 to 64) and its blue, green, red and
// alpha; the rest, up to its first NUL, is the text. Every host call must
// stay inside the images, and their number and the pixels touched must be
// the ones the drawing rules give.
int fuzz_text_burn_in(const std::uint8_t* data, std::size_t size);
