#pragma once
// The files of one frame (its PNG and its TGA) given their names together:
// nobody, not even an interruption, sees some of them renamed and others
// not. Should one rename fail, the frame's files given their names already
// go again and whatever those names held before comes back. A run killed
// outright in between leaves a record (.render_0001.png.<random>
// .velloq-frame) from which the next run puts the names back as they were.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "refhost/files/output_file.hpp"

// Finishes every file and renames them all in one guarded step. Throws
// file_error as output_file::commit does, with the targets as they were.
// [when: per frame; thread: any worker; re-entrant: yes]
void commit_together(const std::vector<std::unique_ptr<output_file>>& files, replace_policy policy);

// Runs `work` while no other live run may write `paths`; false, without
// running it, when one may (output_claims::while_holding).
using path_holder =
    std::function<bool(const std::vector<std::string>& paths, const std::function<void()>& work)>;

// Puts back the frames in `folder` that runs killed outright left half
// renamed: what their names held before comes back, their new files go.
// Leaves the frames of live runs alone, as `hold` tells. Returns the
// frames' first names.
std::vector<std::string> recover_interrupted_frames(const std::string& folder,
                                                    const path_holder& hold);
