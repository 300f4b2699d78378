#pragma once
// velloq-host run as a user runs it: a folder per test, the program's
// output and exit status, and what it left in its --out folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"

namespace fs = std::filesystem;

struct run_result {
  int exit_code;
  std::string output;  // stdout and stderr, unless asked apart
  std::string errors;  // stderr, when asked apart
};

inline std::string native_path(const std::string& path) {
#if defined(_WIN32)
  std::string converted = "Z:" + path;
  for (char& c : converted) {
    if (c == '/')
      c = '\\';
  }
  return converted;
#else
  return path;
#endif
}

class cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(VELLOQ_BINARY_DIR) / "tests" / "cli_runs" /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
  }

  // Runs velloq-host with --out set to this test's folder, unless the
  // arguments give one. `before` goes in front of the command in the same
  // shell: a change of folder, a limit. `apart`: stderr into `errors`.
  run_result run(const std::string& arguments, const std::string& before = "", bool apart = false) {
    const std::string log = (dir / "log.txt").string();
    const std::string error_log = (dir / "errors.txt").string();
    const std::string out_option = arguments.find("--out") == std::string::npos
                                       ? "--out \"" + native_path(out().string()) + "\" "
                                       : "";
    const std::string command = before + "\"" + native_path(VELLOQ_HOST_PATH) + "\" " + out_option +
                                arguments + " > \"" + native_path(log) + "\" 2>" +
                                (apart ? "\"" + native_path(error_log) + "\"" : "&1");
#if defined(_WIN32)
    // cmd.exe drops the outer quotes of a command line that starts with one.
    const int status = std::system(("\"" + command + "\"").c_str());
#else
    const int status = std::system(command.c_str());
#endif
    const auto text_of = [](const std::string& path) {
      std::ifstream file(path);
      return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    const std::string errors = apart ? text_of(error_log) : std::string();
#if defined(_WIN32)
    return {status, text_of(log), errors};
#else
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text_of(log), errors};
#endif
  }

  fs::path out() const {
    return dir / "out";
  }

  // The --out folder's files, hidden ones (claims, partial files) only
  // when asked for.
  std::vector<std::string> outputs(bool hidden_too = false) const {
    std::vector<std::string> names;
    if (!fs::exists(out()))
      return names;
    for (const auto& entry : fs::directory_iterator(out())) {
      const std::string name = entry.path().filename().string();
      if (hidden_too || name[0] != '.')
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Anything hidden: a partial file, a claim or a lease left behind.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const std::string& name : outputs(true)) {
      if (name[0] == '.')
        names.push_back(name);
    }
    return names;
  }

  host_image_ptr read_output(const std::string& name) {
    return decode_image_file((out() / name).string());
  }

  std::vector<unsigned char> output_bytes(const std::string& name) const {
    return read_file_bytes((out() / name).string(), max_picture_file_bytes);
  }

  // A file in the test's folder (not in --out), as the host sees its path.
  std::string input(const std::string& name, const std::vector<unsigned char>& contents) const {
    write_file_atomically((dir / name).string(), contents, replace_policy::replace_existing);
    return "\"" + native_path((dir / name).string()) + "\"";
  }

  fs::path dir;
};
