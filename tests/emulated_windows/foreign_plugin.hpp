#pragma once
// Velloq.dll loaded into a fresh emulated process, with the host's objects
// beside it, called as the host calls it.

#include <cstdint>
#include <string>
#include <vector>

#include "emulated_windows/host/plugin_host.hpp"
#include "tests/support/module_path.hpp"
#include "tests/support/test_host.hpp"

class foreign_plugin : public plugin_host {
 public:
  // Loads the DLL at `base` (0: its preferred base); the machine the
  // process describes can be set up before the load.
  explicit foreign_plugin(const windows_machine& machine = windows_machine(),
                          std::uint32_t base = 0, const std::string& path = win32_module_path());

  template <entry_point E>
  call_outcome call_export(const entry_point_words<E>& args) {
    return plugin_host::call_export<E>(module, args);
  }
  call_outcome call_export(entry_point e, const std::vector<std::uint32_t>& args) {
    return plugin_host::call_export(module, e, args);
  }
  // _create_interface@20; the component's address (0 when that failed).
  std::uint32_t create_component();
  // One frame: begin_render (slot 205) with `host`'s job and application,
  // then end_render (slot 207). Empty when both calls were clean, else what
  // went wrong.
  std::string render_frame(std::uint32_t component, test_host& host);

  loaded_module& module;
};

// The effector interface id as the host passes it, and another one.
extern const unsigned char effector_interface_id_bytes[16];
extern const unsigned char foreign_interface_id_bytes[16];
