// Velloq.dll's unwind tables go to its own C++ runtime, whatever else the
// host has loaded.
//
// The module links GCC's runtime statically, and its exceptions are thrown
// and caught inside it by that runtime's unwinder, which finds a function's
// unwind table only in its own registry. But mingw's start-up code (the
// crtbegin object every module gets) first asks GetModuleHandleA whether
// libgcc_s_dw2-1.dll, the shared GCC runtime, is in the process and, when
// another plug-in or tool has brought it, registers the module's tables
// there instead. The module's first exception then finds no table and ends
// the host. So the module is linked with its import of GetModuleHandleA
// wrapped (-Wl,--wrap=_imp__GetModuleHandleA@4): every call from inside
// the module comes here, and the shared runtime is answered as absent. The
// start-up code then registers the tables with the module's own runtime
// and deregisters them there at unload, as it does in a process without
// the shared runtime; nothing of the module is ever registered in the
// other module, which is not loaded again either. Calls for any other
// name go to Windows unchanged.

#include <windows.h>

namespace {

using get_module_handle_a = HMODULE(WINAPI*)(LPCSTR name);

// The name mingw's start-up code looks for (crtbegin's LIBGCC_SONAME).
constexpr char shared_gcc_runtime[] = "libgcc_s_dw2-1.dll";

}  // namespace

// The import slot itself, as the linker's --wrap gives it to us.
extern "C" get_module_handle_a windows_get_module_handle_a __asm__(
    "___real__imp__GetModuleHandleA@4");

namespace {

// Module names compare without regard to ASCII case.
bool names_the_shared_runtime(const char* name) {
  for (const char* wanted = shared_gcc_runtime;; ++name, ++wanted) {
    const char c = (*name >= 'A' && *name <= 'Z') ? static_cast<char>(*name - 'A' + 'a') : *name;
    if (c != *wanted)
      return false;
    if (c == 0)
      return true;
  }
}

HMODULE WINAPI get_module_handle_a_but_not_the_shared_runtime(LPCSTR name) {
  if (name != nullptr && names_the_shared_runtime(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return windows_get_module_handle_a(name);
}

}  // namespace

// What the module's calls of GetModuleHandleA go through instead of the
// import slot.
extern "C" get_module_handle_a wrapped_get_module_handle_a __asm__(
    "___wrap__imp__GetModuleHandleA@4");
get_module_handle_a wrapped_get_module_handle_a = get_module_handle_a_but_not_the_shared_runtime;
