#pragma once
// Calling conventions of the host boundary.
//
// The host is a 32-bit MSVC program. It calls the exports with the standard
// Windows convention (callee pops), the three IUnknown methods with the COM
// convention (stdcall, `this` on the stack) and its own interfaces with
// thiscall (`this` in ECX, callee pops). On other targets the macros are
// empty and the native convention applies throughout.

#if defined(_WIN32) && defined(__i386__)
#define VELLOQ_THISCALL __attribute__((thiscall))
#define VELLOQ_STDCALL __attribute__((stdcall))
#define VELLOQ_WIN32_ABI 1
#else
#define VELLOQ_THISCALL
#define VELLOQ_STDCALL
#define VELLOQ_WIN32_ABI 0
#endif
