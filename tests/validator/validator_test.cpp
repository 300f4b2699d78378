// velloq-validate on Velloq.dll, which must pass every check, and on the
// minimal plug-in, which must pass them all as it is and fail exactly the
// check named for each of its faults; then the program's own surface.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/support/module_path.hpp"
#include "validator/validation.hpp"

namespace {

std::vector<std::string> failing(const validation& done) {
  std::vector<std::string> names;
  for (const check_result& r : done.results) {
    if (r.status == check_status::failed)
      names.push_back(r.name + ": " + r.detail);
  }
  return names;
}

std::string minimal_plugin(int fault) {
  return VELLOQ_MINIMAL_PLUGINS "/minimal_plugin_" + std::to_string(fault) + ".dll";
}

TEST(validator, velloq_dll_passes_every_check) {
  validation_options options;
  options.plugin_path = win32_module_path();
  const validation done = validate(options);
  EXPECT_EQ(done.count(check_status::passed), static_cast<int>(check_definitions().size()))
      << ::testing::PrintToString(failing(done));
}

TEST(validator, each_fault_of_the_minimal_plugin_fails_exactly_its_check) {
  const char* named[] = {"",
                         "exports.calling_convention",
                         "component.table",
                         "render.owned_references",
                         "render.borrowed_references",
                         "render.hooks",
                         "exports.calling_convention",
                         "render.hooks",
                         "file.imports",
                         "render.picture_bounds",
                         "render.notify_image_changed"};
  for (int fault = 0; fault <= 10; ++fault) {
    SCOPED_TRACE("fault " + std::to_string(fault) + ": " + named[fault]);
    validation_options options;
    options.plugin_path = minimal_plugin(fault);
    options.cycles = 10;
    const validation done = validate(options);
    const std::vector<std::string> failed = failing(done);
    if (fault == 0) {
      EXPECT_TRUE(failed.empty()) << ::testing::PrintToString(failed);
      EXPECT_EQ(done.count(check_status::skipped), 0);
    } else {
      ASSERT_EQ(failed.size(), 1u) << ::testing::PrintToString(failed);
      EXPECT_EQ(failed[0].substr(0, failed[0].find(':')), named[fault]) << failed[0];
    }
  }
}

// Runs the program; its exit status and what it printed.
std::pair<int, std::string> run(const std::string& arguments) {
  FILE* pipe = popen((std::string(VELLOQ_VALIDATE_PATH) + " " + arguments + " 2>&1").c_str(), "r");
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(validator, exit_status_json_and_list) {
  // A failing plug-in: 1, and every check in the document.
  auto [status, output] = run("--json --cycles 4 " + minimal_plugin(10));
  EXPECT_EQ(status, 1) << output;
  const nlohmann::json document = nlohmann::json::parse(output);
  EXPECT_EQ(document["checks"].size(), check_definitions().size());
  EXPECT_EQ(document["failed"], 1);
  EXPECT_EQ(document["checks"][18]["name"], "render.notify_image_changed");
  EXPECT_EQ(document["checks"][18]["result"], "fail");
  // Not a plug-in, or no usable file: 2.
  std::tie(status, output) = run(VELLOQ_VALIDATE_PATH);
  EXPECT_EQ(status, 2) << output;
  EXPECT_NE(output.find("FAIL  file.format"), std::string::npos) << output;
  EXPECT_EQ(run("/nonexistent.dll").first, 2);
  EXPECT_EQ(run("--windows 98 " + minimal_plugin(0)).first, 2);
  // --list names every check; --windows 7 accepts what only Vista has.
  std::tie(status, output) = run("--list");
  EXPECT_EQ(status, 0);
  for (const check_definition& d : check_definitions())
    EXPECT_NE(output.find(d.name), std::string::npos) << d.name;
  EXPECT_EQ(run("--windows vista --cycles 4 " + minimal_plugin(8)).first, 0);
}

}  // namespace
