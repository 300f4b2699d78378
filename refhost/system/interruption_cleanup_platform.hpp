#pragma once
// What the interruption handler needs from the system.

namespace interruption_cleanup {

// Removes the file at once, from the clean-up thread or the console
// handler's thread: unlink on POSIX systems, DeleteFileA on Windows (the
// file is open with delete sharing and goes when its handle closes).
void remove_now(const char* path);

}  // namespace interruption_cleanup
