#pragma once
// Whole-file reads and writes for the reference host.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "refhost/files/output_file.hpp"

struct file_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file opened for reading, read straight into the caller's memory:
// unbuffered, so that no byte is copied twice.
class input_file {
 public:
  // Throws file_error naming the path and the system's reason.
  explicit input_file(const std::string& path);

  // The size of a regular file; -1 for anything else (a pipe, a device).
  long long regular_size() const { return regular_size_; }

  // Reads the next bytes into `target`; fewer than `size` only at the
  // file's end. Throws file_error.
  std::size_t read(void* target, std::size_t size);

  // The rest of the file, if it holds at most `max_bytes` (see
  // read_file_bytes).
  std::vector<unsigned char> read_rest(std::size_t max_bytes);

  // Back to the first byte; only regular files can. Throws file_error.
  void rewind();
  // To byte `offset` of a regular file. Throws file_error.
  void seek(long long offset);

  const std::string& path() const { return path_; }

 private:
  struct closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::string path_;
  std::unique_ptr<std::FILE, closer> file_;
  long long regular_size_ = -1;
};

// Throws file_error saying that `path` holds more than the host reads.
[[noreturn]] void throw_too_large(const std::string& path, std::size_t max_bytes);

// The whole file, if it holds at most `max_bytes`. A regular file's size is
// checked before anything is read; anything else (a pipe, a device such as
// /dev/zero) is read until it ends or passes the limit. Throws file_error
// naming the path and the system's reason, or saying the file is too large.
std::vector<unsigned char> read_file_bytes(const std::string& path, std::size_t max_bytes);

// Which file a path names, as the system tells files apart (device and
// index): two paths, links or not, name one file when these agree.
struct file_identity {
  unsigned long long device = 0;
  unsigned long long index = 0;
  bool operator<(const file_identity& other) const {
    return device != other.device ? device < other.device : index < other.index;
  }
};

// The identity of the file at `path`, or of the file a link there leads to
// with `follow_links`; nothing when there is none.
std::optional<file_identity> identify_file(const std::string& path, bool follow_links);

// Writes the bytes through an output_file: readers see the old file or the
// complete new one, never a part, and on failure the target is as it was.
// Throws file_error.
void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes,
                           replace_policy policy);
