#pragma once
// Which run writes which file of an output folder. Runs whose outputs are
// disjoint share a folder (a render farm's chunks of one sequence); a run
// that would write a file another live run is writing refuses before its
// first picture.
//
// Each run keeps a lease in the folder: a hidden file naming its machine,
// its process and when that process began, which the run keeps open and
// locked for as long as it lives, and whose time of change it renews every
// few seconds. It claims each output with a hidden second name of that
// lease (.render.0001.png.velloq-claim), made exclusively by a hard link,
// or where the file system has none by an exclusive rename of a copy: both
// hold on network file systems, where lock calls may do nothing.
//
// A claim is live while its run is. On the same machine the lock tells
// first: the system drops it when the process ends, however it ends, so a
// run killed with -9 (by the out-of-memory killer, say) frees its names at
// once, whatever process id it had or a later process has; where the file
// system kept no lock, the process id and its start time tell. From
// another machine the lease's renewal tells, as a network file system may
// keep a crashed machine's locks. A dead run's claims are taken over
// by the next run that needs their names. Claims and lease go when the run
// ends, also when it is interrupted.

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "refhost/files/file_io.hpp"

// A live run holds an output: a later run can do it.
struct output_busy_error : file_error {
  using file_error::file_error;
};

// Two outputs of one run are one file to the folder's file system (which
// does not tell capitals apart, as FAT, exFAT and Windows do not): the
// run's names must change.
struct output_name_clash : file_error {
  using file_error::file_error;
};

// Who holds a live claim on the output `path` (" (process 1234 on
// render-07)"), or empty when no live run does. Only reads, for a plan
// that must change nothing: another machine's lease counts as renewed
// when this machine's clock says it was, which may err where the two
// clocks disagree.
std::string live_claim_holder(const std::string& path);

class output_claims {
 public:
  // Without a sign of life for this long, another machine's run is dead.
  static constexpr int lease_seconds = 60;
  static constexpr const char* lease_prefix = ".velloq-run.";

  // Creates this run's lease in `folder`, which must exist. Throws
  // file_error when the folder cannot be written, or keeps every file made
  // in it (append-only), so that nothing of a run could go again.
  explicit output_claims(const std::string& folder);
  // Releases every claim, then the lease.
  ~output_claims();
  output_claims(const output_claims&) = delete;
  output_claims& operator=(const output_claims&) = delete;

  // Claims the outputs (paths in the folder), taking over dead runs'
  // claims. Throws output_busy_error naming the first output a live run
  // holds, and the run, or output_name_clash, having released what this
  // call claimed.
  void claim(const std::vector<std::string>& paths);
  void release(const std::string& path);

  // Runs `work` holding the claims of the outputs of these keys
  // (hidden_key): those held already and, for the moment, the rest. False,
  // without running it, when a live run holds one.
  bool while_holding(const std::vector<std::string>& keys, const std::function<void()>& work);

  // Whether no other live run holds the claim of the output of `key`.
  bool writer_gone(const std::string& key);

  // Removes the leases and claims of runs that are gone.
  void remove_dead_runs();

 private:
  std::string claim_path(const std::string& key) const;
  bool claim_one(const std::string& key, const std::string& output, std::string& holder);
  void release_key(const std::string& key);
  bool live(const std::string& record, const std::string& path);
  void renew();

  std::string folder_;
  std::string machine_;
  std::string lease_name_;
  std::string lease_path_;
  long long lease_handle_;                   // open, and locked, while the run lives
  std::string record_;                       // what the lease, and so every claim, holds
  std::map<std::string, std::string> held_;  // key: the output's path

  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread renewal_;
};
