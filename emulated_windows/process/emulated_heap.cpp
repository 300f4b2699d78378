#include "emulated_windows/process/emulated_heap.hpp"

#include <cstdio>

#include "emulated_windows/cpu/x86_emulator.hpp"

namespace {

constexpr std::uint32_t alignment = 16;
constexpr std::uint32_t guard_size = 16;
constexpr std::uint8_t fresh = 0xCD, guard = 0xFD, dead = 0xDD;

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string allocator_name(std::uint32_t owner) {
  switch (owner) {
    case emulated_heap::c_runtime:
      return "malloc";
    case emulated_heap::process_heap:
      return "HeapAlloc on the process heap";
    case emulated_heap::local_heap:
      return "LocalAlloc or GlobalAlloc";
    default:
      return "HeapAlloc on heap " + hex(owner);
  }
}

}  // namespace

emulated_heap::emulated_heap(x86_emulator& cpu, std::uint32_t base, std::uint32_t size)
    : cpu_(cpu), next_(base), end_(base + size) {
  cpu_.map(base, size);
}

std::uint32_t emulated_heap::allocate(std::uint32_t size, std::uint32_t owner) {
  if (++allocations_ == failing_)
    return 0;
  const std::uint64_t span =
      (std::uint64_t{size} + guard_size + alignment - 1) & ~std::uint64_t{alignment - 1};
  if (next_ + span > end_)
    return 0;
  const std::uint32_t address = next_;
  next_ += static_cast<std::uint32_t>(span);
  std::vector<std::uint8_t> fill(static_cast<std::size_t>(span), guard);
  std::fill(fill.begin(), fill.begin() + size, fresh);
  cpu_.write(address, fill.data(), fill.size());
  live_[address] = size;
  if (owner != c_runtime)
    owners_[address] = owner;
  return address;
}

void emulated_heap::release(std::uint32_t address, std::uint32_t owner) {
  const auto it = live_.find(address);
  if (it == live_.end()) {
    problems.push_back((freed_.count(address) != 0 ? "double free of " : "free of no block: ") +
                       hex(address));
    return;
  }
  if (owner_of(address) != owner) {
    problems.push_back("block " + hex(address) + " of " + allocator_name(owner_of(address)) +
                       " freed by the counterpart of " + allocator_name(owner));
    return;
  }
  owners_.erase(address);
  const std::uint32_t size = it->second;
  const std::vector<std::uint8_t> after = cpu_.read_bytes(address + size, guard_size);
  for (std::uint8_t byte : after) {
    if (byte != guard) {
      problems.push_back("block " + hex(address) + " of " + std::to_string(size) +
                         " bytes was written past its end");
      break;
    }
  }
  const std::vector<std::uint8_t> fill(size, dead);
  cpu_.write(address, fill.data(), fill.size());
  freed_[address] = size;
  live_.erase(it);
}

void emulated_heap::release_all(std::uint32_t owner) {
  std::vector<std::uint32_t> blocks;
  for (const auto& [address, block_owner] : owners_) {
    if (block_owner == owner)
      blocks.push_back(address);
  }
  for (std::uint32_t address : blocks) release(address, owner);
}

std::uint32_t emulated_heap::owner_of(std::uint32_t address) const {
  const auto it = owners_.find(address);
  return it == owners_.end() ? c_runtime : it->second;
}

std::int64_t emulated_heap::size_of(std::uint32_t address) const {
  const auto it = live_.find(address);
  return it == live_.end() ? -1 : std::int64_t{it->second};
}
