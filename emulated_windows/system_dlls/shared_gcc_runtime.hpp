#pragma once
// A stand-in for libgcc_s_dw2-1.dll, the shared GCC runtime that a plug-in
// or tool built with mingw's shared libraries brings into the host's
// process: a module of native functions exporting the frame-registration
// functions, which keeps every registration it receives. A module built
// with mingw looks for it by name when it starts and, when it is there,
// may register its unwind tables with it instead of its own runtime.

#include <cstdint>
#include <map>
#include <memory>

#include "emulated_windows/process/windows_process.hpp"

struct shared_gcc_runtime {
  std::uint32_t handle = 0;
  // Unwind tables registered and not deregistered: their start, and the
  // registration record the caller passed.
  std::map<std::uint32_t, std::uint32_t> registered_frames;
  std::uint64_t registrations = 0;
};

// Loads the stand-in into `process`, as a host would load another plug-in.
std::shared_ptr<shared_gcc_runtime> load_shared_gcc_runtime(windows_process& process);
