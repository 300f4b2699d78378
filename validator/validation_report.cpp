#include "validator/validation_report.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

// The words for each outcome, in the text and in the JSON document. A
// check not judged for the validator's gap prints as a skip: the plug-in is
// neither passed nor failed by it; the JSON document tells them apart.
struct outcome_words {
  check_status status;
  const char* text;
  const char* json;
};
constexpr outcome_words words[] = {
    {check_status::passed, "PASS", "pass"},     {check_status::warned, "WARN", "warn"},
    {check_status::failed, "FAIL", "fail"},     {check_status::skipped, "SKIP", "skip"},
    {check_status::not_judged, "SKIP", "skip"},
};

const outcome_words& words_of(check_status status) {
  for (const outcome_words& w : words)
    if (w.status == status)
      return w;
  return words[0];
}

std::size_t name_width() {
  std::size_t width = 0;
  for (const check_definition& d : check_definitions())
    width = std::max(width, std::string(d.name).size());
  return width;
}

std::string padded(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

void print_text(std::ostream& out, const validation_options& options, const validation& done) {
  out << "velloq-validate " << options.plugin_path << " (as the host on "
      << windows_version_name(options.oldest) << " and later" << (options.strict ? ", strict" : "")
      << ")\n";
  const std::size_t width = name_width();
  for (const check_result& r : done.results)
    out << words_of(r.status).text << "  " << padded(r.name, width) << "  " << r.detail << "\n";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", done.seconds);
  if (done.unusable) {
    out << "not a usable plug-in: no further check ran\n";
    return;
  }
  const int gaps = done.count(check_status::not_judged);
  out << done.count(check_status::passed) << " passed, " << done.count(check_status::warned)
      << " warned, " << done.count(check_status::failed) << " failed, "
      << done.count(check_status::skipped) + gaps << " skipped";
  if (gaps != 0)
    out << " (" << gaps << " not judged: the validator's gap)";
  out << " (" << seconds << " s)\n";
}

void print_json(std::ostream& out, const validation_options& options, const validation& done) {
  nlohmann::ordered_json document;
  document["plugin"] = options.plugin_path;
  document["windows"] = windows_version_name(options.oldest);
  document["strict"] = options.strict;
  document["usable"] = !done.unusable;
  document["checks"] = nlohmann::ordered_json::array();
  for (const check_result& r : done.results) {
    nlohmann::ordered_json check = {
        {"name", r.name}, {"result", words_of(r.status).json}, {"detail", r.detail}};
    if (r.status == check_status::not_judged)
      check["validator_gap"] = true;
    document["checks"].push_back(check);
  }
  document["passed"] = done.count(check_status::passed);
  document["warned"] = done.count(check_status::warned);
  document["failed"] = done.count(check_status::failed);
  document["skipped"] = done.count(check_status::skipped) + done.count(check_status::not_judged);
  document["validator_gaps"] = done.count(check_status::not_judged);
  document["exit_status"] = exit_status(done);
  document["seconds"] = done.seconds;
  // Details quote the plug-in's own texts, which need not be UTF-8.
  out << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

void print_check_list(std::ostream& out) {
  const std::size_t width = name_width();
  for (const check_definition& d : check_definitions())
    out << padded(d.name, width) << "  " << d.description << "\n";
}
