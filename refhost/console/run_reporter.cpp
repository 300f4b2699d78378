#include "refhost/console/run_reporter.hpp"

#include <filesystem>
#include <system_error>

#include "refhost/console/printable_text.hpp"

run_reporter::run_reporter(std::ostream& out, std::ostream& errors, bool terminal, bool quiet,
                           bool json, std::size_t total)
    : out_(out),
      errors_(errors),
      text_(json ? errors : out),
      quiet_(quiet),
      json_(json),
      progress_line_(terminal && !quiet && total > 1),
      start_(std::chrono::steady_clock::now()) {
  progress_.total = total;
}

void run_reporter::written(std::size_t index, const frame_task& task, const render_outcome& outcome,
                           bool aborted, double seconds) {
  // The files' sizes as they are on disk, read outside the lock.
  frame_event event;
  for (const std::string& path : task.outputs) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    event.bytes += error ? 0 : size;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++progress_.written;
  files_ += task.outputs.size();
  bytes_ += event.bytes;
  if (json_) {
    event.frame = task.number;
    event.input = task.input_path;
    event.outputs = task.outputs;
    event.seconds = seconds;
    out_ << json_frame_line(event) << std::endl;
  }
  if (!aborted && outcome.notifications != 1) {
    clear_progress();
    errors_ << "velloq-host: warning: the plug-in reported " << outcome.notifications
            << " picture changes for " << printable(task.outputs.front()) << "\n";
  }
  if (!quiet_ && !progress_line_) {
    text_ << "frame " << index + 1 << " of " << progress_.total << ": "
          << (outcome.notifications != 0 ? "stamped" : "left as rendered") << ", wrote ";
    for (std::size_t k = 0; k < task.outputs.size(); ++k)
      text_ << (k == 0 ? "" : ", ") << printable(task.outputs[k]);
    text_ << std::endl;
  }
  show_progress();
}

void run_reporter::failed(const frame_task& task, const frame_failure& failure, double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++progress_.failed;
  if (json_) {
    frame_event event;
    event.frame = task.number;
    event.input = task.input_path;
    event.failed = true;
    event.outputs = task.outputs;
    event.seconds = seconds;
    event.error = failure.what();
    event.kept = failure.kept;
    out_ << json_frame_line(event) << std::endl;
  }
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
  text_ << summary_line(progress_, printable(folder)) << std::endl;
  if (progress_.failed > 0) {
    errors_ << "velloq-host: " << progress_.failed << " of " << progress_.total
            << (progress_.total == 1 ? " frame" : " frames") << " failed" << std::endl;
  }
}

run_totals run_reporter::totals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  run_totals totals;
  totals.frames = progress_.total;
  totals.written = progress_.written;
  totals.failed = progress_.failed;
  totals.files = files_;
  totals.bytes = bytes_;
  totals.seconds = seconds();
  return totals;
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
