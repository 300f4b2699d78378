// KERNEL32.dll's texts: conversions between the ANSI code page and UTF-16,
// the code page and locale queries (United States English, code page
// 1252 read as ISO 8859-1), the lstr functions, comparisons and case
// mappings. Case and classes follow the "C" locale: ASCII letters only.

#include <algorithm>
#include <cctype>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

using namespace windows_error;
constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t ansi_code_page = 1252, oem_code_page = 437, english_us = 0x0409;

// A text of `length` characters (-1: up to its NUL) at `at`.
std::string text_of(const x86_emulator& cpu, std::uint32_t at, std::uint32_t length, bool wide) {
  if (length == 0xFFFFFFFF)
    return read_text(cpu, at, wide);
  std::string text;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (wide) {
      std::uint16_t unit = 0;
      cpu.read(at + 2 * i, &unit, 2);
      text += unit <= 0xFF ? static_cast<char>(unit) : '?';
    } else {
      text += static_cast<char>(cpu.read_bytes(at + i, 1)[0]);
    }
  }
  return text;
}

int order(const std::string& a, const std::string& b) {
  const int o = a.compare(b);
  return o < 0 ? -1 : o > 0 ? 1 : 0;
}

// The locale facts GetLocaleInfo answers, by LCTYPE.
const char* locale_fact(std::uint32_t type) {
  switch (type & 0xFFFF) {
    case 0x0001:
      return "0409";  // LOCALE_ILANGUAGE
    case 0x0002:
      return "English (United States)";
    case 0x0003:
      return "ENU";  // LOCALE_SABBREVLANGNAME
    case 0x0006:
      return "United States";
    case 0x000E:
      return ".";  // LOCALE_SDECIMAL
    case 0x000F:
      return ",";  // LOCALE_STHOUSAND
    case 0x0014:
      return "$";  // LOCALE_SCURRENCY
    case 0x001F:
      return "M/d/yyyy";  // LOCALE_SSHORTDATE
    case 0x0020:
      return "dddd, MMMM dd, yyyy";
    case 0x0059:
      return "en";  // LOCALE_SISO639LANGNAME
    case 0x005A:
      return "US";  // LOCALE_SISO3166CTRYNAME
    case 0x1001:
      return "English";  // LOCALE_SENGLANGUAGE
    case 0x1002:
      return "United States";
    case 0x1003:
      return "437";  // LOCALE_IDEFAULTCODEPAGE
    case 0x1004:
      return "1252";  // LOCALE_IDEFAULTANSICODEPAGE
    default:
      return nullptr;
  }
}

}  // namespace

void provide_kernel32_text(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};
  auto fail = [&p](stub_call& c, std::uint32_t error) {
    p.set_last_error(error);
    c.result(0);
  };

  // WideCharToMultiByte(code page, flags, wide, length, narrow, size,
  // default char, used default out)
  provide("WideCharToMultiByte", 32, [&p, fail](stub_call& c) {
    std::vector<std::uint16_t> wide;
    for (std::uint32_t at = c.arg(2), i = 0; c.arg(3) == 0xFFFFFFFF || i < c.arg(3); ++i, at += 2) {
      std::uint16_t w = 0;
      p.cpu.read(at, &w, 2);
      wide.push_back(w);
      if (c.arg(3) == 0xFFFFFFFF && w == 0)
        break;
    }
    std::vector<std::uint8_t> narrow;
    bool used_default = false;
    for (std::uint16_t w : wide) {
      used_default = used_default || w > 0xFF;
      narrow.push_back(w > 0xFF ? '?' : static_cast<std::uint8_t>(w));
    }
    if (c.arg(7) != 0)
      p.cpu.write32(c.arg(7), used_default ? 1 : 0);
    if (c.arg(5) != 0) {
      if (narrow.size() > c.arg(5))
        return fail(c, insufficient_buffer);
      p.cpu.write(c.arg(4), narrow.data(), narrow.size());
    }
    c.result(static_cast<std::uint32_t>(narrow.size()));
  });
  // MultiByteToWideChar(code page, flags, narrow, length, wide, size)
  provide("MultiByteToWideChar", 24, [&p, fail](stub_call& c) {
    std::vector<std::uint16_t> wide;
    for (std::uint32_t at = c.arg(2), i = 0; c.arg(3) == 0xFFFFFFFF || i < c.arg(3); ++i, ++at) {
      const std::uint8_t b = p.cpu.read_bytes(at, 1)[0];
      wide.push_back(b);
      if (c.arg(3) == 0xFFFFFFFF && b == 0)
        break;
    }
    if (c.arg(5) != 0) {
      if (wide.size() > c.arg(5))
        return fail(c, insufficient_buffer);
      p.cpu.write(c.arg(4), wide.data(), 2 * wide.size());
    }
    c.result(static_cast<std::uint32_t>(wide.size()));
  });

  // Code pages: one byte a character, no lead bytes.
  provide("GetACP", 0, [](stub_call& c) { c.result(ansi_code_page); });
  provide("GetOEMCP", 0, [](stub_call& c) { c.result(oem_code_page); });
  provide("IsValidCodePage", 4, [](stub_call& c) {
    c.result(c.arg(0) == ansi_code_page || c.arg(0) == oem_code_page || c.arg(0) == 65001 ? 1 : 0);
  });
  // GetCPInfo(code page, CPINFO out): MaxCharSize 1, DefaultChar "?".
  provide("GetCPInfo", 8, [&p](stub_call& c) {
    record r(20);
    r.put32(0, 1);
    r.bytes[4] = '?';
    r.write(p.cpu, c.arg(1));
    c.result(1);
  });
  provide("IsDBCSLeadByte", 4, [](stub_call& c) { c.result(0); });
  provide("IsDBCSLeadByteEx", 8, [](stub_call& c) { c.result(0); });

  // Locales: United States English everywhere.
  for (const char* name :
       {"GetUserDefaultLCID", "GetSystemDefaultLCID", "GetThreadLocale", "GetUserDefaultLangID",
        "GetSystemDefaultLangID", "GetUserDefaultUILanguage", "GetSystemDefaultUILanguage"})
    provide(name, 0, [](stub_call& c) { c.result(english_us); });
  // GetLocaleInfo(locale, type, buffer, size): the length with the NUL;
  // size 0 asks for it.
  for (const bool wide : {false, true}) {
    provide(std::string("GetLocaleInfo") + (wide ? "W" : "A"), 16, [&p, fail, wide](stub_call& c) {
      const char* fact = locale_fact(c.arg(1));
      if (fact == nullptr)
        return fail(c, invalid_flags);
      const std::string text = fact;
      if (c.arg(3) != 0 && !write_text(p.cpu, c.arg(2), c.arg(3), text, wide))
        return fail(c, insufficient_buffer);
      c.result(static_cast<std::uint32_t>(text.size() + 1));
    });
  }

  // The lstr functions, under their A, W and (ANSI) unsuffixed names. A
  // null text is an empty one, as Windows' exception handler makes it.
  for (const std::string suffix : {"A", "W", ""}) {
    const bool wide = suffix == "W";
    const std::uint32_t unit = wide ? 2 : 1;
    auto text = [&p, wide](std::uint32_t at) {
      return at == 0 ? std::string() : read_text(p.cpu, at, wide);
    };
    provide("lstrlen" + suffix, 4,
            [text](stub_call& c) { c.result(static_cast<std::uint32_t>(text(c.arg(0)).size())); });
    provide("lstrcpy" + suffix, 8, [&p, text, wide](stub_call& c) {
      const std::string s = text(c.arg(1));
      write_text(p.cpu, c.arg(0), static_cast<std::uint32_t>(s.size() + 1), s, wide);
      c.result(c.arg(0));
    });
    // lstrcpyn(to, from, size): at most size - 1 characters and a NUL.
    provide("lstrcpyn" + suffix, 12, [&p, text, wide](stub_call& c) {
      if (c.arg(2) == 0) {
        c.result(c.arg(0));
        return;
      }
      const std::string s = text(c.arg(1)).substr(0, c.arg(2) - 1);
      write_text(p.cpu, c.arg(0), c.arg(2), s, wide);
      c.result(c.arg(0));
    });
    provide("lstrcat" + suffix, 8, [&p, text, wide, unit](stub_call& c) {
      const std::string head = text(c.arg(0)), tail = text(c.arg(1));
      write_text(p.cpu, c.arg(0) + unit * static_cast<std::uint32_t>(head.size()),
                 static_cast<std::uint32_t>(tail.size() + 1), tail, wide);
      c.result(c.arg(0));
    });
    provide("lstrcmp" + suffix, 8, [text](stub_call& c) {
      c.result(static_cast<std::uint32_t>(order(text(c.arg(0)), text(c.arg(1)))));
    });
    provide("lstrcmpi" + suffix, 8, [text](stub_call& c) {
      c.result(static_cast<std::uint32_t>(order(lowered(text(c.arg(0))), lowered(text(c.arg(1))))));
    });
    if (suffix.empty())
      continue;
    // CompareString(locale, flags, a, a length, b, b length): 1 less, 2
    // equal, 3 greater; NORM_IGNORECASE (1) folds case.
    provide("CompareString" + suffix, 24, [&p, wide](stub_call& c) {
      std::string a = text_of(p.cpu, c.arg(2), c.arg(3), wide);
      std::string b = text_of(p.cpu, c.arg(4), c.arg(5), wide);
      if ((c.arg(1) & 1) != 0) {
        a = lowered(a);
        b = lowered(b);
      }
      c.result(static_cast<std::uint32_t>(order(a, b) + 2));
    });
    // LCMapString(locale, flags, from, length, to, size): LCMAP_LOWERCASE
    // (0x100) and LCMAP_UPPERCASE (0x200); other mappings copy.
    provide("LCMapString" + suffix, 24, [&p, fail, wide, unit](stub_call& c) {
      // A length of -1 maps the text up to its NUL, and the NUL too.
      std::string s = text_of(p.cpu, c.arg(2), c.arg(3), wide);
      if (c.arg(3) == 0xFFFFFFFF)
        s += '\0';
      for (char& ch : s) {
        if ((c.arg(1) & 0x100) != 0)
          ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        else if ((c.arg(1) & 0x200) != 0)
          ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      }
      const std::uint32_t length = static_cast<std::uint32_t>(s.size());
      if (c.arg(5) != 0) {
        if (length > c.arg(5))
          return fail(c, insufficient_buffer);
        for (std::uint32_t i = 0; i < length; ++i) {
          const std::uint16_t ch = static_cast<unsigned char>(s[i]);
          p.cpu.write(c.arg(4) + unit * i, &ch, unit);
        }
      }
      c.result(length);
    });
  }
  // GetStringTypeW(CT_CTYPE1, text, length, types out)
  provide("GetStringTypeW", 16, [&p, fail](stub_call& c) {
    if (c.arg(0) != 1)
      return fail(c, invalid_flags);
    const std::string s = text_of(p.cpu, c.arg(1), c.arg(2), true);
    for (std::size_t i = 0; i < s.size(); ++i) {
      const int ch = static_cast<unsigned char>(s[i]);
      const std::uint16_t type = (std::isupper(ch) ? 0x1 : 0) | (std::islower(ch) ? 0x2 : 0) |
                                 (std::isdigit(ch) ? 0x4 : 0) | (std::isspace(ch) ? 0x8 : 0) |
                                 (std::ispunct(ch) ? 0x10 : 0) | (std::iscntrl(ch) ? 0x20 : 0) |
                                 (ch == ' ' || ch == '\t' ? 0x40 : 0) |
                                 (std::isxdigit(ch) ? 0x80 : 0) | (std::isalpha(ch) ? 0x100 : 0);
      p.cpu.write(c.arg(3) + 2 * static_cast<std::uint32_t>(i), &type, 2);
    }
    c.result(1);
  });
  // The system's message texts are not there: FormatMessage finds none, as
  // for a message number Windows does not know.
  for (const char* name : {"FormatMessageA", "FormatMessageW"})
    provide(name, 28, [fail](stub_call& c) { fail(c, mr_mid_not_found); });
}
