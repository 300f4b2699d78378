#pragma once
// The heap behind the emulated msvcrt's malloc family and kernel32's heap
// functions. Blocks are never reused, so a use after free reads the dead
// pattern instead of someone else's data; each block is followed by a guard
// whose damage is reported when the block is freed, and every live block
// is known for the leak report at unload. Each block remembers which
// allocator gave it (its owner), so that a block freed by another is
// reported: malloc's blocks, HeapAlloc's on the process heap, LocalAlloc's
// and GlobalAlloc's, and those of each heap HeapCreate made.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class x86_emulator;

class emulated_heap {
 public:
  emulated_heap(x86_emulator& cpu, std::uint32_t base, std::uint32_t size);

  // Owners of blocks: malloc, HeapAlloc on the process heap, LocalAlloc and
  // GlobalAlloc; any other number is a heap of HeapCreate.
  static constexpr std::uint32_t c_runtime = 0, process_heap = 1, local_heap = 2;

  // A new block of `size` bytes filled with 0xCD; 0 when the heap is full.
  std::uint32_t allocate(std::uint32_t size, std::uint32_t owner = c_runtime);
  // Frees a block; a pointer that is no live block of `owner` is recorded as
  // a problem (and a block of another owner is left alone).
  void release(std::uint32_t address, std::uint32_t owner = c_runtime);
  // Frees every block of `owner` (HeapDestroy).
  void release_all(std::uint32_t owner);
  // The size of a live block, or -1 when `address` is none.
  std::int64_t size_of(std::uint32_t address) const;
  std::uint32_t owner_of(std::uint32_t address) const;

  // Makes the `count`-th allocation from now on fail, as when memory runs out.
  void fail_allocation(std::uint64_t count) { failing_ = allocations_ + count; }

  const std::map<std::uint32_t, std::uint32_t>& live_blocks() const { return live_; }
  std::uint64_t allocations() const { return allocations_; }
  // Double frees, frees of unknown pointers, damaged guards.
  std::vector<std::string> problems;

 private:
  x86_emulator& cpu_;
  std::uint32_t next_;
  std::uint32_t end_;
  std::map<std::uint32_t, std::uint32_t> live_;
  std::map<std::uint32_t, std::uint32_t> freed_;
  std::map<std::uint32_t, std::uint32_t> owners_;  // of live blocks not the C runtime's
  std::uint64_t allocations_ = 0;
  std::uint64_t failing_ = 0;  // the number of the allocation that fails; 0: none
};
