// velloq-host against what only POSIX systems let a test do: devices that
// never end, memory limits, signals at a chosen moment, planted links,
// control characters in arguments, and valgrind watching every byte.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "refhost/files/output_file.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "tests/refhost/run/cli_fixture.hpp"
#include "tests/support/png_builder.hpp"

extern char** environ;

namespace {

// The sanitizers reserve terabytes of address space, so no limit on it can
// be set for their build; there the runs go without one.
#if defined(__SANITIZE_ADDRESS__)
std::string address_space_limit(std::size_t) {
  return "";
}
#else
std::string address_space_limit(std::size_t mebibytes) {
  return "ulimit -v " + std::to_string(mebibytes * 1024) + " && ";
}
#endif

// velloq-host started with these arguments, its output in `log`, with
// the default actions for the signals whatever this process inherited (a
// background job's ignored SIGINT, for one).
pid_t start_host(const std::vector<std::string>& arguments, const std::string& log) {
  std::vector<std::string> words = {VELLOQ_HOST_PATH};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM})
    sigaddset(&defaults, signal_number);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &files, &attributes, argv.data(), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

class cli_posix : public cli {
 protected:
  // Starts a long animation and sends `signal_number` the moment a partial
  // file is in the folder, that is while a frame is written. Returns the
  // wait status; false in `caught` when the run ended first.
  int interrupt_while_writing(int signal_number, bool& caught) {
    const pid_t pid = start_host({"--out", out().string(), "--size", "1200x900", "--frames", "200",
                                  "--tga", "--jobs", "2", "--quiet"},
                                 (dir / "log.txt").string());
    caught = false;
    int status = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!caught && std::chrono::steady_clock::now() < give_up) {
      if (waitpid(pid, &status, WNOHANG) == pid)
        return status;
      std::error_code error;
      for (fs::directory_iterator entry(out(), error), end; !error && entry != end;
           entry.increment(error)) {
        if (is_temporary_name(entry->path().filename().string())) {
          kill(pid, signal_number);
          caught = true;
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!caught)
      kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
  }

  // No partial file, claim or lease, and every PNG with its TGA.
  void expect_whole_frames(const std::string& context) {
    EXPECT_TRUE(leftovers().empty()) << context << ": " << leftovers().front();
    std::vector<std::string> names = outputs();
    for (const std::string& name : names) {
      const std::string other =
          name.substr(0, name.size() - 3) + (name.back() == 'g' ? "tga" : "png");
      EXPECT_TRUE(std::find(names.begin(), names.end(), other) != names.end())
          << context << ": " << name << " without " << other;
    }
  }
};

}  // namespace

TEST_F(cli_posix, whatever_ends_a_run_leaves_whole_frames_only) {
  const rlimit no_core_files{0, 0};
  setrlimit(RLIMIT_CORE, &no_core_files);
#if defined(__SANITIZE_ADDRESS__)
  // Under the sanitizers a frame takes seconds: one signal and one closed
  // pipe put the clean-up's memory to the test. Which signals it catches is
  // the same in every build, and the optimised build tries them all.
  const std::vector<int> signal_numbers = {SIGINT};
  const int pipe_attempts = 1;
#else
  const std::vector<int> signal_numbers = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM};
  const int pipe_attempts = 2;
#endif
  for (int signal_number : signal_numbers) {
    fs::remove_all(out());
    bool caught = false;
    const int status = interrupt_while_writing(signal_number, caught);
    ASSERT_TRUE(caught) << "the run ended before a frame was being written";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << "status " << status;
    expect_whole_frames(strsignal(signal_number));
  }
  // A reader that goes away: the next line written meets a closed pipe.
  for (int attempt = 0; attempt < pipe_attempts; ++attempt) {
    fs::remove_all(out());
    const std::string command =
        std::string("\"") + VELLOQ_HOST_PATH + "\" --out \"" + out().string() +
        "\" --size 1200x900 --frames 200 --tga --jobs 2 | head -n 9 >/dev/null";
    std::system(command.c_str());
    expect_whole_frames("a closed pipe");
  }
}

TEST_F(cli_posix, a_killed_runs_partial_file_goes_with_the_next_run) {
  bool caught = false;
  interrupt_while_writing(SIGKILL, caught);
  ASSERT_TRUE(caught) << "the run ended before a frame was being written";
  // Nothing can clean up after SIGKILL; the next run into the folder can,
  // as the run's claims tell that it is gone.
  std::vector<std::string> left = leftovers();
  left.erase(std::remove_if(left.begin(), left.end(),
                            [](const std::string& name) { return !is_temporary_name(name); }),
             left.end());
  ASSERT_FALSE(left.empty());
  const run_result r = run("--size 32x24 --overwrite");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("removed " + left.front()), std::string::npos) << r.output;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(cli_posix, what_is_no_regular_file_is_refused_at_once) {
  // A FIFO would block the run for ever, a device never end.
  ASSERT_EQ(mkfifo((dir / "f.png").c_str(), 0600), 0);
  for (const std::string& input : {(dir / "f.png").string(), std::string("/dev/zero")}) {
    const run_result r = run("--input " + input, "timeout 60 ");
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find(input + " is a "), std::string::npos) << r.output;
    EXPECT_TRUE(outputs().empty());
  }
}

TEST_F(cli_posix, a_decompression_bomb_is_refused_within_little_memory) {
  // An 8x8 picture whose data inflates to 1 GiB, from under 7 MB of file.
  const png_layout layout{8, 8, 8, 6, false};
  const std::string bomb = input("bomb.png", build_png(layout, {}, zlib_zero_bomb(1u << 30)));
  const run_result r = run("--input " + bomb, address_space_limit(256));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("bomb.png: PNG: too large or corrupt: its compressed data inflates to "
                          "more than a 8x8 picture needs"),
            std::string::npos)
      << r.output;
  EXPECT_TRUE(outputs().empty());
}

TEST_F(cli_posix, a_link_planted_at_an_output_name_is_replaced_never_followed) {
  fs::create_directories(out());
  const fs::path victim = dir / "victim.txt";
  input("victim.txt", {'k', 'e', 'e', 'p'});
  fs::create_symlink(victim, out() / "render_0001.png");
  EXPECT_EQ(run("--size 32x24").exit_code, 1);
  ASSERT_EQ(run("--size 32x24 --overwrite").exit_code, 0);
  EXPECT_EQ(read_file_bytes(victim.string(), 100),
            (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::is_symlink(out() / "render_0001.png"));
  EXPECT_EQ(read_output("render_0001.png")->width(), 32);
}

TEST_F(cli_posix, control_characters_in_arguments_are_shown_escaped) {
  const run_result r =
      run("--renderer \"$(printf 'red\\033[2J\\n\\t')\" --input \"$(printf 'a\\033b')\"");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("red\\x1b[2J"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find('\033'), std::string::npos) << r.output;
  const run_result missing = run("--input \"$(printf 'gone\\033[31m.png')\"");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("gone\\x1b[31m.png"), std::string::npos) << missing.output;
  EXPECT_EQ(missing.output.find('\033'), std::string::npos) << missing.output;
}

TEST_F(cli_posix, a_short_palette_puts_no_undefined_byte_into_a_picture) {
#if !defined(VELLOQ_VALGRIND)
  GTEST_SKIP() << "valgrind watches the build without sanitizers";
#else
  // Four palette entries and indices up to 255 in the top rows, away from
  // the report in the bottom-left corner.
  const png_layout layout{256, 200, 8, 3, false};
  const png_bytes rows =
      png_filtered_rows(layout, [](std::uint32_t x, auto, unsigned) { return x; });
  const png_bytes palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 200, 100, 50};
  const std::string file =
      input("palette.png", build_png(layout, {{"PLTE", palette}}, zlib_stored(rows)));
  const run_result r = run("--input " + file + " --tga",
                           std::string(VELLOQ_VALGRIND) + " --quiet --error-exitcode=97 ");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (const char* name : {"palette.png", "palette.tga"}) {
    const host_image_ptr stamped = read_output(name);
    EXPECT_EQ(stamped->at(3, 0).red, 200) << name;
    for (std::int32_t x = 4; x < 256; ++x) {
      const Bgra8 pixel = stamped->at(x, 0);
      ASSERT_TRUE(pixel.red == 0 && pixel.green == 0 && pixel.blue == 0 && pixel.alpha == 255)
          << name << " x " << x;
    }
  }
#endif
}

#if defined(VELLOQ_FROZEN_CLOCK)
TEST_F(cli_posix, parallel_frames_give_the_same_bytes_as_one_at_a_time) {
  // Three pictures, each twice under another name; the clocks stand still
  // so that the reports' times match between runs.
  fs::create_directories(dir / "in");
  for (int frame = 0; frame < 6; ++frame) {
    const auto shade = static_cast<std::uint8_t>(40 * (frame % 3));
    input("in/f" + std::to_string(frame) + ".png",
          encode_png(*make_host_image(300 + frame % 3, 200, Bgra8{shade, 90, shade, 128})));
  }
  const std::string frozen =
      "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=\"" VELLOQ_FROZEN_CLOCK "\" ";
  const std::string inputs = "--input \"" + (dir / "in").string() + "\" --tga --quiet";
  const run_result one = run(inputs + " --jobs 1 --out \"" + (dir / "one").string() + "\"", frozen);
  ASSERT_EQ(one.exit_code, 0) << one.output;
  const run_result four = run(inputs + " --jobs 4", frozen);
  ASSERT_EQ(four.exit_code, 0) << four.output;
  ASSERT_EQ(outputs().size(), 12u);
  for (const std::string& name : outputs()) {
    EXPECT_EQ(output_bytes(name), read_file_bytes((dir / "one" / name).string(), 1 << 24)) << name;
  }
  // Every frame was told the same facts: the same picture, the same file.
  EXPECT_EQ(output_bytes("f0.png"), output_bytes("f3.png"));
  EXPECT_EQ(output_bytes("f2.tga"), output_bytes("f5.tga"));
  EXPECT_NE(output_bytes("f0.png"), output_bytes("f1.png"));
}
#endif

TEST_F(cli_posix, a_terminal_sees_progress_and_one_summary_line) {
  // script(1) gives velloq-host a terminal and copies what it shows.
  const std::string command = std::string("script -qefc '\"") + VELLOQ_HOST_PATH + "\" --out \"" +
                              out().string() +
                              "\" --size 64x48 --frames 5 --jobs 2' /dev/null > \"" +
                              (dir / "screen.txt").string() + "\" 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<unsigned char> screen = read_file_bytes((dir / "screen.txt").string(), 1 << 20);
  const std::string text(screen.begin(), screen.end());
  EXPECT_NE(text.find("\r5 of 5 frames"), std::string::npos) << text;
  EXPECT_NE(text.find("wrote 5 frames to"), std::string::npos) << text;
  // No line per frame on a terminal.
  EXPECT_EQ(text.find("frame 1 of 5"), std::string::npos) << text;
}

TEST_F(cli_posix, runs_share_a_folder_unless_they_would_write_one_file) {
  // A farm's chunks of one sequence, at once into one folder; then a run
  // over frames two live runs are writing.
  fs::create_directories(dir / "in");
  for (int frame = 1; frame <= 12; ++frame) {
    const auto shade = static_cast<std::uint8_t>(15 * frame);
    input("in/r." + std::to_string(10000 + frame).substr(1) + ".png",
          encode_png(*make_host_image(1600, 1200, Bgra8{shade, 40, 40, 255})));
  }
  const auto chunk = [&](const char* range, const char* log) {
    return start_host({"--input", (dir / "in/r.%04d.png").string(), "--range", range, "--out",
                       out().string(), "--jobs", "1", "--quiet"},
                      (dir / log).string());
  };
  const pid_t first = chunk("1-6", "first.txt");
  const pid_t second = chunk("7-12", "second.txt");
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (!fs::exists(out() / ".r.0006.png.velloq-claim") &&
         std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  int status = 0;
  waitpid(chunk("5-8", "overlapping.txt"), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 75) << status;  // retry later
  const std::vector<unsigned char> log =
      read_file_bytes((dir / "overlapping.txt").string(), 1 << 16);
  EXPECT_NE(std::string(log.begin(), log.end()).find("is being written by another velloq-host run"),
            std::string::npos);
  for (const pid_t run : {first, second}) {
    waitpid(run, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(outputs().size(), 12u);
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
}
