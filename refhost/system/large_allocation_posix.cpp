#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "refhost/system/cgroup_memory.hpp"
#include "refhost/system/large_allocation.hpp"

namespace {

// Below this a block stays with malloc, which reuses small blocks anyway.
constexpr std::size_t huge_page_bytes = std::size_t{2} << 20;

std::size_t mapped_size(std::size_t bytes) {
  return (bytes + huge_page_bytes - 1) / huge_page_bytes * huge_page_bytes;
}

}  // namespace

void* allocate_large(std::size_t bytes) {
  if (bytes < huge_page_bytes) {
    void* small = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (small == nullptr)
      throw std::bad_alloc();
    return small;
  }
  // Fresh mappings are zero.
  void* block =
      mmap(nullptr, mapped_size(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED)
    throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  // Advice only: where huge pages are off, the block works as any other.
  madvise(block, mapped_size(bytes), MADV_HUGEPAGE);
#endif
  return block;
}

void free_large(void* block, std::size_t bytes) noexcept {
  if (block == nullptr)
    return;
  if (bytes < huge_page_bytes) {
    std::free(block);
    return;
  }
  munmap(block, mapped_size(bytes));
}

namespace {

std::size_t machine_memory_available() {
  std::ifstream info("/proc/meminfo");
  std::string key;
  std::size_t kibibytes = 0;
  while (info >> key >> kibibytes) {
    if (key == "MemAvailable:")
      return kibibytes * 1024;
    info.ignore(256, '\n');
  }
  // Older kernels: the free pages only.
  return static_cast<std::size_t>(sysconf(_SC_AVPHYS_PAGES)) *
         static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

std::size_t available_memory() {
  // A container or a farm job may have far less than the machine: the
  // out-of-memory killer holds the process to its cgroup's limit.
  const std::size_t machine = machine_memory_available();
  const std::optional<std::uint64_t> cgroup = cgroup_memory_left();
  // At least a byte: none would read as "unknown".
  return cgroup && *cgroup < machine ? std::max<std::size_t>(*cgroup, 1) : machine;
}
