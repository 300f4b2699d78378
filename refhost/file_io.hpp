#pragma once
// Whole-file reads and writes for the reference host.

#include <stdexcept>
#include <string>
#include <vector>

struct file_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The whole file. Throws file_error naming the path and the system's reason.
std::vector<unsigned char> read_file_bytes(const std::string& path);

// Where write_file_atomically stages its bytes: path + ".tmp-<process id>".
std::string temporary_path_for(const std::string& path);

// Writes the bytes to the temporary path, then renames it over `path`, so
// that readers see either the old file or the complete new one. On failure
// the temporary is removed, the target is left as it was, and file_error is
// thrown.
void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes);
