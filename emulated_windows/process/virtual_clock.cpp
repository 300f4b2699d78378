#include "emulated_windows/process/virtual_clock.hpp"

#include "emulated_windows/cpu/x86_emulator.hpp"

std::uint64_t virtual_clock::read() {
  ++reads_;
  return cpu_.blocks_run() * 10 + reads_ * 1000 + waited_;
}
