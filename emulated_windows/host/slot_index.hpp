#pragma once
// The table slot of a virtual member function, read from its pointer to
// member: GCC stores 1 + the slot's byte offset for a virtual function.

#include <cstddef>
#include <cstdint>
#include <cstring>

template <class Member>
std::ptrdiff_t slot_index(Member member) {
  struct representation {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  };
  static_assert(sizeof(Member) == sizeof(representation), "Itanium pointer to member");
  representation r{};
  std::memcpy(&r, &member, sizeof r);
  if ((r.pointer & 1u) == 0)
    return -1;  // not a virtual function
  return static_cast<std::ptrdiff_t>((r.pointer - 1) / sizeof(void*));
}
