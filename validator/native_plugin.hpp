#pragma once
// A native plug-in module (Velloq.so) as a plug-in target: loaded into this
// process and called directly through its entry points and its component's
// table, so that the sanitizers watch every call. Allocations are counted,
// and failed on request, by this program's own operator new while a call
// into the module runs (native_allocations.hpp).

#include <memory>
#include <string>

#include "refhost/hosting/plugin_module.hpp"
#include "validator/checks/check_context.hpp"

class native_plugin final : public plugin_target {
 public:
  // Throws module_error.
  explicit native_plugin(const std::string& path);

  std::string name_of(entry_point e) const override { return facts_of(e).plain_name; }
  target_call create_interface(component_ref& component, bool& kept_to_location) override;
  target_call query_interface(component_ref component, interface_query id, component_ref& stored,
                              bool& kept_to_location) override;
  target_call add_ref(component_ref component) override;
  target_call release(component_ref component) override;
  target_call destroy(component_ref component) override;
  target_call is_valid(component_ref component) override;
  target_call begin_render(component_ref component, contract_frame& frame) override;
  target_call end_render(component_ref component) override;
  target_call get_uuid(interface_query id, Uuid& answered) override;
  entry_call call_entry(component_ref component, int slot) override;
  // A C++ class's table is complete by construction.
  std::string entry_not_code(component_ref, int) const override { return std::string(); }
  std::optional<bool> component_alive(component_ref) const override { return std::nullopt; }
  std::optional<std::uint64_t> allocations() const override;
  void fail_allocation(std::uint64_t nth) override;
  std::string unload() override;

 private:
  native_plugin(std::unique_ptr<plugin_module> module);
  std::unique_ptr<plugin_module> module_;
};

// A native module's path as where the checks find their plug-in.
class native_module_source final : public target_source {
 public:
  explicit native_module_source(std::string path) : path_(std::move(path)) {}
  check_target kind() const override { return check_target::any_plugin; }
  std::unique_ptr<plugin_target> open(const validation_options&) const override {
    return std::make_unique<native_plugin>(path_);
  }

 private:
  std::string path_;
};
