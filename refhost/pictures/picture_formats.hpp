#pragma once
// The formats velloq-host writes pictures in, each with what it can hold,
// so that a run checks every requested format before writing anything.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "refhost/pictures/image_handle.hpp"

// Where an encoder puts its bytes, in order. It may throw (a full disk);
// the encoder then stops and lets the exception pass.
using byte_sink = std::function<void(const unsigned char* data, std::size_t size)>;

// Where a decoder takes its bytes from, in order: fills `target` with up to
// `size` bytes and says how many; fewer only at the end. It may throw.
using byte_source = std::function<std::size_t(unsigned char* target, std::size_t size)>;

// A source over bytes in memory, which must outlive it.
byte_source memory_source(const unsigned char* data, std::size_t size);

struct picture_format {
  const char* name;       // "PNG"
  const char* extension;  // ".png"
  // Why the format cannot hold a picture of this size; empty when it can.
  std::string (*size_limitation)(std::int32_t width, std::int32_t height);
  // Throws image_format_error, and what the sink throws. The encoder may
  // start up to `spare_threads` threads of its own for this picture.
  void (*write)(const memory_image& image, const byte_sink& sink, int spare_threads);
};

extern const picture_format png_format;
extern const picture_format tga_format;

// The format a file name's extension names (in any case); null for others.
const picture_format* format_for_file_name(const std::string& file_name);
