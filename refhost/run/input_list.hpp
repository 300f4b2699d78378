#pragma once
// The pictures a run's --input values name, in the order they are stamped.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "refhost/run/frame_sequence.hpp"

struct input_picture {
  std::string path;
  // The frame number a numbered sequence gives it; other inputs count from
  // 1 in the order of the whole list.
  std::int32_t number = 1;
};

// Each value in turn: a numbered pattern gives one path per frame of
// `range` (whether or not the file is there: a missing frame fails alone,
// as an unreadable one does); a folder gives its PNG and TGA files (by
// extension, in any case; hidden files left out), sorted by name; anything
// else is a picture's path, read when its turn comes. Throws file_error for
// a folder that cannot be listed or holds no picture.
std::vector<input_picture> list_input_pictures(const std::vector<std::string>& values,
                                               const std::optional<frame_range>& range);

// Whether a file name ends in a picture extension velloq-host reads (.png,
// .tga, in any case).
bool has_picture_extension(const std::string& file_name);
