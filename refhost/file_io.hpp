#pragma once
// Whole-file reads and writes for the reference host.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/output_file.hpp"

struct file_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The whole file, if it holds at most `max_bytes`. A regular file's size is
// checked before anything is read; anything else (a pipe, a device such as
// /dev/zero) is read until it ends or passes the limit. Throws file_error
// naming the path and the system's reason, or saying the file is too large.
std::vector<unsigned char> read_file_bytes(const std::string& path, std::size_t max_bytes);

// Writes the bytes through an output_file: readers see the old file or the
// complete new one, never a part, and on failure the target is as it was.
// Throws file_error.
void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes,
                           replace_policy policy);
