// A module file is checked before the loader maps it: the built module
// passes, every truncation of it is refused with a reason, and a bare file
// name is taken as a path.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/hosting/module_file_check.hpp"
#include "refhost/hosting/plugin_module.hpp"
#include "tests/support/module_path.hpp"
#include "tests/support/codec_test_support.hpp"

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr auto module_problem = pe_module_problem;
constexpr auto other_problem = elf_module_problem;
#else
constexpr auto module_problem = elf_module_problem;
constexpr auto other_problem = pe_module_problem;
#endif

const bytes& built_module() {
  static const bytes module = read_file_bytes(module_path(), max_module_file_bytes);
  return module;
}

}  // namespace

TEST(module_file_check, TheBuiltModulePassesAndEveryCutIsFound) {
  const bytes& module = built_module();
  ASSERT_GT(module.size(), 20000u);
  EXPECT_EQ(module_problem(module.data(), module.size()), "");
  EXPECT_NE(other_problem(module.data(), module.size()), "");
  // Every length that cuts into a header, a segment or a section: the
  // ones that used to end the process, and a spread through the file.
  std::vector<std::size_t> lengths = {0, 1, 3, 15, 63, 64, 200, 1000, 4096, 20000};
  for (std::size_t length = 7; length < module.size(); length = length * 3 / 2 + 13) {
    lengths.push_back(length);
  }
  lengths.push_back(module.size() - 1);
  for (std::size_t length : lengths) {
    const bytes cut(module.begin(), module.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_NE(module_problem(cut.data(), cut.size()), "") << "cut to " << length << " bytes";
  }
}

TEST(module_file_check, HostileHeaderValuesDoNotOverflow) {
  // A header offset just below the top of its range wraps around when the
  // table's size is added to it, and would pass a naive bounds check.
  bytes module = built_module();
#if defined(_WIN32)
  const std::size_t offset_field = 0x3C, offset_bytes = 4;  // e_lfanew
#else
  const std::size_t offset_field = 32, offset_bytes = 8;  // e_phoff
#endif
  for (std::size_t i = 0; i < offset_bytes; ++i) module[offset_field + i] = i == 0 ? 0xF0 : 0xFF;
  EXPECT_NE(module_problem(module.data(), module.size()), "");
}

TEST(module_file_check, LoadingRefusesCutModulesAndFindsBareNames) {
  const scratch_folder folder;
  const std::string cut = folder.file("cut_module");
  const bytes& module = built_module();
  write_file_atomically(cut, bytes(module.begin(), module.begin() + 4096),
                        replace_policy::keep_existing);
  try {
    plugin_module loaded(cut);
    ADD_FAILURE() << "a module cut to 4096 bytes was loaded";
  } catch (const module_error& error) {
    EXPECT_NE(std::string(error.what()).find(cut + ": cut short"), std::string::npos)
        << error.what();
  }
  EXPECT_THROW(plugin_module(folder.file("")), module_error);         // a folder
  EXPECT_THROW(plugin_module(folder.file("missing")), module_error);  // nothing

  // A bare name is a file in the current folder.
  const fs::path previous = fs::current_path();
  fs::current_path(fs::path(module_path()).parent_path());
  const std::string name = fs::path(module_path()).filename().string();
  const std::string resolved = checked_module_path(name);
  fs::current_path(previous);
  EXPECT_TRUE(fs::path(resolved).is_absolute()) << resolved;
  EXPECT_TRUE(fs::equivalent(resolved, module_path())) << resolved;
}
