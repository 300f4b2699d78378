#pragma once
// The pictures one run writes, named and checked before anything is
// rendered: a run stops before its first picture rather than halfway.

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/picture_formats.hpp"

// "<folder>/render_0001.png": frames count from 1, with four digits at least.
std::string frame_picture_path(const std::string& folder, std::int32_t frame_index,
                               const picture_format& format);

// Throws file_error for the first path where something exists, unless
// `overwrite`; with it, for the first that cannot be replaced: a folder, or
// a file nobody may write (read-only, as people protect a picture).
void check_outputs_free(const std::vector<std::string>& paths, bool overwrite);

// The names in `folder` that look like frames of a run (render_<digits>
// .png or .tga) but are not among `written_paths`: an earlier run's, which
// would pass for part of this sequence. Sorted.
std::vector<std::string> other_frame_pictures(const std::string& folder,
                                              const std::vector<std::string>& written_paths);
