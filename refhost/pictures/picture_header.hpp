#pragma once
// A picture file's size as its header gives it, read without decoding: what
// a run needs to know how many frames fit in memory at once.

#include <cstdint>
#include <optional>
#include <string>

struct picture_size {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The width and height a PNG's IHDR or a TGA's header declares; nothing
// when the file cannot be read or begins as neither.
std::optional<picture_size> read_picture_size(const std::string& path);
