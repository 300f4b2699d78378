#include "validator/validation_report.hpp"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

namespace {

// The words for each outcome, in the text and in the JSON records. A
// check not judged for the validator's gap prints as a skip: the plug-in is
// neither passed nor failed by it; the JSON records tell them apart.
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

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

std::string filter_text(const validation_options& options, std::size_t checks) {
  if (options.only.empty() && options.skip.empty())
    return std::string();
  return "; " + std::to_string(checks) + " of " + std::to_string(check_definitions().size()) +
         " checks (--only/--skip and what they need)";
}

class text_report final : public validation_reporter {
 public:
  explicit text_report(std::ostream& out) : out_(out) {}
  void started(const validation_options& options, std::size_t checks) override {
    out_ << "velloq-validate " << options.plugin_path << " (as the host on "
         << windows_version_name(options.oldest) << " and later"
         << (options.strict ? ", strict" : "") << filter_text(options, checks) << ")" << std::endl;
  }
  void check_done(const check_result& r) override {
    out_ << words_of(r.status).text << "  " << padded(r.name, width_) << "  " << r.detail
         << std::endl;
  }
  void finished(const validation& done) override {
    if (done.unusable) {
      out_ << "not a usable plug-in: no further check ran" << std::endl;
      return;
    }
    const int gaps = done.count(check_status::not_judged);
    out_ << done.count(check_status::passed) << " passed, " << done.count(check_status::warned)
         << " warned, " << done.count(check_status::failed) << " failed, "
         << done.count(check_status::skipped) + gaps << " skipped";
    if (gaps != 0)
      out_ << " (" << gaps << " not judged: the validator's gap)";
    out_ << " (" << seconds_text(done.seconds) << " s)" << std::endl;
  }

 private:
  std::ostream& out_;
  std::size_t width_ = name_width();
};

// Details quote the plug-in's own texts, which need not be UTF-8.
std::string dumped(const nlohmann::ordered_json& record) {
  return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

class json_lines_report final : public validation_reporter {
 public:
  explicit json_lines_report(std::ostream& out) : out_(out) {}
  void started(const validation_options& options, std::size_t checks) override {
    nlohmann::ordered_json record;
    record["record"] = "run";
    record["tool"] = "velloq-validate";
    record["version"] = tool_version();
    record["schema"] = report_schema;
    record["plugin"] = options.plugin_path;
    record["windows"] = windows_version_name(options.oldest);
    record["strict"] = options.strict;
    record["only"] = options.only;
    record["skip"] = options.skip;
    record["checks"] = checks;
    out_ << dumped(record) << std::endl;
  }
  void check_done(const check_result& r) override {
    nlohmann::ordered_json record = {{"record", "check"},
                                     {"name", r.name},
                                     {"level", level_name(r.level)},
                                     {"result", words_of(r.status).json},
                                     {"detail", r.detail},
                                     {"seconds", r.seconds}};
    if (r.status == check_status::not_judged)
      record["validator_gap"] = true;
    out_ << dumped(record) << std::endl;
  }
  void finished(const validation& done) override {
    nlohmann::ordered_json record;
    record["record"] = "summary";
    record["usable"] = !done.unusable;
    record["passed"] = done.count(check_status::passed);
    record["warned"] = done.count(check_status::warned);
    record["failed"] = done.count(check_status::failed);
    record["skipped"] = done.count(check_status::skipped) + done.count(check_status::not_judged);
    record["validator_gaps"] = done.count(check_status::not_judged);
    record["exit_status"] = exit_status(done);
    record["seconds"] = done.seconds;
    out_ << dumped(record) << std::endl;
  }

 private:
  std::ostream& out_;
};

// Text as XML 1.0 takes it in content and attributes: the five entities,
// and every byte that is no printable ASCII (control characters are not
// allowed at all; other bytes need not be UTF-8) as '?'.
std::string xml_text(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t' ? c : '?';
    }
  }
  return escaped;
}

// The JUnit XML of CI dashboards: one test suite, a test case per check
// (classname its group); FAIL a failure, SKIP skipped, WARN a pass whose
// output says so. The file is written again after each check.
class junit_report final : public validation_reporter {
 public:
  explicit junit_report(std::string path) : path_(std::move(path)) {
    std::ofstream probe(path_);
    if (!probe)
      throw std::runtime_error("cannot write " + path_);
  }
  void started(const validation_options& options, std::size_t) override {
    suite_ = "velloq-validate " + options.plugin_path;
    properties_ = "      <property name=\"tool_version\" value=\"" + xml_text(tool_version()) +
                  "\"/>\n      <property name=\"windows\" value=\"" +
                  xml_text(windows_version_name(options.oldest)) +
                  "\"/>\n      <property name=\"strict\" value=\"" +
                  (options.strict ? "true" : "false") + "\"/>\n";
    write();
  }
  void check_done(const check_result& r) override {
    results_.push_back(r);
    seconds_ += r.seconds;
    write();
  }
  void finished(const validation& done) override {
    seconds_ = done.seconds;
    write();
  }

 private:
  void write() const {
    int failures = 0, skipped = 0;
    std::string cases;
    for (const check_result& r : results_) {
      const std::string group = r.name.substr(0, r.name.find('.'));
      cases += "    <testcase classname=\"velloq-validate." + xml_text(group) + "\" name=\"" +
               xml_text(r.name) + "\" time=\"" + std::to_string(r.seconds) + "\">\n";
      const std::string detail = xml_text(r.detail);
      if (r.status == check_status::failed) {
        ++failures;
        cases += "      <failure message=\"" + detail + "\" type=\"" + level_name(r.level) + "\">" +
                 detail + "</failure>\n";
      } else if (r.status == check_status::skipped || r.status == check_status::not_judged) {
        ++skipped;
        cases += "      <skipped message=\"" + detail + "\"/>\n";
      } else {
        cases += std::string("      <system-out>") + words_of(r.status).text + ": " + detail +
                 "</system-out>\n";
      }
      cases += "    </testcase>\n";
    }
    const std::string counts = " tests=\"" + std::to_string(results_.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                               std::to_string(skipped) + "\" time=\"" + std::to_string(seconds_) +
                               "\"";
    // A new file beside it, renamed over it: a reader never sees half a file.
    const std::string partial = path_ + ".partial";
    {
      std::ofstream out(partial, std::ios::trunc);
      out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          << "<testsuites name=\"velloq-validate\"" << counts << ">\n"
          << "  <testsuite name=\"" << xml_text(suite_) << "\"" << counts << ">\n"
          << "    <properties>\n"
          << properties_ << "    </properties>\n"
          << cases << "  </testsuite>\n</testsuites>\n";
    }
    std::rename(partial.c_str(), path_.c_str());
  }

  std::string path_, suite_, properties_;
  std::vector<check_result> results_;
  double seconds_ = 0;
};

}  // namespace

std::unique_ptr<validation_reporter> text_reporter(std::ostream& out) {
  return std::make_unique<text_report>(out);
}
std::unique_ptr<validation_reporter> json_lines_reporter(std::ostream& out) {
  return std::make_unique<json_lines_report>(out);
}
std::unique_ptr<validation_reporter> junit_reporter(const std::string& path) {
  return std::make_unique<junit_report>(path);
}

const char* tool_version() {
  return VELLOQ_VERSION;
}

void print_check_list(std::ostream& out) {
  const std::size_t width = name_width();
  for (const check_definition& d : check_definitions())
    out << padded(d.name, width) << "  " << padded(level_name(d.level), 8) << "  " << d.description
        << (d.target == check_target::windows_dll ? " (a Windows DLL's)" : "") << "\n";
}

void print_check_list_json(std::ostream& out) {
  nlohmann::ordered_json document;
  document["tool"] = "velloq-validate";
  document["version"] = tool_version();
  document["schema"] = report_schema;
  document["checks"] = nlohmann::ordered_json::array();
  for (const check_definition& d : check_definitions()) {
    std::vector<std::string> needs(d.needs.begin(), d.needs.end());
    document["checks"].push_back(
        {{"name", d.name},
         {"level", level_name(d.level)},
         {"runs_on", d.target == check_target::windows_dll ? "windows_dll" : "any_plugin"},
         {"needs", needs},
         {"description", d.description}});
  }
  out << document.dump(2) << "\n";
}
