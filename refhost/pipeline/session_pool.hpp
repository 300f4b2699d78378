#pragma once
// Frames stamped in parallel the way the host would: each worker thread
// loads the module and creates its own component, calls it for every frame
// it takes and releases it, all on that one thread. Components share
// nothing, and none is ever called from two threads.
//
// What the workers call on their own threads says so in the tag form of
// host/abi.hpp, with velloq-host's own times and threads:
//
//   [when: start-up | per frame | shut-down; thread: its worker | any worker | any; re-entrant: yes
//   | no]
//
//   start-up, shut-down  when a worker creates or ends its session;
//   per frame            once for each frame a worker takes;
//   its worker           the one worker that owns the session or object;
//   any worker           whichever worker has the frame, several at once;
//   re-entrant           yes: may run on several workers at once.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "refhost/hosting/plugin_session.hpp"

class session_pool {
 public:
  // Called for each frame with the session of the worker that took it.
  // [when: per frame; thread: any worker; re-entrant: yes]
  using frame_work = std::function<void(plugin_session& session, std::size_t frame)>;

  // Starts `workers` threads and waits until each has its session. Throws
  // what the first one that failed threw (module_error, say), once every
  // thread has let go of its own.
  session_pool(int workers, const std::string& module_path, const session_settings& settings);
  // Each thread releases its component and unloads the module on its own.
  ~session_pool();
  session_pool(const session_pool&) = delete;
  session_pool& operator=(const session_pool&) = delete;

  int workers() const { return static_cast<int>(threads_.size()); }
  // How many frames are being worked on now, during a run.
  int frames_in_progress() const { return in_progress_.load(); }
  // What every worker's discovery found (the same module, the same host).
  const discovery_report& discovery() const { return sessions_.front()->discovery(); }

  // Calls `work` for frames 0 to count - 1, each on whichever worker is
  // free, and returns when all are done. When `work` throws, no further
  // frame starts and the first exception is rethrown here.
  void run(std::size_t count, const frame_work& work);

  // The problems every session's host objects met, in worker order. Only
  // between runs.
  std::vector<std::string> problems() const;

 private:
  void serve(std::size_t worker, const std::string& module_path, const session_settings& settings);
  void take_frames(plugin_session& session);
  void stop_threads();

  std::vector<std::thread> threads_;
  std::vector<std::unique_ptr<plugin_session>> sessions_;  // each one its thread's
  std::vector<std::exception_ptr> start_failures_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t started_ = 0;
  std::uint64_t generation_ = 0;  // one per run
  std::size_t busy_ = 0;
  bool quitting_ = false;

  const frame_work* work_ = nullptr;
  std::size_t count_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> in_progress_{0};
  std::exception_ptr run_failure_;
};
