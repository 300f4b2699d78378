#include "refhost/file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Takes errno's value at once, before building the message can change it.
[[noreturn]] void fail(const char* what, const std::string& path) {
  const int error = errno;
  throw file_error(std::string(what) + " " + path + ": " + std::strerror(error));
}

long current_process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<long>(getpid());
#endif
}

// Flushes the stream and asks the system to put the data on disk, so that
// a crash right after the rename cannot leave an empty target behind.
bool flush_to_disk(std::FILE* file) {
  if (std::fflush(file) != 0)
    return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

// Replaces `to` if it exists. std::rename cannot do that on Windows.
void replace_file(const std::string& from, const std::string& to) {
#ifdef _WIN32
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    const DWORD error = GetLastError();
    throw file_error("cannot rename " + from + " to " + to + ": Windows error " +
                     std::to_string(error));
  }
#else
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    const int error = errno;
    throw file_error("cannot rename " + from + " to " + to + ": " + std::strerror(error));
  }
#endif
}

}  // namespace

std::vector<unsigned char> read_file_bytes(const std::string& path) {
  file_ptr file(std::fopen(path.c_str(), "rb"));
  if (!file)
    fail("cannot open", path);
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk)
      break;
  }
  // A directory opens fine on POSIX systems and fails only here.
  if (std::ferror(file.get()))
    fail("cannot read", path);
  return bytes;
}

std::string temporary_path_for(const std::string& path) {
  return path + ".tmp-" + std::to_string(current_process_id());
}

void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  const std::string temporary = temporary_path_for(path);
  file_ptr file(std::fopen(temporary.c_str(), "wb"));
  if (!file)
    fail("cannot create", temporary);
  try {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
      fail("cannot write", temporary);
    }
    if (!flush_to_disk(file.get()))
      fail("cannot write", temporary);
    if (std::fclose(file.release()) != 0)
      fail("cannot write", temporary);
    replace_file(temporary, path);
  } catch (...) {
    file.reset();
    std::remove(temporary.c_str());
    throw;
  }
}
