#pragma once
// The emulated process's data as the system functions read and write it:
// records assembled field by field, ANSI and UTF-16 texts, and the error
// codes the functions leave for GetLastError. The emulated system's ANSI
// code page is ISO 8859-1 (close to Windows-1252): every byte is the
// character of the same number, and a character above 0xFF is '?'.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulated_windows/cpu/x86_emulator.hpp"

class windows_process;

namespace windows_error {
inline constexpr std::uint32_t file_not_found = 2, access_denied = 5, invalid_handle = 6,
                               not_enough_memory = 8, not_supported = 50, invalid_parameter = 87,
                               insufficient_buffer = 122, mod_not_found = 126, proc_not_found = 127,
                               envvar_not_found = 203, more_data = 234, no_more_items = 259,
                               mr_mid_not_found = 317, invalid_flags = 1004;
}

// A little-endian record assembled field by field, then written at once.
struct record {
  explicit record(std::size_t size) : bytes(size, 0) {}
  template <class T>
  void put(std::size_t at, T value) {
    if (at + sizeof value > bytes.size())
      throw std::out_of_range("record field past the record's end");
    std::memcpy(bytes.data() + at, &value, sizeof value);
  }
  void put16(std::size_t at, std::uint16_t value) { put(at, value); }
  void put32(std::size_t at, std::uint32_t value) { put(at, value); }
  void put64(std::size_t at, std::uint64_t value) { put(at, value); }
  void write(x86_emulator& cpu, std::uint32_t address) const {
    cpu.write(address, bytes.data(), bytes.size());
  }
  std::vector<std::uint8_t> bytes;
};

// Provides the functions of one DLL: provide("Name", bytes popped, handler).
struct dll_functions {
  windows_process& process;
  const char* dll;
  void operator()(const std::string& function, std::uint16_t popped, stub_handler handler) const;
};

std::uint64_t read64(const x86_emulator& cpu, std::uint32_t at);
void write64(x86_emulator& cpu, std::uint32_t at, std::uint64_t value);
// "0x0000ABCD"
std::string hex(std::uint32_t value);
// In the "C" locale: ASCII letters only.
std::string lowered(std::string text);

// A NUL-terminated UTF-16 text, each character above 0xFF read as '?'.
std::string read_wide_string(const x86_emulator& cpu, std::uint32_t at);
// An ANSI (wide: false) or UTF-16 text.
std::string read_text(const x86_emulator& cpu, std::uint32_t at, bool wide);
// `text` and its NUL into a buffer of `capacity` characters; false (and
// nothing written) when it does not fit.
bool write_text(x86_emulator& cpu, std::uint32_t at, std::uint32_t capacity,
                const std::string& text, bool wide);
// The text of a 32-bit number in `base` (2 to 36), as _itoa writes it.
std::string number_text(std::uint64_t value, unsigned base, bool negative);
