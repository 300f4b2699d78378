// KERNEL32.dll's view of the process and the machine's folders: the
// command line and environment of the host, its start-up information and
// standard handles (a windowed program has none), the Windows folders, the
// computer's name, the error mode, and the ways to end the process, which
// a plug-in must never take: they end the host.

#include <map>
#include <memory>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/host_environment.hpp"

namespace {

using namespace windows_error;
constexpr char kernel32[] = "KERNEL32.dll";

}  // namespace

const std::map<std::string, std::string>& host_environment() {
  static const std::map<std::string, std::string> environment = {
      {"ALLUSERSPROFILE", "C:\\Documents and Settings\\All Users"},
      {"APPDATA", "C:\\Documents and Settings\\artist\\Application Data"},
      {"COMPUTERNAME", "RENDERNODE"},
      {"HOMEDRIVE", "C:"},
      {"HOMEPATH", "\\Documents and Settings\\artist"},
      {"OS", "Windows_NT"},
      {"PATH", "C:\\WINDOWS\\system32;C:\\WINDOWS"},
      {"PROCESSOR_ARCHITECTURE", "x86"},
      {"ProgramFiles", "C:\\Program Files"},
      {"SystemDrive", "C:"},
      {"SystemRoot", "C:\\WINDOWS"},
      {"TEMP", "C:\\DOCUME~1\\artist\\LOCALS~1\\Temp"},
      {"TMP", "C:\\DOCUME~1\\artist\\LOCALS~1\\Temp"},
      {"USERNAME", "artist"},
      {"USERPROFILE", "C:\\Documents and Settings\\artist"},
      {"windir", "C:\\WINDOWS"},
  };
  return environment;
}

void provide_kernel32_process(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};

  // Ending the process ends the host.
  provide("ExitProcess", 4, [](stub_call& c) {
    c.cpu.stop_call("calls ExitProcess(" + std::to_string(c.arg(0)) +
                    "), which ends the host's process");
  });
  provide("TerminateProcess", 8, [&p](stub_call& c) {
    const auto object = p.object_of(c.arg(0));
    if (object != nullptr && object == p.object_of(windows_process::current_process_handle)) {
      c.cpu.stop_call("calls TerminateProcess(" + std::to_string(c.arg(1)) +
                      ") on its own process, which ends the host");
      return;
    }
    p.set_last_error(invalid_handle);
    c.result(0);
  });
  provide("FatalExit", 4,
          [](stub_call& c) { c.cpu.stop_call("calls FatalExit, which ends the host's process"); });
  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    provide("FatalAppExit" + suffix, 8, [&p, wide](stub_call& c) {
      c.cpu.stop_call("calls FatalAppExit (\"" + read_text(p.cpu, c.arg(1), wide) +
                      "\"), which shows a message and ends the host's process");
    });
  }

  // The host's command line, start-up information and environment. A
  // plug-in may change the environment; the host's copy is the process's.
  const std::string command_line = "\"C:\\Program Files\\Host\\host.exe\"";
  const std::uint32_t narrow_command_line = p.host_string(command_line);
  const std::uint32_t wide_command_line =
      p.host_allocate(2 * static_cast<std::uint32_t>(command_line.size() + 1), 2);
  write_text(p.cpu, wide_command_line, static_cast<std::uint32_t>(command_line.size() + 1),
             command_line, true);
  provide("GetCommandLineA", 0,
          [narrow_command_line](stub_call& c) { c.result(narrow_command_line); });
  provide("GetCommandLineW", 0, [wide_command_line](stub_call& c) { c.result(wide_command_line); });
  auto environment = std::make_shared<std::map<std::string, std::string>>(host_environment());
  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    // GetStartupInfo(STARTUPINFO out): its size and nothing chosen.
    provide("GetStartupInfo" + suffix, 4, [&p](stub_call& c) {
      record r(68);
      r.put32(0, 68);
      r.write(p.cpu, c.arg(0));
    });
    // GetEnvironmentVariable(name, buffer, size): the length without the
    // NUL, or the size needed with it when the buffer is too small.
    provide("GetEnvironmentVariable" + suffix, 12, [&p, environment, wide](stub_call& c) {
      const auto it = environment->find(read_text(p.cpu, c.arg(0), wide));
      if (it == environment->end()) {
        p.set_last_error(envvar_not_found);
        c.result(0);
        return;
      }
      const std::uint32_t length = static_cast<std::uint32_t>(it->second.size());
      c.result(write_text(p.cpu, c.arg(1), c.arg(2), it->second, wide) ? length : length + 1);
    });
    // SetEnvironmentVariable(name, value; null removes it)
    provide("SetEnvironmentVariable" + suffix, 8, [&p, environment, wide](stub_call& c) {
      const std::string name = read_text(p.cpu, c.arg(0), wide);
      if (c.arg(1) == 0)
        environment->erase(name);
      else
        (*environment)[name] = read_text(p.cpu, c.arg(1), wide);
      c.result(1);
    });
    // The Windows folders: (buffer, size), the length without the NUL, or
    // the size needed with it.
    for (const auto& [function, folder] :
         {std::pair<std::string, std::string>{"GetSystemDirectory", "C:\\WINDOWS\\system32"},
          {"GetWindowsDirectory", "C:\\WINDOWS"},
          {"GetSystemWindowsDirectory", "C:\\WINDOWS"}}) {
      const std::string path = folder;
      provide(function + suffix, 8, [&p, path, wide](stub_call& c) {
        const std::uint32_t length = static_cast<std::uint32_t>(path.size());
        c.result(write_text(p.cpu, c.arg(0), c.arg(1), path, wide) ? length : length + 1);
      });
    }
    // GetTempPath(size, buffer): the size first; TEMP's folder, which the
    // plug-in may have changed or removed.
    provide("GetTempPath" + suffix, 8, [&p, environment, wide](stub_call& c) {
      const auto temp = environment->find("TEMP");
      const std::string path =
          (temp != environment->end() ? temp->second : std::string("C:\\WINDOWS\\TEMP")) + "\\";
      const std::uint32_t length = static_cast<std::uint32_t>(path.size());
      c.result(write_text(p.cpu, c.arg(1), c.arg(0), path, wide) ? length : length + 1);
    });
    // GetComputerName(buffer, size in and out)
    provide("GetComputerName" + suffix, 8, [&p, wide](stub_call& c) {
      // The computer's name, whatever the plug-in did to the environment.
      const std::string name = host_environment().at("COMPUTERNAME");
      const std::uint32_t size = p.cpu.read32(c.arg(1));
      const bool fits = write_text(p.cpu, c.arg(0), size, name, wide);
      p.cpu.write32(c.arg(1), static_cast<std::uint32_t>(name.size() + (fits ? 0 : 1)));
      if (!fits)
        p.set_last_error(windows_error::more_data);
      c.result(fits ? 1 : 0);
    });
  }
  // A windowed host has no console: its standard handles are null.
  provide("GetStdHandle", 4, [](stub_call& c) { c.result(0); });
  auto error_mode = std::make_shared<std::uint32_t>(0);
  provide("SetErrorMode", 4, [error_mode](stub_call& c) {
    c.result(*error_mode);
    *error_mode = c.arg(0);
  });
  provide("GetErrorMode", 0, [error_mode](stub_call& c) { c.result(*error_mode); });
}
