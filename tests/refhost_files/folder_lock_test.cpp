// One run at a time in an output folder, and a message that names the run
// that holds it.

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <process.h>
#define velloq_getpid _getpid
#else
#include <unistd.h>
#define velloq_getpid getpid
#endif

#include "refhost/files/folder_lock.hpp"
#include "tests/refhost_codecs/codec_test_support.hpp"

TEST(FolderLock, ASecondLockIsRefusedUntilTheFirstGoes) {
  const scratch_folder folder;
  const std::string out = folder.file("");
  {
    const folder_lock first(out);
    try {
      const folder_lock second(out);
      ADD_FAILURE() << "two locks on one folder";
    } catch (const folder_busy_error& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find("(process " + std::to_string(velloq_getpid()) + ")"),
                std::string::npos)
          << message;
      EXPECT_NE(message.find(out), std::string::npos) << message;
    }
  }
  // Released with its holder; the lock file itself stays.
  const folder_lock again(out);
  EXPECT_EQ(folder.names(), std::vector<std::string>{folder_lock::file_name});
  EXPECT_THROW(folder_lock(folder.file("missing")), file_error);
}
