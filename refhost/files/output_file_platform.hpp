#pragma once
// The system calls output_file and output_claims make, one file per
// platform.

#include <cstddef>
#include <string>

namespace output_platform {

constexpr long long no_handle = -1;

// Creates `path` for writing only if nothing of that name exists, a
// symbolic link included (O_CREAT | O_EXCL; CREATE_NEW). On failure returns
// no_handle and sets `name_taken` when something was already there.
long long create_new(const std::string& path, bool& name_taken);

bool write_all(long long handle, const unsigned char* data, std::size_t size);

// Puts the data on disk (fsync; FlushFileBuffers) and closes the handle,
// which is closed whatever the result.
bool sync_and_close(long long handle);

// Puts the data on disk, keeping the handle open.
bool sync(long long handle);

void close(long long handle);

// Renames `from` to `to`. With `replace` false it fails, `name_taken` set,
// when `to` exists, without a moment in which either is missing.
bool rename_file(const std::string& from, const std::string& to, bool replace, bool& name_taken);

void remove(const std::string& path);

// A second name for the file `existing`, created only if nothing of that
// name exists (link; CreateHardLink): a new name with whole contents in one
// step, which network file systems keep exclusive too. On failure sets
// `name_taken` when something was already there.
bool link_new(const std::string& existing, const std::string& path, bool& name_taken);

// Gives the file the time of now as its time of change: the file server's
// time where the system lets the server choose (utimensat without a time),
// this machine's on Windows.
void touch(const std::string& path);

// This machine as runs on it name it (host name and, where the system
// tells, its boot), this process's id, and whether a process of that id
// runs on this machine now.
std::string machine_name();
long long process_id();
bool process_alive(long long id);

// When process `id` began, as text that tells it from every other process
// that has had its id (its start in clock ticks since boot; its creation
// time on Windows); empty when the system does not tell.
std::string process_start_time(long long id);

// Locks the file open as `handle` (opened for writing) for as long as the
// handle stays open: an open file description lock on Linux, a byte far
// past the end on Windows (LockFileEx), which leaves the bytes readable.
// The system drops it when the process ends, however it ends, a kill -9
// included. False where the file system keeps no locks.
bool hold_lock(long long handle);

enum class lock_state { held, free, unknown };
// Whether a process holds hold_lock on the file at `path`: asked without
// taking it on Linux, by taking it and letting go at once on Windows.
lock_state lock_on(const std::string& path);

// Whether files made in `folder` can be renamed and removed again; an
// append-only or immutable folder keeps them for good. True when the
// system does not tell.
bool folder_lets_files_go(const std::string& folder);

// Whether the system opens a path this long: PATH_MAX bytes on POSIX
// systems, MAX_PATH characters of the full path on Windows.
bool path_fits(const std::string& path);

// The reason of the last failure, as the system words it.
std::string last_error_text();

}  // namespace output_platform
