#include "report/machine_text.hpp"

#include <boost/tokenizer.hpp>

#include "report/format_line.hpp"
#include "report/system_platform.hpp"

namespace {

constexpr std::uint32_t nt_platform = 2;            // VER_PLATFORM_WIN32_NT
constexpr std::uint8_t workstation_product = 1;     // VER_NT_WORKSTATION
constexpr std::uint8_t server_product = 3;          // VER_NT_SERVER
constexpr std::uint16_t personal_suite = 0x0200;    // VER_SUITE_PERSONAL
constexpr std::uint16_t intel_architecture = 0;     // PROCESSOR_ARCHITECTURE_INTEL
constexpr std::uint16_t amd64_architecture = 9;     // PROCESSOR_ARCHITECTURE_AMD64
constexpr std::uint32_t primary_device_flag = 0x4;  // DISPLAY_DEVICE_PRIMARY_DEVICE

// XP workstations (5.1, and 5.2 which is XP x64) name Home or Professional.
std::string xp_workstation_text(const OsVersionFacts& facts) {
  const char* edition = facts.is_wow64 ? " x64 Edition" : " Edition";
  const bool personal = (facts.suite_mask & personal_suite) != 0;
  return std::string(personal ? "Windows XP Home" : "Windows XP Professional") + edition;
}

// GetProductInfo's product types, folded onto the editions the report names
// (the N and server-flavoured codes share a text with their base edition).
const char* edition_text(std::uint32_t edition_code) {
  switch (edition_code) {
    case 0x01:
    case 0x1C:
      return " Ultimate Edition";
    case 0x02:
    case 0x05:
      return " Home Basic Edition";
    case 0x03:
    case 0x1A:
      return " Home Premium Edition";
    case 0x04:
    case 0x1B:
      return " Enterprise Edition";
    case 0x06:
    case 0x10:
      return " Business Edition";
    case 0x0B:
    case 0x2F:
      return " Starter Edition";
    case 0x30:
    case 0x31:
      return " Professional Edition";
    default:
      return " Unknown Edition";
  }
}

// Version 6 workstations: Vista, 7, and later minor versions that have no
// name of their own (the lone blank keeps the edition text apart).
std::string nt6_workstation_text(const OsVersionFacts& facts) {
  std::string text = "Windows";
  if (facts.minor_version == 0) {
    text += " Vista";
  } else if (facts.minor_version == 1) {
    text += " 7";
  } else {
    text += " ";
  }
  text += edition_text(facts.edition_code);
  if (facts.processor_architecture == amd64_architecture) {
    text += " 64-bit";
  } else if (facts.processor_architecture == intel_architecture) {
    text += " 32-bit";
  }
  return text;
}

void store_little_endian(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

std::string describe_os(const OsVersionFacts& facts) {
  if (facts.platform_id != nt_platform)
    return "Windows";
  if (facts.major_version == 5) {
    if (facts.minor_version == 1) {
      if (facts.product_type != workstation_product)
        return "Windows XP";
      return xp_workstation_text(facts);
    }
    if (facts.minor_version == 2) {
      if (facts.product_type == workstation_product)
        return xp_workstation_text(facts);
      if (facts.product_type == server_product)
        return "Windows Server 2003";
      return "Windows XP";
    }
    return "Windows";
  }
  if (facts.major_version == 6 && facts.product_type == workstation_product) {
    return nt6_workstation_text(facts);
  }
  return "Windows";
}

std::vector<std::string> split_text(const std::string& text, const char* delimiters) {
  const boost::char_separator<char> separator(delimiters, "", boost::keep_empty_tokens);
  const boost::tokenizer<boost::char_separator<char>> tokens(text, separator);
  std::vector<std::string> pieces;
  for (const std::string& token : tokens) pieces.push_back(token);
  // The tokenizer yields nothing at all for an empty text, which still counts
  // as one (empty) piece.
  if (pieces.empty())
    pieces.push_back(text);
  return pieces;
}

std::string tidy_brand_text(const std::string& raw) {
  // Processors pad their brand with runs of blanks (often leading ones);
  // only the blank itself separates words, so a tab stays inside its word.
  std::string tidy;
  for (const std::string& piece : split_text(raw, " ")) {
    if (piece.empty())
      continue;
    tidy += piece;
    tidy += ' ';
  }
  return tidy;
}

double memory_gigabytes(std::uint64_t bytes) {
  double gigabytes = static_cast<double>(bytes);
  gigabytes *= 0.0009765625;
  gigabytes *= 0.0009765625;
  gigabytes *= 0.0009765625;
  // Installed memory reads a little under its nominal size once firmware
  // reservations are taken off; the nudge makes such figures round up.
  return gigabytes + 0.01;
}

std::string describe_machine_section(system_platform& platform) {
  std::string section;
  section += format_line("OS : %s\n", platform.operating_system_text());

  const int count = platform.processor_count();
  const std::string brand = tidy_brand_text(platform.read_processor_brand());
  if (count > 1) {
    section += format_line("CPU: %d x %s\n", count, brand);
  } else {
    section += format_line("CPU: %s\n", brand);
  }

  section += format_line("GPU: %s\n", platform.primary_adapter_name());

  const double gigabytes = memory_gigabytes(platform.total_physical_memory());
  section += format_line("RAM: %.2f GB\n", gigabytes);
  return section;
}

std::string brand_from_cpuid(const cpuid_query& cpuid) {
  constexpr std::uint32_t extended_base = 0x80000000u;
  constexpr std::uint32_t first_brand_leaf = 0x80000002u;
  constexpr std::uint32_t last_brand_leaf = 0x80000004u;

  const std::uint32_t highest_leaf = cpuid(extended_base).eax;
  // 48 brand bytes at most, so bytes 48 to 63 always end the text.
  unsigned char buffer[64] = {};
  // Processors without extended leaves answer with a basic-leaf number.
  if (highest_leaf >= extended_base) {
    for (std::uint32_t leaf = first_brand_leaf; leaf <= last_brand_leaf && leaf <= highest_leaf;
         ++leaf) {
      const cpuid_registers registers = cpuid(leaf);
      unsigned char* out = buffer + 16 * (leaf - first_brand_leaf);
      store_little_endian(out, registers.eax);
      store_little_endian(out + 4, registers.ebx);
      store_little_endian(out + 8, registers.ecx);
      store_little_endian(out + 12, registers.edx);
    }
  }
  return std::string(reinterpret_cast<const char*>(buffer));
}

std::string primary_adapter_from(const display_device_query& query) {
  std::string name = "Unknown GPU";
  // Keep going past the first primary adapter: with several flagged, the
  // last one in enumeration order names the GPU.
  for (std::uint32_t index = 0;; ++index) {
    display_device_entry entry;
    if (!query(index, entry))
      break;
    if ((entry.state_flags & primary_device_flag) != 0)
      name = entry.device_string;
  }
  return name;
}
