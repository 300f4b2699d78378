#pragma once
// Memory for pictures. A worker stamps frame after frame of one size, and
// each frame's tens of megabytes would otherwise be new pages that the
// system faults in and zeroes again: each thread keeps the last picture
// it let go of and hands it, zeroed, to the next picture of the same size
// made on it. It keeps one at most, and lets go of it before taking memory
// for a picture of another size, so a worker never holds two pictures
// where it used one. Small pictures are left to malloc.

#include <cstddef>
#include <new>

#include "refhost/system/large_allocation.hpp"

// At least `bytes`, aligned for any type, all zero. Throws std::bad_alloc.
void* allocate_picture_memory(std::size_t bytes);
// Gives back a block of allocate_picture_memory, with the size asked for.
void free_picture_memory(void* block, std::size_t bytes) noexcept;

// large_allocator's elements and comparisons, this file's memory.
template <class T>
struct picture_allocator : large_allocator<T> {
  template <class U>
  struct rebind {
    using other = picture_allocator<U>;
  };
  picture_allocator() = default;
  template <class U>
  picture_allocator(const picture_allocator<U>&) noexcept {}
  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T))
      throw std::bad_alloc();
    return static_cast<T*>(allocate_picture_memory(count * sizeof(T)));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    free_picture_memory(block, count * sizeof(T));
  }
};
