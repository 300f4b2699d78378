#pragma once
// What velloq-host says about a run of many frames: a progress line kept
// up to date on a terminal, and one summary line at the end.

#include <cstddef>
#include <string>

struct run_progress {
  std::size_t written = 0;  // frames written
  std::size_t failed = 0;
  std::size_t total = 0;
  double seconds = 0;  // since the first frame started
};

// "12 of 24 frames, 5.3 frames/s, 2 s left" (failures added when there
// are any; rate and time left once a frame is done and time has passed).
std::string progress_line(const run_progress& progress);

// "wrote 24 frames to out in 4.5 s, 5.3 frames/s", or with failures
// "wrote 22 of 24 frames to out in 4.5 s, 4.9 frames/s; 2 failed".
std::string summary_line(const run_progress& progress, const std::string& folder);
