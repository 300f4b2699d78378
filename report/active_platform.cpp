#include "report/running_platform.hpp"
#include "report/system_platform.hpp"

namespace {

// Set by tests; borrowed, never owned.
system_platform* replacement_platform = nullptr;

}  // namespace

system_platform& active_platform() {
  if (replacement_platform != nullptr)
    return *replacement_platform;
#ifdef _WIN32
  return windows_system_platform();
#else
  return posix_system_platform();
#endif
}

void set_active_platform(system_platform* platform) {
  replacement_platform = platform;
}
