#include "refhost/hosting/module_location.hpp"

#include <filesystem>
#include <system_error>

#include "refhost/system/executable_dir.hpp"

std::string default_module_path() {
#if defined(_WIN32)
  return executable_dir() + "\\Velloq.dll";
#else
  const std::string beside = executable_dir() + "/Velloq.so";
  const std::string installed = executable_dir() + "/../lib/velloq/Velloq.so";
  std::error_code error;
  if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error))
    return std::filesystem::path(installed).lexically_normal().string();
  return beside;
#endif
}
