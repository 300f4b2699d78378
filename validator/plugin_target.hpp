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
#include "emulated_windows/host/slot_index.hpp"
#include "host/effector_interface.hpp"
#include "validator/contract_host.hpp"
#include "validator/validation.hpp"

// The component's table as the host calls it: each entry's slot read from
// its declaration (host/unknown_interface.hpp, host/effector_interface.hpp).
namespace table_slot {
inline const int query_interface = static_cast<int>(slot_index(&IUnknown::QueryInterface)),
                 add_ref = static_cast<int>(slot_index(&IUnknown::AddRef)),
                 release = static_cast<int>(slot_index(&IUnknown::Release)),
                 deleting_destructor =
                     static_cast<int>(slot_index(&unknown_interface::delete_this)),
                 is_valid = static_cast<int>(slot_index(&unknown_interface::is_valid_interface)),
                 begin_render = static_cast<int>(slot_index(&effector_interface::begin_render)),
                 end_render = static_cast<int>(slot_index(&effector_interface::end_render)),
                 get_plugin_uuid = static_cast<int>(slot_index(&plugin_interface::get_plugin_uuid));
}  // namespace table_slot

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
  // A C++ exception left the call. A module built with mingw's static
  // runtime cannot throw into its host: the runtime finds no handler of
  // its own, runs its terminate handler and abort() ends the process, which
  // the emulated process sees; an MSVC-built one raises exception
  // 0xE06D7363, which the host's own handler catches; a native module's
  // exception reaches the validator's code, which catches it. Everywhere
  // but in a reserved table entry it is a fault (`fault` says what).
  bool threw = false;
  bool clean() const { return returned && fault.empty(); }
};

// How the host names a table entry: "end_render (slot 207)",
// "plugin_interface operation 40 (slot 44)", "effector_interface reserved
// entry 3 (slot 223)".
std::string entry_name(int slot);

// How a call of a table entry by its declaration went (plugin_target::call_entry).
struct entry_call {
  target_call call;
  bool kept_to_locations = true;  // wrote nothing beside what its pointers give
  // For an entry answering through a location: whether the answer was that
  // location, or null (a null result, which leaves the location alone).
  bool answered_location = true;
  // What the first pointer argument's memory held after the call.
  std::vector<std::uint8_t> first_location;
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
  virtual target_call add_ref(component_ref component) = 0;  // slot 1
  virtual target_call release(component_ref component) = 0;  // slot 2
  // The destructor (slot 3) as a host that deletes the component itself
  // calls it: flags 1, free the memory; it answers the component's address.
  virtual target_call destroy(component_ref component) = 0;
  virtual target_call is_valid(component_ref component) = 0;                             // slot 4
  virtual target_call begin_render(component_ref component, contract_frame& frame) = 0;  // 205
  virtual target_call end_render(component_ref component) = 0;                           // slot 207
  // get_uuid for `id`: the UUID it answered through its result location.
  virtual target_call get_uuid(interface_query id, Uuid& answered) = 0;
  // Entry `slot` of the component's table, called as its declaration says
  // (host/component_table.hpp): pointers to fresh host memory for its
  // pointer arguments, 0 for the others.
  virtual entry_call call_entry(component_ref component, int slot) = 0;
  // Whether `slot` of the component's table holds the address of code in
  // the module: empty when it does (or cannot be told), else what it holds.
  virtual std::string entry_not_code(component_ref component, int slot) const = 0;
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
