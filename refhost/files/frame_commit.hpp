#pragma once
// The files of one frame (its PNG and its TGA) given their names together:
// nobody, not even an interruption, sees some of them renamed and others
// not. Should one rename fail, the frame's files given their names already
// go again and whatever those names held before comes back.

#include <memory>
#include <vector>

#include "refhost/files/output_file.hpp"

// Finishes every file and renames them all in one guarded step. Throws
// file_error as output_file::commit does, with the targets as they were.
void commit_together(const std::vector<std::unique_ptr<output_file>>& files, replace_policy policy);
