// A frame's files given their names together: a rename that fails puts the
// earlier files back, and so does the next run after a kill in between.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/files/frame_commit.hpp"
#include "tests/support/codec_test_support.hpp"

namespace fs = std::filesystem;

TEST(frame_commit, AFailedRenamePutsTheEarlierFilesBack) {
  const scratch_folder folder;
  write_file_atomically(folder.file("x.png"), {'o', 'l', 'd'}, replace_policy::keep_existing);
  fs::create_directories(folder.file("x.tga/inside"));  // no file can take this name
  std::vector<std::unique_ptr<output_file>> files;
  for (const char* name : {"x.png", "x.tga"}) {
    files.push_back(std::make_unique<output_file>(folder.file(name)));
    files.back()->write(reinterpret_cast<const unsigned char*>("new"), 3);
  }
  EXPECT_THROW(commit_together(files, replace_policy::replace_existing), file_error);
  EXPECT_EQ(read_file_bytes(folder.file("x.png"), 16), (bytes{'o', 'l', 'd'}));
  EXPECT_EQ(folder.names().size(), 2u);
}

TEST(frame_commit, AnEarlierVersionsRecordPutsBackWhatItKeptAndNothingElse) {
  const scratch_folder folder;
  // Killed after renaming both: x.png's earlier file under its second
  // name, x.tga new, which its record cannot tell from a file someone put
  // there since. A record cut short named nothing yet.
  const std::string kept = ".x.png.aaaaaaaaaaaa.velloq-partial";
  write_file_atomically(folder.file(kept), {'o', 'l', 'd'}, replace_policy::keep_existing);
  write_file_atomically(folder.file("x.png"), {'n', 'e', 'w'}, replace_policy::keep_existing);
  write_file_atomically(folder.file("x.tga"), {'n', 'e', 'w'}, replace_policy::keep_existing);
  const std::string record =
      std::string("velloq-host frame\0x.png\0", 24) + kept + std::string("\0x.tga\0\0end\0", 12);
  write_file_atomically(folder.file(".x.png.bbbbbbbbbbbb.velloq-frame"),
                        bytes(record.begin(), record.end()), replace_policy::keep_existing);
  write_file_atomically(folder.file(".y.png.cccccccccccc.velloq-frame"), {'v'},
                        replace_policy::keep_existing);

  // While a live run holds the names, nothing is touched.
  const auto nobody = [](const std::vector<std::string>&, const std::function<void()>&) {
    return false;
  };
  EXPECT_TRUE(recover_interrupted_frames(folder.file(""), nobody).frames.empty());
  EXPECT_EQ(folder.names().size(), 5u);

  std::vector<std::string> held;
  const auto anyone = [&](const std::vector<std::string>& paths,
                          const std::function<void()>& work) {
    held.insert(held.end(), paths.begin(), paths.end());
    work();
    return true;
  };
  const frame_recovery recovery = recover_interrupted_frames(folder.file(""), anyone);
  ASSERT_EQ(recovery.frames.size(), 1u);
  EXPECT_EQ(recovery.frames[0].restored, std::vector<std::string>{folder.file("x.png")});
  EXPECT_TRUE(recovery.frames[0].removed.empty());
  EXPECT_NE(std::find(held.begin(), held.end(), "x.tga"), held.end());
  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"x.png", "x.tga"}));
  EXPECT_EQ(read_file_bytes(folder.file("x.png"), 16), (bytes{'o', 'l', 'd'}));
}
