#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "refhost/system/interruption_cleanup.hpp"
#include "refhost/system/interruption_cleanup_platform.hpp"

namespace interruption_cleanup {
namespace {

constexpr int handled_signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE, SIGALRM,   SIGTERM,
                                   SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

int wake_pipe[2] = {-1, -1};
std::atomic<int> first_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets it");

sigset_t handled_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : handled_signals) sigaddset(&set, signal_number);
  return set;
}

// Only wakes the clean-up thread: a handler may run on a thread that is
// creating a file, and removing files here would race with it. The thread
// then stops where it is, unless it is inside a guarded step, which it
// must finish for the clean-up to begin.
extern "C" void on_signal(int signal_number) {
  int none = 0;
  first_signal.compare_exchange_strong(none, signal_number);
  const char byte = 1;
  const ssize_t ignored = write(wake_pipe[1], &byte, 1);
  (void)ignored;
  if (held_by_this_thread())
    return;
  for (;;) pause();
}

// Waits for a signal, removes the partial files, then ends the process by
// the same signal with its default action, so that the shell sees an
// interrupted program (status 128 + the signal's number) and a calling
// script stops too. A zero byte without a signal: the process is ending.
void clean_up_when_signalled() {
  char byte = 0;
  while (read(wake_pipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  const int signal_number = first_signal.load();
  if (signal_number == 0)
    return;
  remove_tracked_files_for_good();
  signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

// The clean-up thread, let go when the process ends normally: the
// handlers go first (a signal then ends the process as it would have
// without them; nothing is being written any more), then the thread.
struct clean_up_thread {
  std::thread thread;
  std::vector<std::pair<int, struct sigaction>> replaced;
  ~clean_up_thread() {
    for (const auto& [signal_number, previous] : replaced)
      sigaction(signal_number, &previous, nullptr);
    const char quit = 0;
    if (thread.joinable() && write(wake_pipe[1], &quit, 1) == 1)
      thread.join();
  }
};

}  // namespace

void remove_now(const char* path) {
  unlink(path);
}

void install() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    if (pipe(wake_pipe) != 0)
      return;
    for (int end : wake_pipe) fcntl(end, F_SETFD, FD_CLOEXEC);
    // The clean-up thread is born with the signals blocked, so that no
    // handler ever runs on it.
    const sigset_t handled = handled_set();
    sigset_t previous_mask;
    pthread_sigmask(SIG_BLOCK, &handled, &previous_mask);
    static clean_up_thread watcher;
    watcher.thread = std::thread(clean_up_when_signalled);
    pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);

    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_mask = handled;  // one handler at a time on a thread
    for (int signal_number : handled_signals) {
      struct sigaction previous {};
      if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
        continue;  // started by nohup or as a background job: stay deaf to it
      if (sigaction(signal_number, &action, nullptr) == 0)
        watcher.replaced.emplace_back(signal_number, previous);
    }
  });
}

}  // namespace interruption_cleanup
