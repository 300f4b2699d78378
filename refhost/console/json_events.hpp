#pragma once
// What a run tells the programs that watch it (--json): one JSON object
// per line on stdout, each whole when its line ends, so that a farm's
// wrapper or a dashboard can read them as they come.

#include <cstdint>
#include <string>
#include <vector>

// A frame done: {"event": "frame", "frame": 12, "input": ..., "status":
// "written" or "failed", "outputs": [...], "bytes", "seconds", and for a
// failure "error" and "kept" (what its names held before, left as it was)}.
struct frame_event {
  std::int32_t frame = 0;
  std::string input;  // empty: the built-in scene (null)
  bool failed = false;
  std::vector<std::string> outputs;
  std::uint64_t bytes = 0;  // of the files written
  double seconds = 0;       // this frame's, from reading to its files' names
  std::string error;
  std::vector<std::string> kept;
};

std::string json_frame_line(const frame_event& event);

// The last line: {"event": "summary", "frames", "written", "failed",
// "skipped", "files", "bytes", "seconds", "exit_status", "exit_reason",
// "dry_run"}.
struct run_totals {
  std::size_t frames = 0;  // in the run's plan
  std::size_t written = 0;
  std::size_t failed = 0;
  std::size_t skipped = 0;  // left out by --skip-existing
  std::size_t files = 0;
  std::uint64_t bytes = 0;
  double seconds = 0;
};

std::string json_summary_line(const run_totals& totals, int exit_status,
                              const std::string& exit_reason, bool dry_run);

// A JSON string of any bytes: what is not UTF-8 becomes U+FFFD, as a
// reader of file names in another encoding would show it.
std::string json_text(const std::string& text);
