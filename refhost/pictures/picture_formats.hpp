#pragma once
// The formats velloq-host reads and writes pictures in, each with what it
// can hold, so that a run checks every requested format before writing
// anything.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"

struct picture;

// Where an encoder puts its bytes, in order. It may throw (a full disk);
// the encoder then stops and lets the exception pass.
using byte_sink = std::function<void(const unsigned char* data, std::size_t size)>;

// Where a decoder takes its bytes from, in order: fills `target` with up to
// `size` bytes and says how many; fewer only at the end. It may throw.
using byte_source = std::function<std::size_t(unsigned char* target, std::size_t size)>;

// A source over bytes in memory, which must outlive it.
byte_source memory_source(const unsigned char* data, std::size_t size);

// What a run asks of its encoders.
struct encode_settings {
  int spare_threads = 0;  // more threads the encoder may start for this picture
  int jpeg_quality = 90;  // 1 to 100
};

struct picture_format {
  const char* name;             // "PNG"
  const char* extension;        // ".png", what its files are named
  const char* other_extension;  // ".jpeg": also taken for its files; or null
  // Why the format cannot hold a picture of this size; empty when it can.
  std::string (*size_limitation)(std::int32_t width, std::int32_t height);
  // Throws image_format_error, and what the sink throws.
  void (*write)(const picture& stamped, const byte_sink& sink, const encode_settings& settings);
};

extern const picture_format png_format;
extern const picture_format tga_format;
extern const picture_format jpeg_format;

// Every format, in the order a run writes them.
extern const picture_format* const picture_formats[3];

// The format a file name's extension names (in any case); null for others.
const picture_format* format_for_file_name(const std::string& file_name);
