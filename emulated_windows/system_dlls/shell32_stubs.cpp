// SHELL32.dll as a plug-in uses it: where the user's and the machine's
// folders are, on the emulated machine's Windows XP installation.

#include <map>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/host_environment.hpp"

namespace {

constexpr std::uint32_t max_path = 260, s_ok = 0, e_fail = 0x80004005;

// The folder of a CSIDL number (its flags masked off); empty for one the
// machine does not have.
std::string folder_of(std::uint32_t csidl) {
  const std::map<std::string, std::string>& environment = host_environment();
  const std::string profile = environment.at("USERPROFILE");
  switch (csidl & 0xFF) {
    case 0x05:
      return profile + "\\My Documents";  // CSIDL_PERSONAL
    case 0x10:
      return profile + "\\Desktop";  // CSIDL_DESKTOPDIRECTORY
    case 0x1A:
      return environment.at("APPDATA");  // CSIDL_APPDATA
    case 0x1C:
      return profile + "\\Local Settings\\Application Data";  // CSIDL_LOCAL_APPDATA
    case 0x23:
      return environment.at("ALLUSERSPROFILE") + "\\Application Data";
    case 0x24:
      return environment.at("windir");  // CSIDL_WINDOWS
    case 0x25:
      return environment.at("windir") + "\\system32";
    case 0x26:
      return environment.at("ProgramFiles");  // CSIDL_PROGRAM_FILES
    case 0x27:
      return profile + "\\My Documents\\My Pictures";
    case 0x28:
      return profile;  // CSIDL_PROFILE
    default:
      return std::string();
  }
}

}  // namespace

void provide_shell32(windows_process& process) {
  windows_process& p = process;
  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    // SHGetFolderPath(window, CSIDL, token, flags, path out of MAX_PATH)
    p.provide("SHELL32.dll", "SHGetFolderPath" + suffix, 20, [&p, wide](stub_call& c) {
      const std::string folder = folder_of(c.arg(1));
      c.result(!folder.empty() && write_text(p.cpu, c.arg(4), max_path, folder, wide) ? s_ok
                                                                                      : e_fail);
    });
    // SHGetSpecialFolderPath(window, path out of MAX_PATH, CSIDL, create)
    p.provide("SHELL32.dll", "SHGetSpecialFolderPath" + suffix, 16, [&p, wide](stub_call& c) {
      const std::string folder = folder_of(c.arg(2));
      c.result(!folder.empty() && write_text(p.cpu, c.arg(1), max_path, folder, wide) ? 1 : 0);
    });
  }
}
