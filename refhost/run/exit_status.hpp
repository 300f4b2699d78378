#pragma once
// What velloq-host's exit status tells whoever started it, a render farm's
// scheduler above all: whether the same command can succeed if run again,
// now or later. One table, which --help, the README and the code follow.

#include <exception>
#include <string>

enum class exit_status : int {
  done = 0,
  failed = 1,           // a frame, an input, the module or the output folder failed
  usage = 2,            // the command line cannot work as given
  plugin_refused = 3,   // the plug-in does not offer its effector to this host
  held_elsewhere = 75,  // a live run is writing an output (sysexits' EX_TEMPFAIL)
};

struct exit_status_row {
  exit_status status;
  const char* meaning;  // what happened, and what trying again does
};

// Every status but the interrupted runs' 128 + the signal's number.
extern const exit_status_row exit_status_table[5];

inline int exit_code(exit_status status) {
  return static_cast<int>(status);
}

// The status of a run that an error ended before or between its frames.
exit_status exit_status_for(const std::exception& error);

// The paragraph of --help that lists the statuses.
std::string exit_status_help();
