#pragma once
// One file written so that nobody sees it half-done and nobody can redirect
// it. The bytes go to a new file created exclusively (it never opens a file
// or link someone else put there) under an unpredictable name next to the
// target, and are renamed to the target's name only once they are on disk.
// An interruption removes the temporary (interruption_cleanup); if the run
// dies outright, the next run into the folder removes it
// (remove_stale_temporaries). Each frame and each thread uses its own.

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "refhost/files/hidden_names.hpp"

enum class replace_policy {
  keep_existing,     // a file already at the target's name makes commit fail
  replace_existing,  // the target's name is taken over atomically
};

class output_file {
 public:
  // Where the random part of a temporary's name comes from; tests choose it.
  using name_source = std::function<std::string()>;

  // Creates the temporary beside `target`. Throws file_error naming the
  // target when the folder refuses.
  explicit output_file(const std::string& target);
  output_file(const std::string& target, const name_source& random_part);
  ~output_file();  // removes the temporary unless committed
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;

  // Throws file_error (a full disk, say); the temporary is then removed.
  void write(const unsigned char* data, std::size_t size);

  // Puts the bytes on disk and gives the file the target's name. Throws
  // file_error, the temporary removed and the target as it was, when that
  // fails or when policy is keep_existing and the name has been taken.
  void commit(replace_policy policy);

  // commit in its two steps, for files given their names together
  // (frame_commit): the bytes on disk and the file closed; then the name,
  // in one guarded step.
  void finish();
  void rename_into_place(replace_policy policy);
  // Removes the temporary unless it has its name already.
  void abandon();

  const std::string& target() const { return target_; }
  const std::string& temporary_path() const { return temporary_; }

 private:
  void discard();
  [[noreturn]] void fail(const std::string& what);

  std::string target_;
  std::string temporary_;  // empty once renamed or removed
  long long handle_ = -1;  // file descriptor or HANDLE
};

// Creates `path` exclusively holding `text`, on disk when it returns: a
// small record (a lease, a claim, a frame's record). Returns the system's
// reason when that fails, with nothing of it left; empty when it worked.
std::string write_new_file(const std::string& path, const std::string& text);

// A new temporary's path beside `target`, of a name nobody can guess.
std::string temporary_path_for(const std::string& target);

// Whether a file name is one output_file gives its temporaries.
bool is_temporary_name(const std::string& file_name);

// The key of the target a temporary was made for (".a.png.<random>
// .velloq-partial" gives "a.png"); empty for other names.
std::string temporary_key(const std::string& file_name);

// Removes the temporaries in `folder` that runs now gone left behind: the
// regular files of is_temporary_name whose target's key `writer_gone` says
// no live run is writing, but those named in `kept` (a frame's earlier
// files that a record still needs). A live run claims a target before it
// creates a temporary for it, so a temporary listed before the claims are
// asked cannot be a run's that has just begun. Returns the names removed.
std::vector<std::string> remove_stale_temporaries(
    const std::string& folder,
    const std::function<bool(const std::string& key)>& writer_gone =
        [](const std::string&) { return true; },
    const std::set<std::string>& kept = {});
