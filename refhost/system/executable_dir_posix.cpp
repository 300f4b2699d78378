#include <unistd.h>

#include <climits>

#include "refhost/system/executable_dir.hpp"

std::string executable_dir() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0)
    return ".";
  const std::string full(path, static_cast<std::size_t>(length));
  const std::size_t slash = full.rfind('/');
  return slash == std::string::npos ? "." : full.substr(0, slash);
}
