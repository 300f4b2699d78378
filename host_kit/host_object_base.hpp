#pragma once
// Reference counting for the host's own objects. A new object starts with
// the one reference its creator holds; the last Release deletes it.

#include <cstdint>

#include "host/abi.hpp"

template <class Interface>
class ref_counted : public Interface {
 public:
  std::uint32_t VELLOQ_THISCALL AddRef() override { return ++references_; }
  std::uint32_t VELLOQ_THISCALL Release() override {
    const std::uint32_t remaining = --references_;
    if (remaining == 0)
      delete this;
    return remaining;
  }
  std::uint32_t reference_count() const { return references_; }

 protected:
  ref_counted() = default;
  virtual ~ref_counted() = default;

 private:
  std::uint32_t references_ = 1;
};
