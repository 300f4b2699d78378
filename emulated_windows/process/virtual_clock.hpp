#pragma once
// The emulated machine's time. It moves with the work the emulated code
// does (each translation block it runs counts as 10 ns), with every reading
// of a clock (1 us) and with every wait (Sleep, a wait that times out),
// never with the time the emulation itself takes: a run is as fast and as
// repeatable as the emulation, and a module that waits for a clock to move
// (the next tick of GetTickCount) sees it move within a few readings.

#include <cstdint>

class x86_emulator;

class virtual_clock {
 public:
  explicit virtual_clock(const x86_emulator& cpu) : cpu_(cpu) {}

  // Nanoseconds since the machine started; reading moves time on by 1 us.
  std::uint64_t read();
  // A wait of `milliseconds` that nothing ends early.
  void wait(std::uint64_t milliseconds) { waited_ += milliseconds * 1'000'000; }

  // QueryPerformanceCounter's rate: 100 ns a count, as on Windows 7 and later.
  static constexpr std::uint64_t counts_per_second = 10'000'000;
  // GetSystemTimeAsFileTime at the start: 2011-02-22 12:00 UTC (Windows 7
  // SP1's release), a fixed date so that runs repeat.
  static constexpr std::uint64_t start_file_time = 129428496000000000ull;

 private:
  const x86_emulator& cpu_;
  std::uint64_t reads_ = 0;
  std::uint64_t waited_ = 0;
};
