#pragma once
// IUnknown, the root of the component's interface chain. On Windows it is
// the SDK's own (COM convention: stdcall, `this` on the stack); elsewhere an
// equivalent with the same three methods in the same order.

#include <cstdint>

#include "host/abi.hpp"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <unknwn.h>
#else
using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using REFIID = const IID&;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
#endif

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

inline constexpr HRESULT velloq_e_nointerface = static_cast<HRESULT>(0x80004002u);
