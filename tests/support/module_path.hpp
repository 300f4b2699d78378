#pragma once
// The built plug-in module, as a path this platform's loader accepts.

#include <string>

#if defined(VELLOQ_WIN32_MODULE)
#include <cstdlib>
#include <fstream>

#include "emulated_windows/process/windows_loader.hpp"
#endif

inline std::string module_path() {
#if defined(_WIN32)
  // Wine maps the Unix root to drive Z:.
  return std::string("Z:") + VELLOQ_MODULE_PATH;
#else
  return VELLOQ_MODULE_PATH;
#endif
}

#if defined(VELLOQ_WIN32_MODULE)
// The DLL the emulated host loads: VELLOQ_WIN32_MODULE from the environment,
// else the win32 build's. A missing file fails the load, naming the path.
inline std::string win32_module_path() {
  const char* chosen = std::getenv("VELLOQ_WIN32_MODULE");
  const std::string path = chosen != nullptr && *chosen != 0 ? chosen : VELLOQ_WIN32_MODULE;
  if (!std::ifstream(path, std::ios::binary)) {
    throw load_error("Velloq.dll not found at " + path +
                     " (build it first: cmake --preset win32 && "
                     "cmake --build --preset win32 --target velloq)");
  }
  return path;
}
#endif
