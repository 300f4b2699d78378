#pragma once
// The text layer of the machine section: turns raw machine facts into the
// report's OS, CPU, GPU and RAM lines. Nothing here touches the running
// system, so every rule can be exercised on any host by handing it facts.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class system_platform;

// What the operating-system text is decided from, as the version query, the
// native system information, the WOW64 probe and the product-info query
// report them.
struct OsVersionFacts {
  std::uint32_t platform_id = 0;
  std::uint32_t major_version = 0;
  std::uint32_t minor_version = 0;
  std::uint16_t suite_mask = 0;
  std::uint8_t product_type = 0;
  // False where the WOW64 probe is unavailable.
  bool is_wow64 = false;
  std::uint16_t processor_architecture = 0;
  // Only asked for on the version-6 workstation path; 0 elsewhere.
  std::uint32_t edition_code = 0;
};

// The OS line's text: "Windows" unless the facts name a known release.
std::string describe_os(const OsVersionFacts& facts);

// Single blanks between the words of a raw brand, one blank after the last
// word; a raw brand of blanks only, or an empty one, gives "".
std::string tidy_brand_text(const std::string& raw);

// The pieces between any of the delimiter characters, empty ones included:
// n delimiters give n + 1 pieces, and "" gives one empty piece.
std::vector<std::string> split_text(const std::string& text, const char* delimiters);

// Gigabytes (2^30 bytes) plus 0.01, so that 2 GiB prints as "2.01".
double memory_gigabytes(std::uint64_t bytes);

// The four machine lines, asking the platform for the OS text, processor
// count, processor brand, adapter name and memory, in that order.
std::string describe_machine_section(system_platform& platform);

// The four registers one CPUID query leaves.
struct cpuid_registers {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};

// Runs CPUID with the given leaf and sub-leaf 0.
using cpuid_query = std::function<cpuid_registers(std::uint32_t leaf)>;

// The raw processor brand: asks leaf 0x80000000 for the highest extended
// leaf, then reads as many of the brand leaves 0x80000002..0x80000004 as it
// allows into a zeroed buffer and returns the text up to the first zero byte
// (48 characters at most).
std::string brand_from_cpuid(const cpuid_query& cpuid);

// One display device as the enumeration reports it.
struct display_device_entry {
  std::uint32_t state_flags = 0;
  std::string device_string;
};

// Reports device `index`; false once the enumeration has run out.
using display_device_query = std::function<bool(std::uint32_t index, display_device_entry& entry)>;

// Walks the devices from index 0 until the query fails; the last one flagged
// as primary (0x4) names the adapter, "Unknown GPU" when none is.
std::string primary_adapter_from(const display_device_query& query);
