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

TEST(output_claims, ARunIsDeadOnceItsLockIsGoneWhateverProcessHasItsIdNow) {
  // A run killed with -9 as the first process of a container, or whose id
  // a later process (under Wine, the next run itself) has now: the system
  // dropped its lock, and its start time is not the process's of that id.
  const scratch_folder folder;
  const std::string lease = folder.file(".velloq-run.killed");
  write_file_atomically(lease, {1}, replace_policy::keep_existing);
  const std::string machine = output_platform::machine_name();
  const std::string claim = folder.file(".r.png.velloq-claim");
  const std::string own_start = output_platform::process_start_time(output_platform::process_id());
  const struct {
    long long process;
    std::string start_time;
    const char* lock;
    bool live;
  } cases[] = {
      {1, "1", "locked", false},
      {output_platform::process_id(), "1", "locked", false},
      {output_platform::process_id(), "1", "unlocked", own_start.empty()},
      {output_platform::process_id(), own_start, "unlocked", true},
  };
  for (const auto& c : cases) {
    const std::string record = "velloq-host run\n.velloq-run.killed\n" + machine + "\n" +
                               std::to_string(c.process) + "\n" + c.start_time + "\n" + c.lock +
                               "\n";
    write_file_atomically(claim, bytes(record.begin(), record.end()),
                          replace_policy::replace_existing);
    output_claims run(folder.file(""));
    bool taken_over = true;
    try {
      run.claim({folder.file("r.png")});
    } catch (const output_busy_error&) {
      taken_over = false;
    }
    EXPECT_EQ(taken_over, !c.live) << c.process << " " << c.start_time << " " << c.lock;
  }
  // A live run's lock holds, whatever its record says of its process.
  output_claims live_run(folder.file(""));
  std::string live_lease;
  for (const std::string& name : folder.names()) {
    if (name.rfind(output_claims::lease_prefix, 0) == 0 && name != ".velloq-run.killed")
      live_lease = name;
  }
  const std::string record =
      "velloq-host run\n" + live_lease + "\n" + machine + "\n2147480000\n1\nlocked\n";
  write_file_atomically(folder.file(".q.png.velloq-claim"), bytes(record.begin(), record.end()),
                        replace_policy::keep_existing);
  EXPECT_THROW(output_claims(folder.file("")).claim({folder.file("q.png")}), output_busy_error);
}
