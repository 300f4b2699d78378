#include <signal.h>
#include <unistd.h>

#include <mutex>

#include "refhost/system/interruption_cleanup.hpp"
#include "refhost/system/interruption_cleanup_platform.hpp"

namespace interruption_cleanup {
namespace {

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the partial files, then ends the process by the same signal
// with its default action, so that the shell sees an interrupted program
// (status 128 + the signal's number) and a calling script stops too.
extern "C" void on_interruption(int signal_number) {
  remove_tracked_files();
  signal(signal_number, SIG_DFL);
  raise(signal_number);  // delivered as soon as this handler returns
}

}  // namespace

void remove_now(const char* path) {
  unlink(path);
}

void install() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_handler = on_interruption;
    sigemptyset(&action.sa_mask);
    // One handler at a time: a second signal waits until the first is done.
    for (int signal_number : handled_signals) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : handled_signals) {
      struct sigaction previous {};
      if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
        continue;  // started by nohup or as a background job: stay deaf to it
      sigaction(signal_number, &action, nullptr);
    }
  });
}

}  // namespace interruption_cleanup
