#pragma once
// The Windows machine the emulated system describes: which Windows it is
// (what its loader does and which functions its DLLs export) and what
// GetVersionExA, GetSystemInfo, GetNativeSystemInfo, IsWow64Process,
// GetProductInfo, GlobalMemoryStatusEx, EnumDisplayDevicesA, GetTickCount
// and the CPUID instruction answer. The defaults are a 64-bit Windows 7
// Professional running a 32-bit process.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulated_windows/cpu/x86_emulator.hpp"

// The systems the host ran on, oldest first, and the later ones that only
// date functions a plug-in might import.
enum class windows_version {
  windows_2000,
  xp_sp3,
  vista,
  windows_7,
  windows_8,
  windows_8_1,
  windows_10
};

// "Windows XP SP3" and the like.
const char* windows_version_name(windows_version version);

struct display_adapter {
  std::uint32_t state_flags = 0;  // 0x4: the primary device
  std::string device_string;
};

struct windows_machine {
  // A 32-bit installation of `version` with its last service pack (Windows
  // 7: 64-bit, the process under WOW64), as the default machine otherwise.
  static windows_machine of(windows_version version);

  // Decides what the loader does (Windows 2000 and XP run no TLS callbacks
  // and give a DLL loaded at run time no static TLS) and which functions
  // GetProcAddress finds.
  windows_version version = windows_version::windows_7;
  // OSVERSIONINFOEXA
  std::uint32_t platform_id = 2;
  std::uint32_t major_version = 6;
  std::uint32_t minor_version = 1;
  std::uint32_t build_number = 7601;
  std::string service_pack = "Service Pack 1";
  std::uint16_t service_pack_major = 1;
  std::uint16_t suite_mask = 0x0100;
  std::uint8_t product_type = 1;
  // SYSTEM_INFO: the native view and the one a 32-bit process gets.
  std::uint16_t native_architecture = 9;
  std::uint16_t process_architecture = 0;
  std::uint32_t processors = 4;
  // Services an older kernel of the same version may lack (IsWow64Process
  // came with XP SP2): false hides them from GetProcAddress.
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

  // Whether DLLs loaded at run time get their TLS callbacks and a static
  // TLS slot (Vista on).
  bool runs_tls_callbacks() const { return version >= windows_version::vista; }
};

// CPUID as the processor running this program answers it.
cpuid_answer native_cpuid(std::uint32_t leaf, std::uint32_t subleaf);
