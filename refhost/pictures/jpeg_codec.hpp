#pragma once
// JPEG files: baseline and progressive ones read with their ICC profile,
// baseline ones written at a chosen quality with the picture's profile.
// JPEG holds no alpha: a picture's colours are written as they are and its
// alpha is left out (the plug-in makes every pixel opaque, so this shows
// only in an aborted render of a transparent picture).
//
// The native build reads and writes through libjpeg-turbo, straight
// between the file and the picture's rows; the Windows build, for which
// Debian has no JPEG library, through stb's header-only reader and writer,
// which hold the file and a copy of the pixels beside the picture
// (bench/README.md compares the two). Both read every file the other
// writes; their pixels may differ by a step or two, as JPEG decoders do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "refhost/pictures/picture.hpp"
#include "refhost/pictures/picture_formats.hpp"

// Whether the bytes begin as every JPEG file does (FF D8 FF).
bool has_jpeg_signature(const unsigned char* data, std::size_t size);

// Grey files give grey pictures (and say so in the source), colour ones
// colour, every pixel opaque. Throws image_format_error saying what is
// wrong: pictures larger than memory_image::max_pixels, CMYK, lossless,
// hierarchical or 12-bit files, a damaged ICC profile, and data that are
// corrupt or cut short (never stamped as far as they go).
picture read_jpeg(const byte_source& source);
picture read_jpeg(const unsigned char* data, std::size_t size);

// Quality 1 to 100 as libjpeg scales it; above 90 the colour is kept at
// full resolution, at 90 and below it is halved each way. A grey file's
// picture that is still grey is written grey where the library can (not
// stb's writer); the picture's ICC profile (a JPEG's, or a PNG's iCCP)
// goes along. Throws image_format_error for a size JPEG cannot hold, and
// what the sink throws.
void write_jpeg(const picture& stamped, const byte_sink& sink, int quality);

// Why JPEG cannot hold a picture of this size; empty when it can.
std::string jpeg_size_limitation(std::int32_t width, std::int32_t height);

// Each library's own, for the tests and benchmarks that compare them.
picture read_jpeg_stb(const byte_source& source);
void write_jpeg_stb(const memory_image& view, bool grey,
                    const std::vector<unsigned char>& icc_profile, const byte_sink& sink,
                    int quality);
#if VELLOQ_HAS_LIBJPEG
picture read_jpeg_libjpeg(const byte_source& source);
void write_jpeg_libjpeg(const memory_image& view, bool grey,
                        const std::vector<unsigned char>& icc_profile, const byte_sink& sink,
                        int quality);
#endif
