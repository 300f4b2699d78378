#pragma once
// The host's root interface: reference counting and the one-slot deleting
// destructor, laid out as an MSVC-built host expects.
//
// Table slots: 0 QueryInterface, 1 AddRef, 2 Release (COM convention),
// 3 the deleting destructor, 4 the validity query. GCC would give a virtual
// destructor two slots, so the destructor here is an ordinary virtual method
// with MSVC's signature and no C++ destructor is virtual.

#include <cstdint>

#include "host/abi.hpp"
#include "host/com_unknown.hpp"

class unknown_interface : public IUnknown {
 public:
  // Called by the host to ask for another interface; none is handed out.
  // [when: after create; thread: render; re-entrant: no]
  HRESULT VELLOQ_STDCALL QueryInterface(REFIID, void**) override { return velloq_e_nointerface; }
  // Called by the host when it keeps another reference.
  // [when: after create; thread: render; re-entrant: no]
  ULONG VELLOQ_STDCALL AddRef() override { return static_cast<ULONG>(++reference_count); }
  // Called by the host when it drops a reference; the last one destroys.
  // [when: after create; thread: render; re-entrant: no]
  ULONG VELLOQ_STDCALL Release() override {
    const std::int32_t remaining = --reference_count;
    if (remaining != 0)
      return static_cast<ULONG>(remaining);
    delete_this(1);
    return 0;
  }

  // Slot 3, MSVC's deleting destructor: destroys the object, frees its
  // memory when bit 0 of `flags` is set, and returns the object's address.
  // Called by the last Release, or by a host that deletes the object itself.
  // [when: after create; thread: render; re-entrant: no]
  virtual void* VELLOQ_THISCALL delete_this(unsigned flags) = 0;

  // Slot 4: called by the host to check that it holds a live interface.
  // [when: after create; thread: render; re-entrant: no]
  virtual bool VELLOQ_THISCALL is_valid_interface() { return true; }

  std::int32_t get_reference_count() const { return reference_count; }

 protected:
  unknown_interface() = default;
  ~unknown_interface() = default;

  // A plain integer: the host calls one component from one thread only.
  std::int32_t reference_count = 0;
};
