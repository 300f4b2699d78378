// Every seed and every input a fuzzer once broke, replayed through the same
// target bodies in the ordinary builds. A broken property aborts the run
// with the target's message; the sanitizer build also catches bad memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_targets.hpp"

namespace {

namespace fs = std::filesystem;

struct fuzz_target {
  const char* name;
  int (*run)(const std::uint8_t*, std::size_t);
  const char* seeds;  // the folder of its seeds, shared by targets that read the same files
};

const fuzz_target targets[] = {
    {"tga_reader", fuzz_tga_reader, "tga_reader"},
    {"png_reader", fuzz_png_reader, "png_reader"},
    {"jpeg_reader", fuzz_jpeg_reader, "jpeg_reader"},
    {"jpeg_reader_stb", fuzz_jpeg_reader_stb, "jpeg_reader"},
    {"string_table", fuzz_string_table, "string_table"},
    {"text_burn_in", fuzz_text_burn_in, "text_burn_in"},
};

// The files of tests/fuzz/<kind>/<target>/, in name order; none when the
// folder does not exist.
std::vector<fs::path> inputs(const char* kind, const char* target) {
  const fs::path folder = fs::path(VELLOQ_SOURCE_DIR) / "tests" / "fuzz" / kind / target;
  std::vector<fs::path> files;
  if (!fs::is_directory(folder))
    return files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file())
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
}

void replay(const fuzz_target& target, const std::vector<fs::path>& files) {
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<std::uint8_t> bytes = read_bytes(file);
    ASSERT_EQ(bytes.size(), fs::file_size(file)) << "could not read the whole input";
    EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
  }
}

class fuzz_inputs : public ::testing::TestWithParam<fuzz_target> {};

TEST_P(fuzz_inputs, seed_corpus_replays_clean) {
  const std::vector<fs::path> files = inputs("corpus", GetParam().seeds);
  ASSERT_GE(files.size(), 3u) << "the seed corpus of " << GetParam().name << " is missing";
  replay(GetParam(), files);
}

TEST_P(fuzz_inputs, regressions_replay_clean) {
  const std::vector<fs::path> files = inputs("regressions", GetParam().name);
  if (files.empty())
    GTEST_SKIP() << "no regression input for " << GetParam().name;
  replay(GetParam(), files);
}

std::string target_name(const ::testing::TestParamInfo<fuzz_target>& param) {
  return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(targets, fuzz_inputs, ::testing::ValuesIn(targets), target_name);

}  // namespace
