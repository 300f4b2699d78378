#pragma once
// What a picture file's first bytes say, read without decoding: its size,
// which a run needs to know how many frames fit in memory at once, and its
// format, so that a run refuses files it cannot read before it starts.

#include <cstdint>
#include <optional>
#include <string>

struct picture_size {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // What a pixel of it takes in memory while it is stamped: the 8-bit view
  // the plug-in draws into (4 bytes), and the 16-bit samples beside it of a
  // 16-bit PNG, or the coefficients a progressive JPEG is decoded through.
  unsigned bytes_per_pixel = 4;
};

// The width and height a PNG's IHDR, a JPEG's frame header or a TGA's
// header declares; nothing when the file cannot be read or begins as none
// of them.
std::optional<picture_size> read_picture_size(const std::string& path);

// The format a file that velloq-host does not read begins as ("TIFF",
// "OpenEXR", "CMYK JPEG", ...); empty for PNG, TGA and the JPEG it reads,
// for files it does not recognise (damaged ones: their frames fail on
// their own) and for files it cannot read.
std::string unread_format(const std::string& path);

// The format that a file name's extension names when velloq-host does not
// read it (".exr": "OpenEXR"); empty for others.
std::string unread_format_of_name(const std::string& file_name);

// "PNG, TGA and JPEG": what velloq-host reads, for messages.
extern const char* const formats_read;
