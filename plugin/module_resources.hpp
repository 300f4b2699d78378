#pragma once
// The native module's resources. A Windows module carries them in its
// resource section; the native one exports this table, which the host
// searches by type, name and language the same way.

#include <cstdint>

struct module_resource {
  const char* type;
  const char* name;
  std::uint16_t language;
  const unsigned char* data;
  std::uint32_t size;
};

#define VELLOQ_RESOURCE_EXPORT __attribute__((visibility("default")))

extern "C" {
// Symbols the host looks up after loading a native module.
extern VELLOQ_RESOURCE_EXPORT const module_resource velloq_module_resources[];
extern VELLOQ_RESOURCE_EXPORT const unsigned velloq_module_resource_count;
}
