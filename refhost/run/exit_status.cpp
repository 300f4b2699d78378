#include "refhost/run/exit_status.hpp"

#include "refhost/files/output_claims.hpp"
#include "refhost/run/command_line.hpp"

const exit_status_row exit_status_table[5] = {
    {exit_status::done, "done: every frame written, or left out by --skip-existing"},
    {exit_status::failed,
     "a frame failed (the others were written), or an input, the module or\n"
     "the output folder did; what is missing may be there next time: retry"},
    {exit_status::usage,
     "the command line cannot work (a bad option, outputs over inputs or\n"
     "over each other, a path too long, an input of a format it does not\n"
     "read, a --facts file that does not fit the run): the same command\n"
     "fails again"},
    {exit_status::plugin_refused,
     "the plug-in does not offer its effector to this host version (or to a\n"
     "frame's host version in --facts)"},
    {exit_status::held_elsewhere,
     "another live run is writing some of the outputs; nothing was written:\n"
     "retry later (EX_TEMPFAIL)"},
};

exit_status exit_status_for(const std::exception& error) {
  if (dynamic_cast<const usage_error*>(&error) != nullptr ||
      dynamic_cast<const output_name_clash*>(&error) != nullptr)
    return exit_status::usage;
  if (dynamic_cast<const output_busy_error*>(&error) != nullptr)
    return exit_status::held_elsewhere;
  return exit_status::failed;
}

std::string exit_status_help() {
  std::string text = "Exit status:\n";
  for (const exit_status_row& row : exit_status_table) {
    std::string code = std::to_string(exit_code(row.status));
    text += "  " + code + std::string(8 - code.size(), ' ');
    for (const char* c = row.meaning; *c != '\0'; ++c)
      text += *c == '\n' ? std::string("\n          ") : std::string(1, *c);
    text += '\n';
  }
  return text +
         "  128+N   ended by signal N (130 Ctrl-C, 137 kill -9, 143 kill); on Windows\n"
         "          Ctrl-C gives the system's 0xC000013A\n";
}
