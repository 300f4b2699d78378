#pragma once
// The Windows machine the emulated kernel32 and user32 describe: what
// GetVersionExA, GetSystemInfo, GetNativeSystemInfo, IsWow64Process,
// GetProductInfo, GlobalMemoryStatusEx, EnumDisplayDevicesA, GetTickCount
// and the CPUID instruction answer. The defaults are a 64-bit Windows 7
// Professional running a 32-bit process.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulated_windows/x86_emulator.hpp"

struct display_adapter {
  std::uint32_t state_flags = 0;  // 0x4: the primary device
  std::string device_string;
};

struct windows_machine {
  // OSVERSIONINFOEXA
  std::uint32_t platform_id = 2;
  std::uint32_t major_version = 6;
  std::uint32_t minor_version = 1;
  std::uint32_t build_number = 7601;
  std::uint16_t suite_mask = 0x0100;
  std::uint8_t product_type = 1;
  // SYSTEM_INFO: the native view and the one a 32-bit process gets.
  std::uint16_t native_architecture = 9;
  std::uint16_t process_architecture = 0;
  std::uint32_t processors = 4;
  // Services newer kernels export; GetProcAddress finds only these.
  bool has_get_native_system_info = true;
  bool has_is_wow64_process = true;
  bool has_get_product_info = true;
  bool wow64 = true;
  std::uint32_t edition = 48;  // GetProductInfo: Professional
  std::uint64_t total_physical_memory = std::uint64_t{8} << 30;
  std::vector<display_adapter> adapters;
  // GetTickCount answers these in turn, then `tick` from then on.
  std::vector<std::uint32_t> ticks;
  std::uint32_t tick = 1000;
  // The CPUID instruction; unset: the CPU running the tests answers.
  std::function<cpuid_answer(std::uint32_t leaf, std::uint32_t subleaf)> cpuid;
};

// CPUID as the processor running this program answers it.
cpuid_answer native_cpuid(std::uint32_t leaf, std::uint32_t subleaf);
