// A stand-in platform for the development hosts the plug-in is built and
// tested on; the host application itself only runs on Windows.

#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "report/machine_text.hpp"
#include "report/running_platform.hpp"

namespace {

#if defined(__i386__) || defined(__x86_64__)
cpuid_registers run_cpuid(std::uint32_t leaf) {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
  return cpuid_registers{eax, ebx, ecx, edx};
}
#endif

class posix_platform final : public system_platform {
 public:
  std::uint32_t tick_count() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    // Wraps like GetTickCount, so interval arithmetic behaves the same.
    return static_cast<std::uint32_t>(milliseconds);
  }

  // System name, release and machine, e.g. "Linux 6.1.0-18-amd64 x86_64".
  std::string operating_system_text() override {
    utsname names{};
    if (uname(&names) != 0)
      return "Unknown";
    return std::string(names.sysname) + " " + names.release + " " + names.machine;
  }

  std::int32_t processor_count() override {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(online) : 0;
  }

  std::string read_processor_brand() override {
#if defined(__i386__) || defined(__x86_64__)
    return brand_from_cpuid(run_cpuid);
#else
    return std::string();
#endif
  }

  std::string primary_adapter_name() override {
    return "Unknown GPU";
  }

  std::uint64_t total_physical_memory() override {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0)
      return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  }
};

}  // namespace

system_platform& posix_system_platform() {
  static posix_platform platform;
  return platform;
}
