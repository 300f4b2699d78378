// Symbolic links planted where velloq-host writes: in a shared folder
// another user can put one under any name, and following it would let a
// run overwrite whatever the link points at.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_file.hpp"
#include "tests/support/codec_test_support.hpp"

namespace fs = std::filesystem;

TEST(planted_links, ATemporaryNameHoldingALinkIsNeverFollowed) {
  const scratch_folder folder;
  const std::string victim = folder.file("victim.txt");
  write_file_atomically(victim, {'k', 'e', 'e', 'p'}, replace_policy::keep_existing);
  const std::string planted = folder.file(".out.png.plantedlink0.velloq-partial");
  fs::create_symlink(victim, planted);
  // A dangling link is as good as a file to O_CREAT without O_EXCL.
  const std::string dangling = folder.file(".out.png.danglinglink.velloq-partial");
  fs::create_symlink(folder.file("created-through-link"), dangling);

  std::size_t calls = 0;
  output_file file(folder.file("out.png"), [&] {
    ++calls;
    return calls == 1 ? "plantedlink0" : calls == 2 ? "danglinglink" : "fresh0000000";
  });
  EXPECT_EQ(calls, 3u);
  file.write(reinterpret_cast<const unsigned char*>("png!"), 4);
  file.commit(replace_policy::keep_existing);

  EXPECT_EQ(read_file_bytes(victim, 100), (bytes{'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(fs::exists(folder.file("created-through-link")));
  EXPECT_EQ(read_file_bytes(folder.file("out.png"), 100), (bytes{'p', 'n', 'g', '!'}));
  EXPECT_TRUE(fs::is_symlink(planted));  // someone else's: left alone
}

TEST(planted_links, ATargetThatIsALinkIsReplacedNotWrittenThrough) {
  const scratch_folder folder;
  const std::string victim = folder.file("victim.txt");
  write_file_atomically(victim, {'k', 'e', 'e', 'p'}, replace_policy::keep_existing);
  const std::string target = folder.file("render_0001.png");
  fs::create_symlink(victim, target);

  EXPECT_THROW(write_file_atomically(target, {1, 2, 3}, replace_policy::keep_existing), file_error);
  EXPECT_TRUE(fs::is_symlink(target));
  write_file_atomically(target, {1, 2, 3}, replace_policy::replace_existing);
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(read_file_bytes(target, 100), (bytes{1, 2, 3}));
  EXPECT_EQ(read_file_bytes(victim, 100), (bytes{'k', 'e', 'e', 'p'}));
}

TEST(planted_links, StaleTemporaryCleanupRemovesNoLink) {
  const scratch_folder folder;
  const std::string victim = folder.file("victim.txt");
  write_file_atomically(victim, {'k'}, replace_policy::keep_existing);
  const std::string planted = folder.file(".victim.txt.abcdefghijkl.velloq-partial");
  fs::create_symlink(victim, planted);
  EXPECT_TRUE(remove_stale_temporaries(folder.file("")).empty());
  EXPECT_TRUE(fs::is_symlink(planted));
  EXPECT_TRUE(fs::exists(victim));
}
