#pragma once
// What the user sees while a run's frames are written, told by whichever
// worker finished one: failures at once; on a terminal a progress line kept
// up to date, elsewhere a line per frame; one summary line at the end.
// With --json, stdout gets a JSON line per frame instead, and the lines for
// people go to the error stream.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

#include "refhost/console/json_events.hpp"
#include "refhost/console/progress_text.hpp"
#include "refhost/pipeline/frame_stamping.hpp"

class run_reporter {
 public:
  // `terminal`: whether `errors` is a terminal, where the progress line goes.
  run_reporter(std::ostream& out, std::ostream& errors, bool terminal, bool quiet, bool json,
               std::size_t total);

  // A frame written or failed, told by the worker that had it, with the
  // seconds it took; one lock keeps the lines whole.
  // [when: per frame; thread: any worker; re-entrant: yes]
  void written(std::size_t index, const frame_task& task, const render_outcome& outcome,
               bool aborted, double seconds);
  void failed(const frame_task& task, const frame_failure& failure, double seconds);
  // The summary line, and on the error stream how many frames failed.
  void finish(const std::string& folder);

  std::size_t failures() const { return progress_.failed; }
  // What was written so far, for the JSON summary.
  run_totals totals() const;

 private:
  double seconds() const;
  void show_progress();
  void clear_progress();

  std::ostream& out_;
  std::ostream& errors_;
  std::ostream& text_;  // where the lines for people go: out_, or errors_ under --json
  const bool quiet_;
  const bool json_;
  const bool progress_line_;
  const std::chrono::steady_clock::time_point start_;
  mutable std::mutex mutex_;
  run_progress progress_;
  std::size_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::size_t shown_ = 0;  // characters of the progress line on screen
};
