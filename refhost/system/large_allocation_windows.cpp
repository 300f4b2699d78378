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
