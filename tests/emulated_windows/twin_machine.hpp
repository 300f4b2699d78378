#pragma once
// One machine described to both modules, so that the emulated DLL and the
// native module write the same report: the emulated kernel32 and user32
// answer it as Windows would, the executable's clock_gettime, uname and
// sysconf answer it to the native module, and both read the processor
// brand from this computer's own CPUID. The OS line reads "Windows 7
// Professional Edition 64-bit" on both sides, the GPU line "Unknown GPU"
// (no primary adapter; the native module has none to report).

#include <cstdint>
#include <vector>

#include "emulated_windows/process/windows_machine.hpp"
#include "tests/emulated_windows/native_facts.hpp"

struct twin_machine {
  // Windows 7 Professional 64-bit, or a 32-bit XP SP3 Professional (its
  // loader too): "Windows XP Professional Edition" on both sides.
  windows_version version = windows_version::windows_7;
  std::vector<std::uint32_t> ticks{1000, 3345};  // the millisecond counter, read in turn
  std::uint32_t processors = 4;
  std::uint64_t physical_memory = std::uint64_t{8} << 30;

  windows_machine as_windows() const;
  native_facts as_native() const;
};
