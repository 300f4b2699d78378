#pragma once
// Calling conventions of the host boundary.
//
// The host is a 32-bit MSVC program. It calls the exports with the standard
// Windows convention (callee pops), the three IUnknown methods with the COM
// convention (stdcall, `this` on the stack) and its own interfaces with
// thiscall (`this` in ECX, callee pops). On other targets the macros are
// empty and the native convention applies throughout.
//
// Every function the host calls carries a tag of one fixed form in its
// comment: when the host calls it, on which thread, and whether a call may
// begin while another is still running.
//
//   [when: discovery | after create | per render; thread: any | render; re-entrant: yes | no]
//
//   when        discovery: while the host asks the module what it offers,
//               before any component exists, as often as it likes;
//               after create: at any time from create_interface to the
//               component's last Release;
//               per render: once in each render, begin hook before end hook.
//   thread      any: whichever thread the host happens to call from;
//               render: the one thread on which the host drives that
//               component (velloq-host: the worker that created it).
//   re-entrant  yes: calls may overlap, on several threads at once;
//               no: never while another call into the same component runs
//               (the component has no lock and a plain reference count).

#if defined(_WIN32) && defined(__i386__)
#define VELLOQ_THISCALL __attribute__((thiscall))
#define VELLOQ_STDCALL __attribute__((stdcall))
#define VELLOQ_WIN32_ABI 1
#else
#define VELLOQ_THISCALL
#define VELLOQ_STDCALL
#define VELLOQ_WIN32_ABI 0
#endif
