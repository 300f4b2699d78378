#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

#include "refhost/folder_lock.hpp"

namespace {

// The holder's process id as it wrote it, digits only; empty otherwise.
std::string recorded_holder(int fd) {
  char text[24] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  std::string digits;
  for (ssize_t i = 0; i < got && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    digits += text[i];
  }
  return digits;
}

}  // namespace

folder_lock::folder_lock(const std::string& folder) {
  const std::string path = folder + "/" + file_name;
  // Never through a link, and read-only when the file is another user's:
  // a shared lock needs no write access.
  const int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path.c_str(), O_RDWR | flags, 0666);
  bool writable = fd >= 0;
  if (fd < 0 && errno == EACCES) {
    fd = ::open(path.c_str(), O_RDONLY | flags, 0666);
    writable = false;
  }
  if (fd < 0) {
    throw file_error("cannot open the lock file " + path + ": " + std::strerror(errno));
  }
  // flock, not fcntl: its locks belong to the open file, so two locks in
  // one process exclude each other as two processes' do.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    const std::string holder = error == EWOULDBLOCK ? recorded_holder(fd) : std::string();
    ::close(fd);
    if (error == EWOULDBLOCK)
      throw folder_busy_error(folder_busy_message(folder, holder));
    throw file_error("cannot lock " + path + ": " + std::strerror(error));
  }
  if (writable) {
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) < 0) {
      // Only a courtesy for the message of a run that finds the folder busy.
    }
  }
  handle_ = fd;
}

folder_lock::~folder_lock() {
  if (handle_ >= 0)
    ::close(static_cast<int>(handle_));
}
