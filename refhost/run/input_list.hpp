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
  std::string sequence;  // the --input value of its numbered sequence; empty for others
};

struct input_listing {
  std::vector<input_picture> pictures;
  // What input folders hold under a picture's name but is no picture file
  // (a folder, a link to nothing, a FIFO), to be told, not passed over.
  std::vector<std::string> skipped;
};

// Each value in turn: an existing folder gives its PNG, TGA and JPEG files
// (by extension, in any case; hidden files left out), sorted by name, and
// names its pictures of other formats among the skipped (usage_error when
// it holds only such); a numbered pattern gives one path per frame of
// `range`, in its order; anything else is a
// picture's path ("%%" a '%'). Throws file_error for a folder that cannot
// be listed or holds no picture, usage_error for a malformed pattern.
input_listing list_inputs(const std::vector<std::string>& values,
                          const std::optional<frame_list>& range);

// Throws usage_error, naming the first and counting the others, when inputs
// are pictures of a format velloq-host does not read (TIFF, OpenEXR, CMYK
// JPEG, ...): refused before the first picture rather than frame by frame.
void check_input_formats(const std::vector<input_picture>& pictures);

// Throws file_error, in one message, when inputs are missing (a sequence's
// missing frames as ranges: "frames 4-100000 of r.%04d.png are missing"),
// are not regular files (a FIFO would stop the run, a device never end) or
// cannot be reached (a loop of links, a path too long).
void check_inputs_present(const std::vector<input_picture>& pictures);

// Whether a file name ends in a picture extension velloq-host reads (.png,
// .tga, .jpg, .jpeg, in any case).
bool has_picture_extension(const std::string& file_name);
