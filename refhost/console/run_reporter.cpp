#include "refhost/console/run_reporter.hpp"

#include "refhost/console/printable_text.hpp"

run_reporter::run_reporter(std::ostream& out, std::ostream& errors, bool terminal, bool quiet,
                           std::size_t total)
    : out_(out),
      errors_(errors),
      quiet_(quiet),
      progress_line_(terminal && !quiet && total > 1),
      start_(std::chrono::steady_clock::now()) {
  progress_.total = total;
}

void run_reporter::written(std::size_t index, const frame_task& task, const render_outcome& outcome,
                           bool aborted) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++progress_.written;
  if (!aborted && outcome.notifications != 1) {
    clear_progress();
    errors_ << "velloq-host: warning: the plug-in reported " << outcome.notifications
            << " picture changes for " << printable(task.outputs.front()) << "\n";
  }
  if (!quiet_ && !progress_line_) {
    out_ << "frame " << index + 1 << " of " << progress_.total << ": "
         << (outcome.notifications != 0 ? "stamped" : "left as rendered") << ", wrote ";
    for (std::size_t k = 0; k < task.outputs.size(); ++k)
      out_ << (k == 0 ? "" : ", ") << printable(task.outputs[k]);
    out_ << std::endl;
  }
  show_progress();
}

void run_reporter::failed(const frame_failure& failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++progress_.failed;
  clear_progress();
  errors_ << "velloq-host: " << printable(failure.what()) << "\n";
  for (const std::string& kept : failure.kept) {
    errors_ << "velloq-host: kept the earlier " << printable(kept)
            << " as it was; it is not this run's\n";
  }
  errors_.flush();
  show_progress();
}

void run_reporter::finish(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  clear_progress();
  progress_.seconds = seconds();
  out_ << summary_line(progress_, printable(folder)) << std::endl;
  if (progress_.failed > 0) {
    errors_ << "velloq-host: " << progress_.failed << " of " << progress_.total
            << (progress_.total == 1 ? " frame" : " frames") << " failed" << std::endl;
  }
}

double run_reporter::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void run_reporter::show_progress() {
  if (!progress_line_)
    return;
  progress_.seconds = seconds();
  const std::string line = progress_line(progress_);
  // Blanks cover what a longer line before left on screen.
  errors_ << "\r" << line << std::string(line.size() < shown_ ? shown_ - line.size() : 0, ' ')
          << std::flush;
  shown_ = line.size();
}

void run_reporter::clear_progress() {
  if (progress_line_ && shown_ > 0)
    errors_ << "\r" << std::string(shown_, ' ') << "\r";
  shown_ = 0;
}
