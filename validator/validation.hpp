#pragma once
// velloq-validate's checks: the host's side of the contract run on an
// effector plug-in, a DLL in an emulated 32-bit Windows process or a native
// module in this one (plugin_target.hpp). Each check
// has a name, says what it holds the plug-in to, and names the checks it
// builds on: when one of those failed, it is skipped rather than failed
// again for the same fault.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulated_windows/process/windows_machine.hpp"

struct validation_options {
  std::string plugin_path;
  // The oldest Windows the plug-in must run on.
  windows_version oldest = windows_version::xp_sp3;
  // Load/use/free cycles of each residue check.
  int cycles = 200;
  // Whether the strict level's checks (costs a host can live with, such
  // as a fixed amount of memory per load) fail rather than warn.
  bool strict = false;
  // Which checks run, each a check's name or the beginning of names
  // ("render" for the group, "render.hooks"): with `only`, those and what
  // they need; without, all. `skip` leaves checks out, and with them the
  // checks that need them.
  std::vector<std::string> only, skip;
};

enum class check_status {
  passed,
  warned,  // a strict-level check failed at the default level
  failed,
  skipped,     // a check it builds on failed
  not_judged,  // the validator's gap: the plug-in used what the emulated Windows lacks
};

// Thrown by a check that reaches what the validator cannot emulate or date
// (a system function it does not provide): the check is not judged, which
// is no fault of the plug-in.
struct validator_gap : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How demanding a check is.
enum class check_level {
  standard,  // what corrupts, crashes, hangs or ends a host, or breaks the contract: fails
  strict,    // a cost a host can live with: a warning, a failure with --strict
};
const char* level_name(check_level level);

struct check_result {
  std::string name;
  check_status status = check_status::passed;
  std::string detail;  // what was seen; for a failure, the reason
  check_level level = check_level::standard;
  double seconds = 0;  // how long the check ran
};

struct validation {
  std::vector<check_result> results;
  // Not a plug-in at all, or unusable: no check after file.format ran.
  bool unusable = false;
  double seconds = 0;
  int count(check_status status) const;
};

// What a check can run on: any plug-in module, or only a Windows DLL,
// whose file, loading and unloading it judges.
enum class check_target { any_plugin, windows_dll };

// The exit status: 0 every check passed or warned, 1 some failed, 2 not a
// plug-in or unusable, 3 none failed but some could not be judged (the
// validator's gap).
int exit_status(const validation& done);
inline constexpr int exit_passed = 0, exit_failed = 1, exit_unusable = 2, exit_validator_gap = 3;

struct check_definition {
  const char* name;
  const char* description;
  std::vector<const char*> needs;
  check_level level = check_level::standard;
  check_target target = check_target::any_plugin;
};

// Every check, in the order they run: by group (file, load, exports,
// component, table, render, faults, residue), then as each group's file
// lists them.
const std::vector<check_definition>& check_definitions();

// The checks options.only and options.skip select, in the order they run.
// A check that a selected check needs runs too (its result is what the
// other builds on); a skipped check takes the checks that need it along.
// Throws std::invalid_argument for a name or beginning no check has.
std::vector<check_definition> selected_checks(const validation_options& options);

// Told of each check's result as the check ends.
using check_observer = std::function<void(const check_result&)>;

class target_source;
// The selected checks on the plug-in `source` gives.
validation validate(const validation_options& options, const target_source& source,
                    const check_observer& observe = nullptr);
// The selected checks on the file options.plugin_path names: a Windows
// DLL, run in the emulated process, or a native module (an ELF file), run
// in this one.
validation validate(const validation_options& options, const check_observer& observe = nullptr);
