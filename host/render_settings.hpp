#pragma once
// The settings and measurements of the current render.

#include <cstdint>

#include "host/host_object.hpp"
#include "host/types.hpp"

class RenderSettings : public host_object {
 public:
  // A Uuid returned by value: MSVC passes the result location first and
  // returns it, so the table entry says so explicitly.
  virtual Uuid* VELLOQ_THISCALL get_renderer_uuid(Uuid* result, std::int32_t reserved) = 0;
  virtual std::int32_t VELLOQ_THISCALL get_gi_method(std::int32_t reserved) = 0;
  virtual bool VELLOQ_THISCALL get_irradiance_caching(std::int32_t reserved) = 0;
  // Seconds before host version 440468, milliseconds from it on.
  virtual std::int32_t VELLOQ_THISCALL get_setup_time(std::int32_t reserved) = 0;
  // Milliseconds.
  virtual std::int32_t VELLOQ_THISCALL get_rendering_time(std::int32_t reserved) = 0;
  // Called once after the plug-in has changed the output picture.
  virtual void VELLOQ_THISCALL notify_image_changed(std::int32_t reserved) = 0;

 protected:
  ~RenderSettings() = default;
};
