#include "refhost/console/progress_text.hpp"

#include <cmath>
#include <cstdio>

namespace {

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "45 s", "3 min 5 s", "2 h 7 min": as much as a glance needs.
std::string duration_text(double seconds) {
  const long long whole = std::llround(seconds);
  if (whole < 60)
    return std::to_string(whole) + " s";
  if (whole < 3600)
    return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
  return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}

std::string frames(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " frame" : " frames");
}

}  // namespace

std::string progress_line(const run_progress& progress) {
  const std::size_t done = progress.written + progress.failed;
  std::string line = std::to_string(done) + " of " + frames(progress.total);
  if (progress.failed > 0)
    line += " (" + std::to_string(progress.failed) + " failed)";
  if (done > 0 && progress.seconds > 0) {
    const double rate = static_cast<double>(done) / progress.seconds;
    line += ", " + fixed(rate, 1) + " frames/s";
    if (done < progress.total)
      line += ", " + duration_text(static_cast<double>(progress.total - done) / rate) + " left";
  }
  return line;
}

std::string summary_line(const run_progress& progress, const std::string& folder) {
  std::string line = "wrote " + (progress.failed == 0 ? frames(progress.written)
                                                      : std::to_string(progress.written) + " of " +
                                                            frames(progress.total));
  line += " to " + folder + " in " + fixed(progress.seconds, 1) + " s";
  if (progress.seconds > 0) {
    line += ", " + fixed(static_cast<double>(progress.written) / progress.seconds, 1) + " frames/s";
  }
  if (progress.failed > 0)
    line += "; " + std::to_string(progress.failed) + " failed";
  return line;
}
