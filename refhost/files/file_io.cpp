#include "refhost/files/file_io.hpp"

#include <sys/stat.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Takes errno's value at once, before building the message can change it.
[[noreturn]] void fail(const char* what, const std::string& path) {
  const int error = errno;
  throw file_error(std::string(what) + " " + path + ": " + std::strerror(error));
}

// The size of a regular file; -1 for anything else.
long long regular_file_size(std::FILE* file) {
#if defined(_WIN32)
  struct _stat64 status;
  if (_fstat64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG)
    return -1;
#else
  struct stat status;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode))
    return -1;
#endif
  return static_cast<long long>(status.st_size);
}

}  // namespace

void throw_too_large(const std::string& path, std::size_t max_bytes) {
  throw file_error(path + ": too large or corrupt: it holds more than " +
                   std::to_string(max_bytes) + " bytes, the most the host reads from it");
}

#if defined(_WIN32)
input_file::input_file(const std::string& path)
    : path_(path), file_(std::fopen(path.c_str(), "rb")) {
  if (!file_)
    fail("cannot open", path);
#else
input_file::input_file(const std::string& path) : path_(path) {
  // Opened without waiting: a FIFO put where a file was (after a run's
  // checks, say) would otherwise hold the run until someone writes to it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    fail("cannot open", path);
  struct stat status;
  if (::fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) {
    ::close(fd);
    throw file_error(path + (S_ISFIFO(status.st_mode) ? " is a FIFO" : " is a socket") +
                     ", not a file to read");
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file_.reset(::fdopen(fd, "rb"));
  if (!file_) {
    const int error = errno;
    ::close(fd);
    errno = error;
    fail("cannot open", path);
  }
#endif
  // Reads go straight from the system into the caller's memory.
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  regular_size_ = regular_file_size(file_.get());
}

std::size_t input_file::read(void* target, std::size_t size) {
  const std::size_t got = std::fread(target, 1, size, file_.get());
  // A directory opens fine on POSIX systems and fails only here.
  if (got < size && std::ferror(file_.get()))
    fail("cannot read", path_);
  return got;
}

void input_file::rewind() {
  seek(0);
}

void input_file::seek(long long offset) {
#if defined(_WIN32)
  const int moved = _fseeki64(file_.get(), offset, SEEK_SET);
#else
  const int moved = fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET);
#endif
  if (moved != 0)
    fail("cannot read", path_);
}

std::vector<unsigned char> input_file::read_rest(std::size_t max_bytes) {
  if (regular_size_ >= 0 && static_cast<unsigned long long>(regular_size_) > max_bytes)
    throw_too_large(path_, max_bytes);
  // Read in pieces up to one byte past the limit, which tells that the
  // file is too large; a regular file in one piece of its size (plus that
  // byte, in case it grows), a stream in pieces of up to 16 MiB, so that
  // memory stays within the limit and a piece.
  std::vector<std::vector<unsigned char>> pieces;
  std::size_t total = 0;
  std::size_t next = regular_size_ >= 0 ? static_cast<std::size_t>(regular_size_) + 1 : 1 << 16;
  for (;;) {
    const std::size_t room = max_bytes - total;
    const std::size_t want = next <= room ? next : room + 1;
    std::vector<unsigned char> piece(want);
    const std::size_t got = read(piece.data(), want);
    piece.resize(got);
    total += got;
    pieces.push_back(std::move(piece));
    if (total > max_bytes)
      throw_too_large(path_, max_bytes);
    if (got < want)
      break;
    next = std::min<std::size_t>(next * 2, 1 << 24);
  }
  if (pieces.size() == 1)
    return std::move(pieces.front());
  std::vector<unsigned char> bytes;
  bytes.reserve(total);
  for (const std::vector<unsigned char>& piece : pieces) {
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  }
  return bytes;
}

std::vector<unsigned char> read_file_bytes(const std::string& path, std::size_t max_bytes) {
  return input_file(path).read_rest(max_bytes);
}

std::optional<file_identity> identify_file(const std::string& path, bool follow_links) {
#if defined(_WIN32)
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!known)
    return std::nullopt;
  return file_identity{information.dwVolumeSerialNumber,
                       (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                           information.nFileIndexLow};
#else
  struct stat status;
  if ((follow_links ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status)) != 0)
    return std::nullopt;
  return file_identity{static_cast<unsigned long long>(status.st_dev),
                       static_cast<unsigned long long>(status.st_ino)};
#endif
}

void write_file_atomically(const std::string& path, const std::vector<unsigned char>& bytes,
                           replace_policy policy) {
  output_file file(path);
  file.write(bytes.data(), bytes.size());
  file.commit(policy);
}
