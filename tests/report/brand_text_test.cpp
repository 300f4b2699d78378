#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "report/machine_text.hpp"

namespace {

using pieces = std::vector<std::string>;

TEST(split_text, keeps_every_empty_piece) {
  EXPECT_EQ(split_text("A  B", " "), (pieces{"A", "", "B"}));
  EXPECT_EQ(split_text(" A", " "), (pieces{"", "A"}));
  EXPECT_EQ(split_text("A ", " "), (pieces{"A", ""}));
  EXPECT_EQ(split_text("  ", " "), (pieces{"", "", ""}));
  EXPECT_EQ(split_text("", " "), (pieces{""}));
  EXPECT_EQ(split_text("word", " "), (pieces{"word"}));
}

TEST(split_text, any_of_several_delimiters_splits) {
  EXPECT_EQ(split_text("a,b;;c d", ",;"), (pieces{"a", "b", "", "c d"}));
  EXPECT_EQ(split_text(";x,", ",;"), (pieces{"", "x", ""}));
}

TEST(tidy_brand_text, collapses_blank_runs_and_ends_with_one_blank) {
  EXPECT_EQ(tidy_brand_text("Intel(R) Core(TM)2 CPU          6600  @ 2.40GHz"),
            "Intel(R) Core(TM)2 CPU 6600 @ 2.40GHz ");
  EXPECT_EQ(tidy_brand_text("       Intel(R) Pentium(R) 4 CPU 3.00GHz"),
            "Intel(R) Pentium(R) 4 CPU 3.00GHz ");
  EXPECT_EQ(tidy_brand_text("AMD Ryzen 7   "), "AMD Ryzen 7 ");
  EXPECT_EQ(tidy_brand_text("one"), "one ");
}

TEST(tidy_brand_text, nothing_but_blanks_gives_empty_text) {
  EXPECT_EQ(tidy_brand_text(""), "");
  EXPECT_EQ(tidy_brand_text(" "), "");
  EXPECT_EQ(tidy_brand_text(std::string(48, ' ')), "");
}

TEST(tidy_brand_text, only_the_blank_separates) {
  EXPECT_EQ(tidy_brand_text("A\tB  C"), "A\tB C ");
  EXPECT_EQ(tidy_brand_text("\t x\n"), "\t x\n ");
}

TEST(tidy_brand_text, longest_raw_brand) {
  // Eight leading blanks pad a 40-character brand to the full 48 bytes.
  const std::string raw = "        Intel(R) Xeon(R) CPU E5-2680 0 @ 2.70GHz";
  ASSERT_EQ(raw.size(), 48u);
  EXPECT_EQ(tidy_brand_text(raw), "Intel(R) Xeon(R) CPU E5-2680 0 @ 2.70GHz ");
  const std::string solid(48, 'X');
  EXPECT_EQ(tidy_brand_text(solid), solid + " ");
}

// A processor whose brand leaves spell `brand` (up to 48 bytes) and whose
// highest extended leaf is `highest`; it records the leaves it was asked.
struct fake_processor {
  std::uint32_t highest;
  std::string brand;
  std::vector<std::uint32_t> asked;

  cpuid_registers operator()(std::uint32_t leaf) {
    asked.push_back(leaf);
    if (leaf == 0x80000000u)
      return cpuid_registers{highest, 0x68747541, 0, 0};
    if (leaf < 0x80000002u || leaf > 0x80000004u)
      return cpuid_registers{0xDEAD, 0xBEEF, 1, 2};
    std::uint32_t words[4] = {};
    for (std::size_t i = 0; i < 16; ++i) {
      const std::size_t at = 16 * (leaf - 0x80000002u) + i;
      const auto byte = static_cast<unsigned char>(at < brand.size() ? brand[at] : 0);
      words[i / 4] |= static_cast<std::uint32_t>(byte) << (8 * (i % 4));
    }
    return cpuid_registers{words[0], words[1], words[2], words[3]};
  }
};

std::string brand_of(fake_processor& processor) {
  return brand_from_cpuid([&processor](std::uint32_t leaf) { return processor(leaf); });
}

const std::string full_brand = "Intel(R) Core(TM)2 CPU          6600  @ 2.40GHz";

TEST(brand_from_cpuid, reads_the_three_leaves_in_register_order) {
  ASSERT_EQ(full_brand.size(), 47u);
  fake_processor processor{0x80000008u, full_brand, {}};
  EXPECT_EQ(brand_of(processor), full_brand);
  EXPECT_EQ(processor.asked,
            (std::vector<std::uint32_t>{0x80000000u, 0x80000002u, 0x80000003u, 0x80000004u}));
}

TEST(brand_from_cpuid, all_48_bytes_used) {
  const std::string longest(48, 'W');
  fake_processor processor{0x80000004u, longest, {}};
  EXPECT_EQ(brand_of(processor), longest);
}

TEST(brand_from_cpuid, reads_only_the_leaves_the_processor_has) {
  fake_processor two_leaves{0x80000003u, full_brand, {}};
  EXPECT_EQ(brand_of(two_leaves), full_brand.substr(0, 32));
  EXPECT_EQ(two_leaves.asked.back(), 0x80000003u);

  fake_processor one_leaf{0x80000002u, full_brand, {}};
  EXPECT_EQ(brand_of(one_leaf), full_brand.substr(0, 16));
  EXPECT_EQ(one_leaf.asked.size(), 2u);

  for (std::uint32_t highest : {0x80000001u, 0x80000000u, 0x0000000Du, 0u}) {
    fake_processor none{highest, full_brand, {}};
    EXPECT_EQ(brand_of(none), "") << std::hex << highest;
    EXPECT_EQ(none.asked, (std::vector<std::uint32_t>{0x80000000u})) << std::hex << highest;
  }
}

TEST(brand_from_cpuid, stops_at_the_first_zero_byte) {
  fake_processor processor{0x80000004u, std::string("Short", 5) + '\0' + "hidden", {}};
  EXPECT_EQ(brand_of(processor), "Short");
}

}  // namespace
