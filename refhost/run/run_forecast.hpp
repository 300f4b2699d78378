#pragma once
// What a run would do, found out without doing it (--dry-run): what would
// become of each frame and each of its outputs, what would be refused, and
// the exit status the run would end with. It reads the file system and
// asks the plug-in's discovery, and writes nothing: no folder is made,
// nothing is claimed.

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/pipeline/frame_stamping.hpp"

enum class output_fate {
  write,              // nothing there yet
  replace,            // there, replaced (--overwrite)
  keep,               // there, its frame left out (--skip-existing)
  refused_there,      // there, and neither --overwrite nor --skip-existing
  refused_folder,     // a folder of that name
  refused_read_only,  // read-only: kept even with --overwrite
  refused_busy,       // another live run is writing it
};

struct planned_output {
  std::string path;
  output_fate fate = output_fate::write;
  std::string holder;  // for refused_busy: which run
};

struct planned_frame {
  frame_task task;
  std::vector<planned_output> outputs;
  bool skipped = false;  // --skip-existing: every picture is there
  std::string failure;   // why the frame itself would fail; empty: it would not
};

struct run_forecast {
  std::vector<planned_frame> frames;
  // Why the plug-in would be refused (it does not offer its effector to
  // this host, or to a frame's host); empty: it would not.
  std::string plugin_refusal;
  bool skipping_existing = false;
};

// Each frame's fate and its outputs', as the run's checks would find them.
// `overwrite` and `skip_existing` as the options say.
run_forecast forecast_run(const std::vector<frame_task>& tasks,
                          const std::vector<const picture_format*>& formats, bool overwrite,
                          bool skip_existing);

// The exit status the run would end with, by the checks it makes in their
// order: the plug-in's refusal (3), an output another run is writing (75),
// an output that may not be replaced or a frame that would fail (1); else 0.
int planned_exit_status(const run_forecast& forecast);

// What the run would say of what stops it or fails, in its own words, or
// "done" when nothing would.
std::string planned_exit_reason(const run_forecast& forecast);

// "new", "replace", "kept", "exists", "folder", "read-only", "busy".
const char* fate_name(output_fate fate);
