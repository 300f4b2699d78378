// The memory a container or a farm job may still take, from its cgroups'
// files: a system's files laid out in a folder, as Linux shows them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "refhost/system/cgroup_memory.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

void put(const scratch_folder& root, const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(root.file(path)).parent_path());
  std::ofstream(root.file(path)) << text;
}

constexpr std::uint64_t mib = 1 << 20;

}  // namespace

TEST(cgroup_memory, TheTightestLimitOnTheWayUpLessWhatIsHeld) {
  const scratch_folder root;
  // Version 2, mounted whole; the job's cgroup under a parent with a
  // tighter limit, version 1's memory controller mounted from a subtree.
  put(root, "proc/self/cgroup", "0::/farm/job7\n4:cpuacct,memory:/docker/c1/sub\n");
  put(root, "proc/self/mountinfo",
      "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n"
      "31 25 0:27 /docker/c1 /sys/fs/cgroup/mem\\040ory rw - cgroup cgroup rw,memory\n");
  put(root, "sys/fs/cgroup/farm/job7/memory.max", "max\n");
  put(root, "sys/fs/cgroup/farm/job7/memory.current", std::to_string(50 * mib));
  put(root, "sys/fs/cgroup/farm/memory.max", std::to_string(800 * mib));
  put(root, "sys/fs/cgroup/farm/memory.current", std::to_string(500 * mib));
  // The page cache the kernel gives back first counts as free.
  put(root, "sys/fs/cgroup/farm/memory.stat",
      "anon 1000\ninactive_file " + std::to_string(100 * mib) + "\n");
  EXPECT_EQ(cgroup_memory_left(root.file("")), 400 * mib);

  put(root, "sys/fs/cgroup/mem ory/sub/memory.limit_in_bytes", std::to_string(300 * mib));
  put(root, "sys/fs/cgroup/mem ory/sub/memory.usage_in_bytes", std::to_string(120 * mib));
  put(root, "sys/fs/cgroup/mem ory/memory.limit_in_bytes", "9223372036854771712");
  put(root, "sys/fs/cgroup/mem ory/memory.usage_in_bytes", std::to_string(900 * mib));
  EXPECT_EQ(cgroup_memory_left(root.file("")), 180 * mib);

  // Held beyond the limit: nothing left, not a number that wrapped round.
  put(root, "sys/fs/cgroup/mem ory/sub/memory.usage_in_bytes", std::to_string(310 * mib));
  EXPECT_EQ(cgroup_memory_left(root.file("")), 0u);
}

TEST(cgroup_memory, NoLimitOrNoCgroupsTellsNothing) {
  const scratch_folder root;
  EXPECT_FALSE(cgroup_memory_left(root.file("")).has_value());
  put(root, "proc/self/cgroup", "0::/\n");
  put(root, "proc/self/mountinfo", "30 25 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n");
  put(root, "sys/fs/cgroup/memory.current", "123456");  // the top has no memory.max
  EXPECT_FALSE(cgroup_memory_left(root.file("")).has_value());
}
