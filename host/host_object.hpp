#pragma once
// Base of the five host objects: a reference-counted interface.

#include <cstdint>

#include "host/abi.hpp"

class host_object {
 public:
  // Called by whoever takes a reference of its own.
  virtual std::uint32_t VELLOQ_THISCALL AddRef() = 0;
  // Called once for every reference owned; the object may go away.
  virtual std::uint32_t VELLOQ_THISCALL Release() = 0;

 protected:
  ~host_object() = default;
};
