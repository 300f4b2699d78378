#pragma once
// What a run will do, worked out from its options before anything is
// loaded or written: the formats, and every frame with its output paths.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "refhost/pictures/picture_formats.hpp"
#include "refhost/pipeline/frame_stamping.hpp"
#include "refhost/run/command_line.hpp"
#include "refhost/run/input_list.hpp"
#include "refhost/run/output_plan.hpp"

// Those --format names, or the one an output file name's extension names.
// Throws usage_error when they disagree, and for a --jpeg-quality that no
// JPEG output would use.
std::vector<const picture_format*> chosen_formats(const host_command& command,
                                                  const output_naming& naming);

// Every frame, in order, with one output path per format. Throws
// usage_error when two frames would be written to one path or one output
// file name is given for many frames, and file_error for a folder of
// inputs that holds no picture.
std::vector<frame_task> plan_frames(const host_command& command, const output_naming& naming,
                                    const std::vector<const picture_format*>& formats);
// The same from inputs listed already.
std::vector<frame_task> plan_frames(const host_command& command, const output_naming& naming,
                                    const std::vector<const picture_format*>& formats,
                                    const input_listing& inputs);

// Throws usage_error when an output would replace any input of the run
// (its own, or another frame's: a numbered --out over the inputs' names),
// told apart by the files they are, not by their names.
void check_inputs_kept(const std::vector<frame_task>& tasks);

// How many frames fit in memory at once: each worker holds about its
// picture and a third more (decoding and encoding), the buffers it keeps
// for PNG frames read and written whole, and a few MiB of its own. A
// picture takes `bytes_per_pixel` (picture_size's): 4 for its 8-bit view,
// and a 16-bit PNG's samples beside it, 2 to 8 more, so that it counts
// about double or more. At most `wanted`, at least 1; `wanted` when
// `available` is unknown (0).
std::size_t workers_that_fit(std::size_t wanted, std::uint64_t largest_pixels,
                             std::uint64_t available, unsigned bytes_per_pixel = 4);

// The memory one worker needs for a picture of `pixels`.
std::uint64_t worker_memory(std::uint64_t pixels, unsigned bytes_per_pixel = 4);
