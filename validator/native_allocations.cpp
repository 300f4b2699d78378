#include "validator/native_allocations.hpp"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
std::uint64_t counted_so_far = 0;
std::uint64_t failing = 0;

void* allocate(std::size_t size) {
  if (counting && ++counted_so_far == failing)
    throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1))
    return block;
  throw std::bad_alloc();
}
}  // namespace

namespace native_allocations {
counting_scope::counting_scope() {
  counting = true;
}
counting_scope::~counting_scope() {
  counting = false;
}
std::uint64_t counted() {
  return counted_so_far;
}
void fail(std::uint64_t nth) {
  failing = nth == 0 ? 0 : counted_so_far + nth;
}
}  // namespace native_allocations

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
