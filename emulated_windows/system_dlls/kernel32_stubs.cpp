// KERNEL32.dll as the module uses it: the machine's description and the
// last error (the other areas have files of their own). Each function keeps
// Windows' semantics where the module could tell the difference, and
// records a breach where the module asks something Windows would refuse.

#include <algorithm>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t current_process = windows_process::current_process_handle;
using namespace windows_error;

// SYSTEM_INFO (36 bytes) with the given processor architecture.
void write_system_info(windows_process& p, std::uint32_t at, std::uint16_t architecture) {
  record r(36);
  r.put16(0, architecture);
  r.put32(4, 0x1000);       // dwPageSize
  r.put32(8, 0x00010000);   // lpMinimumApplicationAddress
  r.put32(12, 0x7FFEFFFF);  // lpMaximumApplicationAddress
  r.put32(16, (p.machine.processors >= 32 ? 0 : 1u << p.machine.processors) - 1);
  r.put32(20, p.machine.processors);
  r.put32(24, 586);      // dwProcessorType
  r.put32(28, 0x10000);  // dwAllocationGranularity
  r.put16(32, 6);        // wProcessorLevel
  r.write(p.cpu, at);
}

// GetVersionEx(OSVERSIONINFO[EX]{A,W}): the version, the service pack's
// text (128 characters, ANSI or UTF-16) and, in the EX record, its number,
// the suite and the product type.
void version_info(windows_process& p, stub_call& c, bool wide) {
  const std::uint32_t unit = wide ? 2 : 1;
  const std::uint32_t plain = 20 + 128 * unit, extended = plain + 8;
  const std::uint32_t size = p.cpu.read32(c.arg(0));
  if (size != extended)
    p.breach(c.name + " with a record size of " + std::to_string(size) + ", not " +
             std::to_string(extended));
  if (size != extended && size != plain) {
    p.set_last_error(insufficient_buffer);
    c.result(0);
    return;
  }
  const windows_machine& m = p.machine;
  record r(size);
  r.put32(0, size);
  r.put32(4, m.major_version);
  r.put32(8, m.minor_version);
  r.put32(12, m.build_number);
  r.put32(16, m.platform_id);
  for (std::size_t i = 0; i < std::min<std::size_t>(m.service_pack.size(), 127); ++i) {
    if (wide)
      r.put16(20 + 2 * i, static_cast<unsigned char>(m.service_pack[i]));
    else
      r.bytes[20 + i] = static_cast<std::uint8_t>(m.service_pack[i]);
  }
  if (size == extended) {
    r.put16(plain, m.service_pack_major);
    r.put16(plain + 4, m.suite_mask);
    r.bytes[plain + 6] = m.product_type;
  }
  r.write(p.cpu, c.arg(0));
  c.result(1);
}

}  // namespace

void provide_kernel32(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};

  provide("GetLastError", 0,
          [&p](stub_call& c) { c.result(p.cpu.read32(emulated_layout::thread_block + 0x34)); });
  provide("SetLastError", 4, [&p](stub_call& c) { p.set_last_error(c.arg(0)); });
  // The machine's description.
  provide("GetVersionExA", 4, [&p](stub_call& c) { version_info(p, c, false); });
  provide("GetVersionExW", 4, [&p](stub_call& c) { version_info(p, c, true); });
  provide("GetSystemInfo", 4,
          [&p](stub_call& c) { write_system_info(p, c.arg(0), p.machine.process_architecture); });
  provide("GetNativeSystemInfo", 4,
          [&p](stub_call& c) { write_system_info(p, c.arg(0), p.machine.native_architecture); });
  provide("IsWow64Process", 8, [&p](stub_call& c) {
    if (c.arg(0) != current_process)
      p.breach("IsWow64Process asked about a handle other than the current process");
    p.cpu.write32(c.arg(1), p.machine.wow64 ? 1 : 0);
    c.result(1);
  });
  provide("GetProductInfo", 20, [&p](stub_call& c) {
    if (c.arg(0) != 6 || c.arg(1) != 0 || c.arg(2) != 0 || c.arg(3) != 0)
      p.breach("GetProductInfo asked about a version other than 6.0 SP 0.0");
    p.cpu.write32(c.arg(4), p.machine.edition);
    c.result(1);
  });
  provide("GlobalMemoryStatusEx", 4, [&p](stub_call& c) {
    const std::uint32_t length = p.cpu.read32(c.arg(0));
    if (length != 64) {
      p.breach("GlobalMemoryStatusEx with a record length of " + std::to_string(length) +
               ", not 64");
      p.set_last_error(invalid_parameter);
      c.result(0);
      return;
    }
    const std::uint64_t total = p.machine.total_physical_memory;
    record r(64);
    r.put32(0, 64);
    r.put32(4, 40);  // dwMemoryLoad
    r.put64(8, total);
    r.put64(16, total / 2);
    r.put64(24, total * 2);
    r.put64(32, total);
    r.put64(40, std::uint64_t{2} << 30);  // the 32-bit process's user space
    r.put64(48, std::uint64_t{1} << 30);
    r.write(p.cpu, c.arg(0));
    c.result(1);
  });
  // GetVersion: the build in the high word (below 0x8000 for NT), minor and
  // major in the low one.
  provide("GetVersion", 0, [&p](stub_call& c) {
    const windows_machine& m = p.machine;
    c.result((m.build_number & 0x7FFF) << 16 | (m.minor_version & 0xFF) << 8 |
             (m.major_version & 0xFF));
  });
  // What CPUID says the processor has, under IsProcessorFeaturePresent's numbers.
  provide("IsProcessorFeaturePresent", 4, [&p](stub_call& c) {
    const cpuid_answer features = p.cpu.cpuid ? p.cpu.cpuid(1, 0) : native_cpuid(1, 0);
    const std::uint32_t extended =
        (p.cpu.cpuid ? p.cpu.cpuid(0x80000001u, 0) : native_cpuid(0x80000001u, 0)).edx;
    switch (c.arg(0)) {
      case 3:  // PF_MMX_INSTRUCTIONS_AVAILABLE
        return c.result(features.edx >> 23 & 1);
      case 6:  // PF_XMMI_INSTRUCTIONS_AVAILABLE
        return c.result(features.edx >> 25 & 1);
      case 8:  // PF_RDTSC_INSTRUCTION_AVAILABLE
        return c.result(features.edx >> 4 & 1);
      case 10:  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
        return c.result(features.edx >> 26 & 1);
      case 12:  // PF_NX_ENABLED
        return c.result(extended >> 20 & 1);
      case 13:  // PF_SSE3_INSTRUCTIONS_AVAILABLE
        return c.result(features.ecx & 1);
      case 2:  // PF_COMPARE_EXCHANGE_DOUBLE
        return c.result(features.edx >> 8 & 1);
      default:
        return c.result(0);
    }
  });
  provide("GetCurrentProcessId", 0, [](stub_call& c) { c.result(0x1234); });
  provide("GetCurrentProcess", 0, [](stub_call& c) { c.result(current_process); });
}
