#include "emulated_windows/system_dlls/emulated_data.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "emulated_windows/process/windows_process.hpp"

void dll_functions::operator()(const std::string& function, std::uint16_t popped,
                               stub_handler handler) const {
  process.provide(dll, function, popped, std::move(handler));
}

std::uint64_t read64(const x86_emulator& cpu, std::uint32_t at) {
  std::uint64_t value = 0;
  cpu.read(at, &value, 8);
  return value;
}

void write64(x86_emulator& cpu, std::uint32_t at, std::uint64_t value) {
  cpu.write(at, &value, 8);
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string read_wide_string(const x86_emulator& cpu, std::uint32_t at) {
  std::string text;
  for (;; at += 2) {
    std::uint16_t c = 0;
    cpu.read(at, &c, 2);
    if (c == 0)
      return text;
    text += c <= 0xFF ? static_cast<char>(c) : '?';
    if (text.size() > (1u << 20))
      throw emulation_error("text longer than 1 MiB characters");
  }
}

std::string read_text(const x86_emulator& cpu, std::uint32_t at, bool wide) {
  return wide ? read_wide_string(cpu, at) : cpu.read_string(at);
}

bool write_text(x86_emulator& cpu, std::uint32_t at, std::uint32_t capacity,
                const std::string& text, bool wide) {
  if (text.size() + 1 > capacity)
    return false;
  if (!wide) {
    cpu.write(at, text.c_str(), text.size() + 1);
    return true;
  }
  std::vector<std::uint16_t> units;
  for (unsigned char c : text) units.push_back(c);
  units.push_back(0);
  cpu.write(at, units.data(), 2 * units.size());
  return true;
}

std::string number_text(std::uint64_t value, unsigned base, bool negative) {
  std::string digits;
  do {
    const unsigned digit = static_cast<unsigned>(value % base);
    digits += static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    value /= base;
  } while (value != 0);
  if (negative)
    digits += '-';
  return std::string(digits.rbegin(), digits.rend());
}
