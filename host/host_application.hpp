#pragma once
// The host application as the plug-in sees it.

#include <cstdint>

#include "host/host_object.hpp"
#include "host/host_services.hpp"
#include "host/render_settings.hpp"

class HostApplication : public host_object {
 public:
  // The host's version number (a build number such as 430196).
  virtual std::int32_t VELLOQ_THISCALL get_version(std::int32_t reserved) = 0;
  // Borrowed: never released by the plug-in.
  virtual HostServices* VELLOQ_THISCALL get_services(std::int32_t reserved) = 0;
  // The settings of the current render; an owned reference.
  virtual RenderSettings* VELLOQ_THISCALL get_render_settings(std::int32_t reserved) = 0;

 protected:
  ~HostApplication() = default;
};
