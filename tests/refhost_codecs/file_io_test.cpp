#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "refhost/file_io.hpp"
#include "tests/refhost_codecs/codec_test_support.hpp"

TEST(FileIo, AtomicWriteReplacesTheTargetAndLeavesNothingElse) {
  const scratch_folder folder;
  const std::string target = folder.file("out.bin");
  const bytes first = {1, 2, 3, 0, 255};
  write_file_atomically(target, first);
  EXPECT_EQ(read_file_bytes(target), first);

  const bytes second(70000, 0x5A);  // more than one read chunk
  write_file_atomically(target, second);
  EXPECT_EQ(read_file_bytes(target), second);
  write_file_atomically(folder.file("empty.bin"), {});
  EXPECT_TRUE(read_file_bytes(folder.file("empty.bin")).empty());

  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"empty.bin", "out.bin"}));
}

TEST(FileIo, FailedWriteLeavesTheTargetAsItWas) {
  const scratch_folder folder;
  const bytes original = {9, 8, 7};

  // No folder to write into: nothing appears.
  EXPECT_THROW(write_file_atomically(folder.file("missing/out.bin"), original), file_error);
  EXPECT_TRUE(folder.names().empty());

  // The staging file cannot be created: the existing target stays.
  const std::string target = folder.file("out.bin");
  write_file_atomically(target, original);
  std::filesystem::create_directory(temporary_path_for(target));
  EXPECT_THROW(write_file_atomically(target, {1, 1, 1, 1}), file_error);
  EXPECT_EQ(read_file_bytes(target), original);
  std::filesystem::remove(temporary_path_for(target));

  // The rename fails (a folder with content is in the way): the staging
  // file is removed again.
  const std::string blocked = folder.file("blocked");
  std::filesystem::create_directory(blocked);
  write_file_atomically(blocked + "/inside.bin", original);
  EXPECT_THROW(write_file_atomically(blocked, {1, 2}), file_error);
  EXPECT_FALSE(std::filesystem::exists(temporary_path_for(blocked)));
  EXPECT_EQ(read_file_bytes(blocked + "/inside.bin"), original);
}

TEST(FileIo, ReadErrorsNameThePathAndTheReason) {
  const scratch_folder folder;
  const std::string missing = folder.file("nothing.here");
  std::string message;
  try {
    read_file_bytes(missing);
  } catch (const file_error& error) {
    message = error.what();
  }
  EXPECT_NE(message.find(missing), std::string::npos) << message;
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;
  EXPECT_THROW(read_file_bytes(folder.file("")), file_error);  // the folder itself
}
