#pragma once
// Whether a picture file is all there, told without decoding it where the
// format allows: what --skip-existing counts as a frame done. A picture cut
// short (a copy or a disk that failed, a tool that stopped) or empty is not.

#include <string>

#include "refhost/pictures/picture_header.hpp"

struct picture_completeness {
  enum { whole, cut_short, unreadable } state = unreadable;
  picture_size size;  // when whole
};

// Whole: a PNG whose header chunk is sound and whose last twelve bytes are
// the IEND chunk, which only a whole PNG ends with; an uncompressed TGA
// whose bytes reach the end of its pixels; any other picture that decodes.
// Cut short: an empty file, a PNG, TGA or JPEG whose end is missing (a
// JPEG without its end-of-image marker, run-length TGA data that stop
// short). Unreadable: anything else (a file velloq-host does not read, one
// it cannot open).
picture_completeness check_picture_whole(const std::string& path);
