#pragma once
// --skip-existing: which frames a run takes as done and leaves out. A
// frame is done when every picture of it is there and reads whole
// (check_picture_whole), all of one size; a farm's chunk run again after a
// kill or a full disk then stamps exactly what is not done.

#include <string>
#include <vector>

#include "refhost/pipeline/frame_stamping.hpp"

struct existing_frames {
  std::size_t skipped = 0;
  // Pictures there but cut short or empty, which their frames, stamped
  // again, replace without --overwrite: nothing of them can be read.
  std::vector<std::string> cut_short;
};

// Whether every picture of `task` is there, whole and all of one size; the
// ones there but cut short or empty are added to `cut_short`.
bool frame_done(const frame_task& task, std::vector<std::string>& cut_short);

// Leaves the frames that are done out of `tasks`, and marks the others
// that replace pictures cut short.
existing_frames skip_existing_frames(std::vector<frame_task>& tasks);
