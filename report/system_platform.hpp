#pragma once
// What the plug-in asks of the running system: the millisecond tick and the
// raw machine facts. One implementation per operating system; tests put a
// fake in its place to feed the report chosen facts and ticks.

#include <cstdint>
#include <string>

class system_platform {
 public:
  // Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
  virtual std::uint32_t tick_count() = 0;
  // The operating-system text of the report's OS line.
  virtual std::string operating_system_text() = 0;
  // Logical processors, as the system reports them.
  virtual std::int32_t processor_count() = 0;
  // The processor's brand string up to its first zero byte (at most 48).
  virtual std::string read_processor_brand() = 0;
  // The primary display adapter's name, or "Unknown GPU".
  virtual std::string primary_adapter_name() = 0;
  // Installed physical memory in bytes.
  virtual std::uint64_t total_physical_memory() = 0;

 protected:
  ~system_platform() = default;
};

// The platform in use: the running system's unless a test replaced it.
system_platform& active_platform();

// Replaces the platform in use; nullptr restores the running system's.
void set_active_platform(system_platform* platform);
