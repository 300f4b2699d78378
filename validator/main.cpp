// velloq-validate: the host's contract checked on an effector plug-in DLL,
// in an emulated 32-bit Windows process, on any machine.
//
// Exit status: 0 every check passed; 1 some failed; 2 not a plug-in, an
// unusable file or a bad command line.

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "refhost/files/file_io.hpp"
#include "validator/validation.hpp"
#include "validator/validation_report.hpp"

namespace {

constexpr int all_passed = 0, some_failed = 1, unusable = 2;

const char usage[] =
    "usage: velloq-validate [--windows xp|vista|7] [--cycles N] [--json] [--output FILE]\n"
    "                       PLUGIN.dll\n"
    "       velloq-validate --list\n"
    "\n"
    "Runs the host's side of the plug-in contract on PLUGIN.dll in an emulated\n"
    "32-bit Windows process: a line per check (PASS, FAIL or SKIP with the\n"
    "reason) and a summary.\n"
    "\n"
    "  --windows V  the oldest Windows the plug-in must run on (default xp):\n"
    "               its imports must exist there, and the checks run on it\n"
    "  --cycles N   load/use/free cycles of each residue check (default 200)\n"
    "  --json       the results as one JSON document\n"
    "  --output FILE\n"
    "               the results into FILE instead of stdout, written whole\n"
    "               once the checks are done: a run that cannot start leaves\n"
    "               no file (nor an empty one) behind\n"
    "  --list       the checks and what each holds the plug-in to\n"
    "  --version    velloq-validate's version\n"
    "\n"
    "Exit status: 0 all passed, 1 some failed, 2 not a plug-in or unusable.\n";

int bad_usage(const std::string& why) {
  std::cerr << "velloq-validate: " << why << "\n\n" << usage;
  return unusable;
}

}  // namespace

int main(int argc, char** argv) {
  validation_options options;
  bool json = false;
  std::string output_path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << usage;
      return all_passed;
    } else if (arg == "--version") {
      std::cout << "velloq-validate " VELLOQ_VERSION "\n";
      return all_passed;
    } else if (arg == "--output" && i + 1 < argc && argv[i + 1][0] != '\0') {
      output_path = argv[++i];
    } else if (arg == "--list") {
      print_check_list(std::cout);
      return all_passed;
    } else if (arg == "--json") {
      json = true;
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
  std::ostringstream report;
  if (json)
    print_json(report, options, done);
  else
    print_text(report, options, done);
  if (output_path.empty()) {
    std::cout << report.str();
  } else {
    const std::string text = report.str();
    try {
      write_file_atomically(output_path, std::vector<unsigned char>(text.begin(), text.end()),
                            replace_policy::replace_existing);
    } catch (const file_error& error) {
      std::cerr << "velloq-validate: " << error.what() << "\n";
      return unusable;
    }
  }
  if (done.unusable)
    return unusable;
  return done.count(check_status::failed) == 0 ? all_passed : some_failed;
}
