// velloq-host as a render farm meets it: runs killed outright at any moment
// (also as the first process of a container), a share without hard links
// that takes capitals for one name, chunks that start together, names and
// paths at the system's limits, inputs that change after the checks, and a
// container's memory limit.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "refhost/files/output_file.hpp"
#include "tests/refhost/run/cli_fixture.hpp"

extern char** environ;

namespace {

// The shell's status of a command: its exit code, or -1.
int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string in_quotes(const fs::path& path) {
  return "\"" + path.string() + "\"";
}

bool same_pixels(const fs::path& a, const fs::path& b) {
  const host_image_ptr first = decode_image_file(a.string());
  const host_image_ptr second = decode_image_file(b.string());
  return first->width() == second->width() && first->height() == second->height() &&
         std::equal(first->pixels().begin(), first->pixels().end(), second->pixels().begin(),
                    [](const Bgra8& x, const Bgra8& y) {
                      return x.blue == y.blue && x.green == y.green && x.red == y.red;
                    });
}

std::vector<std::string> hidden_names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string()[0] == '.')
      names.push_back(entry.path().filename().string());
  }
  return names;
}

// An exFAT file system, as USB disks and some shares have: no hard links,
// and capitals taken for one name. An image mounted through FUSE; needs
// root, a loop device and exfat-fuse.
class exfat_share {
 public:
  explicit exfat_share(const fs::path& folder)
      : image_(folder / "exfat.img"), mount_point_(folder / "share") {
    fs::create_directories(mount_point_);
    const fs::path loop_name = folder / "loop.txt";
    if (getuid() != 0) {
      why_not_ = "mounting an image needs root";
    } else if (shell("truncate -s 32M " + in_quotes(image_) + " && mkfs.exfat " +
                     in_quotes(image_) + " >/dev/null 2>&1") != 0) {
      why_not_ = "mkfs.exfat (exfatprogs) cannot make an image";
    } else if (shell("losetup -f --show " + in_quotes(image_) + " > " + in_quotes(loop_name)) !=
               0) {
      why_not_ = "no loop device can be had";
    } else {
      std::ifstream(loop_name) >> loop_;
      if (shell("mount.exfat-fuse " + loop_ + " " + in_quotes(mount_point_) + " >/dev/null 2>&1") !=
          0)
        why_not_ = "mount.exfat-fuse (exfat-fuse) cannot mount it";
      else
        mounted_ = true;
    }
  }
  ~exfat_share() {
    if (mounted_)
      shell("umount " + in_quotes(mount_point_));
    if (!loop_.empty())
      shell("losetup -d " + loop_);
  }
  const std::string& why_not() const { return why_not_; }
  fs::path path(const std::string& name) const { return mount_point_ / name; }

 private:
  fs::path image_;
  fs::path mount_point_;
  std::string loop_;
  bool mounted_ = false;
  std::string why_not_;
};

class farm : public cli {
 protected:
  // What goes in front of velloq-host for an event at one exact moment
  // (file_events_preload.c).
  static std::string with(const std::string& events) {
    return "ASAN_OPTIONS=verify_asan_link_order=0 " + events +
           " LD_PRELOAD=\"" VELLOQ_FILE_EVENTS "\" ";
  }

  // Frames of the built-in scene, not stamped (--abort): the inputs a
  // farm stamps. Returns the --input and --range options for them.
  std::string sources(int frames, const char* size) {
    const run_result r = run("--abort --quiet --frames " + std::to_string(frames) + " --size " +
                             size + " --out " + in_quotes(dir / "src"));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return "--input " + in_quotes(dir / "src" / "render_%04d.png") + " --range 1-" +
           std::to_string(frames);
  }
};

}  // namespace

TEST_F(farm, a_run_killed_as_a_containers_first_process_holds_nothing) {
  if (shell("unshare --pid --fork --mount-proc true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no PID namespace can be made here (unshare needs CAP_SYS_ADMIN)";
  // velloq-host as process 1 of its own PID namespace, as in a container,
  // killed with -9 (as the out-of-memory killer kills) while it writes a
  // frame: its namespace's first process dies with unshare.
  std::vector<std::string> words = {"unshare",      "--pid",          "--fork",   "--mount-proc",
                                    "--kill-child", VELLOQ_HOST_PATH, "--out",    out().string(),
                                    "--size",       "1200x900",       "--frames", "200",
                                    "--quiet"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t container = -1;
  ASSERT_EQ(posix_spawnp(&container, "unshare", nullptr, nullptr, argv.data(), environ), 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  bool writing = false;
  while (!writing && std::chrono::steady_clock::now() < give_up) {
    std::error_code error;
    for (fs::directory_iterator entry(out(), error), end; !error && entry != end;
         entry.increment(error))
      writing = writing || is_temporary_name(entry->path().filename().string());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(container, SIGKILL);
  int status = 0;
  waitpid(container, &status, 0);
  ASSERT_TRUE(writing) << "the run ended before a frame was being written";
  bool was_process_1 = false;
  for (const std::string& name : leftovers()) {
    std::ifstream lease(out() / name);
    std::string line;
    for (int number = 1; number <= 4 && std::getline(lease, line); ++number) {
    }
    was_process_1 = was_process_1 || (name.rfind(".velloq-run.", 0) == 0 && line == "1");
  }
  ASSERT_TRUE(was_process_1) << "its lease names process 1";

  const run_result r = run("--size 32x24 --frames 2 --overwrite");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
}

TEST_F(farm, a_share_without_hard_links_keeps_every_frame_of_one_run) {
  const exfat_share share(dir);
  if (!share.why_not().empty())
    GTEST_SKIP() << share.why_not();
  const std::string frames = sources(2, "480x270") + " --format png,tga --jobs 1 --quiet";
  const std::string out_share = " --out " + in_quotes(share.path("out"));
  ASSERT_EQ(run(frames + " --abort" + out_share).exit_code, 0);
  // Killed between the first frame's PNG and TGA renames: a new PNG
  // beside the earlier TGA, until the next run into the folder.
  run(frames + " --overwrite" + out_share, with("VELLOQ_KILL_AT_RENAME=after"));
  ASSERT_FALSE(same_pixels(share.path("out/render_0001.png"), share.path("out/render_0001.tga")));
  const run_result r = run(frames + " --skip-existing" + out_share);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("put back the earlier " + share.path("out/render_0001.png").string()),
            std::string::npos)
      << r.output;
  for (const char* frame : {"out/render_0001", "out/render_0002"}) {
    EXPECT_TRUE(same_pixels(share.path(frame + std::string(".png")),
                            share.path(frame + std::string(".tga"))))
        << frame;
  }
  EXPECT_TRUE(hidden_names_in(share.path("out")).empty());

  // shot.png and SHOT.png are one file there: the run's names must change.
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  fs::copy_file(dir / "src/render_0001.png", dir / "a/shot.png");
  fs::copy_file(dir / "src/render_0001.png", dir / "b/SHOT.png");
  const run_result clash =
      run("--input " + in_quotes(dir / "a/shot.png") + " --input " + in_quotes(dir / "b/SHOT.png") +
          " --out " + in_quotes(share.path("c")));
  EXPECT_EQ(clash.exit_code, 2) << clash.output;
  EXPECT_NE(clash.output.find("are one file in"), std::string::npos) << clash.output;
  EXPECT_TRUE(fs::is_empty(share.path("c")));
}

TEST_F(farm, the_next_run_touches_no_file_a_killed_run_did_not_put_there) {
  const std::string frames = sources(2, "320x240");
  // Killed before the first frame's first rename, its record written; then
  // someone puts pictures of their own under that frame's names.
  run(frames + " --format png,tga --jobs 1 --quiet", with("VELLOQ_KILL_AT_RENAME=before"));
  ASSERT_TRUE(outputs().empty());
  ASSERT_FALSE(leftovers().empty());
  const std::vector<unsigned char> theirs =
      read_file_bytes((dir / "src/render_0002.png").string(), 1 << 24);
  for (const char* name : {"render_0001.png", "render_0001.tga"})
    write_file_atomically((out() / name).string(), theirs, replace_policy::keep_existing);
  // A run for another frame.
  const run_result r =
      run("--input " + in_quotes(dir / "src/render_%04d.png") +
          " --range 2 --format png --quiet --out " + in_quotes(out() / "r.%04d.png"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  for (const char* name : {"render_0001.png", "render_0001.tga"})
    EXPECT_EQ(output_bytes(name), theirs) << name;
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
}

TEST_F(farm, a_folder_another_chunk_makes_meanwhile_is_the_folder) {
  const std::string frames = sources(1, "64x48");
  const std::string folder = (dir / "made_meanwhile").string();
  const run_result r = run(frames + " --quiet --out " + in_quotes(folder),
                           with("VELLOQ_FOLDER_APPEARS=" + in_quotes(folder)));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(fs::exists(fs::path(folder) / "render_0001.png"));
}

TEST_F(farm, names_and_paths_at_the_systems_limits_work_or_are_refused_at_once) {
  // Names of 229 to 255 bytes, the longest a file may have: their hidden
  // files fit too, and a kill -9 leaves nothing the next run cannot remove.
  sources(1, "300x80");
  fs::create_directories(dir / "in");
  const std::vector<unsigned char> picture =
      read_file_bytes((dir / "src/render_0001.png").string(), 1 << 24);
  for (std::size_t length : {229, 242, 255})
    input("in/" + std::string(length - 4, 'n') + ".png", picture);
  const std::string names =
      "--input " + in_quotes(dir / "in") + " --format png,tga --jobs 1 --quiet";
  run(names, with("VELLOQ_KILL_AT_RENAME=before"));
  const run_result r = run(names);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(outputs().size(), 6u);
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();

  // A path the system opens but whose hidden files' paths it would not:
  // refused before the first picture, not frame by frame.
  fs::path deep = dir / "deep";
  while (deep.string().size() < 4000)
    deep /= std::string(
        std::min<std::size_t>(200, std::max<std::size_t>(4000 - deep.string().size(), 2) - 1), 'd');
  fs::create_directories(deep);
  input("in/s.png", picture);
  input("in/" + std::string(66, 'l') + ".png", picture);
  const run_result limited =
      run("--input " + in_quotes(dir / "in/s.png") + " --input " +
          in_quotes(dir / ("in/" + std::string(66, 'l') + ".png")) + " --out " + in_quotes(deep));
  EXPECT_EQ(limited.exit_code, 2) << limited.output;
  EXPECT_NE(limited.output.find("too long for this system"), std::string::npos) << limited.output;
  EXPECT_TRUE(fs::is_empty(deep));
}

TEST_F(farm, inputs_that_cannot_be_read_are_refused_without_waiting) {
  sources(1, "64x48");
  const fs::path picture = dir / "src/render_0001.png";
  // A loop of links: refused with the other checks, before any picture.
  fs::create_symlink(dir / "loop.png", dir / "loop.png");
  const run_result loop =
      run("--input " + in_quotes(picture) + " --input " + in_quotes(dir / "loop.png"));
  EXPECT_EQ(loop.exit_code, 1) << loop.output;
  EXPECT_NE(loop.output.find("loop.png cannot be read: Too many levels of symbolic links"),
            std::string::npos)
      << loop.output;
  EXPECT_TRUE(outputs().empty());
  // A picture that becomes a FIFO after the checks: its frame fails at
  // once instead of waiting for a writer.
  const run_result fifo =
      run("--input " + in_quotes(picture) + " --quiet --out " + in_quotes(dir / "fifo_out"),
          with("VELLOQ_FIFO_ON_OPEN=" + in_quotes(picture)) + "timeout 30 ");
  EXPECT_EQ(fifo.exit_code, 1) << fifo.output;
  EXPECT_NE(fifo.output.find(picture.string() + " is a FIFO"), std::string::npos) << fifo.output;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(farm, an_append_only_folder_is_refused_before_anything_is_made_there) {
  const std::string frames = sources(1, "64x48");
  fs::create_directories(out());
  if (shell("chattr +a " + in_quotes(out()) + " 2>/dev/null") != 0)
    GTEST_SKIP() << "chattr +a is not allowed here (it needs CAP_LINUX_IMMUTABLE)";
  const run_result r = run(frames);
  shell("chattr -a " + in_quotes(out()));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("append-only"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::is_empty(out())) << leftovers().front();
}

TEST_F(farm, the_default_jobs_fit_a_containers_memory_limit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own memory does not fit a small limit";
#endif
  if (std::thread::hardware_concurrency() < 2)
    GTEST_SKIP() << "one core: one frame at a time whatever the memory";
  // A cgroup of its own below this process's, version 1's memory
  // controller or version 2's, with room for one worker, not two.
  std::string cgroup, limit_file;
  std::ifstream self("/proc/self/cgroup");
  for (std::string line; std::getline(self, line);) {
    const std::string path = line.substr(line.rfind(':') + 1);
    if (line.find(":memory:") != std::string::npos) {
      cgroup = "/sys/fs/cgroup/memory" + path + "/velloq_" + std::to_string(getpid());
      limit_file = "memory.limit_in_bytes";
    } else if (line.rfind("0::", 0) == 0 && cgroup.empty()) {
      cgroup = "/sys/fs/cgroup" + path + "/velloq_" + std::to_string(getpid());
      limit_file = "memory.max";
    }
  }
  std::error_code error;
  if (cgroup.empty() || !fs::create_directory(cgroup, error))
    GTEST_SKIP() << "no memory cgroup can be made here";
  if (!(std::ofstream(cgroup + "/" + limit_file) << (100 << 20) << std::flush)) {
    fs::remove(cgroup, error);
    GTEST_SKIP() << "no memory limit can be set here";
  }
  const run_result r = run("--frames 2 --size 640x480",
                           "sh -c 'echo $$ > " + cgroup + "/cgroup.procs && exec \"$0\" \"$@\"' ");
  fs::remove(cgroup);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("1 frame at a time, not 2"), std::string::npos) << r.output;
}
