#pragma once
// Services the host offers one plug-in module: its resources and the host's
// product text. The three operations take no reserved argument.

#include "host/host_image.hpp"
#include "host/host_object.hpp"

class HostServices : public host_object {
 public:
  // The text for `id` from this module's string table, in the host's
  // language; NUL-terminated and owned by the host (borrowed).
  virtual const char* VELLOQ_THISCALL get_localized_string(const char* id) = 0;
  // This module's image resource named `name`; an owned reference.
  virtual HostImage* VELLOQ_THISCALL load_image_resource(const char* name) = 0;
  // The host's product and version text; NUL-terminated, borrowed.
  virtual const char* VELLOQ_THISCALL get_version_text() = 0;

 protected:
  ~HostServices() = default;
};
