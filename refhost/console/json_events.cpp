#include "refhost/console/json_events.hpp"

#include <nlohmann/json.hpp>

namespace {

// One line, whatever bytes the names hold.
template <class json_type>
std::string line_of(const json_type& object) {
  return object.dump(-1, ' ', false, json_type::error_handler_t::replace);
}

}  // namespace

std::string json_text(const std::string& text) {
  return line_of(nlohmann::json(text));
}

std::string json_frame_line(const frame_event& event) {
  nlohmann::ordered_json object;
  object["event"] = "frame";
  object["frame"] = event.frame;
  object["input"] =
      event.input.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(event.input);
  object["status"] = event.failed ? "failed" : "written";
  object["outputs"] = event.outputs;
  object["bytes"] = event.bytes;
  object["seconds"] = event.seconds;
  if (event.failed) {
    object["error"] = event.error;
    object["kept"] = event.kept;
  }
  return line_of(object);
}

std::string json_summary_line(const run_totals& totals, int exit_status,
                              const std::string& exit_reason, bool dry_run) {
  nlohmann::ordered_json object;
  object["event"] = "summary";
  object["frames"] = totals.frames;
  object["written"] = totals.written;
  object["failed"] = totals.failed;
  object["skipped"] = totals.skipped;
  object["files"] = totals.files;
  object["bytes"] = totals.bytes;
  object["seconds"] = totals.seconds;
  object["exit_status"] = exit_status;
  object["exit_reason"] = exit_reason;
  object["dry_run"] = dry_run;
  return line_of(object);
}
