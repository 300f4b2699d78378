#include "emulated_windows/process/windows_machine.hpp"

#include <cpuid.h>

const char* windows_version_name(windows_version version) {
  switch (version) {
    case windows_version::windows_2000:
      return "Windows 2000 SP4";
    case windows_version::xp_sp3:
      return "Windows XP SP3";
    case windows_version::vista:
      return "Windows Vista SP2";
    case windows_version::windows_7:
      return "Windows 7 SP1";
  }
  return "Windows";
}

windows_machine windows_machine::of(windows_version version) {
  windows_machine m;
  m.version = version;
  if (version == windows_version::windows_7)
    return m;
  // 32-bit Professional editions on a 32-bit processor.
  m.native_architecture = 0;
  m.wow64 = false;
  switch (version) {
    case windows_version::windows_2000:
      m.major_version = 5;
      m.minor_version = 0;
      m.build_number = 2195;
      m.service_pack = "Service Pack 4";
      m.service_pack_major = 4;
      m.suite_mask = 0;
      break;
    case windows_version::xp_sp3:
      m.major_version = 5;
      m.minor_version = 1;
      m.build_number = 2600;
      m.service_pack = "Service Pack 3";
      m.service_pack_major = 3;
      break;
    default:
      m.major_version = 6;
      m.minor_version = 0;
      m.build_number = 6002;
      m.service_pack = "Service Pack 2";
      m.service_pack_major = 2;
      m.edition = 6;  // Business
      break;
  }
  return m;
}

cpuid_answer native_cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
  return cpuid_answer{eax, ebx, ecx, edx};
}
