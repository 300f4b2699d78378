#pragma once
// What velloq-validate reports, as each check ends: a line per check and a
// summary; JSON Lines for CI (a record for the run, one per check, one for
// the summary); a JUnit XML file for CI dashboards, written again as each
// check ends. Each writes at once, so that a run stopped half-way (a CI
// time-out) keeps what it did.

#include <memory>
#include <ostream>
#include <string>

#include "validator/validation.hpp"

// The version of the JSON records and of --list --json: a reader checks it
// before it reads the rest.
inline constexpr int report_schema = 2;

class validation_reporter {
 public:
  virtual ~validation_reporter() = default;
  // Before the first check: what runs, on what.
  virtual void started(const validation_options& options, std::size_t checks) = 0;
  virtual void check_done(const check_result& result) = 0;
  virtual void finished(const validation& done) = 0;
};

std::unique_ptr<validation_reporter> text_reporter(std::ostream& out);
std::unique_ptr<validation_reporter> json_lines_reporter(std::ostream& out);
// Throws std::runtime_error when `path` cannot be written.
std::unique_ptr<validation_reporter> junit_reporter(const std::string& path);

// --list: every check's name, level and what it holds the plug-in to; with
// --json one JSON document that also says what each needs and runs on.
void print_check_list(std::ostream& out);
void print_check_list_json(std::ostream& out);

// The tool's version ("1.2.0.1").
const char* tool_version();
