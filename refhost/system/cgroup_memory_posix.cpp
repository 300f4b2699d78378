#include "refhost/system/cgroup_memory.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// Version 1 calls "no limit" the largest multiple of a page it holds.
constexpr std::uint64_t no_limit_from = std::uint64_t{1} << 62;

struct memory_files {
  const char* limit;
  const char* usage;
  const char* reclaimable;  // the key in memory.stat
};
constexpr memory_files version_2 = {"memory.max", "memory.current", "inactive_file"};
constexpr memory_files version_1 = {"memory.limit_in_bytes", "memory.usage_in_bytes",
                                    "total_inactive_file"};

std::optional<std::uint64_t> number_in(const std::string& path) {
  std::ifstream file(path);
  std::uint64_t value = 0;
  if (file >> value)
    return value;
  return std::nullopt;  // also "max": no limit
}

std::uint64_t stat_value(const std::string& folder, const std::string& key) {
  std::ifstream file(folder + "/memory.stat");
  std::string name;
  std::uint64_t value = 0;
  while (file >> name >> value) {
    if (name == key)
      return value;
  }
  return 0;
}

// mountinfo writes blanks and the like in paths as \ and three octal digits.
std::string unescaped(const std::string& text) {
  std::string plain;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\\' && at + 3 < text.size() &&
        text.find_first_not_of("01234567", at + 1) >= at + 4) {
      plain += static_cast<char>(std::stoi(text.substr(at + 1, 3), nullptr, 8));
      at += 3;
    } else {
      plain += text[at];
    }
  }
  return plain;
}

struct hierarchy_mount {
  std::string root;         // the part of the hierarchy mounted
  std::string mount_point;  // where
};

// The mounts of version 2's hierarchy and of version 1's memory
// controller, from /proc/self/mountinfo.
void find_mounts(const std::string& root, std::optional<hierarchy_mount>& v2,
                 std::optional<hierarchy_mount>& v1) {
  std::ifstream file(root + "/proc/self/mountinfo");
  for (std::string line; std::getline(file, line);) {
    std::istringstream fields(line);
    std::vector<std::string> before;
    std::string field;
    while (fields >> field && field != "-") before.push_back(field);
    std::string type, source, options;
    fields >> type >> source >> options;
    if (before.size() < 5)
      continue;
    const hierarchy_mount mount{unescaped(before[3]), unescaped(before[4])};
    if (type == "cgroup2" && !v2)
      v2 = mount;
    if (type == "cgroup" && !v1 && ("," + options + ",").find(",memory,") != std::string::npos)
      v1 = mount;
  }
}

// What the limits from `cgroup` (a path in the hierarchy) up to the
// mount's top leave.
std::optional<std::uint64_t> left_on_the_way_up(const std::string& root,
                                                const hierarchy_mount& mount, std::string cgroup,
                                                const memory_files& files) {
  if (cgroup.compare(0, mount.root.size(), mount.root) != 0)
    return std::nullopt;  // outside what is mounted: not ours to see
  std::string relative = cgroup.substr(mount.root == "/" ? 0 : mount.root.size());
  std::optional<std::uint64_t> least;
  for (;;) {
    const std::string folder = root + mount.mount_point + relative;
    const std::optional<std::uint64_t> limit = number_in(folder + "/" + files.limit);
    const std::optional<std::uint64_t> usage = number_in(folder + "/" + files.usage);
    if (limit && usage && *limit < no_limit_from) {
      const std::uint64_t reclaimable = stat_value(folder, files.reclaimable);
      const std::uint64_t held = *usage > reclaimable ? *usage - reclaimable : 0;
      const std::uint64_t left = *limit > held ? *limit - held : 0;
      least = least ? std::min(*least, left) : left;
    }
    if (relative.empty() || relative == "/")
      return least;
    relative.erase(relative.rfind('/'));
  }
}

}  // namespace

std::optional<std::uint64_t> cgroup_memory_left(const std::string& root) {
  std::optional<hierarchy_mount> v2, v1;
  find_mounts(root, v2, v1);
  std::optional<std::uint64_t> least;
  const auto take = [&](const std::optional<std::uint64_t>& left) {
    if (left)
      least = least ? std::min(*least, *left) : left;
  };
  // "0::/path" for version 2; "4:memory:/path" (or "4:cpu,memory:/path")
  // for version 1's memory controller.
  std::ifstream file(root + "/proc/self/cgroup");
  for (std::string line; std::getline(file, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos)
      continue;
    const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
    const std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers == ",," && v2)
      take(left_on_the_way_up(root, *v2, path, version_2));
    else if (controllers.find(",memory,") != std::string::npos && v1)
      take(left_on_the_way_up(root, *v1, path, version_1));
  }
  return least;
}
