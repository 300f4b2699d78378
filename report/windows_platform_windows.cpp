#include "report/windows_platform.hpp"

#include <cpuid.h>
#include <windows.h>

#include <cstring>

#include "report/running_platform.hpp"

// The record sizes the services are told must be those of the 32-bit
// ANSI records, whatever headers compile this file.
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA size");
static_assert(sizeof(DISPLAY_DEVICEA) == 424, "DISPLAY_DEVICEA size");
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX size");

namespace {

using get_native_system_info_fn = VOID(WINAPI*)(LPSYSTEM_INFO);
using is_wow64_process_fn = BOOL(WINAPI*)(HANDLE, PBOOL);
using get_product_info_fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// These services are missing from older kernels, so they are looked up by
// name on each use instead of being bound at load time.
template <typename Function>
Function resolve(const char* module_name, const char* function_name) {
  const HMODULE module = GetModuleHandleA(module_name);
  if (module == nullptr)
    return nullptr;
  const FARPROC address = GetProcAddress(module, function_name);
  // Through the generic function type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

cpuid_registers run_cpuid(std::uint32_t leaf) {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
  return cpuid_registers{eax, ebx, ecx, edx};
}

bool enumerate_display_device(std::uint32_t index, display_device_entry& entry) {
  DISPLAY_DEVICEA device;
  std::memset(&device, 0, sizeof device);
  device.cb = 424;
  if (!EnumDisplayDevicesA(nullptr, index, &device, 0))
    return false;
  entry.state_flags = device.StateFlags;
  entry.device_string.assign(device.DeviceString,
                             strnlen(device.DeviceString, sizeof device.DeviceString));
  return true;
}

class windows_platform final : public system_platform {
 public:
  std::uint32_t tick_count() override { return GetTickCount(); }
  std::string operating_system_text() override {
    return describe_os(windows_facts::gather_os_facts());
  }
  std::int32_t processor_count() override { return windows_facts::processor_count(); }
  std::string read_processor_brand() override { return windows_facts::read_processor_brand(); }
  std::string primary_adapter_name() override { return windows_facts::primary_adapter_name(); }
  std::uint64_t total_physical_memory() override { return windows_facts::total_physical_memory(); }
};

}  // namespace

namespace windows_facts {

OsVersionFacts gather_os_facts() {
  // A failed query leaves the record zero, platform 0 included, which the
  // text layer turns into plain "Windows".
  OSVERSIONINFOEXA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = 156;
  GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));

  // The native record tells a 64-bit machine from the 32-bit view that a
  // WOW64 process gets from GetSystemInfo.
  SYSTEM_INFO system;
  std::memset(&system, 0, sizeof system);
  const auto get_native_system_info =
      resolve<get_native_system_info_fn>("kernel32.dll", "GetNativeSystemInfo");
  if (get_native_system_info != nullptr) {
    get_native_system_info(&system);
  } else {
    GetSystemInfo(&system);
  }

  BOOL wow64 = FALSE;
  const auto is_wow64_process = resolve<is_wow64_process_fn>("kernel32", "IsWow64Process");
  if (is_wow64_process != nullptr)
    is_wow64_process(GetCurrentProcess(), &wow64);

  OsVersionFacts facts;
  facts.platform_id = version.dwPlatformId;
  facts.major_version = version.dwMajorVersion;
  facts.minor_version = version.dwMinorVersion;
  facts.suite_mask = version.wSuiteMask;
  facts.product_type = version.wProductType;
  facts.is_wow64 = wow64 != FALSE;
  facts.processor_architecture = system.wProcessorArchitecture;

  // Only Vista-era workstations have editions to tell apart. The query is
  // always about 6.0 SP 0.0: the edition does not depend on the minor
  // version. Every version-6 kernel exports GetProductInfo; should it be
  // missing all the same, the code stays 0 and reads " Unknown Edition".
  if (facts.platform_id == 2 && facts.major_version == 6 && facts.product_type == 1) {
    const auto get_product_info = resolve<get_product_info_fn>("kernel32.dll", "GetProductInfo");
    DWORD edition = 0;
    if (get_product_info != nullptr)
      get_product_info(6, 0, 0, 0, &edition);
    facts.edition_code = edition;
  }
  return facts;
}

std::int32_t processor_count() {
  // The plain variant on purpose: the count the process itself sees.
  SYSTEM_INFO system;
  std::memset(&system, 0, sizeof system);
  GetSystemInfo(&system);
  return static_cast<std::int32_t>(system.dwNumberOfProcessors);
}

std::string read_processor_brand() {
  return brand_from_cpuid(run_cpuid);
}

std::string primary_adapter_name() {
  return primary_adapter_from(enumerate_display_device);
}

std::uint64_t total_physical_memory() {
  // Zero-filled first so that a failed query reports no memory (the line
  // then reads 0.01) instead of whatever the stack held.
  MEMORYSTATUSEX status;
  std::memset(&status, 0, sizeof status);
  status.dwLength = 64;
  GlobalMemoryStatusEx(&status);
  return status.ullTotalPhys;
}

}  // namespace windows_facts

system_platform& windows_system_platform() {
  static windows_platform platform;
  return platform;
}
