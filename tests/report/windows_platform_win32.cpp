#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "report/machine_text.hpp"
#include "report/running_platform.hpp"
#include "report/windows_platform.hpp"

namespace {

TEST(windows_platform, section_describes_this_machine) {
  const std::string section = describe_machine_section(windows_system_platform());
  std::cout << section;

  std::istringstream in(section);
  std::string line;
  const char* labels[] = {"OS : ", "CPU: ", "GPU: ", "RAM: "};
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_LT(count, 4) << "extra line: " << line;
    EXPECT_EQ(line.rfind(labels[count], 0), 0u) << line;
    EXPECT_GT(line.size(), 5u) << line;
    ++count;
  }
  EXPECT_EQ(count, 4);
  EXPECT_EQ(section.back(), '\n');
}

TEST(windows_platform, raw_facts_are_plausible) {
  const OsVersionFacts facts = windows_facts::gather_os_facts();
  EXPECT_EQ(facts.platform_id, 2u);
  EXPECT_GE(facts.major_version, 5u);
  // A 32-bit process sees x86 or, under WOW64, the x64 machine underneath.
  if (facts.is_wow64) {
    EXPECT_EQ(facts.processor_architecture, 9u);
  } else {
    EXPECT_EQ(facts.processor_architecture, 0u);
  }
  if (facts.major_version != 6 || facts.product_type != 1) {
    EXPECT_EQ(facts.edition_code, 0u);
  }

  SYSTEM_INFO system;
  GetSystemInfo(&system);
  EXPECT_EQ(windows_facts::processor_count(),
            static_cast<std::int32_t>(system.dwNumberOfProcessors));
  EXPECT_GE(windows_facts::processor_count(), 1);

#if defined(__i386__) || defined(__x86_64__)
  const std::string brand = windows_facts::read_processor_brand();
  EXPECT_FALSE(brand.empty());
  EXPECT_LE(brand.size(), 48u);
#endif

  EXPECT_FALSE(windows_facts::primary_adapter_name().empty());
  EXPECT_GT(windows_facts::total_physical_memory(), 0u);
}

TEST(windows_platform, tick_count_is_get_tick_count) {
  const DWORD before = GetTickCount();
  const std::uint32_t tick = windows_system_platform().tick_count();
  const DWORD after = GetTickCount();
  EXPECT_LE(tick - before, after - before);
}

}  // namespace
