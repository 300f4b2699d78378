#pragma once
// Memory for whole pictures. A frame's buffers run to tens of megabytes and
// are new for every frame, so touching their pages for the first time costs
// more than the copies into them: on Linux such blocks are mapped apart and
// asked for huge pages, which take one page fault where 4 KiB pages take 512.

#include <cstddef>
#include <new>
#include <utility>

// At least `bytes`, aligned for any type, all zero. Throws std::bad_alloc.
void* allocate_large(std::size_t bytes);
// Gives back a block of allocate_large, with the size it was asked for.
void free_large(void* block, std::size_t bytes) noexcept;

// The memory new blocks can have now without pushing other programs out:
// what the system calls available (page cache that can go included), on
// Linux no more than the process's cgroups leave (a container's or a farm
// job's limit), and on Windows no more than this 32-bit process can still
// address.
std::size_t available_memory();

template <class T>
struct large_allocator {
  using value_type = T;
  large_allocator() = default;
  template <class U>
  large_allocator(const large_allocator<U>&) noexcept {}
  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T))
      throw std::bad_alloc();
    return static_cast<T*>(allocate_large(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t count) noexcept { free_large(block, count * sizeof(T)); }
  // Elements made without a value keep the zeros they were given: a
  // picture's pages are first touched by what fills them (a decoder), and a
  // picture that is never filled (a file cut short) costs no memory.
  template <class U>
  void construct(U* element) noexcept {
    ::new (static_cast<void*>(element)) U;
  }
  template <class U, class... Args>
  void construct(U* element, Args&&... args) {
    ::new (static_cast<void*>(element)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const large_allocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const large_allocator<U>&) const noexcept {
    return false;
  }
};
