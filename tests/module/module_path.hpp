#pragma once
// The built plug-in module, as a path this platform's loader accepts.

#include <string>

inline std::string module_path() {
#if defined(_WIN32)
  // Wine maps the Unix root to drive Z:.
  return std::string("Z:") + VELLOQ_MODULE_PATH;
#else
  return VELLOQ_MODULE_PATH;
#endif
}
