// An interruption while a file is written removes the partial file and ends
// the process by that signal, as the shell expects of an interrupted
// program. Each case runs in a child process, which the signal ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "refhost/files/output_file.hpp"
#include "refhost/system/interruption_cleanup.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

struct child_outcome {
  int status = 0;
  std::string temporary;  // the partial file the child had open
};

// The child opens `target` for writing, writes part of it, tells its
// temporary's path and then receives `signal_number`. With
// `ignored_before_start` the signal is ignored before the handlers are
// installed, as nohup and background jobs start programs.
child_outcome interrupt_child(const std::string& target, int signal_number,
                              bool ignored_before_start = false) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0)
    return {};
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    // As started from a terminal, whatever this test inherited (a
    // background job ignores SIGINT).
    signal(signal_number, ignored_before_start ? SIG_IGN : SIG_DFL);
    interruption_cleanup::install();
    {
      output_file file(target);
      const unsigned char part[4096] = {};
      file.write(part, sizeof part);
      const std::string& path = file.temporary_path();
      if (write(pipe_ends[1], path.data(), path.size()) < 0)
        _exit(90);
      close(pipe_ends[1]);
      kill(getpid(), signal_number);
    }
    _exit(7);  // only when the signal did not end the process
  }
  close(pipe_ends[1]);
  child_outcome outcome;
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
    outcome.temporary.append(buffer, got);
  close(pipe_ends[0]);
  waitpid(child, &outcome.status, 0);
  return outcome;
}

}  // namespace

TEST(interruption, RemovesThePartialFileAndEndsByTheSignal) {
  const scratch_folder folder;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    const child_outcome outcome = interrupt_child(folder.file("render_0001.png"), signal_number);
    ASSERT_FALSE(outcome.temporary.empty()) << "signal " << signal_number;
    EXPECT_TRUE(is_temporary_name(std::filesystem::path(outcome.temporary).filename().string()));
    EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == signal_number)
        << "signal " << signal_number << ", status " << outcome.status;
    EXPECT_FALSE(std::filesystem::exists(outcome.temporary)) << outcome.temporary;
    EXPECT_TRUE(folder.names().empty()) << "signal " << signal_number;
  }
}

TEST(interruption, ASignalIgnoredFromTheStartStaysIgnored) {
  const scratch_folder folder;
  const child_outcome outcome = interrupt_child(folder.file("render_0001.png"), SIGINT, true);
  ASSERT_TRUE(WIFEXITED(outcome.status)) << outcome.status;
  EXPECT_EQ(WEXITSTATUS(outcome.status), 7);
  EXPECT_TRUE(folder.names().empty());
}
