#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "report/machine_text.hpp"

namespace {

constexpr std::uint16_t personal = 0x0200;
// A suite mask with many other bits set, none of them the personal one.
constexpr std::uint16_t other_suites = 0xFDFF;

OsVersionFacts nt(std::uint32_t major, std::uint32_t minor, std::uint8_t product_type) {
  OsVersionFacts facts;
  facts.platform_id = 2;
  facts.major_version = major;
  facts.minor_version = minor;
  facts.product_type = product_type;
  return facts;
}

OsVersionFacts with(OsVersionFacts facts, std::uint16_t suite_mask, bool is_wow64) {
  facts.suite_mask = suite_mask;
  facts.is_wow64 = is_wow64;
  return facts;
}

OsVersionFacts nt6_workstation(std::uint32_t minor, std::uint32_t edition,
                               std::uint16_t architecture) {
  OsVersionFacts facts = nt(6, minor, 1);
  facts.edition_code = edition;
  facts.processor_architecture = architecture;
  return facts;
}

TEST(describe_os, not_nt_is_plain_windows_whatever_the_version) {
  OsVersionFacts facts = with(nt(5, 1, 1), personal, false);
  facts.platform_id = 1;
  EXPECT_EQ(describe_os(facts), "Windows");
  facts.platform_id = 0;  // what a failed version query leaves
  EXPECT_EQ(describe_os(facts), "Windows");
  EXPECT_EQ(describe_os(OsVersionFacts{}), "Windows");
}

TEST(describe_os, xp_5_1) {
  EXPECT_EQ(describe_os(with(nt(5, 1, 1), personal, false)), "Windows XP Home Edition");
  EXPECT_EQ(describe_os(with(nt(5, 1, 1), personal, true)), "Windows XP Home x64 Edition");
  EXPECT_EQ(describe_os(with(nt(5, 1, 1), other_suites, false)), "Windows XP Professional Edition");
  EXPECT_EQ(describe_os(with(nt(5, 1, 1), 0, true)), "Windows XP Professional x64 Edition");
  // Not a workstation: no edition, whatever the suite.
  EXPECT_EQ(describe_os(with(nt(5, 1, 2), personal, true)), "Windows XP");
  EXPECT_EQ(describe_os(nt(5, 1, 3)), "Windows XP");
}

TEST(describe_os, xp_5_2_and_server_2003) {
  EXPECT_EQ(describe_os(with(nt(5, 2, 1), personal, false)), "Windows XP Home Edition");
  EXPECT_EQ(describe_os(with(nt(5, 2, 1), 0, true)), "Windows XP Professional x64 Edition");
  EXPECT_EQ(describe_os(with(nt(5, 2, 1), 0, false)), "Windows XP Professional Edition");
  EXPECT_EQ(describe_os(with(nt(5, 2, 3), personal, true)), "Windows Server 2003");
  EXPECT_EQ(describe_os(nt(5, 2, 2)), "Windows XP");
}

TEST(describe_os, other_5_x_is_plain_windows) {
  EXPECT_EQ(describe_os(with(nt(5, 0, 1), personal, false)), "Windows");
  EXPECT_EQ(describe_os(nt(5, 3, 1)), "Windows");
}

TEST(describe_os, version_6_workstations) {
  EXPECT_EQ(describe_os(nt6_workstation(0, 3, 0)), "Windows Vista Home Premium Edition 32-bit");
  EXPECT_EQ(describe_os(nt6_workstation(1, 48, 9)), "Windows 7 Professional Edition 64-bit");
  // Minor versions without a name of their own leave two blanks.
  EXPECT_EQ(describe_os(nt6_workstation(2, 49, 9)), "Windows  Professional Edition 64-bit");
  EXPECT_EQ(describe_os(nt6_workstation(3, 1, 0)), "Windows  Ultimate Edition 32-bit");
  // No bit width for architectures other than x86 and x64.
  EXPECT_EQ(describe_os(nt6_workstation(1, 7, 6)), "Windows 7 Unknown Edition");
  EXPECT_EQ(describe_os(nt6_workstation(1, 4, 5)), "Windows 7 Enterprise Edition");
  // The WOW64 flag and suite only matter for XP.
  EXPECT_EQ(describe_os(with(nt6_workstation(1, 48, 9), personal, true)),
            "Windows 7 Professional Edition 64-bit");
}

TEST(describe_os, everything_else_is_plain_windows) {
  OsVersionFacts server = nt(6, 0, 3);
  server.edition_code = 1;
  server.processor_architecture = 9;
  EXPECT_EQ(describe_os(server), "Windows");
  EXPECT_EQ(describe_os(nt(6, 1, 2)), "Windows");
  EXPECT_EQ(describe_os(nt(7, 0, 1)), "Windows");
  EXPECT_EQ(describe_os(nt(7, 0, 3)), "Windows");
  EXPECT_EQ(describe_os(nt(10, 0, 1)), "Windows");
  EXPECT_EQ(describe_os(nt(4, 0, 1)), "Windows");
}

TEST(describe_os, edition_table) {
  const struct {
    std::uint32_t code;
    const char* text;
  } editions[] = {
      {1, " Ultimate Edition"},      {28, " Ultimate Edition"},
      {2, " Home Basic Edition"},    {5, " Home Basic Edition"},
      {3, " Home Premium Edition"},  {26, " Home Premium Edition"},
      {4, " Enterprise Edition"},    {27, " Enterprise Edition"},
      {6, " Business Edition"},      {16, " Business Edition"},
      {11, " Starter Edition"},      {47, " Starter Edition"},
      {48, " Professional Edition"}, {49, " Professional Edition"},
      {0, " Unknown Edition"},       {7, " Unknown Edition"},
      {50, " Unknown Edition"},      {0xFFFFFFFFu, " Unknown Edition"},
  };
  for (const auto& edition : editions) {
    EXPECT_EQ(describe_os(nt6_workstation(1, edition.code, 0)),
              std::string("Windows 7") + edition.text + " 32-bit")
        << "edition code " << edition.code;
  }
}

}  // namespace
