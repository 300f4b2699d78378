#pragma once
// The raw machine facts as the Windows services report them, each read
// afresh on every call. The Windows system_platform is built from these.

#ifdef _WIN32

#include <cstdint>
#include <string>

#include "report/machine_text.hpp"

namespace windows_facts {

// Version record, native architecture and WOW64 flag; the edition code only
// on the version-6 workstation path.
OsVersionFacts gather_os_facts();

// dwNumberOfProcessors of GetSystemInfo.
std::int32_t processor_count();

// The CPUID brand string up to its first zero byte, untidied.
std::string read_processor_brand();

// DeviceString of the last display device flagged primary, or "Unknown GPU".
std::string primary_adapter_name();

// ullTotalPhys of GlobalMemoryStatusEx.
std::uint64_t total_physical_memory();

}  // namespace windows_facts

#endif
