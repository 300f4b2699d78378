// velloq-validate: the host's contract checked on an effector plug-in DLL,
// in an emulated 32-bit Windows process, on any machine.
//
// Exit status: 0 every check passed (or warned); 1 some failed; 2 not a
// plug-in, an unusable file or a bad command line; 3 none failed, but some
// could not be judged because the plug-in used what the emulated Windows
// does not provide (the validator's gap).

#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "validator/validation.hpp"
#include "validator/validation_report.hpp"

namespace {

const char usage[] =
    "usage: velloq-validate [--windows xp|vista|7] [--strict] [--cycles N] [--json]\n"
    "                       [--output FILE] [--junit FILE] [--only CHECKS]\n"
    "                       [--skip CHECKS] PLUGIN.dll\n"
    "       velloq-validate --list [--json]\n"
    "       velloq-validate --version\n"
    "\n"
    "Runs the host's side of the plug-in contract on PLUGIN.dll in an emulated\n"
    "32-bit Windows process: a line per check as it ends, and a summary. PASS;\n"
    "FAIL: corrupts, crashes, hangs or ends the host, or breaks the contract;\n"
    "WARN: a check of the strict level found a cost a host can live with (a\n"
    "fixed amount of memory per load), with the fix; SKIP: a check it builds on\n"
    "failed, or the plug-in used what the emulated Windows does not provide,\n"
    "which the validator then cannot judge (its gap, not the plug-in's fault).\n"
    "\n"
    "  --windows V    the oldest Windows the plug-in must run on (default xp):\n"
    "                 its imports must exist there, and the checks run on it\n"
    "  --strict       the strict level: its checks fail rather than warn\n"
    "  --cycles N     load/use/free cycles of each residue check (default 200)\n"
    "  --json         JSON Lines: a record for the run, one per check as it\n"
    "                 ends, one for the summary\n"
    "  --output FILE  the report into FILE instead of the standard output, as\n"
    "                 checks end; made only once the run starts, so a run that\n"
    "                 never started leaves no file (nor an empty one) behind\n"
    "  --junit FILE   also a JUnit XML report in FILE, written as checks end\n"
    "  --only CHECKS  only these checks (names or beginnings of names, such as\n"
    "                 render or render.hooks, separated by commas; the option\n"
    "                 may be given again) and the checks they need\n"
    "  --skip CHECKS  leave these out, and the checks that need them\n"
    "  --list         the checks, their level and what each holds the plug-in\n"
    "                 to (with --json, one JSON document)\n"
    "  --version      the version\n"
    "\n"
    "Exit status: 0 all passed (warnings allowed), 1 some failed, 2 not a\n"
    "plug-in, unusable or a bad command line, 3 none failed but some could not\n"
    "be judged (the validator's gap: the plug-in used what the emulated Windows\n"
    "lacks).\n";

int bad_usage(const std::string& why) {
  std::cerr << "velloq-validate: " << why << "\n\n" << usage;
  return exit_unusable;
}

void add_names(std::vector<std::string>& to, const std::string& list) {
  std::size_t at = 0;
  while (at <= list.size()) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    to.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  validation_options options;
  bool json = false, list = false;
  std::string junit, output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::cout << usage;
      return exit_passed;
    } else if (arg == "--version") {
      std::cout << "velloq-validate " << tool_version() << "\n";
      return exit_passed;
    } else if (arg == "--list") {
      list = true;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--output" && has_value && argv[i + 1][0] != '\0') {
      output = argv[++i];
    } else if (arg == "--junit" && has_value) {
      junit = argv[++i];
    } else if ((arg == "--only" || arg == "--skip") && has_value) {
      add_names(arg == "--only" ? options.only : options.skip, argv[++i]);
    } else if (arg == "--windows" && has_value) {
      const std::string v = argv[++i];
      if (v == "xp")
        options.oldest = windows_version::xp_sp3;
      else if (v == "vista")
        options.oldest = windows_version::vista;
      else if (v == "7")
        options.oldest = windows_version::windows_7;
      else
        return bad_usage("--windows takes xp, vista or 7, not \"" + v + "\"");
    } else if (arg == "--cycles" && has_value) {
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(n) < 2)
        return bad_usage("--cycles takes a number from 2 to 999999");
      options.cycles = std::stoi(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return bad_usage("unknown option " + arg + (has_value ? "" : " (or its value missing)"));
    } else if (options.plugin_path.empty()) {
      options.plugin_path = arg;
    } else {
      return bad_usage("one plug-in at a time");
    }
  }
  if (list) {
    if (json)
      print_check_list_json(std::cout);
    else
      print_check_list(std::cout);
    return exit_passed;
  }
  if (options.plugin_path.empty())
    return bad_usage("no plug-in given");

  std::size_t checks = 0;
  try {
    checks = selected_checks(options).size();
  } catch (const std::invalid_argument& e) {
    return bad_usage(e.what());
  }
  std::ofstream output_file;
  if (!output.empty()) {
    output_file.open(output, std::ios::binary | std::ios::trunc);
    if (!output_file)
      return bad_usage("--output: cannot write " + output);
  }
  std::ostream& report = output.empty() ? std::cout : output_file;
  std::vector<std::unique_ptr<validation_reporter>> reporters;
  reporters.push_back(json ? json_lines_reporter(report) : text_reporter(report));
  try {
    if (!junit.empty())
      reporters.push_back(junit_reporter(junit));
  } catch (const std::exception& e) {
    return bad_usage(std::string("--junit: ") + e.what());
  }
  for (const auto& reporter : reporters) reporter->started(options, checks);
  const validation done = validate(options, [&reporters](const check_result& result) {
    for (const auto& reporter : reporters) reporter->check_done(result);
  });
  for (const auto& reporter : reporters) reporter->finished(done);
  return exit_status(done);
}
