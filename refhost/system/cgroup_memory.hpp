#pragma once
// The memory a process may still take within its control groups on Linux:
// a container's or a farm job's limit, which the out-of-memory killer
// enforces whatever the machine has free.

#include <cstdint>
#include <optional>
#include <string>

// Read from the files of the system under `root` (empty on the machine,
// another folder in tests): for each memory limit on the way from the
// process's cgroup up to its hierarchy's top (version 2: memory.max;
// version 1: memory.limit_in_bytes), what the limit leaves of the memory
// in use (memory.current; memory.usage_in_bytes) less the page cache the
// kernel gives back first (inactive_file in memory.stat); the least of
// them. Nothing when no limit is set or the system tells none.
std::optional<std::uint64_t> cgroup_memory_left(const std::string& root = "");
