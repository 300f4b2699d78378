#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "refhost/files/output_file_platform.hpp"

namespace output_platform {

long long create_new(const std::string& path, bool& name_taken) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  name_taken = fd < 0 && errno == EEXIST;
  return fd;
}

bool write_all(long long handle, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle), data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  // Start putting what is written on disk now, while the rest is still
  // being made, so that the sync before the rename has little left to wait
  // for. Only a hint: a file system without it still syncs it all then.
  ::sync_file_range(static_cast<int>(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
  return true;
}

bool sync_and_close(long long handle) {
  const bool synced = ::fsync(static_cast<int>(handle)) == 0;
  const int sync_error = errno;
  // close reports errors a network file system found only now.
  const bool closed = ::close(static_cast<int>(handle)) == 0;
  if (!synced)
    errno = sync_error;
  return synced && closed;
}

bool sync(long long handle) {
  return ::fsync(static_cast<int>(handle)) == 0;
}

void close(long long handle) {
  ::close(static_cast<int>(handle));
}

bool rename_file(const std::string& from, const std::string& to, bool replace, bool& name_taken) {
  name_taken = false;
  if (replace)
    return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno == EEXIST) {
    name_taken = true;
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
    return false;
  // File systems without RENAME_NOREPLACE: a hard link is as atomic and
  // refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) {
    name_taken = true;
    return false;
  }
  // Nor hard links (FAT, some network shares): check, then rename. Another
  // run cannot slip in between, as it needs the target's claim.
  struct stat existing;
  if (::lstat(to.c_str(), &existing) == 0) {
    name_taken = true;
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void remove(const std::string& path) {
  ::unlink(path.c_str());
}

bool link_new(const std::string& existing, const std::string& path, bool& name_taken) {
  const bool made = ::link(existing.c_str(), path.c_str()) == 0;
  name_taken = !made && errno == EEXIST;
  return made;
}

void touch(const std::string& path) {
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
}

std::string machine_name() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  // After a reboot the same process ids mean other processes.
  std::string boot;
  std::ifstream("/proc/sys/kernel/random/boot_id") >> boot;
  return boot.empty() ? name : std::string(name) + " " + boot;
}

long long process_id() {
  return getpid();
}

bool process_alive(long long id) {
  return id > 0 && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

std::string process_start_time(long long id) {
  std::ifstream file("/proc/" + std::to_string(id) + "/stat");
  std::string line;
  std::getline(file, line);
  // The command's name, in parentheses, may hold blanks and parentheses
  // itself: the fields counted from the state, the third, after the last ')'.
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos)
    return "";
  std::istringstream fields(line.substr(name_end + 1));
  std::string field;
  for (int number = 3; number <= 22; ++number) {
    if (!(fields >> field))
      return "";
  }
  return field;  // the 22nd: when the process started, in clock ticks since boot
}

bool hold_lock(long long handle) {
  struct flock whole_file {};
  whole_file.l_type = F_WRLCK;
  whole_file.l_whence = SEEK_SET;
  return ::fcntl(static_cast<int>(handle), F_OFD_SETLK, &whole_file) == 0;
}

lock_state lock_on(const std::string& path) {
  // Non-blocking: a FIFO planted under a lease's name answers at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return lock_state::unknown;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  const bool asked = ::fcntl(fd, F_OFD_GETLK, &query) == 0;
  ::close(fd);
  if (!asked)
    return lock_state::unknown;
  return query.l_type == F_UNLCK ? lock_state::free : lock_state::held;
}

bool folder_lets_files_go(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return true;
  int flags = 0;
  const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  ::close(fd);
  return !known || (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
}

bool path_fits(const std::string& path) {
  return path.size() < PATH_MAX;
}

std::string last_error_text() {
  return std::strerror(errno);
}

}  // namespace output_platform
