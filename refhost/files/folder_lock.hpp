#pragma once
// One run at a time per output folder. Two runs writing frames into one
// folder would interleave them and both report success, so a run holds a
// lock on the folder's lock file while it writes. The system lets go of the
// lock when its holder ends, however it ends: a held lock means a live run,
// and a free one means every temporary left in the folder is a dead run's.
// The lock file stays in the folder; removing it would let two runs lock
// two different files of the same name.

#include <cstddef>
#include <string>

#include "refhost/files/file_io.hpp"

struct folder_busy_error : file_error {
  using file_error::file_error;
};

class folder_lock {
 public:
  static constexpr const char* file_name = ".velloq-host.lock";

  // Locks `folder`, which must exist. Throws folder_busy_error naming the
  // holder's process when another run holds the lock, and file_error when
  // the lock file cannot be opened. On a file system that has no locks at
  // all (NFS without its lock service, say) it holds none: see held().
  explicit folder_lock(const std::string& folder);
  ~folder_lock();
  folder_lock(const folder_lock&) = delete;
  folder_lock& operator=(const folder_lock&) = delete;

  // Whether the lock is held; when not, why the file system gave none.
  // Without it other runs cannot be told apart from dead ones.
  bool held() const { return unsupported_reason_.empty(); }
  const std::string& unsupported_reason() const { return unsupported_reason_; }

 private:
  long long handle_ = -1;  // file descriptor or HANDLE
  std::string unsupported_reason_;
};

// The message for a folder another run holds. `record` is what the lock
// file holds where its holder writes its process id; the id is named when
// the record begins with one.
std::string folder_busy_message(const std::string& folder, const char* record, std::size_t size);
