// Writing pictures: readers see the old file or the complete new one, a
// failure leaves the target as it was, names already taken (by anyone,
// links included) are never opened, and leftovers of dead runs are known.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/files/output_file.hpp"
#include "refhost/system/interruption_cleanup.hpp"
#include "tests/support/codec_test_support.hpp"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t unlimited = std::size_t{1} << 30;

std::vector<std::string> sorted_names(const scratch_folder& folder) {
  std::vector<std::string> names = folder.names();
  std::sort(names.begin(), names.end());
  return names;
}

// Hands out the given random parts in turn.
output_file::name_source parts(std::vector<std::string> given) {
  auto next = std::make_shared<std::size_t>(0);
  return [given, next] { return given.at((*next)++ % given.size()); };
}

}  // namespace

TEST(output_file, ReplacesOrKeepsTheTargetAndLeavesNothingElse) {
  const scratch_folder folder;
  const std::string target = folder.file("out.bin");
  const bytes first = {1, 2, 3, 0, 255};
  write_file_atomically(target, first, replace_policy::keep_existing);
  EXPECT_EQ(read_file_bytes(target, unlimited), first);

  const bytes second(70000, 0x5A);
  EXPECT_THROW(write_file_atomically(target, second, replace_policy::keep_existing), file_error);
  EXPECT_EQ(read_file_bytes(target, unlimited), first);
  write_file_atomically(target, second, replace_policy::replace_existing);
  EXPECT_EQ(read_file_bytes(target, unlimited), second);
  write_file_atomically(folder.file("empty.bin"), {}, replace_policy::keep_existing);
  EXPECT_TRUE(read_file_bytes(folder.file("empty.bin"), unlimited).empty());

  EXPECT_EQ(sorted_names(folder), (std::vector<std::string>{"empty.bin", "out.bin"}));
  EXPECT_EQ(interruption_cleanup::tracked_count(), 0);
}

TEST(output_file, TemporaryIsHiddenUnpredictableAndGoneUnlessCommitted) {
  const scratch_folder folder;
  std::string first_temporary;
  {
    output_file file(folder.file("render_0001.png"));
    first_temporary = fs::path(file.temporary_path()).filename().string();
    EXPECT_TRUE(is_temporary_name(first_temporary)) << first_temporary;
    EXPECT_EQ(first_temporary.rfind(".render_0001.png.", 0), 0u) << first_temporary;
    EXPECT_TRUE(fs::exists(file.temporary_path()));
    EXPECT_EQ(interruption_cleanup::tracked_count(), 1);
    const output_file second(folder.file("render_0001.png"));
    EXPECT_NE(second.temporary_path(), file.temporary_path());
    EXPECT_EQ(interruption_cleanup::tracked_count(), 2);
    file.write(reinterpret_cast<const unsigned char*>("abc"), 3);
  }
  // Abandoned (an exception between creation and commit): nothing stays.
  EXPECT_TRUE(folder.names().empty());
  EXPECT_EQ(interruption_cleanup::tracked_count(), 0);

  for (const char* name :
       {".render_0001.png.0123456789ab.velloq-partial", ".x.abcdefghijkl.velloq-partial"}) {
    EXPECT_TRUE(is_temporary_name(name)) << name;
  }
  for (const char* name :
       {"render_0001.png", ".render_0001.png.0123456789ab.velloq-partia",
        ".render_0001.png.0123456789AB.velloq-partial", "render.0123456789ab.velloq-partial",
        "..0123456789ab.velloq-partial", ".render_0001.png-0123456789ab.velloq-partial"}) {
    EXPECT_FALSE(is_temporary_name(name)) << name;
  }
}

TEST(output_file, NeverOpensANameThatIsTaken) {
  const scratch_folder folder;
  const std::string target = folder.file("out.bin");
  // Someone else's file under the first name tried: it is left alone and
  // the next name is used.
  const std::string taken = folder.file(".out.bin.aaaaaaaaaaaa.velloq-partial");
  write_file_atomically(taken, {7, 7}, replace_policy::keep_existing);
  {
    output_file file(target, parts({"aaaaaaaaaaaa", "bbbbbbbbbbbb"}));
    EXPECT_EQ(file.temporary_path(), folder.file(".out.bin.bbbbbbbbbbbb.velloq-partial"));
    file.write(reinterpret_cast<const unsigned char*>("new"), 3);
    file.commit(replace_policy::keep_existing);
  }
  EXPECT_EQ(read_file_bytes(taken, unlimited), (bytes{7, 7}));
  EXPECT_EQ(read_file_bytes(target, unlimited), (bytes{'n', 'e', 'w'}));

  // Every name taken: a failure, and the target as it was.
  EXPECT_THROW(output_file(target, parts({"aaaaaaaaaaaa"})), file_error);
  EXPECT_EQ(read_file_bytes(target, unlimited), (bytes{'n', 'e', 'w'}));
  EXPECT_EQ(read_file_bytes(taken, unlimited), (bytes{7, 7}));
  EXPECT_EQ(interruption_cleanup::tracked_count(), 0);
}

TEST(output_file, FailuresLeaveTheTargetAsItWas) {
  const scratch_folder folder;
  const bytes original = {9, 8, 7};

  // No folder to write into: nothing appears.
  EXPECT_THROW(write_file_atomically(folder.file("missing/out.bin"), original,
                                     replace_policy::replace_existing),
               file_error);
  EXPECT_TRUE(folder.names().empty());

  // The rename fails (a folder with content is in the way): the temporary
  // is removed again and the folder keeps what it held.
  const std::string blocked = folder.file("blocked");
  fs::create_directory(blocked);
  write_file_atomically(blocked + "/inside.bin", original, replace_policy::keep_existing);
  EXPECT_THROW(write_file_atomically(blocked, {1, 2}, replace_policy::replace_existing),
               file_error);
  EXPECT_EQ(sorted_names(folder), std::vector<std::string>{"blocked"});
  EXPECT_EQ(read_file_bytes(blocked + "/inside.bin", unlimited), original);

  // A target that appears while the file is written is kept.
  output_file late(folder.file("late.bin"));
  write_file_atomically(folder.file("late.bin"), original, replace_policy::keep_existing);
  late.write(original.data(), 1);
  EXPECT_THROW(late.commit(replace_policy::keep_existing), file_error);
  EXPECT_EQ(read_file_bytes(folder.file("late.bin"), unlimited), original);
  EXPECT_EQ(sorted_names(folder), (std::vector<std::string>{"blocked", "late.bin"}));
  EXPECT_THROW(late.write(original.data(), 1), file_error);
  EXPECT_EQ(interruption_cleanup::tracked_count(), 0);
}

TEST(output_file, StaleTemporariesAreTheOnlyFilesRemoved) {
  const scratch_folder folder;
  const std::vector<std::string> stale = {".render_0001.png.0123456789ab.velloq-partial",
                                          ".render_0002.tga.zzzzzzzzzzzz.velloq-partial"};
  const std::vector<std::string> kept = {"render_0001.png", ".render_0001.png.tmp-1234",
                                         ".velloq-host.lock", "notes.velloq-partial"};
  for (const std::string& name : stale) {
    write_file_atomically(folder.file(name), {1}, replace_policy::keep_existing);
  }
  for (const std::string& name : kept) {
    write_file_atomically(folder.file(name), {2}, replace_policy::keep_existing);
  }
  // A folder of a temporary's name is not a file of ours.
  fs::create_directory(folder.file(".x.abcdefghijkl.velloq-partial"));

  std::vector<std::string> removed = remove_stale_temporaries(folder.file(""));
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, stale);
  std::vector<std::string> left = kept;
  left.push_back(".x.abcdefghijkl.velloq-partial");
  std::sort(left.begin(), left.end());
  EXPECT_EQ(sorted_names(folder), left);
  EXPECT_TRUE(remove_stale_temporaries(folder.file("missing")).empty());
}

TEST(output_file, LongNamesHiddenFilesFitAndLeadBackToTheirOutput) {
  const scratch_folder folder;
  const std::string random(unguessable_part_length, 'k');
  for (const std::string& name :
       {std::string(222, 'a') + ".png", std::string(223, 'a') + ".png",
        std::string(251, 'a') + ".png", std::string(251, 'a') + ".tga",
        std::string(200, 'b') + "\xc3\xa9" + std::string(49, 'b') + ".png"}) {
    const std::string key = hidden_key(name);
    EXPECT_EQ(key == name, name.size() <= 226) << name.size();
    for (const char* suffix : {temporary_suffix, frame_record_suffix}) {
      const std::string hidden = hidden_name(key, random, suffix);
      EXPECT_LE(hidden.size(), max_file_name_bytes) << hidden;
      EXPECT_EQ(key_of_hidden_name(hidden, suffix, true), key) << hidden;
    }
    EXPECT_EQ(key_of_hidden_name(hidden_name(key, "", claim_suffix), claim_suffix, false), key);
    // A key is cut before a character of many bytes, never inside it.
    EXPECT_TRUE(key == name ||
                std::none_of(key.begin(), key.end(), [](char c) { return (c & 0x80) != 0; }))
        << key;
#if !defined(_WIN32)  // such paths pass Windows' MAX_PATH
    // A partial file of such a name goes once its writer is gone.
    write_file_atomically(folder.file(hidden_name(key, random, temporary_suffix)), {1},
                          replace_policy::keep_existing);
    std::vector<std::string> asked;
    const auto gone = [&](const std::string& asked_key) {
      asked.push_back(asked_key);
      return true;
    };
    EXPECT_EQ(remove_stale_temporaries(folder.file(""), gone).size(), 1u);
    EXPECT_EQ(asked, std::vector<std::string>{key});
#endif
  }
  // Names that differ only past the part a key keeps have keys of their own.
  EXPECT_NE(hidden_key(std::string(251, 'a') + ".png"), hidden_key(std::string(251, 'a') + ".tga"));
}
