// Velloq.dll stays in the host's process once loaded.
//
// The host may free a plug-in it was told is not resident and load it again
// for the next render, again and again. Each load runs the static C and C++
// runtime's start-up once more, and some of what it takes is never given
// back, because it lives in the runtime's own internals: libstdc++'s
// emergency exception pool (about 19 KB of heap), the semaphore behind
// libgcc's registry of unwind tables, and, once an exception was thrown,
// the TLS slot and the semaphore of GCC's emulated thread-local storage.
// Windows has 1,088 TLS slots a process, so after about a thousand loads
// the host would die. Pinned, the module attaches once: a FreeLibrary keeps
// it mapped and attached, the next LoadLibrary gets the same module, and
// the runtime's one-time cost is paid once for the process's life. The
// exports keep no state between calls, so a pinned module serves a host
// that "loads" it again exactly as a fresh one would.

#include <windows.h>

namespace {

using get_module_handle_ex_w = BOOL(WINAPI*)(DWORD flags, LPCWSTR name, HMODULE* module);

void pin_this_module() {
  // Windows XP on; looked up by name, so that the module still loads on a
  // system without it (and is then unloaded as the host says).
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  const FARPROC address =
      kernel32 != nullptr ? GetProcAddress(kernel32, "GetModuleHandleExW") : nullptr;
  if (address == nullptr)
    return;
  const auto get_module_handle_ex =
      reinterpret_cast<get_module_handle_ex_w>(reinterpret_cast<void (*)()>(address));
  HMODULE self = nullptr;
  get_module_handle_ex(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&pin_this_module), &self);
}

}  // namespace

// Called by the Windows loader once the runtime has started, when the
// module is loaded into the process, and when the process ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    pin_this_module();
  return TRUE;
}
