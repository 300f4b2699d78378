// The DLL's own Windows platform layer, fed through the emulated system:
// each machine is rendered once and the machine lines are read back from
// the report the module drew, then held against the texts the host's users
// see on those systems.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "emulated_windows/process/windows_functions.hpp"
#include "tests/emulated_windows/drawn_report.hpp"
#include "tests/emulated_windows/foreign_plugin.hpp"

namespace {

constexpr std::uint16_t personal_suite = 0x0200;
constexpr std::uint16_t x86 = 0, amd64 = 9, itanium = 6;

windows_machine windows(std::uint32_t major, std::uint32_t minor, std::uint8_t product_type) {
  windows_machine m;
  m.major_version = major;
  m.minor_version = minor;
  m.product_type = product_type;
  m.suite_mask = 0;
  m.wow64 = false;
  m.native_architecture = x86;
  m.edition = 0;
  return m;
}

windows_machine windows_6(std::uint32_t minor, std::uint32_t edition, std::uint16_t native) {
  windows_machine m = windows(6, minor, 1);
  m.edition = edition;
  m.native_architecture = native;
  m.wow64 = native == amd64;
  return m;
}

// What one render on `machine` drew, and what the module asked on the way.
struct machine_report {
  std::map<std::string, std::string> lines;  // by label: "OS : ", "CPU: ", ...
  std::string text;
  std::vector<std::string> breaches;
  std::map<std::string, std::uint64_t> calls;
  std::vector<std::uint32_t> cpuid_leaves;
};

machine_report render_on(windows_machine machine) {
  machine_report report;
  const auto answer = machine.cpuid ? machine.cpuid : native_cpuid;
  machine.cpuid = [&report, answer](std::uint32_t leaf, std::uint32_t subleaf) {
    report.cpuid_leaves.push_back(leaf);
    return answer(leaf, subleaf);
  };
  foreign_plugin dll(machine);
  test_host host(64, 20, Bgra8{0, 0, 0, 0});
  use_one_pixel_glyphs(host);
  host.application.version = 440487;
  host.services.version_text = "Vorlen";
  const std::uint32_t component = dll.create_component();
  report.cpuid_leaves.clear();
  const std::string problem = dll.render_frame(component, host);
  EXPECT_EQ(problem, "");
  report.text = drawn_report(host.ledger);
  for (std::size_t start = 0, end; (end = report.text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    const std::string line = report.text.substr(start, end - start);
    for (const char* label : {"OS : ", "CPU: ", "GPU: ", "RAM: ", "Total Time    : "}) {
      if (line.rfind(label, 0) == 0)
        report.lines[label] = line.substr(std::strlen(label));
    }
  }
  report.breaches = dll.process.breaches;
  for (const auto& [name, count] : dll.process.stub_calls()) report.calls[name] = count;
  return report;
}

std::uint64_t calls_of(const machine_report& report, const std::string& function) {
  const auto it = report.calls.find("KERNEL32.dll!" + function);
  return it == report.calls.end() ? 0 : it->second;
}

TEST(windows_platform, the_operating_system_table) {
  struct os_case {
    const char* what;
    windows_machine machine;
    const char* text;
  };
  windows_machine xp_home = windows(5, 1, 1);
  xp_home.suite_mask = personal_suite | 0x0100;
  windows_machine xp_x64 = windows(5, 2, 1);
  xp_x64.wow64 = true;
  xp_x64.native_architecture = amd64;
  windows_machine xp_sp1 = xp_x64;  // a kernel without IsWow64Process
  xp_sp1.has_is_wow64_process = false;
  windows_machine vista_without_native_info = windows_6(1, 1, amd64);
  vista_without_native_info.has_get_native_system_info = false;
  windows_machine vista_without_product_info = windows_6(0, 3, x86);
  vista_without_product_info.has_get_product_info = false;
  windows_machine windows_98 = windows(4, 10, 1);
  windows_98.platform_id = 1;

  for (const os_case& c : {
           os_case{"XP Home", xp_home, "Windows XP Home Edition"},
           os_case{"XP Professional x64", xp_x64, "Windows XP Professional x64 Edition"},
           os_case{"XP without the WOW64 probe", xp_sp1, "Windows XP Professional Edition"},
           os_case{"XP, not a workstation", windows(5, 1, 2), "Windows XP"},
           os_case{"Server 2003", windows(5, 2, 3), "Windows Server 2003"},
           os_case{"5.2 domain controller", windows(5, 2, 2), "Windows XP"},
           os_case{"2000", windows(5, 0, 1), "Windows"},
           os_case{"Vista Home Premium", windows_6(0, 3, x86),
                   "Windows Vista Home Premium Edition 32-bit"},
           os_case{"Vista Ultimate", windows_6(0, 0x1C, amd64),
                   "Windows Vista Ultimate Edition 64-bit"},
           os_case{"Vista Business N", windows_6(0, 0x10, x86),
                   "Windows Vista Business Edition 32-bit"},
           os_case{"7 Professional", windows_6(1, 48, amd64),
                   "Windows 7 Professional Edition 64-bit"},
           os_case{"7 Starter", windows_6(1, 0x2F, x86), "Windows 7 Starter Edition 32-bit"},
           os_case{"7 Home Basic", windows_6(1, 5, x86), "Windows 7 Home Basic Edition 32-bit"},
           os_case{"7 Enterprise", windows_6(1, 4, amd64), "Windows 7 Enterprise Edition 64-bit"},
           os_case{"6.2", windows_6(2, 49, amd64), "Windows  Professional Edition 64-bit"},
           os_case{"unknown edition and architecture", windows_6(1, 7, itanium),
                   "Windows 7 Unknown Edition"},
           os_case{"no native system information", vista_without_native_info,
                   "Windows 7 Ultimate Edition 32-bit"},
           os_case{"no product information", vista_without_product_info,
                   "Windows Vista Unknown Edition 32-bit"},
           os_case{"Server 2008", windows(6, 0, 3), "Windows"},
           os_case{"a later major version", windows(7, 0, 1), "Windows"},
           os_case{"Windows 98", windows_98, "Windows"},
           os_case{"XP SP3 mode", windows_machine::of(windows_version::xp_sp3),
                   "Windows XP Professional Edition"},
           os_case{"2000 mode", windows_machine::of(windows_version::windows_2000), "Windows"},
           os_case{"Vista mode", windows_machine::of(windows_version::vista),
                   "Windows Vista Business Edition 32-bit"},
       }) {
    SCOPED_TRACE(c.what);
    const machine_report report = render_on(c.machine);
    EXPECT_EQ(report.lines.at("OS : "), c.text) << report.text;
    EXPECT_TRUE(report.breaches.empty()) << ::testing::PrintToString(report.breaches);
    EXPECT_EQ(calls_of(report, "GetVersionExA"), 1u);
    // The three newer services are looked up by name each time, never bound.
    EXPECT_GE(calls_of(report, "GetModuleHandleA"), 2u);
    const bool edition_asked =
        c.machine.platform_id == 2 && c.machine.major_version == 6 && c.machine.product_type == 1;
    // What this Windows version exports, and the kernel of this machine has.
    auto found = [&c](const char* function, bool present) {
      return windows_exports(c.machine.version, "KERNEL32.dll", function) && present ? 1u : 0u;
    };
    EXPECT_EQ(calls_of(report, "GetProductInfo"),
              edition_asked ? found("GetProductInfo", c.machine.has_get_product_info) : 0u);
    EXPECT_EQ(calls_of(report, "IsWow64Process"),
              found("IsWow64Process", c.machine.has_is_wow64_process));
    EXPECT_EQ(calls_of(report, "GetNativeSystemInfo"),
              found("GetNativeSystemInfo", c.machine.has_get_native_system_info));
  }
}

// CPUID answering `brand` in the brand leaves, up to `highest`.
std::function<cpuid_answer(std::uint32_t, std::uint32_t)> processor(const std::string& brand,
                                                                    std::uint32_t highest) {
  return [brand, highest](std::uint32_t leaf, std::uint32_t subleaf) {
    if (leaf == 0x80000000u)
      return cpuid_answer{highest, 0, 0, 0};
    if (leaf >= 0x80000002u && leaf <= 0x80000004u) {
      char bytes[48] = {};
      std::memcpy(bytes, brand.data(), std::min<std::size_t>(brand.size(), 48));
      cpuid_answer a;
      std::memcpy(&a, bytes + 16 * (leaf - 0x80000002u), 16);
      return a;
    }
    return native_cpuid(leaf, subleaf);
  };
}

TEST(windows_platform, the_processor_line_from_cpuid_and_the_processor_count) {
  const std::string pentium = "       Intel(R) Pentium(R) 4 CPU 3.00GHz";
  struct cpu_case {
    const char* what;
    std::uint32_t processors;
    std::string brand;
    std::uint32_t highest;
    const char* line;
  };
  for (const cpu_case& c : {
           cpu_case{"one processor, leading blanks", 1, pentium, 0x80000004u,
                    "Intel(R) Pentium(R) 4 CPU 3.00GHz "},
           cpu_case{"eight processors, runs of blanks", 8,
                    "Intel(R)  Core(TM)2   CPU 6600 @ 2.40GHz", 0x80000008u,
                    "8 x Intel(R) Core(TM)2 CPU 6600 @ 2.40GHz "},
           cpu_case{"no brand leaves", 1, pentium, 0x80000001u, ""},
           cpu_case{"no extended leaves at all, two processors", 2, pentium, 0x0000000Du, "2 x "},
           cpu_case{"none reported", 0, "AMD Athlon(tm) 64 X2", 0x80000018u,
                    "AMD Athlon(tm) 64 X2 "},
           cpu_case{"only two brand leaves", 1, "0123456789abcdef0123456789ABCDEFtail", 0x80000003u,
                    "0123456789abcdef0123456789ABCDEF "},
       }) {
    SCOPED_TRACE(c.what);
    windows_machine machine;
    machine.processors = c.processors;
    machine.cpuid = processor(c.brand, c.highest);
    const machine_report report = render_on(machine);
    EXPECT_EQ(report.lines.at("CPU: "), c.line) << report.text;
    // Leaf 0x80000000 first, then the brand leaves the highest one allows.
    std::vector<std::uint32_t> expected{0x80000000u};
    for (std::uint32_t leaf = 0x80000002u;
         leaf <= 0x80000004u && leaf <= c.highest && c.highest >= 0x80000000u; ++leaf)
      expected.push_back(leaf);
    EXPECT_EQ(report.cpuid_leaves, expected);
  }
}

TEST(windows_platform, adapters_memory_and_a_wrapping_tick) {
  struct device_case {
    const char* what;
    std::vector<display_adapter> adapters;
    const char* line;
  };
  for (const device_case& c : {
           device_case{"none", {}, "Unknown GPU"},
           device_case{"none primary", {{0x1, "Mirror Driver"}, {0x8, "Remote"}}, "Unknown GPU"},
           device_case{"one primary among others",
                       {{0x1, "Mirror Driver"}, {0x5, "ATI Radeon X1950"}, {0x0, "Other"}},
                       "ATI Radeon X1950"},
           device_case{"two primary: the later one",
                       {{0x5, "NVIDIA GeForce 8800 GT"}, {0x4, "Intel GMA 950"}},
                       "Intel GMA 950"},
       }) {
    SCOPED_TRACE(c.what);
    windows_machine machine;
    machine.adapters = c.adapters;
    const machine_report report = render_on(machine);
    EXPECT_EQ(report.lines.at("GPU: "), c.line) << report.text;
    EXPECT_EQ(report.calls.at("USER32.dll!EnumDisplayDevicesA"), c.adapters.size() + 1);
    EXPECT_TRUE(report.breaches.empty()) << ::testing::PrintToString(report.breaches);
  }

  for (const auto& [bytes, line] : {std::pair<std::uint64_t, const char*>{2147483648u, "2.01 GB"},
                                    {0, "0.01 GB"},
                                    {4293394432u, "4.01 GB"},
                                    {17165189120u, "16.00 GB"}}) {
    windows_machine machine;
    machine.total_physical_memory = bytes;
    EXPECT_EQ(render_on(machine).lines.at("RAM: "), line) << bytes;
  }

  windows_machine machine;
  machine.ticks = {0xFFFFFE0Cu, 0x000001F4u};  // 500 ms before the wrap, 500 after
  EXPECT_EQ(render_on(machine).lines.at("Total Time    : "), "1.00 sec");
}

}  // namespace
