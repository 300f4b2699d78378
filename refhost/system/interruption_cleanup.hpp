#pragma once
// The files to remove when the user interrupts a run (Ctrl-C, kill, a
// closed terminal or console). Every file being written registers itself
// here for its short life; the handler removes whatever is registered, then
// lets the process end as the interruption would have ended it. Any thread
// may register and release while the handler may run on another, so the
// table is a fixed array of slots read without allocating or locking.

#include <string>

namespace interruption_cleanup {

// Installs the handlers once per process (SIGINT, SIGTERM and SIGHUP; the
// console's Ctrl-C, Ctrl-Break and close events on Windows). A signal the
// process was started to ignore stays ignored.
void install();

// Registers a path to remove on interruption, before the file is created,
// so that no moment exists in which the file is there but unknown to the
// handler. Returns the slot to release. Throws std::length_error for a path
// beyond the slot's room or when every slot is taken.
int track(const std::string& path);

// The path's file has been renamed to its final name or removed.
void release(int slot);

// Removes every registered file. Safe inside a signal handler.
void remove_tracked_files();

// How many paths are registered now (for tests).
int tracked_count();

}  // namespace interruption_cleanup
