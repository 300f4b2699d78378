#pragma once
// msvcrt's printf formatting (and user32's wsprintf, a subset of it) of a
// format and the argument list of an emulated call: flags, width and
// precision (also as *), the h, l, ll, L, I64, I32 and w sizes, and the
// conversions d i u o x X c C s S p n e E f F g G a A and %. As msvcrt
// does, exponents have three digits and a null text prints as "(null)".

#include <cstdint>
#include <string>

class x86_emulator;

// The argument list: 32-bit words from `at` on, in the emulated memory.
struct emulated_arguments {
  x86_emulator& cpu;
  std::uint32_t at;
  std::uint32_t word();
  std::uint64_t double_word();
};

std::string format_printf(x86_emulator& cpu, const std::string& format,
                          emulated_arguments& arguments);
