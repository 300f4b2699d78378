#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "report/machine_text.hpp"
#include "report/system_platform.hpp"

namespace {

// Hands out chosen facts and records which of them were asked for, in order.
class scripted_platform final : public system_platform {
 public:
  std::string os_text = "Windows 7 Professional Edition 64-bit";
  std::int32_t processors = 1;
  std::string brand = "Intel(R) Core(TM)2 CPU          6600  @ 2.40GHz";
  std::string adapter = "NVIDIA GeForce 8800 GTX";
  std::uint64_t memory = 2147483648u;
  std::vector<std::string> calls;

  std::uint32_t tick_count() override {
    calls.push_back("tick");
    return 0;
  }
  std::string operating_system_text() override {
    calls.push_back("os");
    return os_text;
  }
  std::int32_t processor_count() override {
    calls.push_back("count");
    return processors;
  }
  std::string read_processor_brand() override {
    calls.push_back("brand");
    return brand;
  }
  std::string primary_adapter_name() override {
    calls.push_back("gpu");
    return adapter;
  }
  std::uint64_t total_physical_memory() override {
    calls.push_back("ram");
    return memory;
  }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line break";
  return lines;
}

TEST(describe_machine_section, four_lines_in_order_from_one_pass_over_the_facts) {
  scripted_platform platform;
  platform.processors = 2;
  EXPECT_EQ(describe_machine_section(platform),
            "OS : Windows 7 Professional Edition 64-bit\n"
            "CPU: 2 x Intel(R) Core(TM)2 CPU 6600 @ 2.40GHz \n"
            "GPU: NVIDIA GeForce 8800 GTX\n"
            "RAM: 2.01 GB\n");
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"os", "count", "brand", "gpu", "ram"}));
}

TEST(describe_machine_section, texts_pass_through_unchanged) {
  scripted_platform platform;
  platform.os_text = "Linux 6.1.0-18-amd64 x86_64 100% %s %d";
  platform.adapter = "Unknown GPU %1% \t|";
  platform.brand = "%s%%";
  const auto lines = lines_of(describe_machine_section(platform));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "OS : " + platform.os_text);
  EXPECT_EQ(lines[1], "CPU: %s%% ");
  EXPECT_EQ(lines[2], "GPU: " + platform.adapter);
}

TEST(describe_machine_section, processor_line_names_the_count_above_one) {
  const struct {
    std::int32_t count;
    const char* brand;
    const char* line;
  } cases[] = {
      {0, "  Intel(R)   Atom(TM)", "CPU: Intel(R) Atom(TM) "},
      {1, "  Intel(R)   Atom(TM)", "CPU: Intel(R) Atom(TM) "},
      {-3, "Intel(R) Atom(TM)", "CPU: Intel(R) Atom(TM) "},
      {2, "AMD  Phenom", "CPU: 2 x AMD Phenom "},
      {8, "AMD  Phenom", "CPU: 8 x AMD Phenom "},
      {1, "", "CPU: "},
      {0, "      ", "CPU: "},
      {2, "", "CPU: 2 x "},
      {8, "   ", "CPU: 8 x "},
  };
  for (const auto& c : cases) {
    scripted_platform platform;
    platform.processors = c.count;
    platform.brand = c.brand;
    const auto lines = lines_of(describe_machine_section(platform));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], c.line) << "count " << c.count << ", brand '" << c.brand << "'";
  }
}

TEST(describe_machine_section, memory_line) {
  const struct {
    std::uint64_t bytes;
    const char* line;
  } cases[] = {
      {2147483648u, "RAM: 2.01 GB"},       {4293394432u, "RAM: 4.01 GB"},
      {17165189120u, "RAM: 16.00 GB"},     {0u, "RAM: 0.01 GB"},
      {4294967296u, "RAM: 4.01 GB"},       {536870912u, "RAM: 0.51 GB"},
      {1099511627776u, "RAM: 1024.01 GB"},
  };
  for (const auto& c : cases) {
    scripted_platform platform;
    platform.memory = c.bytes;
    const auto lines = lines_of(describe_machine_section(platform));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], c.line) << c.bytes << " bytes";
  }
}

// A display-device enumeration over a fixed list; records the indices asked.
struct fake_devices {
  std::vector<display_device_entry> devices;
  std::vector<std::uint32_t> asked;

  std::string primary() {
    return primary_adapter_from([this](std::uint32_t index, display_device_entry& entry) {
      asked.push_back(index);
      if (index >= devices.size())
        return false;
      entry = devices[index];
      return true;
    });
  }
};

TEST(primary_adapter_from, last_primary_adapter_wins) {
  fake_devices two_primaries{{{0x5, "First Adapter"}, {0x0, "Mirror"}, {0x4, "Second Adapter"}},
                             {}};
  EXPECT_EQ(two_primaries.primary(), "Second Adapter");
  EXPECT_EQ(two_primaries.asked, (std::vector<std::uint32_t>{0, 1, 2, 3}));

  fake_devices primary_first{{{0x1, "Secondary"}, {0x4 | 0x1, "Main"}, {0x1, "Other"}}, {}};
  EXPECT_EQ(primary_first.primary(), "Main");
}

TEST(primary_adapter_from, unknown_without_a_primary_adapter) {
  fake_devices none{{}, {}};
  EXPECT_EQ(none.primary(), "Unknown GPU");
  EXPECT_EQ(none.asked, (std::vector<std::uint32_t>{0}));

  fake_devices unflagged{{{0x1, "Attached"}, {0x8, "Mirroring"}, {0xFFFFFFFB, "All but"}}, {}};
  EXPECT_EQ(unflagged.primary(), "Unknown GPU");
}

TEST(active_platform, replacement_and_restore) {
  system_platform& running = active_platform();
  scripted_platform fake;
  set_active_platform(&fake);
  EXPECT_EQ(&active_platform(), &fake);
  active_platform().tick_count();
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"tick"}));
  set_active_platform(nullptr);
  EXPECT_EQ(&active_platform(), &running);
  EXPECT_NE(&active_platform(), static_cast<system_platform*>(&fake));
}

}  // namespace
