#pragma once
// A plug-in DLL as velloq-validate reads it, and the plug-in target that runs
// it in an emulated Windows process.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulated_windows/host/plugin_host.hpp"
#include "emulated_windows/process/pe_file.hpp"
#include "host/effector_interface.hpp"
#include "validator/plugin_target.hpp"

// The file, read once: its headers and the resources the host reads.
struct plugin_file {
  // Throws pe_format_error for a file that is no PE image.
  static plugin_file read(const std::string& path);
  module_resources resources() const;

  std::string path;
  std::shared_ptr<const pe_file> image;
  std::map<std::string, std::string> strings;  // the string table, language 1033
};

// How an emulated call went, as the checks judge it.
target_call judged(const call_outcome& outcome);
// What a failed load or unload says (the first problem of DllMain or a TLS
// callback, empty when none), or validator_gap as call_problem throws it.
std::string load_problem(const load_error& error);
std::string unload_problem(const loaded_module::unload_report& report);

// One emulated host process with the plug-in loaded and the validator's host
// objects beside it: the calls the host makes, each judged as the host's
// calling contract wants. The process stays behind this interface.
class emulated_plugin final : public plugin_target {
 public:
  // Loads the plug-in into a fresh process of `machine` at `base` (0: its
  // preferred base). Throws load_error.
  emulated_plugin(const plugin_file& file, const windows_machine& machine, std::uint32_t base = 0);

  // The behaviour checks' calls (plugin_target).
  std::string name_of(entry_point e) const override { return facts_of(e).decorated_name; }
  target_call create_interface(component_ref& component, bool& kept_to_location) override;
  target_call query_interface(component_ref component, interface_query id, component_ref& stored,
                              bool& kept_to_location) override;
  target_call add_ref(component_ref component) override;
  target_call release(component_ref component) override;
  target_call destroy(component_ref component) override;
  target_call is_valid(component_ref component) override;
  target_call begin_render(component_ref component, contract_frame& frame) override;
  target_call end_render(component_ref component) override;
  std::optional<bool> component_alive(component_ref component) const override;
  std::optional<std::uint64_t> allocations() const override;
  void fail_allocation(std::uint64_t nth) override;
  std::string unload() override;

  target_call get_uuid(interface_query id, Uuid& answered) override;
  entry_call call_entry(component_ref component, int slot) override;
  std::string entry_not_code(component_ref component, int slot) const override;

  // The Windows DLL's own: exports and table entries by their words, each
  // within the budget of a call (below) and in the ledger as that call.
  template <entry_point E>
  call_outcome call_export(const entry_point_words<E>& args) {
    return call_export(E, std::vector<std::uint32_t>(args.begin(), args.end()));
  }
  call_outcome call_export(entry_point e, const std::vector<std::uint32_t>& args);
  call_outcome call_slot(std::uint32_t component, int slot, const std::vector<std::uint32_t>& args);

  // How much work one call may do before it counts as not returning, in
  // translation blocks of emulated code (the emulated clock counts 10 ns
  // each): a few times what a hook that stamps a picture needs. The end
  // hook's grows with its picture, since a hook may visit every pixel a
  // few times; every other call gets the fixed part. 8,000,000 blocks run
  // in a few seconds here, also in a loop that calls the host.
  static constexpr std::uint64_t fixed_budget = 8'000'000;
  static constexpr std::uint64_t budget_per_pixel = 32;
  // Emulated addresses of host things to pass.
  std::uint32_t application();
  std::uint32_t interface_id(interface_query id);
  // `size` bytes of host memory between guard words that must stay as they are.
  std::uint32_t guarded_location(std::uint32_t size);
  bool guards_kept(std::uint32_t location, std::uint32_t size) const;
  std::uint32_t read32(std::uint32_t address) const;
  void write32(std::uint32_t address, std::uint32_t value);
  std::vector<std::uint8_t> read_bytes(std::uint32_t address, std::size_t size) const;
  std::string read_string(std::uint32_t address, std::size_t limit) const;
  // Whether `address` lies in the host's own buffers.
  bool in_host_memory(std::uint32_t address) const;
  // The x87 control word every call starts with.
  void set_x87_control(std::uint16_t control);
  const loaded_module& module() const { return module_; }

 private:
  // Runs `call` as the host's call `what` within `budget` blocks; a C++
  // exception that left it is told apart from the rest of what ends the
  // process.
  template <class Call>
  call_outcome run(const std::string& what, std::uint64_t budget, Call&& call);

  plugin_host host_;
  loaded_module& module_;
  std::shared_ptr<const pe_file> image_;
};
