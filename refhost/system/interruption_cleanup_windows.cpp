#include <windows.h>

#include <mutex>

#include "refhost/system/interruption_cleanup.hpp"
#include "refhost/system/interruption_cleanup_platform.hpp"

namespace interruption_cleanup {
namespace {

// Windows runs this on a thread of its own when the console sends Ctrl-C
// or Ctrl-Break or is closed. Once no file is half created or renamed the
// partial files go, then the process ends with the status Windows gives a
// program stopped by Ctrl-C.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      remove_tracked_files_for_good();
      ExitProcess(STATUS_CONTROL_C_EXIT);
    default:
      return FALSE;
  }
}

}  // namespace

void remove_now(const char* path) {
  DeleteFileA(path);
}

void install() {
  static std::once_flag installed;
  std::call_once(installed, [] { SetConsoleCtrlHandler(on_console_event, TRUE); });
}

}  // namespace interruption_cleanup
