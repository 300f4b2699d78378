// Which run writes which output: a live run's claim holds, a dead run's is
// taken over, and a run leaves no file of its own behind.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "refhost/files/output_claims.hpp"
#include "refhost/files/output_file_platform.hpp"
#include "tests/support/codec_test_support.hpp"

namespace fs = std::filesystem;

TEST(output_claims, ALiveRunsClaimHoldsAndADeadRunsIsTakenOver) {
  const scratch_folder folder;
  const std::string claim = folder.file(".r.png.velloq-claim");
  const auto plant = [&](const std::string& machine, long long process) {
    const std::string record =
        "velloq-host run\n.velloq-run.other\n" + machine + "\n" + std::to_string(process) + "\n";
    write_file_atomically(claim, bytes(record.begin(), record.end()),
                          replace_policy::replace_existing);
  };
  const std::string other_lease = folder.file(".velloq-run.other");
  write_file_atomically(other_lease, {1}, replace_policy::keep_existing);
  const auto lease_age = [&](int seconds) {
    fs::last_write_time(other_lease,
                        fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  };
  const struct {
    std::string machine;
    long long process;
    int lease_age;
    bool live;
  } cases[] = {
      {output_platform::machine_name(), output_platform::process_id(), 0, true},
      {output_platform::machine_name(), 2147480000, 0, false},  // no such process
      {"render-07", 1, 5, true},  // another machine, its lease renewed
      {"render-07", 1, output_claims::lease_seconds + 30, false},
  };
  for (const auto& c : cases) {
    plant(c.machine, c.process);
    lease_age(c.lease_age);
    output_claims run(folder.file(""));
    try {
      run.claim({folder.file("r.png"), folder.file("s.png")});
      EXPECT_FALSE(c.live) << c.machine << " " << c.process;
      EXPECT_TRUE(fs::exists(folder.file(".s.png.velloq-claim")));
    } catch (const output_busy_error& error) {
      EXPECT_TRUE(c.live) << c.machine << " " << c.process;
      EXPECT_NE(std::string(error.what()).find("(process " + std::to_string(c.process) + " on "),
                std::string::npos)
          << error.what();
      EXPECT_FALSE(fs::exists(folder.file(".s.png.velloq-claim")));
    }
  }
  // The last run took the dead claim over and released it; a dead run's
  // lease goes with the next run that looks.
  EXPECT_FALSE(fs::exists(claim));
  output_claims(folder.file("")).remove_dead_runs();
  EXPECT_TRUE(folder.names().empty());
}
