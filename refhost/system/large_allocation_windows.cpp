#include "refhost/system/large_allocation.hpp"

// Large pages on Windows need a privilege users do not have; the heap it is.
void* allocate_large(std::size_t bytes) {
  return ::operator new(bytes);
}

void free_large(void* block, std::size_t) noexcept {
  ::operator delete(block);
}
