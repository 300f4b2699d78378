#pragma once
// A plug-in file as velloq-validate reads it, and one emulated host process
// with that plug-in loaded and the validator's host objects beside it: the
// calls the host makes, each judged as the host's calling contract wants.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulated_windows/host/plugin_host.hpp"
#include "emulated_windows/process/pe_file.hpp"
#include "validator/contract_host.hpp"
#include "validator/validation.hpp"

// The file, read once: its headers and the resources the host reads.
struct plugin_file {
  // Throws pe_format_error for a file that is no PE image.
  static plugin_file read(const std::string& path);
  module_resources resources() const;

  std::string path;
  std::shared_ptr<const pe_file> image;
  std::map<std::string, std::string> strings;  // the string table, language 1033
};

// The component's table as the host calls it.
namespace table_slot {
inline constexpr int query_interface = 0, add_ref = 1, release = 2, deleting_destructor = 3,
                     is_valid = 4, begin_render = 205, end_render = 207;
}

// Empty when `outcome` came back clean, else what went wrong, naming `what`
// ("end_render (slot 207) did not return: calls abort(), which ends the
// host's process"). Throws validator_gap when the call reached a function
// the emulated Windows does not provide.
std::string call_problem(const std::string& what, const call_outcome& outcome);
// What a failed load or unload says (the first problem of DllMain or a TLS
// callback, empty when none), or validator_gap as call_problem throws it.
std::string load_problem(const load_error& error);
std::string unload_problem(const loaded_module::unload_report& report);
// Empty when `outcome` came back at all: for checks that judge what a call
// answers and leave how it kept the convention to the convention's check.
std::string return_problem(const std::string& what, const call_outcome& outcome);

class plugin_session {
 public:
  // Loads the plug-in into a fresh process of `machine` at `base` (0: its
  // preferred base). Throws load_error.
  plugin_session(const plugin_file& file, const windows_machine& machine, std::uint32_t base = 0);
  plugin_session(const plugin_session&) = delete;
  plugin_session& operator=(const plugin_session&) = delete;

  call_outcome call_export(const std::string& name, const std::vector<std::uint32_t>& args);
  call_outcome call_slot(std::uint32_t component, int slot, const std::vector<std::uint32_t>& args);
  // Emulated addresses of host things to pass.
  std::uint32_t application();
  std::uint32_t interface_id(bool effector);
  // `size` bytes of host memory between guard words that must stay as they are.
  std::uint32_t guarded_location(std::uint32_t size);
  bool guards_kept(std::uint32_t location, std::uint32_t size);

  // _create_interface@20: the component (0 when none came back); `outcome`
  // tells how the call went.
  std::uint32_t create_component(call_outcome& outcome);
  // A new render's job and picture.
  contract_frame& new_frame(std::int32_t width, std::int32_t height, bool aborted = false);
  struct hook_calls {
    call_outcome begin, end;
    // Empty when both hooks came back clean.
    std::string problem() const;
  };
  // begin_render and end_render; the job is gone once the end hook returned.
  hook_calls render(std::uint32_t component, contract_frame& frame);
  // Whether the heap block of the component is still there.
  bool component_alive(std::uint32_t component) const;

  const plugin_file& file;
  plugin_host host;
  loaded_module& module;
  contract_host contract;
};
