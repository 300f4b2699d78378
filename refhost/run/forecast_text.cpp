#include "refhost/run/forecast_text.hpp"

#include <nlohmann/json.hpp>

#include "refhost/console/json_events.hpp"
#include "refhost/console/printable_text.hpp"

namespace {

// "write", "skip", "fail" or "refused": what would become of the frame.
const char* frame_action(const planned_frame& frame) {
  if (frame.skipped)
    return "skip";
  for (const planned_output& output : frame.outputs) {
    if (output.fate != output_fate::write && output.fate != output_fate::replace)
      return "refused";
  }
  return frame.failure.empty() ? "write" : "fail";
}

run_totals planned_totals(const run_forecast& forecast) {
  run_totals totals;
  totals.frames = forecast.frames.size();
  for (const planned_frame& frame : forecast.frames) {
    const std::string action = frame_action(frame);
    if (action == "skip") {
      ++totals.skipped;
    } else if (action == "write") {
      ++totals.written;
      totals.files += frame.outputs.size();
    } else {
      ++totals.failed;
    }
  }
  return totals;
}

std::string input_text(const frame_task& task) {
  return task.input_path.empty() ? "the built-in scene" : printable(task.input_path);
}

}  // namespace

void print_forecast(std::ostream& out, const run_forecast& forecast, bool quiet) {
  if (!quiet) {
    for (const planned_frame& frame : forecast.frames) {
      out << "frame " << frame.task.number << ": " << input_text(frame.task)
          << (frame.skipped ? " skipped, its pictures are all there:" : " ->");
      for (std::size_t k = 0; k < frame.outputs.size(); ++k) {
        const planned_output& output = frame.outputs[k];
        out << (k == 0 ? " " : ", ") << printable(output.path) << " (" << fate_name(output.fate)
            << printable(output.holder) << ")";
      }
      if (!frame.failure.empty())
        out << "; would fail: " << printable(frame.failure);
      out << "\n";
    }
  }
  const run_totals totals = planned_totals(forecast);
  const int status = planned_exit_status(forecast);
  out << "dry run, nothing written: " << totals.written << " of " << totals.frames
      << (totals.frames == 1 ? " frame" : " frames") << " would be written (" << totals.files
      << (totals.files == 1 ? " file" : " files") << "), " << totals.skipped << " skipped, "
      << totals.failed << " refused or failing; exit status " << status;
  if (status != 0)
    out << ": " << printable(planned_exit_reason(forecast));
  out << std::endl;
}

void print_forecast_json(std::ostream& out, const run_forecast& forecast) {
  for (const planned_frame& frame : forecast.frames) {
    nlohmann::ordered_json object;
    object["event"] = "plan";
    object["frame"] = frame.task.number;
    object["input"] = frame.task.input_path.empty() ? nlohmann::ordered_json()
                                                    : nlohmann::ordered_json(frame.task.input_path);
    object["action"] = frame_action(frame);
    object["outputs"] = nlohmann::ordered_json::array();
    for (const planned_output& output : frame.outputs) {
      nlohmann::ordered_json entry;
      entry["path"] = output.path;
      entry["fate"] = fate_name(output.fate);
      object["outputs"].push_back(entry);
    }
    if (!frame.failure.empty())
      object["error"] = frame.failure;
    out << object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  }
  out << json_summary_line(planned_totals(forecast), planned_exit_status(forecast),
                           planned_exit_reason(forecast), true)
      << std::endl;
}
