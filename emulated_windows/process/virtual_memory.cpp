#include "emulated_windows/process/virtual_memory.hpp"

#include "emulated_windows/cpu/x86_emulator.hpp"

std::uint32_t virtual_memory::allocate(std::uint32_t size) {
  const std::uint64_t rounded = (std::uint64_t{size} + 0xFFFF) & ~std::uint64_t{0xFFFF};
  // Released regions are not reused: a use after release faults.
  if (size == 0 || next_ + rounded > area_end)
    return 0;
  const std::uint32_t base = next_;
  next_ += static_cast<std::uint32_t>(rounded);
  cpu_.map(base, static_cast<std::uint32_t>(rounded));
  regions_[base] = static_cast<std::uint32_t>(rounded);
  return base;
}

bool virtual_memory::release(std::uint32_t base) {
  const auto it = regions_.find(base);
  if (it == regions_.end())
    return false;
  cpu_.unmap(base, it->second);
  regions_.erase(it);
  return true;
}

std::uint32_t virtual_memory::region_of(std::uint32_t address) const {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin())
    return 0;
  --it;
  return address - it->first < it->second ? it->first : 0;
}

std::uint32_t virtual_memory::size_of(std::uint32_t base) const {
  const auto it = regions_.find(base);
  return it == regions_.end() ? 0 : it->second;
}

std::uint64_t virtual_memory::bytes() const {
  std::uint64_t total = 0;
  for (const auto& [base, size] : regions_) total += size;
  return total;
}
