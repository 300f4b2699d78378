#pragma once
// The pictures one run writes, named and checked before anything is
// rendered: a run stops before its first picture rather than halfway.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "refhost/pictures/picture_formats.hpp"
#include "refhost/run/frame_sequence.hpp"

// Where a run's pictures go, from --out: a folder, or, when the value ends
// in .png, .tga, .jpg or .jpeg and is no existing folder, a picture's file name in a
// folder, which may hold a frame number (shot.%04d.png). "%%" is a '%'.
struct output_naming {
  std::string folder;
  std::string file_name;                   // empty: --out named the folder
  std::optional<frame_pattern> pattern;    // the frame number in file_name
  const picture_format* format = nullptr;  // what file_name's extension names
};

// Throws usage_error for a malformed frame number, an existing file that
// is no picture, and a name that looks like another kind of file
// (result.jpg, seq.%04d, shot.%04d.exr), which would become a folder.
output_naming parse_output_naming(const std::string& out);

// One frame's picture in `format`: the --out file name (its frame number
// filled in with `number`); else an input's file name with the format's
// extension in place of its own; else, for the built-in scene (`input_path`
// empty), render_<number>.
std::string frame_output_path(const output_naming& naming, const std::string& input_path,
                              std::int32_t number, const picture_format& format);

// "<folder>/render_0001.png": frames count from 1, with four digits at least.
std::string frame_picture_path(const std::string& folder, std::int32_t frame_index,
                               const picture_format& format);

// What is under an output's name now, as a run would meet it: the name
// itself (a link there is replaced, never followed).
enum class output_state {
  absent,
  present,    // may be replaced with --overwrite
  read_only,  // a file nobody may write, as people protect a picture: kept
  folder,     // never replaced
};
output_state inspect_output(const std::string& path);

// Whether every output of the frame is there (--skip-existing leaves it out).
bool all_outputs_there(const std::vector<std::string>& outputs);

// Throws file_error, unless `overwrite`, when something exists under any
// of the paths that is not `replaceable`, saying how many do and what would
// let the run go on (--skip-existing, unless `skipping_existing` already,
// or -y); with either, for the first that cannot be replaced: a folder or a
// read-only file.
void check_outputs_free(const std::vector<std::string>& paths, bool overwrite,
                        bool skipping_existing = false,
                        const std::set<std::string>& replaceable = {});

// The message check_outputs_free gives for `there`, the outputs that exist.
std::string outputs_there_text(const std::vector<std::string>& there, bool skipping_existing);

// Throws usage_error for the first path the system could not write, with
// the hidden files beside it: a file name or a path too long for it.
void check_paths_fit(const std::vector<std::string>& paths);

// The names in `folder` that look like frames of a run (render_<digits>
// and a format's extension) but are not among `written_paths`: an earlier run's, which
// would pass for part of this sequence. Sorted.
std::vector<std::string> other_frame_pictures(const std::string& folder,
                                              const std::vector<std::string>& written_paths);
