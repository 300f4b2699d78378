// velloq-validate on Velloq.dll, which must pass every check at both
// levels; on the minimal plug-in, which must pass them all as it is and fail
// exactly the check named for each of its faults; on the correct plug-in
// built in each ordinary way, which it must never fail; then the program's
// own surface: its outcomes, exit statuses and JSON.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

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

std::vector<std::string> with_status(const validation& done, check_status status) {
  std::vector<std::string> names;
  for (const check_result& r : done.results) {
    if (r.status == status)
      names.push_back(r.name);
  }
  return names;
}

std::string detail_of(const validation& done, const std::string& name) {
  for (const check_result& r : done.results) {
    if (r.name == name)
      return r.detail;
  }
  return std::string();
}

std::string minimal_plugin(int fault) {
  return VELLOQ_MINIMAL_PLUGINS "/minimal_plugin_" + std::to_string(fault) + ".dll";
}

std::string correct_plugin(const std::string& variant) {
  return VELLOQ_MINIMAL_PLUGINS "/correct_plugin_" + variant + ".dll";
}

validation validated(const std::string& path, windows_version oldest = windows_version::xp_sp3,
                     bool strict = false) {
  validation_options options;
  options.plugin_path = path;
  options.oldest = oldest;
  options.strict = strict;
  options.cycles = 6;
  return validate(options);
}

// Every check passed, none only warned: the strict level passes too.
TEST(validator, velloq_dll_passes_every_check_at_both_levels) {
  validation_options options;
  options.plugin_path = win32_module_path();
  const validation done = validate(options);
  EXPECT_EQ(done.count(check_status::passed), static_cast<int>(check_definitions().size()))
      << ::testing::PrintToString(failing(done))
      << ::testing::PrintToString(with_status(done, check_status::warned));
  EXPECT_EQ(exit_status(done), exit_passed);
  // The UUID in velloq-host's one form wherever a check names it.
  for (const char* check : {"exports.identity", "table.plugin_uuid"}) {
    EXPECT_NE(detail_of(done, check).find("05A838F5-CA63-446B-9F83-727D554E9C40"),
              std::string::npos)
        << detail_of(done, check);
  }
}

TEST(validator, the_correct_plugin_built_each_ordinary_way_fails_nothing) {
  // The posix runtime imports GetTickCount64: as XP lacks it, the import
  // check fails there, and nothing else does.
  for (const char* variant : {"posix_plain_resident", "posix_pinned"}) {
    SCOPED_TRACE(variant);
    const validation on_xp = validated(correct_plugin(variant));
    const std::vector<std::string> failed = failing(on_xp);
    ASSERT_EQ(failed.size(), 1u) << ::testing::PrintToString(failed);
    EXPECT_NE(failed[0].find("file.imports: imports what Windows XP SP3 lacks: "
                             "KERNEL32.dll!GetTickCount64 (from Windows Vista on)"),
              std::string::npos)
        << failed[0];
    const validation on_vista = validated(correct_plugin(variant), windows_version::vista);
    EXPECT_TRUE(failing(on_vista).empty()) << ::testing::PrintToString(failing(on_vista));
    EXPECT_EQ(on_vista.count(check_status::not_judged), 0);
  }
  // With pinning and its own unwind tables nothing is left to warn about.
  const validation pinned =
      validated(correct_plugin("win32_pinned"), windows_version::xp_sp3, true);
  EXPECT_EQ(pinned.count(check_status::passed), static_cast<int>(check_definitions().size()))
      << ::testing::PrintToString(failing(pinned));
  // A resident plug-in is cycled in one load, as the host keeps it: the
  // runtime's per-load cost never recurs; its tables beside another
  // module's libgcc_s are the one warning.
  const validation resident =
      validated(correct_plugin("posix_plain_resident"), windows_version::vista);
  EXPECT_EQ(with_status(resident, check_status::warned),
            std::vector<std::string>{"residue.libgcc_registration"});
  EXPECT_NE(detail_of(resident, "residue.cycles").find("in one load (is_resident answers true"),
            std::string::npos)
      << detail_of(resident, "residue.cycles");
}

// Built plainly, the static runtime leaves a handle and about 19 KB behind
// at each load, and its unwind tables go to another module's libgcc_s: the
// strict level's checks find both, warnings with the fix at the default
// level, failures when asked to be strict.
TEST(validator, a_plain_build_warns_and_fails_only_when_strict) {
  const std::vector<std::string> bounded = {"residue.per_load_cost", "residue.libgcc_registration"};
  for (const check_definition& d : check_definitions()) {
    const bool strict_level = std::find(bounded.begin(), bounded.end(), d.name) != bounded.end();
    EXPECT_EQ(d.level == check_level::strict, strict_level) << d.name;
  }
  const validation plain = validated(correct_plugin("win32_plain"));
  EXPECT_TRUE(failing(plain).empty()) << ::testing::PrintToString(failing(plain));
  EXPECT_EQ(with_status(plain, check_status::warned), bounded);
  EXPECT_EQ(exit_status(plain), exit_passed);
  const std::string cost = detail_of(plain, "residue.per_load_cost");
  EXPECT_NE(cost.find("leaves 1 handle, 18944 heap bytes behind per cycle"), std::string::npos)
      << cost;
  EXPECT_NE(cost.find("GET_MODULE_HANDLE_EX_FLAG_PIN"), std::string::npos) << cost;
  const validation strict = validated(correct_plugin("win32_plain"), windows_version::xp_sp3, true);
  EXPECT_EQ(with_status(strict, check_status::failed), bounded);
  EXPECT_EQ(exit_status(strict), exit_failed);
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
                         "render.notify_image_changed",
                         "render.hooks",
                         "faults.create_interface",
                         "render.hooks",
                         "exports.calling_convention",
                         "table.operations",
                         "render.hooks",
                         "table.layout",
                         "table.operations",
                         "table.plugin_uuid",
                         "exports.foreign_ids",
                         "render.borrowed_references",
                         "render.after_release",
                         "render.notify_image_changed",
                         "render.hooks",
                         "render.hooks"};
  const std::pair<int, std::pair<const char*, const char*>> findings[] = {
      {14,
       {"exports.calling_convention",
        "_has_separate_interfaces@4 returned EAX 0x0, popped 4 "
        "bytes (its convention: 4), the direction flag"}},
      {15,
       {"table.operations",
        "plugin_interface operation 40 (slot 44) returned EAX 0x0, "
        "popped 4 bytes (its convention: 4), the x87 register stack (1 "
        "value left on it)"}},
      {16,
       {"render.hooks",
        "begin_render (slot 205) returned EAX 0x3E8, popped 12 bytes (its "
        "convention: 12), MXCSR (0x9F80, not 0x1F80: flush-to-zero left on)"}},
      {17, {"table.layout", "effector_interface reserved entry 80 (slot 300) holds null"}},
      {18,
       {"table.operations",
        "effector_interface operation 5 (slot 209) returned EAX "
        "0xA1A1A1A1, popped 8 bytes (its convention: 4)"}},
      {21,
       {"render.borrowed_references",
        "begin_render (slot 205) added 1 reference(s) to "
        "RenderJob, which the host lends it"}},
      {22,
       {"render.after_release",
        "end_render (slot 207) called the output image's get_size "
        "after releasing its last reference to it"}},
      {24,
       {"render.hooks",
        "end_render (slot 207) did not return: still running after 8000032 "
        "blocks of instructions, its budget as the host's call: an endless "
        "loop? on a 1x1 picture"}},
      {25,
       {"render.hooks",
        "end_render (slot 207) did not return: still running after 17830400 "
        "blocks of instructions, its budget as the host's call: an endless "
        "loop? on a 640x480 picture"}},
  };
  for (int fault = 0; fault < static_cast<int>(std::size(named)); ++fault) {
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
      EXPECT_EQ(done.count(check_status::not_judged), 0);
    }
    // The findings name the slot or export, the call and what it left.
    for (const auto& [with_fault, finding] : findings) {
      if (with_fault == fault) {
        EXPECT_EQ(detail_of(done, finding.first).rfind(finding.second, 0), 0u)
            << detail_of(done, finding.first);
      }
    }
  }
}

// Growth at each load that ends a host fails at either level: the static
// runtime's TLS slot once an exception was caught, and unwind tables with
// another module's libgcc_s, where the plug-in's exception is not caught.
TEST(validator, what_ends_a_host_fails_at_the_default_level) {
  const validation plain = validated(VELLOQ_MINIMAL_PLUGINS "/minimal_plugin_plain.dll");
  EXPECT_TRUE(with_status(plain, check_status::warned).empty());
  EXPECT_EQ(with_status(plain, check_status::failed),
            (std::vector<std::string>{"residue.cycles_with_exception", "residue.beside_libgcc"}));
  const std::string slots = detail_of(plain, "residue.cycles_with_exception");
  EXPECT_NE(slots.find("leaves 2 handles, 1 TLS slot, 19092 heap bytes behind per cycle"),
            std::string::npos)
      << slots;
  EXPECT_NE(slots.find("a process has 1,088 TLS slots"), std::string::npos) << slots;
  const std::string libgcc = detail_of(plain, "residue.beside_libgcc");
  EXPECT_NE(libgcc.find("calls abort(), which ends the host's process"), std::string::npos)
      << libgcc;
  EXPECT_NE(libgcc.find("Fix: keep its unwind tables in the plug-in"), std::string::npos) << libgcc;
}

// What ends or hangs the host is the plug-in's fault, and said so; what the
// emulated Windows cannot do is the validator's gap, and never a failure.
TEST(validator, the_plugins_faults_and_the_validators_gaps_are_told_apart) {
  const validation message_box = validated(minimal_plugin(11));
  EXPECT_NE(detail_of(message_box, "render.hooks")
                .find("end_render (slot 207) did not return: shows a message box (MessageBoxA, "
                      "\"Rendered\") and waits for someone to click it"),
            std::string::npos)
      << detail_of(message_box, "render.hooks");
  const validation exits = validated(minimal_plugin(12));
  EXPECT_NE(detail_of(exits, "faults.create_interface")
                .find("calls ExitProcess(3), which ends the host's process"),
            std::string::npos)
      << detail_of(exits, "faults.create_interface");
  const validation waits = validated(minimal_plugin(13));
  EXPECT_NE(detail_of(waits, "render.hooks")
                .find("waits with no time-out (KERNEL32.dll!WaitForSingleObject) for an event "
                      "that is not set"),
            std::string::npos)
      << detail_of(waits, "render.hooks");
  for (const validation* done : {&message_box, &exits, &waits}) {
    for (const check_result& r : done->results)
      EXPECT_EQ(r.detail.find("validator"), std::string::npos) << r.name << ": " << r.detail;
  }

  // Built without -static: it needs DLLs that neither Windows nor the host
  // ships, and loads nowhere else.
  const validation shared = validated(correct_plugin("win32_shared_runtime"));
  EXPECT_EQ(with_status(shared, check_status::failed),
            (std::vector<std::string>{"file.imports", "load.xp", "load.vista", "exports.names"}));
  EXPECT_NE(detail_of(shared, "file.imports")
                .find("libstdc++-6.dll (mingw's shared C++ runtime, which neither Windows nor "
                      "the host ships: link it statically, -static)"),
            std::string::npos)
      << detail_of(shared, "file.imports");
  EXPECT_EQ(shared.count(check_status::not_judged), 0);

  // Writing a log file: the emulated Windows has no files.
  const validation logs = validated(correct_plugin("win32_plain_logging"));
  EXPECT_TRUE(failing(logs).empty()) << ::testing::PrintToString(failing(logs));
  EXPECT_EQ(detail_of(logs, "render.hooks"),
            "the validator cannot judge this: end_render (slot 207) calls "
            "KERNEL32.dll!CreateFileA, which the emulated Windows does not provide");
  EXPECT_EQ(exit_status(logs), exit_validator_gap);
  // Its dependants are not judged either, and say on what.
  EXPECT_EQ(detail_of(logs, "render.owned_references"),
            "needs render.hooks, which the validator could not judge");
}

// Runs the program; its exit status and what it printed.
std::pair<int, std::string> run(const std::string& arguments, const std::string& before = "") {
  FILE* pipe =
      popen((before + std::string(VELLOQ_VALIDATE_PATH) + " " + arguments + " 2>&1").c_str(), "r");
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// JSON Lines: each line one record.
std::vector<nlohmann::json> records(const std::string& output) {
  std::vector<nlohmann::json> parsed;
  std::size_t at = 0;
  for (std::size_t end; (end = output.find('\n', at)) != std::string::npos; at = end + 1)
    parsed.push_back(nlohmann::json::parse(output.substr(at, end - at)));
  return parsed;
}

const nlohmann::json& record_of(const std::vector<nlohmann::json>& all, const std::string& name) {
  for (const nlohmann::json& record : all) {
    if (record["record"] == "check" && record["name"] == name)
      return record;
  }
  throw std::runtime_error("no check " + name + " in the records");
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(validator, exit_status_json_lines_and_list) {
  // A failing plug-in: 1; the run, every check and the summary, each a line.
  auto [status, output] = run("--json --cycles 4 " + minimal_plugin(10));
  EXPECT_EQ(status, 1) << output;
  std::vector<nlohmann::json> lines = records(output);
  ASSERT_EQ(lines.size(), check_definitions().size() + 2) << output;
  EXPECT_EQ(lines.front()["record"], "run");
  EXPECT_EQ(lines.front()["tool"], "velloq-validate");
  EXPECT_EQ(lines.front()["schema"], 2);
  EXPECT_FALSE(lines.front()["version"].get<std::string>().empty());
  EXPECT_EQ(lines.back()["record"], "summary");
  EXPECT_EQ(lines.back()["failed"], 1);
  EXPECT_EQ(lines.back()["exit_status"], 1);
  const nlohmann::json& notify = record_of(lines, "render.notify_image_changed");
  EXPECT_EQ(notify["result"], "fail");
  EXPECT_EQ(notify["level"], "standard");
  EXPECT_GE(notify["seconds"].get<double>(), 0.0);
  // Warnings: 0 at the default level, 1 with --strict.
  std::tie(status, output) = run("--json --cycles 4 " + correct_plugin("win32_plain"));
  EXPECT_EQ(status, 0) << output;
  lines = records(output);
  EXPECT_EQ(lines.back()["warned"], 2);
  EXPECT_EQ(record_of(lines, "residue.per_load_cost")["result"], "warn");
  EXPECT_EQ(record_of(lines, "residue.per_load_cost")["level"], "strict");
  std::tie(status, output) = run("--strict --cycles 4 " + correct_plugin("win32_plain"));
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("FAIL  residue.per_load_cost "), std::string::npos) << output;
  // The validator's gap: 3, the check skipped, the records say why.
  std::tie(status, output) = run("--json --cycles 4 " + correct_plugin("win32_plain_logging"));
  EXPECT_EQ(status, 3) << output;
  lines = records(output);
  EXPECT_EQ(record_of(lines, "render.hooks")["result"], "skip");
  EXPECT_EQ(record_of(lines, "render.hooks")["validator_gap"], true);
  EXPECT_EQ(lines.back()["validator_gaps"], lines.back()["skipped"]);
  std::tie(status, output) = run("--cycles 4 " + correct_plugin("win32_plain_logging"));
  EXPECT_NE(output.find("SKIP  render.hooks"), std::string::npos) << output;
  EXPECT_NE(output.find("not judged: the validator's gap"), std::string::npos) << output;
  // Not a plug-in, or no usable file, or a bad command line: 2.
  std::tie(status, output) = run(VELLOQ_VALIDATE_PATH);
  EXPECT_EQ(status, 2) << output;
  EXPECT_NE(output.find("FAIL  file.format"), std::string::npos) << output;
  EXPECT_EQ(run("/nonexistent.dll").first, 2);
  EXPECT_EQ(run("--windows 98 " + minimal_plugin(0)).first, 2);
  EXPECT_EQ(run("--only rendering " + minimal_plugin(0)).first, 2);
  EXPECT_EQ(run("--junit /nonexistent/folder/report.xml " + minimal_plugin(0)).first, 2);
  // --list names every check with its level; --list --json says the same.
  std::tie(status, output) = run("--list");
  EXPECT_EQ(status, 0);
  for (const check_definition& d : check_definitions())
    EXPECT_NE(output.find(d.name), std::string::npos) << d.name;
  EXPECT_NE(output.find("residue.per_load_cost          strict"), std::string::npos) << output;
  std::tie(status, output) = run("--list --json");
  const nlohmann::json list = nlohmann::json::parse(output);
  EXPECT_EQ(list["schema"], 2);
  ASSERT_EQ(list["checks"].size(), check_definitions().size());
  EXPECT_EQ(list["checks"][0]["name"], "file.format");
  EXPECT_EQ(list["checks"].back()["level"], "strict");
  EXPECT_EQ(list["checks"][1]["needs"], nlohmann::json::array({"file.format"}));
  std::tie(status, output) = run("--version");
  EXPECT_EQ(output, "velloq-validate " + lines.front()["version"].get<std::string>() + "\n");
  // --windows 7 accepts what only Vista has.
  EXPECT_EQ(run("--windows vista --cycles 4 " + minimal_plugin(8)).first, 0);
}

// --only runs what it names and what that needs; --skip leaves out what it
// names and what needs it.
TEST(validator, only_and_skip_choose_checks_with_what_they_need) {
  auto names = [](const validation_options& options) {
    std::vector<std::string> chosen;
    for (const check_definition& d : selected_checks(options)) chosen.push_back(d.name);
    return chosen;
  };
  validation_options options;
  options.only = {"render.picture_bounds"};
  EXPECT_EQ(names(options),
            (std::vector<std::string>{"file.format", "exports.names", "component.create",
                                      "component.table", "table.layout", "render.hooks",
                                      "render.picture_bounds"}));
  options.only = {"residue.per"};
  EXPECT_EQ(names(options).back(), "residue.per_load_cost");
  // Without the table's layout, the table's other checks, the renders and
  // all that builds on them go; what needs only the component stays.
  options.only.clear();
  options.skip = {"table.layout"};
  const std::vector<std::string> left = names(options);
  EXPECT_NE(std::find(left.begin(), left.end(), "faults.create_interface"), left.end());
  for (const std::string& name : left) {
    EXPECT_TRUE(name.rfind("table.", 0) != 0 && name.rfind("render.", 0) != 0 &&
                name.rfind("residue.", 0) != 0 && name != "faults.end_hook")
        << name;
  }
  options.skip = {"no.such.check"};
  EXPECT_THROW(names(options), std::invalid_argument);

  options.skip = {"faults", "residue"};
  options.plugin_path = minimal_plugin(3);
  const validation done = validate(options);
  for (const check_result& r : done.results)
    EXPECT_TRUE(r.name.rfind("faults.", 0) != 0 && r.name.rfind("residue.", 0) != 0) << r.name;
  EXPECT_EQ(failing(done).size(), 1u) << ::testing::PrintToString(failing(done));
}

// Results are written as each check ends: a run killed half-way keeps its
// lines and a JUnit report of what ran. The plug-in here hangs on the
// 640x480 picture, which takes several seconds to find.
TEST(validator, a_killed_run_keeps_what_it_did) {
  const std::string junit = ::testing::TempDir() + "killed_run.xml";
  const auto [status, output] =
      run("--junit " + junit + " " + minimal_plugin(25), "timeout -s KILL 2 ");
  EXPECT_EQ(status, 128 + SIGKILL) << output;
  EXPECT_NE(output.find("PASS  file.format"), std::string::npos) << output;
  EXPECT_EQ(output.find(" passed, "), std::string::npos) << output;
  const std::string xml = read_file(junit);
  EXPECT_NE(xml.find("<testcase classname=\"velloq-validate.file\" name=\"file.format\""),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.substr(xml.size() - 14), "</testsuites>\n") << xml;
}

// The JUnit report of a whole run: a case per check, failures and skips as
// such, the plug-in's own texts escaped.
TEST(validator, junit_report_for_ci_dashboards) {
  const std::string junit = ::testing::TempDir() + "report.xml";
  const auto [status, output] = run("--cycles 4 --junit " + junit + " " + minimal_plugin(9));
  EXPECT_EQ(status, 1) << output;
  const std::string xml = read_file(junit);
  EXPECT_NE(xml.find("<testsuites name=\"velloq-validate\" tests=\"" +
                     std::to_string(check_definitions().size()) + "\" failures=\"1\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("name=\"render.picture_bounds\""), std::string::npos);
  EXPECT_NE(xml.find("<failure message=\"accessed a pixel outside the picture"), std::string::npos)
      << xml;
  EXPECT_NE(xml.find("module&apos;s code"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("module's"), std::string::npos) << xml;
}

}  // namespace
