#pragma once
// The files of one frame (its PNG and its TGA) given their names together:
// nobody, not even an interruption, sees some of them renamed and others
// not. What their names held before is kept under hidden names (a hard
// link, or where the file system has none a copy) until all are renamed;
// should one rename fail, the frame's files given their names already go
// again and those earlier files come back. A run killed outright in
// between leaves a record (.render_0001.png.<random>.velloq-frame), written
// once those earlier files are kept, from which the next run puts the
// names back as they were.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "refhost/files/output_file.hpp"

// Finishes every file and renames them all in one guarded step. Throws
// file_error as output_file::commit does, with the targets as they were.
// [when: per frame; thread: any worker; re-entrant: yes]
void commit_together(const std::vector<std::unique_ptr<output_file>>& files, replace_policy policy);

// Runs `work` while no other live run may write the outputs of these keys
// (hidden_key); false, without running it, when one may
// (output_claims::while_holding).
using path_holder =
    std::function<bool(const std::vector<std::string>& keys, const std::function<void()>& work)>;

// What the next run did about a frame a run killed outright left half
// renamed. Only files that run had put in place are touched: a name that
// holds anything else now is left as it is.
struct recovered_frame {
  std::vector<std::string> restored;  // their earlier files are back
  std::vector<std::string> removed;   // their new files went; nothing was there before
};

struct frame_recovery {
  std::vector<recovered_frame> frames;  // the frames whose names changed
  // Hidden files of records left to a later run (a live run holds their
  // names), which stale temporaries' removal must leave too.
  std::set<std::string> kept;
};

// Puts back the frames in `folder` that runs killed outright left half
// renamed: what their names held before comes back and their new files go,
// unless every file of the frame had its name, which then stays. Leaves
// the frames of live runs alone, as `hold` tells.
frame_recovery recover_interrupted_frames(const std::string& folder, const path_holder& hold);
