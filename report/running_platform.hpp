#pragma once
// The running system's platform, one per operating system; only the one for
// the system being built for exists. Code outside the platform layer goes
// through active_platform() so that tests can substitute a fake.

#include "report/system_platform.hpp"

#ifdef _WIN32
// Windows kernel and user services plus CPUID.
system_platform& windows_system_platform();
#else
// A stand-in for development hosts: uname, sysconf, clock_gettime and CPUID.
system_platform& posix_system_platform();
#endif
