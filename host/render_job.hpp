#pragma once
// One render. The host keeps it alive from the begin hook until the
// matching end hook has returned.

#include <cstdint>

#include "host/host_application.hpp"
#include "host/host_image.hpp"
#include "host/host_object.hpp"

class RenderJob : public host_object {
 public:
  // True: post-processing of this render is skipped.
  virtual bool VELLOQ_THISCALL is_aborted(std::int32_t reserved) = 0;
  // The finished, writable picture; an owned reference.
  virtual HostImage* VELLOQ_THISCALL get_output_image(std::int32_t reserved) = 0;
  // An owned reference.
  virtual HostApplication* VELLOQ_THISCALL get_application(std::int32_t reserved) = 0;

 protected:
  ~RenderJob() = default;
};
