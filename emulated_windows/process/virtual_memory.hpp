#pragma once
// VirtualAlloc's memory in the emulated process: whole pages, each region
// mapped when it is allocated and unmapped when it is released, in an area
// of its own (0x40000000 to 0x50000000) that images and the heap leave free.

#include <cstdint>
#include <map>

class x86_emulator;

class virtual_memory {
 public:
  explicit virtual_memory(x86_emulator& cpu) : cpu_(cpu) {}

  // A new region of at least `size` bytes, zero-filled, on a 64 KB
  // boundary; 0 when the area is full or `size` is 0.
  std::uint32_t allocate(std::uint32_t size);
  // Releases the region starting at `base`; false when none starts there.
  bool release(std::uint32_t base);
  // The region containing `address`: its base, or 0.
  std::uint32_t region_of(std::uint32_t address) const;
  std::uint32_t size_of(std::uint32_t base) const;

  std::uint64_t bytes() const;

 private:
  x86_emulator& cpu_;
  std::map<std::uint32_t, std::uint32_t> regions_;  // base, size
  std::uint32_t next_ = area_start;
  static constexpr std::uint32_t area_start = 0x40000000, area_end = 0x50000000;
};
