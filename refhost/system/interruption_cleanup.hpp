#pragma once
// The files to remove when something ends a run from outside: Ctrl-C,
// kill, a closed terminal or pipe, a timer, the console's events on
// Windows. Every file being written registers itself here for its short
// life. One place cleans up: a thread of its own on POSIX systems (a signal
// handler only wakes it), the console handler's thread on Windows. It
// takes the guard below for good, so that it never meets a file half
// created or a frame half renamed, removes what is registered and ends the
// process as the interruption would have ended it.

#include <mutex>
#include <string>

namespace interruption_cleanup {

// Installs the handlers once per process (on POSIX systems every signal
// whose default ends a process and that users or pipes send: SIGHUP,
// SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU,
// SIGXFSZ, SIGVTALRM, SIGPROF; the console's Ctrl-C, Ctrl-Break and close
// events on Windows). A signal the process was started to ignore stays
// ignored.
void install();

// Held around each step that creates, renames or removes a file the
// clean-up knows of (creating a temporary and registering it, giving a
// frame's files their names). The clean-up waits until no step is under
// way, and once it has begun a new step waits until the process ends.
class guard {
 public:
  guard();
  ~guard();
  guard(const guard&) = delete;
  guard& operator=(const guard&) = delete;

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

// Registers a path to remove on interruption. Register before creating
// the file, under a guard, so that no moment exists in which the file is
// there but unknown to the clean-up.
// [when: per frame; thread: any worker; re-entrant: yes]
void track(const std::string& path);

// The path's file has been renamed to its final name or removed.
// [when: per frame; thread: any worker; re-entrant: yes]
void release(const std::string& path);

// Takes the guard for good and removes every registered file: what the
// handlers do before the process ends.
void remove_tracked_files_for_good();

// Whether this thread holds a guard now (a signal arriving on it must let
// it finish its step).
bool held_by_this_thread();

// How many paths are registered now (for tests).
int tracked_count();

}  // namespace interruption_cleanup
