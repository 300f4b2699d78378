#include "emulated_windows/system_dlls/printf_format.hpp"

#include <cstdio>
#include <cstring>

#include "emulated_windows/system_dlls/emulated_data.hpp"

std::uint32_t emulated_arguments::word() {
  const std::uint32_t value = cpu.read32(at);
  at += 4;
  return value;
}

std::uint64_t emulated_arguments::double_word() {
  const std::uint64_t low = word();
  return low | std::uint64_t{word()} << 32;
}

namespace {

// The host's snprintf of one conversion.
template <class T>
std::string host_format(const std::string& directive, T value) {
  char small[128];
  const int n = std::snprintf(small, sizeof small, directive.c_str(), value);
  if (n < 0)
    return std::string();
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string large(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(large.data(), large.size(), directive.c_str(), value);
  large.resize(static_cast<std::size_t>(n));
  return large;
}

// msvcrt writes at least three exponent digits: 1.5e+000.
std::string three_digit_exponent(std::string text) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string::npos || e + 2 >= text.size() || (text[e + 1] != '+' && text[e + 1] != '-'))
    return text;
  std::size_t digits = 0;
  while (e + 2 + digits < text.size() && text[e + 2 + digits] >= '0' && text[e + 2 + digits] <= '9')
    ++digits;
  if (digits < 3)
    text.insert(e + 2, std::string(3 - digits, '0'));
  return text;
}

}  // namespace

std::string format_printf(x86_emulator& cpu, const std::string& format,
                          emulated_arguments& arguments) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    const std::size_t start = i++;
    std::string flags;
    while (i < format.size() && std::strchr("-+ #0", format[i]) != nullptr) flags += format[i++];
    auto number = [&]() -> std::string {
      if (i < format.size() && format[i] == '*') {
        ++i;
        return std::to_string(static_cast<std::int32_t>(arguments.word()));
      }
      std::string digits;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') digits += format[i++];
      return digits;
    };
    std::string width = number();
    if (!width.empty() && width[0] == '-') {  // a negative * width left-justifies
      flags += '-';
      width.erase(0, 1);
    }
    std::string precision;
    bool has_precision = false;
    if (i < format.size() && format[i] == '.') {
      ++i;
      has_precision = true;
      precision = number();
      if (!precision.empty() && precision[0] == '-')
        has_precision = false;  // a negative * precision is none
    }
    int size = 0;  // -1 short, 1 long (wide for c and s), 2 64-bit
    for (;;) {
      if (format.compare(i, 3, "I64") == 0) {
        size = 2;
        i += 3;
      } else if (format.compare(i, 3, "I32") == 0) {
        size = 0;
        i += 3;
      } else if (format.compare(i, 2, "ll") == 0) {
        size = 2;
        i += 2;
      } else if (i < format.size() && (format[i] == 'l' || format[i] == 'w')) {
        size = 1;
        ++i;
      } else if (i < format.size() && format[i] == 'h') {
        size = -1;
        ++i;
      } else if (i < format.size() && (format[i] == 'L' || format[i] == 'I')) {
        ++i;  // long double is double; I is the 32-bit size_t
      } else {
        break;
      }
    }
    if (i >= format.size()) {
      out += format.substr(start);
      break;
    }
    const char conversion = format[i];
    const std::string directive_head =
        "%" + flags + width + (has_precision ? "." + (precision.empty() ? "0" : precision) : "");
    switch (conversion) {
      case 'd':
      case 'i':
        if (size == 2)
          out +=
              host_format(directive_head + "lld", static_cast<long long>(arguments.double_word()));
        else
          out +=
              host_format(directive_head + "d",
                          size == -1 ? static_cast<int>(static_cast<std::int16_t>(arguments.word()))
                                     : static_cast<int>(arguments.word()));
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (size == 2)
          out += host_format(directive_head + "ll" + conversion,
                             static_cast<unsigned long long>(arguments.double_word()));
        else
          out += host_format(
              directive_head + conversion,
              size == -1 ? static_cast<unsigned>(static_cast<std::uint16_t>(arguments.word()))
                         : static_cast<unsigned>(arguments.word()));
        break;
      case 'c':
      case 'C': {
        const std::uint32_t ch =
            arguments.word() & (size == 1 || conversion == 'C' ? 0xFFFF : 0xFF);
        out += host_format("%" + flags + width + "c", static_cast<int>(ch <= 0xFF ? ch : '?'));
        break;
      }
      case 's':
      case 'S': {
        const std::uint32_t at = arguments.word();
        const bool wide = conversion == 'S' ? size != -1 : size == 1;
        const std::string text = at == 0 ? "(null)" : read_text(cpu, at, wide);
        out += host_format(directive_head + "s", text.c_str());
        break;
      }
      case 'p':
        out += host_format("%" + flags + width + "08X", static_cast<unsigned>(arguments.word()));
        break;
      case 'n':
        cpu.write32(arguments.word(), static_cast<std::uint32_t>(out.size()));
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        const std::uint64_t bits = arguments.double_word();
        double value = 0;
        std::memcpy(&value, &bits, 8);
        const std::string text = host_format(directive_head + conversion, value);
        out += conversion == 'a' || conversion == 'A' ? text : three_digit_exponent(text);
        break;
      }
      case '%':
        out += '%';
        break;
      default:  // msvcrt prints an unknown conversion's character
        out += conversion;
        break;
    }
  }
  return out;
}
