#pragma once
// What the checks share while one plug-in is validated: the options, where
// the plug-in comes from, and the observations of the render session, which
// several render checks judge.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "validator/plugin_target.hpp"
#include "validator/validation.hpp"

// Where the plug-in under test comes from: a Windows DLL (whose own checks
// reach its file and process through windows_dll_source) or a native module.
class target_source {
 public:
  virtual ~target_source() = default;
  virtual check_target kind() const = 0;
  // The plug-in loaded afresh, with new host objects beside it.
  virtual std::unique_ptr<plugin_target> open(const validation_options& options) const = 0;
};

struct check_context {
  const validation_options& options;
  const target_source& source;

  std::unique_ptr<plugin_target> target() const { return source.open(options); }

  // One render of the render session.
  struct rendered_frame {
    std::int32_t width = 0, height = 0;
    bool aborted = false;
    std::string problem;  // a hook that did not come back clean
    bool changed = false;
    int notifications = 0;
    int notified_unchanged = 0;  // notifications before any pixel changed
  };
  // The render session: one component, its renders, its last Release and
  // the module's unloading, with the host's books afterwards.
  struct render_observations {
    std::vector<rendered_frame> frames;
    std::string problem;  // the first call that went wrong, if any
    std::vector<std::string> owned_faults, borrowed_faults, outside, late_calls;
    double seconds = 0;
  };
  std::optional<render_observations> renders;
  // What the residue cycles left behind that a host can live with, and how
  // often the plug-in registered its unwind tables with another module's
  // libgcc_s: the strict level's residue checks judge them.
  std::vector<std::string> per_load_costs;
  int libgcc_registrations = 0;
};

// The plug-in loaded afresh with one component: what the component and
// table checks call; a reason in `problem` when no component came.
struct target_with_component {
  explicit target_with_component(const check_context& context) : target(context.target()) {
    component = target->create_component(problem);
  }
  // AddRef or Release answering `expected`; the problem, or empty.
  std::string add_ref(std::uint32_t expected) {
    return expect(target->add_ref(component), "AddRef (slot 1)", expected);
  }
  std::string release(std::uint32_t expected) {
    return expect(target->release(component), "Release (slot 2)", expected);
  }
  // The host's one Release, whatever it answers; the problem, or empty.
  std::string last_release() {
    return call_problem("the last Release (slot 2)", target->release(component));
  }

  std::unique_ptr<plugin_target> target;
  component_ref component = 0;
  std::string problem;

 private:
  static std::string expect(const target_call& call, const char* what, std::uint32_t expected) {
    if (std::string p = call_problem(what, call); !p.empty())
      return p;
    if (call.answer != expected)
      return std::string(what) + " answered " + std::to_string(call.answer) + ", not " +
             std::to_string(expected);
    return std::string();
  }
};

// What a check found.
check_result passed(std::string detail);
check_result failed(std::string detail);
check_result skipped(std::string detail);
// The validator's gap, not the plug-in's fault (see validator_gap).
check_result not_judged(std::string detail);

// A check, registered beside its body as one block:
//
//   VALIDATOR_CHECK(check_render_hooks,
//                   {"render.hooks", "what it holds the plug-in to", {"component.table"},
//                    check_level::standard, check_target::any_plugin}) {
//     ... return passed("what was seen"); ...
//   }
//
// The name's group (before the dot) places it among the groups; within a
// group, checks run in the order their file lists them.
using check_function = check_result (*)(check_context&);
struct check_registration {
  check_registration(check_definition definition, check_function run);
};
struct registered_check {
  check_definition definition;
  check_function run;
};
// Every registered check, in the order they run.
const std::vector<registered_check>& registered_checks();

#define VALIDATOR_CHECK(function, ...)                                                             \
  static check_result function(check_context& context);                                            \
  static const check_registration function##_registration{check_definition __VA_ARGS__, function}; \
  static check_result function(check_context& context)
