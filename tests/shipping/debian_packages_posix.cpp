// The Debian packages, made as scripts/package makes them (cpack in this
// build), unpacked into a folder as dpkg would install them, and both
// programs run from there; then the plug-in author's CI job from the
// README, its commands taken from README.md as they stand.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "tests/shipping/shipping_paths.hpp"

namespace fs = std::filesystem;

namespace {

const std::string version = VELLOQ_VERSION;

std::string package_path(const std::string& name) {
  return std::string(VELLOQ_BINARY_DIR) + "/packages/" + name + "_" + version + "_amd64.deb";
}

struct command_result {
  int status;
  std::string output;  // stdout and stderr
};

command_result run_command(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr)
    return {-1, "cannot start: " + command};
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string shell_word(const fs::path& path) {
  return "'" + path.string() + "'";
}

std::string gunzip(const fs::path& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string text;
  if (file == nullptr)
    return text;
  char buffer[4096];
  for (int got; (got = gzread(file, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  gzclose(file);
  return text;
}

// The summary record that ends a JSON Lines report.
nlohmann::json summary_of(const fs::path& report) {
  std::istringstream lines(read_text(report));
  std::string line, last;
  while (std::getline(lines, line))
    if (!line.empty())
      last = line;
  const nlohmann::json record = nlohmann::json::parse(last);
  EXPECT_EQ(record["record"], "summary") << last;
  return record;
}

// The packages made once for every test here, and a folder for each test.
class debian_packages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const command_result made =
        run_command("cd '" VELLOQ_BINARY_DIR "' && '" VELLOQ_CPACK_COMMAND "' -G DEB");
    made_ok = made.status == 0;
    made_output = new std::string(made.output);
  }
  static void TearDownTestSuite() {
    delete made_output;
    made_output = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(made_ok) << *made_output;
    char pattern[] = "/tmp/velloq-packages-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }

  // dpkg-deb -x: the files as dpkg would install them, without the machine's
  // package database.
  void install(const std::string& package, const fs::path& root) {
    const command_result unpacked =
        run_command("dpkg-deb -x " + shell_word(package_path(package)) + " " + shell_word(root));
    ASSERT_EQ(unpacked.status, 0) << unpacked.output;
  }

  static std::string field(const std::string& package, const std::string& name) {
    return run_command("dpkg-deb -f " + shell_word(package_path(package)) + " " + name).output;
  }

  static bool made_ok;
  static std::string* made_output;
  fs::path dir;
};

bool debian_packages::made_ok = false;
std::string* debian_packages::made_output = nullptr;

TEST_F(debian_packages, hold_the_programs_the_plugin_their_man_pages_and_the_licence) {
  const struct {
    const char* package;
    std::set<std::string> files;
    std::vector<std::string> depends;
  } packages[] = {
      {"velloq-host",
       {"usr/bin/velloq-host", "usr/lib/velloq/Velloq.so", "usr/share/man/man1/velloq-host.1.gz",
        "usr/share/doc/velloq-host/copyright"},
       {"libc6", "libstdc++6", "libgcc-s1", "zlib1g", "libdeflate0"}},
      {"velloq-validate",
       {"usr/bin/velloq-validate", "usr/share/man/man1/velloq-validate.1.gz",
        "usr/share/doc/velloq-validate/copyright"},
       {"libc6", "libstdc++6", "libgcc-s1", "zlib1g", "libdeflate0", "libunicorn2"}},
  };
  for (const auto& package : packages) {
    const fs::path root = dir / package.package;
    install(package.package, root);
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_directory())
        files.insert(fs::relative(entry.path(), root).string());
    }
    EXPECT_EQ(files, package.files) << package.package;
    EXPECT_EQ(read_text(root / "usr/share/doc" / package.package / "copyright"),
              read_text(source_path("LICENSE.txt")));
    EXPECT_EQ(field(package.package, "Version"), version + "\n");
    // Each library the programs link comes from a package named here, and
    // this machine (Debian 12, as a plug-in author's CI) has each of them.
    const std::string depends = field(package.package, "Depends");
    for (const std::string& name : package.depends) {
      EXPECT_NE(depends.find(name + " ("), std::string::npos) << package.package << ": " << depends;
      EXPECT_EQ(run_command("dpkg-query -W " + name).status, 0) << name;
    }
    EXPECT_EQ(depends.find("-dev"), std::string::npos) << depends;
    // The man page is the program's --help.
    const std::string page =
        gunzip(root / "usr/share/man/man1" / (std::string(package.package) + ".1.gz"));
    EXPECT_NE(page.find(".SH NAME"), std::string::npos) << page;
    EXPECT_NE(page.find(version), std::string::npos);
    EXPECT_NE(page.find(package.package == std::string("velloq-host") ? "\\-\\-dry\\-run"
                                                                      : "\\-\\-output"),
              std::string::npos)
        << page;
  }
}

TEST_F(debian_packages, installed_programs_run_from_where_they_are_installed) {
  install("velloq-host", dir / "root");
  install("velloq-validate", dir / "root");
  const fs::path bin = dir / "root/usr/bin";

  // velloq-host finds the plug-in of its installation and stamps.
  const command_result stamped =
      run_command(shell_word(bin / "velloq-host") + " --size 320x200 --gi radiosity --out " +
                  shell_word(dir / "out"));
  ASSERT_EQ(stamped.status, 0) << stamped.output;
  EXPECT_NE(
      stamped.output.find("plug-in            " + (dir / "root/usr/lib/velloq/Velloq.so").string()),
      std::string::npos)
      << stamped.output;
  const host_image_ptr written = decode_image_file((dir / "out/render_0001.png").string());
  const host_image_ptr rendered = render_scene(320, 200, 0, 1);
  int changed = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 320; ++x) changed += written->at(x, y).red != rendered->at(x, y).red;
  }
  EXPECT_GT(changed, 500) << "the report is not in the picture";

  // velloq-validate checks the shipped DLL into a report file.
  const fs::path report = dir / "validation.jsonl";
  const command_result checked =
      run_command(shell_word(bin / "velloq-validate") + " --cycles 20 --json --output " +
                  shell_word(report) + " " + shell_word(shipped_dll_path()));
  ASSERT_EQ(checked.status, 0) << checked.output;
  const nlohmann::json result = summary_of(report);
  EXPECT_EQ(result["failed"], 0) << result.dump(2);
  EXPECT_GT(result["passed"].get<int>(), 20);
  EXPECT_EQ(run_command(shell_word(bin / "velloq-validate") + " --version").output,
            "velloq-validate " + version + "\n");
}

// The commands of README.md's CI job, in order: the lines of its `script:`.
std::vector<std::string> readme_ci_commands() {
  std::istringstream readme(read_text(source_path("README.md")));
  std::vector<std::string> commands;
  bool in_job = false, in_script = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == "validate-plugin:")
      in_job = true;
    else if (in_job && line == "  script:")
      in_script = true;
    else if (in_script && line.rfind("    - ", 0) == 0)
      commands.push_back(line.substr(6));
    else if (in_script)
      break;
  }
  return commands;
}

TEST_F(debian_packages, the_readmes_ci_job_runs_as_written) {
  const std::vector<std::string> commands = readme_ci_commands();
  ASSERT_EQ(commands.size(), 2u) << "README.md's validate-plugin job has no script";

  // The plug-in author's project: the package beside it, the plug-in
  // built. apt-get installs into a folder of the test instead of the
  // machine, and only packages given as files: no -dev package is needed.
  const fs::path project = dir / "project", root = dir / "root", tools = dir / "tools";
  for (const fs::path& folder : {project / "ci", project / "build", root, tools})
    fs::create_directories(folder);
  fs::copy_file(package_path("velloq-validate"),
                project / "ci" / ("velloq-validate_" + version + "_amd64.deb"));
  std::ofstream(tools / "apt-get") << R"(#!/bin/sh
# apt-get as a CI job calls it, installing into $VELLOQ_TEST_ROOT.
case "$1" in
  update) exit 0 ;;
  install) shift ;;
  *) echo "apt-get $1 was not expected" >&2; exit 100 ;;
esac
for arg in "$@"; do
  case "$arg" in
    -y|-q|-qq|--no-install-recommends) ;;
    ./*.deb)
      for dep in $(dpkg-deb -f "$arg" Depends | sed 's/([^)]*)//g; s/,/ /g'); do
        dpkg-query -W "$dep" >/dev/null 2>&1 || { echo "needs $dep" >&2; exit 100; }
      done
      dpkg-deb -x "$arg" "$VELLOQ_TEST_ROOT" || exit 100 ;;
    *) echo "apt-get install $arg was not expected" >&2; exit 100 ;;
  esac
done
)";
  fs::permissions(tools / "apt-get", fs::perms::owner_all);
  const std::string environment =
      "cd " + shell_word(project) + " && VELLOQ_TEST_ROOT=" + shell_word(root) +
      " PATH=" + shell_word(tools) + ":" + shell_word(root / "usr/bin") + ":/usr/bin:/bin ";
  const auto job = [&](const std::string& plugin, std::size_t from) {
    fs::remove(project / "validation.jsonl");
    fs::remove(project / "validation.xml");
    fs::copy_file(std::string(VELLOQ_MINIMAL_PLUGINS) + "/" + plugin,
                  project / "build/MyEffector.dll", fs::copy_options::overwrite_existing);
    command_result last{0, ""};
    for (std::size_t k = from; k < commands.size() && last.status == 0; ++k) {
      last = run_command(environment + "bash -e -o pipefail -c " + shell_word(commands[k]));
      last.output = commands[k] + "\n" + last.output;
    }
    return last;
  };

  // A good plug-in: the job passes and its artifact is the whole report.
  const command_result passed = job("minimal_plugin_0.dll", 0);
  ASSERT_EQ(passed.status, 0) << passed.output;
  const nlohmann::json good = summary_of(project / "validation.jsonl");
  EXPECT_EQ(good["failed"], 0) << good.dump(2);
  EXPECT_EQ(good["usable"], true);
  EXPECT_NE(read_text(project / "validation.xml").find("<testsuite"), std::string::npos);

  // A faulty one: the job fails, and the report it uploads says why.
  const command_result failed = job("minimal_plugin_9.dll", 1);
  EXPECT_EQ(failed.status, 1) << failed.output;
  const nlohmann::json bad = summary_of(project / "validation.jsonl");
  EXPECT_GT(bad["failed"].get<int>(), 0) << bad.dump(2);

  // Without the validator (the package not installed), no empty report.
  fs::remove_all(root);
  fs::create_directories(root);
  const command_result missing = job("minimal_plugin_0.dll", 1);
  EXPECT_EQ(missing.status, 127) << missing.output;
  EXPECT_FALSE(fs::exists(project / "validation.jsonl"));
  EXPECT_FALSE(fs::exists(project / "validation.xml"));
}

}  // namespace
