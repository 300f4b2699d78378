#pragma once
// Which run writes which file of an output folder. Runs whose outputs are
// disjoint share a folder (a render farm's chunks of one sequence); a run
// that would write a file another live run is writing refuses before its
// first picture.
//
// Each run keeps a lease in the folder: a hidden file naming its machine
// and process, whose time of change it renews every few seconds. It claims
// each output with a hidden second name of that lease (.render.0001.png
// .velloq-claim), made exclusively by a hard link, or where the file
// system has none by an exclusive rename: both hold on network file
// systems, where lock calls may do nothing. A claim is live while its run
// is: on the same machine while its process runs, from another machine
// while its lease is renewed. A dead run's claims are taken over by the
// next run that needs their names. Claims and lease go when the run ends,
// also when it is interrupted.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "refhost/files/file_io.hpp"

struct output_busy_error : file_error {
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
  static constexpr const char* claim_suffix = ".velloq-claim";
  static constexpr const char* lease_prefix = ".velloq-run.";

  // Creates this run's lease in `folder`, which must exist. Throws
  // file_error when the folder cannot be written.
  explicit output_claims(const std::string& folder);
  // Releases every claim, then the lease.
  ~output_claims();
  output_claims(const output_claims&) = delete;
  output_claims& operator=(const output_claims&) = delete;

  // Claims the outputs (paths in the folder), taking over dead runs'
  // claims. Throws output_busy_error naming the first output a live run
  // holds, and the run, having released what this call claimed.
  void claim(const std::vector<std::string>& paths);
  void release(const std::string& path);

  // Runs `work` holding claims on `paths`: those held already and, for the
  // moment, the rest. False, without running it, when a live run holds one.
  bool while_holding(const std::vector<std::string>& paths, const std::function<void()>& work);

  // Whether no other live run holds a claim on the file name `target`.
  bool writer_gone(const std::string& target);

  // Removes the leases and claims of runs that are gone.
  void remove_dead_runs();

 private:
  std::string claim_path(const std::string& target) const;
  bool claim_one(const std::string& target, std::string& holder);
  bool live(const std::string& record, const std::string& path);
  void renew();

  std::string folder_;
  std::string machine_;
  std::string lease_name_;
  std::string lease_path_;
  std::string record_;  // what the lease, and so every claim, holds
  std::set<std::string> held_;

  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread renewal_;
};
