#pragma once
// What the checks share while one plug-in is validated: the options, the
// file read once, and the observations of the render session, which several
// render checks judge.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "validator/plugin_session.hpp"
#include "validator/validation.hpp"

struct check_context {
  const validation_options& options;
  plugin_file file;

  // The machine the behaviour checks run on: the oldest Windows asked for.
  windows_machine machine() const { return windows_machine::of(options.oldest); }
  // A fresh process with the plug-in loaded as that machine loads it.
  std::unique_ptr<plugin_session> session() const {
    return std::make_unique<plugin_session>(file, machine());
  }

  // One render of the render session.
  struct rendered_frame {
    std::int32_t width = 0, height = 0;
    bool aborted = false;
    std::string problem;  // a hook that did not come back clean
    bool changed = false;
    int notifications = 0;
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
};

// What a check found.
check_result passed(std::string detail);
check_result failed(std::string detail);
check_result skipped(std::string detail);
// Kept what a host needs at a cost it can live with; a failure with --strict.
check_result warned(std::string detail);
// The validator's gap, not the plug-in's fault (see validator_gap).
check_result not_judged(std::string detail);

// The checks, by group.
check_result check_file_format(check_context& context);
check_result check_file_relocations(check_context& context);
check_result check_file_imports(check_context& context);
check_result check_load_xp(check_context& context);
check_result check_load_vista(check_context& context);
check_result check_export_names(check_context& context);
check_result check_export_calling_convention(check_context& context);
check_result check_version_gate(check_context& context);
check_result check_identity(check_context& context);
check_result check_component_create(check_context& context);
check_result check_component_table(check_context& context);
check_result check_query_interface(check_context& context);
check_result check_reference_counts(check_context& context);
check_result check_render_hooks(check_context& context);
check_result check_aborted_job(check_context& context);
check_result check_owned_references(check_context& context);
check_result check_borrowed_references(check_context& context);
check_result check_picture_bounds(check_context& context);
check_result check_notify_image_changed(check_context& context);
check_result check_after_release(check_context& context);
check_result check_faults_create_interface(check_context& context);
check_result check_faults_end_hook(check_context& context);
check_result check_faults_null_objects(check_context& context);
check_result check_residue_cycles(check_context& context);
check_result check_residue_with_exception(check_context& context);
check_result check_residue_beside_libgcc(check_context& context);
