// What pipeline people expect of a frame tool: a dry run that tells the
// plan and the real run's exit status without touching anything, JSON
// lines a farm's wrapper reads, and each frame's render facts from the
// farm's own records.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/run/exit_status.hpp"
#include "tests/refhost/run/cli_fixture.hpp"

namespace {

class conventions : public cli {
 protected:
  // in/r.0001.png ... dark frames wide enough for the report; the pattern.
  std::string frames(int count) {
    fs::create_directories(dir / "in");
    for (int frame = 1; frame <= count; ++frame) {
      const auto shade = static_cast<std::uint8_t>(20 * frame);
      input("in/r." + std::to_string(10000 + frame).substr(1) + ".png",
            encode_png(*make_host_image(260, 200, Bgra8{shade, shade, shade, 255})));
    }
    return "--input \"" + (dir / "in/r.####.png").string() + "\"";
  }

  // Every name in the test's folder, hidden ones too, and each file's size.
  std::map<std::string, std::uintmax_t> snapshot() const {
    std::map<std::string, std::uintmax_t> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string name = fs::relative(entry.path(), dir).string();
      if (name != "log.txt" && name != "errors.txt")
        files[name] = entry.is_regular_file() ? entry.file_size() : 0;
    }
    return files;
  }

  // One object per stdout line; a line that is not JSON fails the test.
  static std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
      try {
        lines.push_back(nlohmann::json::parse(line));
      } catch (const nlohmann::json::exception& error) {
        ADD_FAILURE() << "not JSON: " << line << " (" << error.what() << ")";
      }
    }
    return lines;
  }
};

TEST_F(conventions, a_dry_run_changes_nothing_and_exits_as_the_run_then_does) {
  const std::string pattern = frames(3);
  const std::string sequence = pattern + " --range 1-3 --jobs 1";
  // Each step: the dry run, which must leave every file as it was (no
  // folder made, no claim), then the same run for real.
  const auto same_status = [&](const std::string& arguments, int expected,
                               const std::string& said) {
    const std::map<std::string, std::uintmax_t> before = snapshot();
    const run_result dry = run(arguments + " --dry-run");
    EXPECT_EQ(snapshot(), before) << arguments;
    EXPECT_EQ(dry.exit_code, expected) << arguments << "\n" << dry.output;
    EXPECT_NE(dry.output.find(said), std::string::npos) << arguments << "\n" << dry.output;
    const run_result real = run(arguments);
    EXPECT_EQ(real.exit_code, expected) << arguments << "\n" << real.output;
  };
  same_status(sequence, 0,
              "frame 2: " + (dir / "in/r.0002.png").string() + " -> " +
                  (out() / "r.0002.png").string() + " (new)");
  same_status(sequence, 1, "r.0001.png and 2 more outputs exist already");
  same_status(sequence + " --skip-existing", 0, "0 of 3 frames would be written");
  // Half there: skipping does not help, and is not suggested.
  same_status(sequence + " --tga --skip-existing", 1,
              "exist already; nothing was written (-y or --overwrite replaces them)");
  same_status(sequence + " --tga -y --host-version 429999", 3, "does not offer its effector");
  same_status(pattern + " --range 3-1", 2, "ends before it starts");
  same_status(sequence + " --tga -y", 0,
              "r.0003.png (replace), " + (out() / "r.0003.tga").string() + " (new)");

  // A frame that is no picture fails alone; a read-only output is kept.
  input("in/r.0002.png", {'n', 'o', 't'});
  same_status(sequence + " --tga -y", 1, "would fail: " + (dir / "in/r.0002.png").string());
  fs::permissions(out() / "r.0001.tga", fs::perms::owner_read);
  same_status(sequence + " --tga -y", 1, "r.0001.tga (read-only)");
  fs::permissions(out() / "r.0001.tga", fs::perms::owner_read | fs::perms::owner_write);

  // A file another live run claims (here: this process, on this machine).
  const std::string claim = (out() / ".r.0003.png.velloq-claim").string();
  write_file_atomically(
      claim,
      [] {
        const std::string record = "velloq-host run\n.velloq-run.test\n" +
                                   output_platform::machine_name() + "\n" +
                                   std::to_string(output_platform::process_id()) + "\n";
        return std::vector<unsigned char>(record.begin(), record.end());
      }(),
      replace_policy::replace_existing);
  const run_result busy = run(pattern + " --range 3 -y --dry-run --json", "", true);
  EXPECT_EQ(busy.exit_code, exit_code(exit_status::held_elsewhere));
  const std::vector<nlohmann::json> plan = json_lines(busy.output);
  ASSERT_EQ(plan.size(), 2u) << busy.output;
  EXPECT_EQ(plan[0]["outputs"][0]["fate"], "busy");
  EXPECT_EQ(plan[1]["event"], "summary");
  EXPECT_EQ(plan[1]["dry_run"], true);
  EXPECT_NE(plan[1]["exit_reason"].get<std::string>().find("being written by another"),
            std::string::npos);
  fs::remove(claim);

  // Where the output folder is not there, a dry run makes none.
  frames(3);
  const run_result fresh = run(sequence + " --dry-run --out \"" + (dir / "new").string() + "\"");
  EXPECT_EQ(fresh.exit_code, 0) << fresh.output;
  EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST_F(conventions, json_lines_tell_each_frame_and_the_run_on_stdout_alone) {
  const std::string sequence = frames(3) + " --range 1-3 --tga --json";
  const run_result done = run(sequence, "", true);
  ASSERT_EQ(done.exit_code, 0) << done.errors;
  const std::vector<nlohmann::json> lines = json_lines(done.output);
  ASSERT_EQ(lines.size(), 4u) << done.output;
  std::uintmax_t bytes = 0;
  for (const std::string& name : outputs()) bytes += fs::file_size(out() / name);
  std::vector<int> numbers;
  std::uintmax_t told = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(lines[k]["event"], "frame");
    EXPECT_EQ(lines[k]["status"], "written");
    EXPECT_EQ(lines[k]["outputs"].size(), 2u);
    numbers.push_back(lines[k]["frame"].get<int>());
    told += lines[k]["bytes"].get<std::uintmax_t>();
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(told, bytes);
  const nlohmann::json& summary = lines[3];
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["frames"], 3);
  EXPECT_EQ(summary["written"], 3);
  EXPECT_EQ(summary["files"], 6);
  EXPECT_EQ(summary["bytes"].get<std::uintmax_t>(), bytes);
  EXPECT_EQ(summary["exit_status"], 0);
  EXPECT_EQ(summary["exit_reason"], "done");
  // What is for people went to stderr.
  EXPECT_NE(done.errors.find("wrote 3 frames to"), std::string::npos) << done.errors;
  EXPECT_NE(done.errors.find("Quillmark"), std::string::npos) << done.errors;

  // A failing frame, frames skipped, and a bad option: each still ends in
  // the summary, with the exit status.
  input("in/r.0004.png", {'n', 'o', 't'});
  const run_result failing =
      run(frames(3) + " --range 1-4 --tga --json --skip-existing --quiet", "", true);
  EXPECT_EQ(failing.exit_code, 1);
  const std::vector<nlohmann::json> failed = json_lines(failing.output);
  ASSERT_EQ(failed.size(), 2u) << failing.output;
  EXPECT_EQ(failed[0]["frame"], 4);
  EXPECT_EQ(failed[0]["status"], "failed");
  EXPECT_NE(failed[0]["error"].get<std::string>().find("r.0004.png"), std::string::npos);
  EXPECT_EQ(failed[1]["frames"], 4);
  EXPECT_EQ(failed[1]["skipped"], 3);
  EXPECT_EQ(failed[1]["failed"], 1);
  EXPECT_EQ(failed[1]["exit_status"], 1);
  const run_result usage = run("--json --jobs 0", "", true);
  EXPECT_EQ(usage.exit_code, 2);
  const std::vector<nlohmann::json> refused = json_lines(usage.output);
  ASSERT_EQ(refused.size(), 1u) << usage.output;
  EXPECT_EQ(refused[0]["exit_status"], 2);
  EXPECT_NE(refused[0]["exit_reason"].get<std::string>().find("--jobs"), std::string::npos);
}

#if defined(VELLOQ_FROZEN_CLOCK)
TEST_F(conventions, each_frame_is_stamped_with_the_facts_its_file_gives) {
  // The same frames stamped with the facts from the file, and with the
  // same facts as options: under clocks that stand still, the same bytes.
  const std::string sequence = frames(2) + " --range 1-2 --quiet";
  const std::string frozen =
      "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=\"" VELLOQ_FROZEN_CLOCK "\" ";
  input("facts.csv", [] {
    const std::string text =
        "\xEF\xBB\xBF"
        "frame,rendering_ms,setup_ms,renderer,gi,host_version,version_text\r\n"
        "2,62000,10,toon,,440487,\"Vorlen \"\"farm\"\", build 7\"\r\n"
        "1,2500,1500,,radiosity,,\r\n"
        "99,1,1,,,,\r\n";
    return std::vector<unsigned char>(text.begin(), text.end());
  }());
  const std::string facts =
      " --host-version 440470 --facts \"" + (dir / "facts.csv").string() + "\"";
  const run_result from_file = run(sequence + facts, frozen);
  ASSERT_EQ(from_file.exit_code, 0) << from_file.output;
  const auto same_as = [&](const std::string& options, const std::string& name) {
    const std::string other = (dir / "other").string();
    fs::remove_all(other);
    const run_result r = run(sequence + " " + options + " --out \"" + other + "\"", frozen);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(output_bytes(name), read_file_bytes(other + "/" + name, 1 << 24)) << options;
  };
  same_as("--host-version 440470 --setup-time 1500 --rendering-time 2500 --gi 3", "r.0001.png");
  same_as(
      "--setup-time 10 --rendering-time 62000 --renderer toon --host-version 440487 "
      "--version-text 'Vorlen \"farm\", build 7'",
      "r.0002.png");
  EXPECT_NE(output_bytes("r.0001.png"), output_bytes("r.0002.png"));

  // The same facts as JSON; then facts that do not fit the run.
  input("facts.json", [] {
    const std::string text =
        R"([{"frame": 1, "setup_ms": 1500, "rendering_ms": 2500, "gi": 3},
            {"frame": 2, "setup_ms": 10, "rendering_ms": 62000, "renderer": "toon", "gi": null,
             "host_version": 440487, "version_text": "Vorlen \"farm\", build 7"}])";
    return std::vector<unsigned char>(text.begin(), text.end());
  }());
  const std::vector<unsigned char> first = output_bytes("r.0001.png");
  const std::vector<unsigned char> second = output_bytes("r.0002.png");
  const run_result from_json =
      run(sequence + " -y --host-version 440470 --facts \"" + (dir / "facts.json").string() + "\"",
          frozen);
  ASSERT_EQ(from_json.exit_code, 0) << from_json.output;
  EXPECT_EQ(output_bytes("r.0001.png"), first);
  EXPECT_EQ(output_bytes("r.0002.png"), second);
  const struct {
    std::string text, said;
  } refusals[] = {
      {"frame,setup_ms,rendering_ms\n1,5,5\n", "no line for frame 2"},
      {"frame,setup_ms,rendering_ms\n1,5,5\n2,5,-5\n", "line 3 rendering_ms: -5 is outside"},
      {"frame,setup_ms,rendering_ms\n1,5,5\n1,6,6\n2,5,5\n", "frame 1 has facts already"},
      {"frame,setup_ms,render_ms\n", "no column is called 'render_ms'"},
      {"frame,setup_ms,rendering_ms,gi\n1,5,5,glow\n2,5,5,\n", "radiosity"},
      {"[{\"frame\": 1, \"setup_ms\": 1.5, \"rendering_ms\": 5}]", "is not a whole number"},
  };
  for (const auto& refusal : refusals) {
    input("bad.csv", std::vector<unsigned char>(refusal.text.begin(), refusal.text.end()));
    const std::map<std::string, std::uintmax_t> before = snapshot();
    const run_result r = run(sequence + " -y --facts \"" + (dir / "bad.csv").string() + "\"");
    EXPECT_EQ(r.exit_code, 2) << refusal.text;
    EXPECT_NE(r.output.find(refusal.said), std::string::npos) << r.output;
    EXPECT_EQ(snapshot(), before) << refusal.text;
  }
}
#endif

}  // namespace

namespace {

TEST_F(conventions, the_readme_tells_every_option_help_lists) {
  const run_result help = run("--help");
  ASSERT_EQ(help.exit_code, 0);
  const std::vector<unsigned char> bytes =
      read_file_bytes(std::string(VELLOQ_SOURCE_DIR) + "/README.md", 1 << 20);
  const std::string readme(bytes.begin(), bytes.end());
  std::istringstream lines(help.output);
  int options = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  --", 0) != 0)
      continue;
    const std::string option = line.substr(2, line.find_first_of(" ,=", 2) - 2);
    ++options;
    EXPECT_NE(readme.find("`" + option), std::string::npos) << option << " is not in README.md";
  }
  EXPECT_GT(options, 25);
}

}  // namespace
