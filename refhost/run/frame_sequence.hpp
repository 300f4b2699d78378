#pragma once
// Numbered picture sequences as pipelines name them: "render.%04d.png",
// "render.####.png" or "render.#.png" stand for render.0001.png,
// render.0002.png, ... over a list of frames.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The frames of a run, in the order they were given.
struct frame_list {
  std::vector<std::int32_t> frames;
  std::int64_t count() const { return static_cast<std::int64_t>(frames.size()); }
};

// Comma-separated parts, each a frame "N", frames "FIRST-LAST", or every
// STEP-th frame of them "FIRST-LASTxSTEP" (1-100x5 is 1, 6, ..., 96):
// "1-100x5,120,200-210". Numbers 0 and up, FIRST at most LAST, no frame
// twice, at most `max_count` frames. Throws usage_error naming --range.
frame_list parse_frame_list(const std::string& text, std::int64_t max_count);

// "4-100000", "4, 7-9 and 12": frame numbers, sorted, told as ranges (the
// first six, and how many more).
std::string frames_text(const std::vector<std::int32_t>& sorted_frames);

// A file name with one frame number in it, written
//   as printf writes an int: "%d", or "%0Nd" for at least N digits with
//   leading zeros (N from 1 to 9);
//   as '#' and '@' padding: one '#' is four digits at least, a run of
//   '#'s (two or more) or of '@'s one digit each.
// "%%", "%#" and "%@" are a '%', '#' and '@' of the name, in every path of
// --input and --out alike; a '%' that begins nothing printf knows
// ("100%.png") is one too, and so are '#' and '@' outside the file name.
class frame_pattern {
 public:
  // The pattern in `path`, or nothing when `path` holds no frame number.
  // Throws usage_error for a '%' that looks like a number printf would
  // write but is none of these ("%5d", "%s"), for two frame numbers, and
  // for a printf frame number outside the file name (a folder per frame
  // would give every output the same name).
  static std::optional<frame_pattern> find(const std::string& path);

  std::string path_for(std::int32_t frame) const;
  // The path as given, for messages.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::string before_;
  std::string after_;
  int width_ = 0;
};

// The file a path without a frame number names: each "%%", "%#" and "%@"
// the character after the '%'.
std::string literal_path(const std::string& path);
