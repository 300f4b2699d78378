// The loader's functions of KERNEL32.dll as the emulated code calls them:
// modules are found by name or address among those the process has loaded
// (the system DLLs, a stand-in of another DLL, the images the host
// loaded); nothing is read from disk at the emulated code's request.

#include "emulated_windows/process/windows_loader.hpp"
#include "emulated_windows/process/windows_process.hpp"

namespace {

constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t process_image = 0x00400000;  // the host's own executable
constexpr std::uint32_t error_invalid_parameter = 87;
constexpr std::uint32_t error_mod_not_found = 126;
constexpr std::uint32_t error_proc_not_found = 127;
constexpr std::uint32_t pin_flag = 0x1, unchanged_refcount_flag = 0x2, from_address_flag = 0x4;

std::string read_wide_string(windows_process& p, std::uint32_t at) {
  std::string text;
  for (;; at += 2) {
    std::uint16_t c = 0;
    p.cpu.read(at, &c, 2);
    if (c == 0)
      return text;
    text += c < 0x80 ? static_cast<char>(c) : '?';
  }
}

using text_reader = std::string (*)(windows_process&, std::uint32_t);
std::string read_narrow_string(windows_process& p, std::uint32_t at) {
  return p.cpu.read_string(at);
}

std::uint32_t loaded_module_named(windows_process& p, const std::string& name) {
  const std::uint32_t handle = p.module_handle(name);
  if (handle == 0)
    p.set_last_error(error_mod_not_found);
  return handle;
}

}  // namespace

void provide_modules(windows_process& process) {
  windows_process& p = process;
  for (const auto& [suffix, read] :
       {std::pair<const char*, text_reader>{"A", read_narrow_string}, {"W", read_wide_string}}) {
    p.provide(kernel32, std::string("GetModuleHandle") + suffix, 4, [&p, read](stub_call& c) {
      c.result(c.arg(0) == 0 ? process_image : loaded_module_named(p, read(p, c.arg(0))));
    });
    // GetModuleHandleEx(flags, name or address, out): one more reference,
    // none, or the module kept loaded for the process's life.
    p.provide(kernel32, std::string("GetModuleHandleEx") + suffix, 12, [&p, read](stub_call& c) {
      const std::uint32_t flags = c.arg(0), out = c.arg(2);
      std::uint32_t handle = 0;
      if ((flags & pin_flag) != 0 && (flags & unchanged_refcount_flag) != 0) {
        p.set_last_error(error_invalid_parameter);
      } else if ((flags & from_address_flag) != 0) {
        const loaded_module* image = p.image_at(c.arg(1));
        handle = image != nullptr ? image->base() : 0;
        if (handle == 0)
          p.set_last_error(error_mod_not_found);
      } else {
        handle = c.arg(1) == 0 ? process_image : loaded_module_named(p, read(p, c.arg(1)));
      }
      if (handle != 0 && handle != process_image) {
        if ((flags & pin_flag) != 0)
          p.pin_module(handle);
        else if ((flags & unchanged_refcount_flag) == 0)
          p.add_module_reference(handle);
      }
      if (out != 0)
        p.cpu.write32(out, handle);
      c.result(handle != 0 ? 1 : 0);
    });
    p.provide(kernel32, std::string("LoadLibrary") + suffix, 4, [&p, read](stub_call& c) {
      const std::uint32_t handle = loaded_module_named(p, read(p, c.arg(0)));
      if (handle != 0)
        p.add_module_reference(handle);
      c.result(handle);
    });
  }
  p.provide(kernel32, "FreeLibrary", 4, [&p](stub_call& c) {
    const std::uint32_t handle = c.arg(0);
    if (p.module_references(handle) == 0) {
      p.breach("FreeLibrary of a module not loaded");
      p.set_last_error(error_mod_not_found);
      c.result(0);
      return;
    }
    if (p.image_at(handle) != nullptr && p.module_references(handle) == 1 &&
        !p.module_pinned(handle)) {
      c.cpu.stop_call("FreeLibrary of the last reference to " + p.module_name(handle) +
                      " from inside a call, which the emulated Windows does not do");
      return;
    }
    p.free_library(handle);
    c.result(1);
  });
  // A name no module provides counts as absent, as on a system too old for
  // it: the runtime's probes of msvcrt for ___lc_codepage_func and
  // __lc_codepage then take their fallback (the "C" locale's code page 0).
  p.provide(kernel32, "GetProcAddress", 8, [&p](stub_call& c) {
    // Names only: an ordinal (a value below 0x10000) finds nothing here.
    const std::string name = c.arg(1) >= 0x10000 ? p.cpu.read_string(c.arg(1)) : std::string();
    const std::uint32_t address = p.find_export(c.arg(0), name);
    if (address == 0)
      p.set_last_error(p.module_references(c.arg(0)) == 0 ? error_mod_not_found
                                                          : error_proc_not_found);
    c.result(address);
  });
}
