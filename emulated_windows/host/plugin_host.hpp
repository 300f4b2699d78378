#pragma once
// A host process around plug-in DLLs: the emulated Windows process, the
// host's objects beside it, and the host's two ways of calling a plug-in:
// an export by its decorated name (stdcall) and an entry of an object's
// table by its position (thiscall, or COM stdcall for IUnknown).

#include <cstdint>
#include <string>
#include <vector>

#include "emulated_windows/host/emulated_host_objects.hpp"
#include "emulated_windows/host/entry_point_calls.hpp"
#include "emulated_windows/process/windows_loader.hpp"
#include "emulated_windows/process/windows_process.hpp"

class plugin_host {
 public:
  explicit plugin_host(const windows_machine& machine = windows_machine());

  // The export `e` of `module`, found by its decorated name; a call that did
  // not return, naming the export, when the module has none.
  template <entry_point E>
  call_outcome call_export(const loaded_module& module, const entry_point_words<E>& args) {
    return call_export(module, E, std::vector<std::uint32_t>(args.begin(), args.end()));
  }
  // The same for an entry point chosen at run time; `args` must hold its
  // words (std::invalid_argument otherwise).
  call_outcome call_export(const loaded_module& module, entry_point e,
                           const std::vector<std::uint32_t>& args);
  // Entry `slot` of the table of the object at `object`.
  call_outcome call_slot(std::uint32_t object, int slot, call_convention convention,
                         const std::vector<std::uint32_t>& args);
  // Host memory holding `size` bytes copied from `data`.
  std::uint32_t host_bytes(const void* data, std::size_t size);

  windows_process process;
  emulated_host_objects hosts{process};
};
