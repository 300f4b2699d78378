#include "emulated_windows/process/windows_machine.hpp"

#include <cpuid.h>

#include <iterator>

namespace {

// What each version's GetVersionExA says, with its last service pack.
struct version_facts {
  windows_version version;
  const char* name;
  std::uint32_t major_version, minor_version, build_number;
  const char* service_pack;
  std::uint16_t service_pack_major;
};
constexpr version_facts versions[] = {
    {windows_version::windows_2000, "Windows 2000 SP4", 5, 0, 2195, "Service Pack 4", 4},
    {windows_version::xp_sp3, "Windows XP SP3", 5, 1, 2600, "Service Pack 3", 3},
    {windows_version::vista, "Windows Vista SP2", 6, 0, 6002, "Service Pack 2", 2},
    {windows_version::windows_7, "Windows 7 SP1", 6, 1, 7601, "Service Pack 1", 1},
    {windows_version::windows_8, "Windows 8", 6, 2, 9200, "", 0},
    {windows_version::windows_8_1, "Windows 8.1", 6, 3, 9600, "", 0},
    {windows_version::windows_10, "Windows 10", 10, 0, 19045, "", 0},
};

const version_facts& facts_of(windows_version version) {
  for (const version_facts& facts : versions)
    if (facts.version == version)
      return facts;
  return versions[std::size(versions) - 1];
}

}  // namespace

const char* windows_version_name(windows_version version) {
  return facts_of(version).name;
}

windows_machine windows_machine::of(windows_version version) {
  windows_machine m;
  m.version = version;
  const version_facts& facts = facts_of(version);
  m.major_version = facts.major_version;
  m.minor_version = facts.minor_version;
  m.build_number = facts.build_number;
  m.service_pack = facts.service_pack;
  m.service_pack_major = facts.service_pack_major;
  if (version >= windows_version::windows_7)
    return m;
  // 32-bit Professional editions on a 32-bit processor.
  m.native_architecture = 0;
  m.wow64 = false;
  if (version == windows_version::windows_2000)
    m.suite_mask = 0;
  if (version == windows_version::vista)
    m.edition = 6;  // Business
  return m;
}

cpuid_answer native_cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
  return cpuid_answer{eax, ebx, ecx, edx};
}
