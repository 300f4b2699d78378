// KERNEL32.dll's clocks, all read from the process's virtual clock (see
// virtual_clock.hpp): the millisecond counters, the performance counter,
// the system time (UTC; the machine's time zone is UTC too), the
// conversions between FILETIME and SYSTEMTIME, and the process's times.

#include <memory>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/time_conversion.hpp"

namespace {

constexpr char kernel32[] = "KERNEL32.dll";

// GetTickCount answers the machine's chosen ticks in turn, when it has
// them, and keeps the last of them; else the clock, from the machine's
// starting tick on.
struct tick_source {
  bool scripted = false;
  std::uint64_t milliseconds(windows_process& p) {
    windows_machine& m = p.machine;
    if (!m.ticks.empty()) {
      m.tick = m.ticks.front();
      m.ticks.erase(m.ticks.begin());
      scripted = true;
    }
    if (scripted)
      return m.tick;
    return m.tick + p.clock.read() / 1'000'000;
  }
};

}  // namespace

void provide_kernel32_time(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};
  auto ticks = std::make_shared<tick_source>();
  provide("GetTickCount", 0, [&p, ticks](stub_call& c) {
    c.result(static_cast<std::uint32_t>(ticks->milliseconds(p)));
  });
  provide("GetTickCount64", 0, [&p, ticks](stub_call& c) { c.result64(ticks->milliseconds(p)); });
  provide("QueryPerformanceCounter", 4, [&p](stub_call& c) {
    write64(p.cpu, c.arg(0), p.clock.read() / (1'000'000'000 / virtual_clock::counts_per_second));
    c.result(1);
  });
  provide("QueryPerformanceFrequency", 4, [&p](stub_call& c) {
    write64(p.cpu, c.arg(0), virtual_clock::counts_per_second);
    c.result(1);
  });
  provide("GetSystemTimeAsFileTime", 4,
          [&p](stub_call& c) { write64(p.cpu, c.arg(0), file_time_now(p)); });
  for (const char* name : {"GetSystemTime", "GetLocalTime"}) {
    provide(name, 4,
            [&p](stub_call& c) { system_time_of(file_time_now(p)).write(p.cpu, c.arg(0)); });
  }
  provide("FileTimeToSystemTime", 8, [&p](stub_call& c) {
    const std::uint64_t file_time = read64(p.cpu, c.arg(0));
    if (file_time >= 0x8000000000000000ull) {
      p.set_last_error(windows_error::invalid_parameter);
      c.result(0);
      return;
    }
    system_time_of(file_time).write(p.cpu, c.arg(1));
    c.result(1);
  });
  provide("SystemTimeToFileTime", 8, [&p](stub_call& c) {
    const std::optional<std::uint64_t> file_time = file_time_of(p.cpu.read_bytes(c.arg(0), 16));
    if (!file_time) {
      p.set_last_error(windows_error::invalid_parameter);
      c.result(0);
      return;
    }
    write64(p.cpu, c.arg(1), *file_time);
    c.result(1);
  });
  for (const char* name : {"FileTimeToLocalFileTime", "LocalFileTimeToFileTime"}) {
    provide(name, 8, [&p](stub_call& c) {
      write64(p.cpu, c.arg(1), read64(p.cpu, c.arg(0)));
      c.result(1);
    });
  }
  // TIME_ZONE_INFORMATION of UTC, with no daylight saving time.
  provide("GetTimeZoneInformation", 4, [&p](stub_call& c) {
    record r(172);
    const std::string name = "Coordinated Universal Time";
    for (std::size_t i = 0; i < name.size(); ++i)
      r.put16(4 + 2 * i, static_cast<std::uint8_t>(name[i]));
    r.write(p.cpu, c.arg(0));
    c.result(0);  // TIME_ZONE_ID_UNKNOWN
  });
  provide("GetSystemTimeAdjustment", 12, [&p](stub_call& c) {
    p.cpu.write32(c.arg(0), 156250);
    p.cpu.write32(c.arg(1), 156250);
    p.cpu.write32(c.arg(2), 1);
    c.result(1);
  });
  // Get{Process,Thread}Times(handle, creation, exit, kernel, user): the
  // process started with the clock, and all its time was user time.
  for (const char* name : {"GetProcessTimes", "GetThreadTimes"}) {
    provide(name, 20, [&p](stub_call& c) {
      const std::uint64_t elapsed = p.clock.read() / 100;
      write64(p.cpu, c.arg(1), virtual_clock::start_file_time);
      write64(p.cpu, c.arg(2), 0);
      write64(p.cpu, c.arg(3), 0);
      write64(p.cpu, c.arg(4), elapsed);
      c.result(1);
    });
  }
}

void provide_winmm(windows_process& process) {
  windows_process& p = process;
  // timeGetTime counts milliseconds since the machine started, as
  // GetTickCount does.
  p.provide("WINMM.dll", "timeGetTime", 0, [&p](stub_call& c) {
    c.result(static_cast<std::uint32_t>(p.machine.tick + p.clock.read() / 1'000'000));
  });
  for (const char* name : {"timeBeginPeriod", "timeEndPeriod"})
    p.provide("WINMM.dll", name, 4, [](stub_call& c) { c.result(0); });  // TIMERR_NOERROR
}
