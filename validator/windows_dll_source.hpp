#pragma once
// A Windows DLL as where the checks find their plug-in, and what the checks
// that judge a Windows DLL's own file, loading and exports reach through it.

#include <memory>

#include "validator/checks/check_context.hpp"
#include "validator/emulated_plugin.hpp"

class windows_dll_source final : public target_source {
 public:
  explicit windows_dll_source(plugin_file dll) : file(std::move(dll)) {}
  check_target kind() const override { return check_target::windows_dll; }
  std::unique_ptr<plugin_target> open(const validation_options& options) const override {
    return session(options);
  }
  // A fresh process with the plug-in loaded as the oldest Windows asked for
  // loads it. Throws load_error, or validator_gap when the load reached a
  // system function the emulated Windows does not provide.
  std::unique_ptr<emulated_plugin> session(const validation_options& options) const {
    try {
      return std::make_unique<emulated_plugin>(file, windows_machine::of(options.oldest));
    } catch (const load_error& e) {
      load_problem(e);
      throw;
    }
  }

  plugin_file file;
};

// For the checks that run on a Windows DLL only (check_target::windows_dll).
inline const windows_dll_source& windows_dll(const check_context& context) {
  return static_cast<const windows_dll_source&>(context.source);
}
inline const plugin_file& file_of(const check_context& context) {
  return windows_dll(context).file;
}
inline windows_machine machine_of(const check_context& context) {
  return windows_machine::of(context.options.oldest);
}
inline std::unique_ptr<emulated_plugin> session_of(const check_context& context) {
  return windows_dll(context).session(context.options);
}
