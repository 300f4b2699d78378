// velloq-validate: the host's contract checked on an effector plug-in DLL,
// in an emulated 32-bit Windows process, on any machine.
//
// Exit status: 0 every check passed (or warned); 1 some failed; 2 not a
// plug-in, an unusable file or a bad command line; 3 none failed, but some
// could not be judged because the plug-in used what the emulated Windows
// does not provide (the validator's gap).

#include <cstring>
#include <iostream>
#include <string>

#include "validator/validation.hpp"
#include "validator/validation_report.hpp"

namespace {

const char usage[] =
    "usage: velloq-validate [--windows xp|vista|7] [--strict] [--cycles N] [--json] PLUGIN.dll\n"
    "       velloq-validate --list\n"
    "\n"
    "Runs the host's side of the plug-in contract on PLUGIN.dll in an emulated\n"
    "32-bit Windows process: a line per check and a summary. PASS; WARN: kept\n"
    "what the host needs at a cost it can live with (a fixed amount of memory\n"
    "per load), with the fix; FAIL: corrupts, crashes, hangs or ends the host,\n"
    "or breaks the contract; SKIP: a check it builds on failed, or the plug-in\n"
    "used what the emulated Windows does not provide, which the validator then\n"
    "cannot judge (its gap, not the plug-in's fault).\n"
    "\n"
    "  --windows V  the oldest Windows the plug-in must run on (default xp):\n"
    "               its imports must exist there, and the checks run on it\n"
    "  --strict     warnings fail too\n"
    "  --cycles N   load/use/free cycles of each residue check (default 200)\n"
    "  --json       the results as one JSON document\n"
    "  --list       the checks and what each holds the plug-in to\n"
    "\n"
    "Exit status: 0 all passed (warnings allowed), 1 some failed, 2 not a\n"
    "plug-in or unusable, 3 none failed but some could not be judged (the\n"
    "validator's gap: the plug-in used what the emulated Windows lacks).\n";

int bad_usage(const std::string& why) {
  std::cerr << "velloq-validate: " << why << "\n\n" << usage;
  return exit_unusable;
}

}  // namespace

int main(int argc, char** argv) {
  validation_options options;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << usage;
      return exit_passed;
    } else if (arg == "--list") {
      print_check_list(std::cout);
      return exit_passed;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--windows" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (v == "xp")
        options.oldest = windows_version::xp_sp3;
      else if (v == "vista")
        options.oldest = windows_version::vista;
      else if (v == "7")
        options.oldest = windows_version::windows_7;
      else
        return bad_usage("--windows takes xp, vista or 7, not \"" + v + "\"");
    } else if (arg == "--cycles" && i + 1 < argc) {
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(n) < 2)
        return bad_usage("--cycles takes a number from 2 to 999999");
      options.cycles = std::stoi(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return bad_usage("unknown option " + arg);
    } else if (options.plugin_path.empty()) {
      options.plugin_path = arg;
    } else {
      return bad_usage("one plug-in at a time");
    }
  }
  if (options.plugin_path.empty())
    return bad_usage("no plug-in given");

  const validation done = validate(options);
  if (json)
    print_json(std::cout, options, done);
  else
    print_text(std::cout, options, done);
  return exit_status(done);
}
