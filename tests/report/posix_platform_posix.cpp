#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "report/machine_text.hpp"
#include "report/running_platform.hpp"

namespace {

TEST(posix_platform, tick_count_advances_in_milliseconds) {
  system_platform& platform = posix_system_platform();
  const std::uint32_t before = platform.tick_count();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::uint32_t after = platform.tick_count();
  // Unsigned difference, as a wrap between the two readings would need.
  const std::uint32_t elapsed = after - before;
  EXPECT_GE(elapsed, 49u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(posix_platform, section_describes_this_machine) {
  system_platform& platform = posix_system_platform();
  const std::string section = describe_machine_section(platform);
  std::cout << section;

  std::istringstream in(section);
  std::string line;
  const char* labels[] = {"OS : ", "CPU: ", "GPU: ", "RAM: "};
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_LT(count, 4) << "extra line: " << line;
    EXPECT_EQ(line.rfind(labels[count], 0), 0u) << line;
    ++count;
  }
  EXPECT_EQ(count, 4);
  EXPECT_EQ(section.back(), '\n');

  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(platform.operating_system_text(),
            std::string(names.sysname) + " " + names.release + " " + names.machine);
  EXPECT_EQ(platform.processor_count(), sysconf(_SC_NPROCESSORS_ONLN));
  EXPECT_GE(platform.processor_count(), 1);
  EXPECT_GT(platform.total_physical_memory(), 0u);
  EXPECT_EQ(platform.primary_adapter_name(), "Unknown GPU");
#if defined(__i386__) || defined(__x86_64__)
  EXPECT_FALSE(platform.read_processor_brand().empty());
  EXPECT_LE(platform.read_processor_brand().size(), 48u);
#endif
}

}  // namespace
