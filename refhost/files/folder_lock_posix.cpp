#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "refhost/files/folder_lock.hpp"

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
    char record[24];
    const ssize_t got = error == EWOULDBLOCK ? pread(fd, record, sizeof record, 0) : -1;
    ::close(fd);
    if (error == EWOULDBLOCK)
      throw folder_busy_error(folder_busy_message(folder, record, got > 0 ? got : 0));
    if (error != ENOLCK && error != EOPNOTSUPP && error != ENOSYS)
      throw file_error("cannot lock " + path + ": " + std::strerror(error));
    unsupported_reason_ = std::strerror(error);
    return;
  }
  // The process id only serves the message of a run that finds the folder
  // busy; not recording it changes nothing else.
  if (writable && ftruncate(fd, 0) == 0) {
    const std::string pid = std::to_string(getpid()) + "\n";
    const ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
    (void)ignored;
  }
  handle_ = fd;
}

folder_lock::~folder_lock() {
  if (handle_ >= 0)
    ::close(static_cast<int>(handle_));
}
