// The loader's functions of KERNEL32.dll as the emulated code calls them:
// modules are found by name or address among those the process has loaded
// (the system DLLs, a stand-in of another DLL, the images the host
// loaded); nothing is read from disk at the emulated code's request.

#include "emulated_windows/process/windows_loader.hpp"
#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t process_image = 0x00400000;  // the host's own executable
constexpr std::uint32_t error_invalid_parameter = 87;
constexpr std::uint32_t error_mod_not_found = 126;
constexpr std::uint32_t error_proc_not_found = 127;
constexpr std::uint32_t error_insufficient_buffer = 122;
constexpr std::uint32_t pin_flag = 0x1, unchanged_refcount_flag = 0x2, from_address_flag = 0x4;

using text_reader = std::string (*)(windows_process&, std::uint32_t);
std::string read_narrow(windows_process& p, std::uint32_t at) {
  return p.cpu.read_string(at);
}
std::string read_wide(windows_process& p, std::uint32_t at) {
  return read_wide_string(p.cpu, at);
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
       {std::pair<const char*, text_reader>{"A", read_narrow}, {"W", read_wide}}) {
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
    auto load_library = [&p, read](stub_call& c) {
      const std::uint32_t handle = loaded_module_named(p, read(p, c.arg(0)));
      if (handle != 0)
        p.add_module_reference(handle);
      c.result(handle);
    };
    p.provide(kernel32, std::string("LoadLibrary") + suffix, 4, load_library);
    // LoadLibraryEx(name, reserved, flags): the flags change how a file is
    // found or mapped, which does not matter for a module already loaded.
    p.provide(kernel32, std::string("LoadLibraryEx") + suffix, 12, load_library);
  }
  // GetModuleFileName(module, buffer, size): the module's path on the host's
  // machine; a path that does not fit is cut to size - 1 characters and a
  // NUL, and the size answered, as on XP.
  for (const bool wide : {false, true}) {
    p.provide(
        kernel32, wide ? "GetModuleFileNameW" : "GetModuleFileNameA", 12, [&p, wide](stub_call& c) {
          const std::uint32_t module = c.arg(0) == 0 ? process_image : c.arg(0);
          const std::string name = p.module_name(module);
          if (module != process_image && name.empty()) {
            p.set_last_error(error_mod_not_found);
            c.result(0);
            return;
          }
          const std::string path = module == process_image ? "C:\\Program Files\\Host\\host.exe"
                                   : p.image_at(module) != nullptr
                                       ? "C:\\Program Files\\Host\\plugins\\" + name
                                       : "C:\\WINDOWS\\system32\\" + name;
          const std::uint32_t size = c.arg(2);
          if (size == 0) {
            p.set_last_error(error_insufficient_buffer);
            c.result(0);
            return;
          }
          const std::string kept = path.substr(0, size - 1);
          write_text(p.cpu, c.arg(1), size, kept, wide);
          if (kept.size() < path.size())
            p.set_last_error(error_insufficient_buffer);
          c.result(kept.size() < path.size() ? size : static_cast<std::uint32_t>(path.size()));
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
  // A function this version of Windows lacks is absent (the runtime's probe
  // of msvcrt for ___lc_codepage_func then takes its fallback); one it has
  // is found, and a call of one that the emulated Windows does not provide
  // is the validator's gap.
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
