// Reading input files stops past a limit, whatever the file is, and says so.

#include <gtest/gtest.h>

#include <string>

#include "refhost/files/file_io.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

std::string read_failure(const std::string& path, std::size_t limit) {
  try {
    read_file_bytes(path, limit);
  } catch (const file_error& error) {
    return error.what();
  }
  return "(read)";
}

}  // namespace

TEST(file_reading, ReadsUpToTheLimitAndRefusesPastIt) {
  const scratch_folder folder;
  const std::string path = folder.file("data.bin");
  const bytes data(70000, 0x5A);  // more than one piece of a stream read
  write_file_atomically(path, data, replace_policy::keep_existing);
  EXPECT_EQ(read_file_bytes(path, data.size()), data);
  const std::string message = read_failure(path, data.size() - 1);
  EXPECT_NE(message.find(path + ": too large or corrupt"), std::string::npos) << message;
  EXPECT_NE(message.find("69999"), std::string::npos) << message;
}

TEST(file_reading, ErrorsNameThePathAndTheReason) {
  const scratch_folder folder;
  const std::string missing = folder.file("nothing.here");
  const std::string message = read_failure(missing, 100);
  EXPECT_NE(message.find(missing), std::string::npos) << message;
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;
  EXPECT_NE(read_failure(folder.file(""), 100), "(read)");  // the folder itself
}

#if !defined(_WIN32)
TEST(file_reading, EndlessStreamsStopAtTheLimit) {
  // A device with no end, read in pieces: refused after limit + 1 bytes.
  const std::string message = read_failure("/dev/zero", 5000000);
  EXPECT_NE(message.find("/dev/zero: too large or corrupt"), std::string::npos) << message;
  EXPECT_EQ(read_file_bytes("/dev/null", 10).size(), 0u);
}
#endif
