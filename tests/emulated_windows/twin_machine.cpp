#include "tests/emulated_windows/twin_machine.hpp"

windows_machine twin_machine::as_windows() const {
  windows_machine machine = windows_machine::of(version);
  machine.ticks = ticks;
  machine.processors = processors;
  machine.total_physical_memory = physical_memory;
  machine.adapters.clear();
  machine.cpuid = native_cpuid;
  return machine;
}

native_facts twin_machine::as_native() const {
  native_facts facts;
  // The counter wraps at 2^32 milliseconds; the native module keeps the
  // low 32 bits of a 64-bit count, so a wrapped tick is a later one.
  std::uint64_t epoch = 0;
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    if (i > 0 && ticks[i] < ticks[i - 1])
      epoch += std::uint64_t{1} << 32;
    facts.ticks.push_back(epoch + ticks[i]);
  }
  facts.processors = static_cast<long>(processors);
  facts.physical_memory = physical_memory;
  facts.system_name = "Windows";
  const bool xp = version == windows_version::xp_sp3;
  facts.release = xp ? "XP" : "7";
  facts.machine = xp ? "Professional Edition" : "Professional Edition 64-bit";
  return facts;
}
