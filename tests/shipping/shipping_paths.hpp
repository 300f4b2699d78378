#pragma once
// Where the native tests find what the Windows build made: scripts/test
// builds the win32 preset, and its release archive, before these run.

#include <string>

inline std::string win32_build_path(const std::string& relative) {
  return std::string(VELLOQ_WIN32_BUILD_DIR) + "/" + relative;
}

inline std::string shipped_dll_path() {
  return win32_build_path("bin/Velloq.dll");
}

inline std::string source_path(const std::string& relative) {
  return std::string(VELLOQ_SOURCE_DIR) + "/" + relative;
}
