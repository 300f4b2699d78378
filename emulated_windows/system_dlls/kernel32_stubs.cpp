// KERNEL32.dll as the module uses it. Each function keeps Windows'
// semantics where the module could tell the difference, and records a
// breach where the module asks something Windows would refuse.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include "emulated_windows/process/windows_process.hpp"

namespace {

constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t current_process = 0xFFFFFFFF;
constexpr std::uint32_t thread_id = 0x5678;
constexpr std::uint32_t error_invalid_handle = 6;
constexpr std::uint32_t error_invalid_parameter = 87;
constexpr std::uint32_t error_insufficient_buffer = 122;

// A little-endian record assembled field by field, then written at once.
struct record {
  explicit record(std::size_t size) : bytes(size, 0) {}
  template <class T>
  void put(std::size_t at, T value) {
    if (at + sizeof value > bytes.size())
      throw std::out_of_range("record field past the record's end");
    std::memcpy(bytes.data() + at, &value, sizeof value);
  }
  void put16(std::size_t at, std::uint16_t value) { put(at, value); }
  void put32(std::size_t at, std::uint32_t value) { put(at, value); }
  void put64(std::size_t at, std::uint64_t value) { put(at, value); }
  std::vector<std::uint8_t> bytes;
};

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
  p.cpu.write(at, r.bytes.data(), r.bytes.size());
}

}  // namespace

void provide_kernel32(windows_process& process) {
  windows_process& p = process;
  auto provide = [&p](const char* name, std::uint16_t popped, stub_handler handler) {
    p.provide(kernel32, name, popped, std::move(handler));
  };

  // Thread-local storage: the slots live in the thread block (and the
  // expansion array it points to), as on Windows.
  // A slot not allocated fails the call as on Windows, and is a breach.
  auto slot_in_use = [&p](stub_call& c) {
    if (p.tls_slot_in_use(c.arg(0)))
      return true;
    p.breach(c.name + " of a slot not allocated: " + std::to_string(c.arg(0)));
    p.set_last_error(error_invalid_parameter);
    c.result(0);
    return false;
  };
  provide("TlsAlloc", 0, [&p](stub_call& c) { c.result(p.allocate_tls_slot()); });
  provide("TlsFree", 4, [&p, slot_in_use](stub_call& c) {
    if (slot_in_use(c))
      c.result(p.free_tls_slot(c.arg(0)) ? 1 : 0);
  });
  provide("TlsGetValue", 4, [&p, slot_in_use](stub_call& c) {
    if (!slot_in_use(c))
      return;
    // Windows clears the last error here, so that a stored 0 can be told apart.
    p.set_last_error(0);
    c.result(p.cpu.read32(p.tls_slot_address(c.arg(0))));
  });
  provide("TlsSetValue", 8, [&p, slot_in_use](stub_call& c) {
    if (!slot_in_use(c))
      return;
    p.cpu.write32(p.tls_slot_address(c.arg(0)), c.arg(1));
    c.result(1);
  });

  provide("GetLastError", 0,
          [&p](stub_call& c) { c.result(p.cpu.read32(emulated_layout::thread_block + 0x34)); });
  provide("SetLastError", 4, [&p](stub_call& c) { p.set_last_error(c.arg(0)); });
  provide("GetCurrentProcess", 0, [](stub_call& c) { c.result(current_process); });

  // Critical sections: one thread, so entering never waits; the books
  // catch a leave without an enter and a section never deleted.
  provide("InitializeCriticalSection", 4, [&p](stub_call& c) {
    record r(24);
    r.put32(4, 0xFFFFFFFF);  // LockCount
    p.cpu.write(c.arg(0), r.bytes.data(), r.bytes.size());
    p.critical_sections.insert(c.arg(0));
  });
  provide("DeleteCriticalSection", 4, [&p](stub_call& c) {
    if (p.critical_sections.erase(c.arg(0)) == 0)
      p.breach("DeleteCriticalSection of a section never initialised");
    else if (p.cpu.read32(c.arg(0) + 8) != 0)
      p.breach("DeleteCriticalSection of a section still entered");
  });
  provide("EnterCriticalSection", 4, [&p](stub_call& c) {
    if (p.critical_sections.count(c.arg(0)) == 0)
      p.breach("EnterCriticalSection of a section never initialised");
    p.cpu.write32(c.arg(0) + 8, p.cpu.read32(c.arg(0) + 8) + 1);  // RecursionCount
    p.cpu.write32(c.arg(0) + 12, thread_id);                      // OwningThread
  });
  provide("LeaveCriticalSection", 4, [&p](stub_call& c) {
    const std::uint32_t depth = p.cpu.read32(c.arg(0) + 8);
    if (depth == 0) {
      p.breach("LeaveCriticalSection of a section not entered");
      return;
    }
    p.cpu.write32(c.arg(0) + 8, depth - 1);
    if (depth == 1)
      p.cpu.write32(c.arg(0) + 12, 0);
  });

  // Semaphores back the runtime's locks; with one thread they are never
  // waited on, so only their handles matter.
  provide("CreateSemaphoreW", 16, [&p](stub_call& c) {
    if (c.arg(1) > c.arg(2) || c.arg(2) == 0) {
      p.set_last_error(error_invalid_parameter);
      c.result(0);
      return;
    }
    c.result(p.open_handle("semaphore"));
  });
  provide("CloseHandle", 4, [&p](stub_call& c) {
    if (!p.close_handle(c.arg(0))) {
      p.breach("CloseHandle of a handle not open");
      p.set_last_error(error_invalid_handle);
      c.result(0);
      return;
    }
    c.result(1);
  });

  // Text conversions. The emulated system's ANSI code page is ISO 8859-1:
  // every byte is the character of the same number, and a character above
  // 0xFF becomes '?', reported through the used-default flag.
  provide("WideCharToMultiByte", 32, [&p](stub_call& c) {
    std::vector<std::uint16_t> wide;
    for (std::uint32_t at = c.arg(2), i = 0; c.arg(3) == 0xFFFFFFFF || i < c.arg(3); ++i, at += 2) {
      std::uint16_t w = 0;
      p.cpu.read(at, &w, 2);
      wide.push_back(w);
      if (c.arg(3) == 0xFFFFFFFF && w == 0)
        break;
    }
    std::vector<std::uint8_t> narrow;
    bool used_default = false;
    for (std::uint16_t w : wide) {
      used_default = used_default || w > 0xFF;
      narrow.push_back(w > 0xFF ? '?' : static_cast<std::uint8_t>(w));
    }
    if (c.arg(7) != 0)
      p.cpu.write32(c.arg(7), used_default ? 1 : 0);
    if (c.arg(5) != 0) {
      if (narrow.size() > c.arg(5)) {
        p.set_last_error(error_insufficient_buffer);
        c.result(0);
        return;
      }
      p.cpu.write(c.arg(4), narrow.data(), narrow.size());
    }
    c.result(static_cast<std::uint32_t>(narrow.size()));
  });
  provide("MultiByteToWideChar", 24, [&p](stub_call& c) {
    std::vector<std::uint16_t> wide;
    for (std::uint32_t at = c.arg(2), i = 0; c.arg(3) == 0xFFFFFFFF || i < c.arg(3); ++i, ++at) {
      const std::uint8_t b = p.cpu.read_bytes(at, 1)[0];
      wide.push_back(b);
      if (c.arg(3) == 0xFFFFFFFF && b == 0)
        break;
    }
    if (c.arg(5) != 0) {
      if (wide.size() > c.arg(5)) {
        p.set_last_error(error_insufficient_buffer);
        c.result(0);
        return;
      }
      p.cpu.write(c.arg(4), wide.data(), 2 * wide.size());
    }
    c.result(static_cast<std::uint32_t>(wide.size()));
  });

  // The machine's description.
  provide("GetVersionExA", 4, [&p](stub_call& c) {
    const std::uint32_t size = p.cpu.read32(c.arg(0));
    if (size != 156)
      p.breach("GetVersionExA with a record size of " + std::to_string(size) + ", not 156");
    if (size != 156 && size != 148) {
      p.set_last_error(error_insufficient_buffer);
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
    std::copy_n(m.service_pack.begin(), std::min<std::size_t>(m.service_pack.size(), 127),
                r.bytes.begin() + 20);  // szCSDVersion
    if (size == 156) {
      r.put16(148, m.service_pack_major);
      r.put16(152, m.suite_mask);
      r.bytes[154] = m.product_type;
    }
    p.cpu.write(c.arg(0), r.bytes.data(), r.bytes.size());
    c.result(1);
  });
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
      p.set_last_error(error_invalid_parameter);
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
    p.cpu.write(c.arg(0), r.bytes.data(), r.bytes.size());
    c.result(1);
  });
  provide("GetTickCount64", 0, [&p](stub_call& c) { c.result64(p.machine.tick); });
  provide("GetCurrentThreadId", 0, [](stub_call& c) { c.result(thread_id); });
  provide("GetCurrentProcessId", 0, [](stub_call& c) { c.result(0x1234); });
  provide("GetTickCount", 0, [&p](stub_call& c) {
    windows_machine& m = p.machine;
    if (!m.ticks.empty()) {
      m.tick = m.ticks.front();
      m.ticks.erase(m.ticks.begin());
    }
    c.result(m.tick);
  });
}
