#include <windows.h>

#include <algorithm>

#include "refhost/system/large_allocation.hpp"

#include <cstdlib>

// Large pages on Windows need a privilege users do not have; the heap it is.
void* allocate_large(std::size_t bytes) {
  void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (block == nullptr)
    throw std::bad_alloc();
  return block;
}

void free_large(void* block, std::size_t) noexcept {
  std::free(block);
}

std::size_t available_memory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status))
    return 0;
  const DWORDLONG usable = std::min(status.ullAvailPhys, status.ullAvailVirtual);
  return static_cast<std::size_t>(std::min<DWORDLONG>(usable, SIZE_MAX));
}
