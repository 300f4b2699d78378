#pragma once
// Where the native tests find what the Windows build made: scripts/test
// builds the win32 preset, and its release archive, before these run.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string win32_build_path(const std::string& relative) {
  return std::string(VELLOQ_WIN32_BUILD_DIR) + "/" + relative;
}

inline std::string shipped_dll_path() {
  return win32_build_path("bin/Velloq.dll");
}

inline std::string source_path(const std::string& relative) {
  return std::string(VELLOQ_SOURCE_DIR) + "/" + relative;
}

inline std::vector<unsigned char> read_bytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::filesystem::path& path) {
  const std::vector<unsigned char> bytes = read_bytes(path);
  return std::string(bytes.begin(), bytes.end());
}
