#pragma once
// A plug-in under test as the validator's behaviour checks drive it: the
// export that creates its component and the component's table entries the
// host calls, each answering how the call went, whichever way the plug-in
// is loaded: a Windows DLL in the emulated process (emulated_plugin.hpp) or
// a native module in this one (native_plugin.hpp), where the sanitizers
// watch it. Both hand the plug-in the same host objects (contract_host).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulated_windows/host/entry_point_calls.hpp"
#include "validator/contract_host.hpp"
#include "validator/validation.hpp"

// A component: its emulated address, or its address in this process; 0: none.
using component_ref = std::uintptr_t;

// How one call into the plug-in went.
struct target_call {
  std::uint32_t answer = 0;  // the 32-bit result (EAX)
  bool returned = true;
  std::string fault;  // empty: came back as the host's calling contract wants
  // The call reached what the validator cannot emulate (a system function
  // the emulated Windows does not provide): `fault` says what, and no fault
  // of the plug-in is known.
  bool validator_gap = false;
  bool clean() const { return returned && fault.empty(); }
};

// Empty when `call` came back clean, else what went wrong, naming `what`
// ("end_render (slot 207) did not return: calls abort(), which ends the
// host's process"). Throws validator_gap when the call reached what the
// validator cannot emulate.
std::string call_problem(const std::string& what, const target_call& call);
// Empty when `call` came back at all: for checks that judge what a call
// answers and leave how it kept the convention to the convention's check.
std::string return_problem(const std::string& what, const target_call& call);

// The ids a host asks QueryInterface for.
enum class interface_query { iunknown, effector, another };

class plugin_target {
 public:
  explicit plugin_target(module_resources resources) : contract(std::move(resources)) {}
  virtual ~plugin_target() = default;
  plugin_target(const plugin_target&) = delete;
  plugin_target& operator=(const plugin_target&) = delete;

  // How messages name an entry point: its decorated or its plain name.
  virtual std::string name_of(entry_point e) const = 0;
  // create_interface: the component it stored through its third argument
  // (0: none); `kept_to_location` is false when it wrote beside it.
  virtual target_call create_interface(component_ref& component, bool& kept_to_location) = 0;
  // QueryInterface (slot 0) for `id`: what it stored through its out-pointer.
  virtual target_call query_interface(component_ref component, interface_query id,
                                      component_ref& stored, bool& kept_to_location) = 0;
  virtual target_call add_ref(component_ref component) = 0;                              // slot 1
  virtual target_call release(component_ref component) = 0;                              // slot 2
  virtual target_call is_valid(component_ref component) = 0;                             // slot 4
  virtual target_call begin_render(component_ref component, contract_frame& frame) = 0;  // 205
  virtual target_call end_render(component_ref component) = 0;                           // slot 207
  // Whether the component's memory is still allocated; none: cannot tell.
  virtual std::optional<bool> component_alive(component_ref component) const = 0;
  // Allocations the plug-in made so far; none when they cannot be counted
  // (nor failed) here.
  virtual std::optional<std::uint64_t> allocations() const = 0;
  // The `nth` allocation from now on fails (0: none does).
  virtual void fail_allocation(std::uint64_t nth) = 0;
  // The host drops the module; what its unloading did wrong (the first
  // problem of DllMain or a TLS callback; empty: none). Throws
  // validator_gap as call_problem does.
  virtual std::string unload() = 0;

  // The component, or a problem naming the export.
  component_ref create_component(std::string& problem);
  // A new render's job and picture.
  contract_frame& new_frame(std::int32_t width, std::int32_t height, bool aborted = false);
  struct hook_calls {
    target_call begin, end;
    // Empty when both hooks came back clean.
    std::string problem() const;
  };
  // begin_render and end_render; the job is gone once the end hook returned.
  hook_calls render(component_ref component, contract_frame& frame);

  contract_host contract;
};
