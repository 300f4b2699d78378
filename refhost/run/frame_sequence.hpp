#pragma once
// Numbered picture sequences as pipelines name them: "render.%04d.png"
// stands for render.0001.png, render.0002.png, ... over a frame range.

#include <cstdint>
#include <optional>
#include <string>

// Frames first to last, both included.
struct frame_range {
  std::int32_t first = 1;
  std::int32_t last = 1;
  std::int64_t count() const { return std::int64_t{last} - first + 1; }
};

// "FIRST-LAST" (such as 1-24) or a single frame "N"; numbers 0 and up,
// FIRST at most LAST, at most `max_count` frames. Throws usage_error
// naming --range.
frame_range parse_frame_range(const std::string& text, std::int64_t max_count);

// A file name with one frame number in it, written as printf writes an
// int: "%d", or "%0Nd" for at least N digits with leading zeros (N from 1
// to 9). "%%" is a percent sign of the name, in every path of --input and
// --out alike; a '%' that begins nothing printf knows ("100%.png") is one
// too.
class frame_pattern {
 public:
  // The pattern in `path`, or nothing when `path` holds no frame number.
  // Throws usage_error for a '%' that looks like a number printf would
  // write but is none of these ("%5d", "%s"), for two frame numbers, and
  // for a frame number outside the file name (a folder per frame would
  // give every output the same name).
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

// The file a path without a frame number names: each "%%" a '%'.
std::string literal_path(const std::string& path);
