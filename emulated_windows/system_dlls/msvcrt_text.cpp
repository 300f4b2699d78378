// msvcrt.dll's texts, numbers and times in the "C" locale: the string
// functions beyond the primitives, character classes, number conversions,
// the pseudo-random numbers (msvcrt's own sequence), the environment, the
// error texts, and time (from the process's virtual clock; local time is
// UTC). Functions answering a double return it on the x87 stack, through a
// routine of their own.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <tuple>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/host_environment.hpp"
#include "emulated_windows/system_dlls/time_conversion.hpp"

namespace {

constexpr char msvcrt[] = "msvcrt.dll";
constexpr std::uint32_t msvcrt_erange = 34;

int sign_of(int order) {
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// msvcrt's character classes (_UPPER 1, _LOWER 2, _DIGIT 4, _SPACE 8,
// _PUNCT 0x10, _CONTROL 0x20, _BLANK 0x40, _HEX 0x80, alphabetic 0x100).
std::uint32_t class_of(std::uint32_t c) {
  if (c > 0x7F)
    return 0;
  const int ch = static_cast<int>(c);
  return (std::isupper(ch) ? 0x1 : 0) | (std::islower(ch) ? 0x2 : 0) |
         (std::isdigit(ch) ? 0x4 : 0) | (std::isspace(ch) ? 0x8 : 0) |
         (std::ispunct(ch) ? 0x10 : 0) | (std::iscntrl(ch) ? 0x20 : 0) | (ch == ' ' ? 0x40 : 0) |
         (std::isxdigit(ch) ? 0x80 : 0) | (std::isalpha(ch) ? 0x100 : 0);
}

const char* error_text(std::uint32_t error) {
  static const std::map<std::uint32_t, const char*> texts = {
      {0, "No error"},
      {1, "Operation not permitted"},
      {2, "No such file or directory"},
      {3, "No such process"},
      {4, "Interrupted function call"},
      {5, "Input/output error"},
      {6, "No such device or address"},
      {7, "Arg list too long"},
      {8, "Exec format error"},
      {9, "Bad file descriptor"},
      {10, "No child processes"},
      {11, "Resource temporarily unavailable"},
      {12, "Not enough space"},
      {13, "Permission denied"},
      {14, "Bad address"},
      {16, "Resource device"},
      {17, "File exists"},
      {18, "Improper link"},
      {19, "No such device"},
      {20, "Not a directory"},
      {21, "Is a directory"},
      {22, "Invalid argument"},
      {23, "Too many open files in system"},
      {24, "Too many open files"},
      {25, "Inappropriate I/O control operation"},
      {27, "File too large"},
      {28, "No space left on device"},
      {29, "Invalid seek"},
      {30, "Read-only file system"},
      {31, "Too many links"},
      {32, "Broken pipe"},
      {33, "Domain error"},
      {34, "Result too large"},
      {36, "Resource deadlock avoided"},
      {38, "Filename too long"},
      {39, "No locks available"},
      {40, "Function not implemented"},
      {41, "Directory not empty"},
      {42, "Illegal byte sequence"},
  };
  const auto it = texts.find(error);
  return it == texts.end() ? "Unknown error" : it->second;
}

}  // namespace

void provide_msvcrt_text(windows_process& process) {
  windows_process& p = process;
  auto provide = [&p](const std::string& name, stub_handler handler) {
    p.provide(msvcrt, name, 0, std::move(handler));
  };
  x86_emulator& cpu = p.cpu;
  auto text = [&cpu](std::uint32_t at) { return cpu.read_string(at); };
  auto wide = [&cpu](std::uint32_t at) { return read_wide_string(cpu, at); };
  auto put = [&cpu](std::uint32_t at, const std::string& s) {
    cpu.write(at, s.c_str(), s.size() + 1);
  };
  auto put_wide = [&cpu](std::uint32_t at, const std::string& s) {
    write_text(cpu, at, static_cast<std::uint32_t>(s.size() + 1), s, true);
  };
  auto set_errno = [&p](std::uint32_t value) { p.cpu.write32(p.crt_errno, value); };

  // Strings, narrow and wide: the result pointers point into the arguments.
  provide("strcpy", [put, text](stub_call& c) {
    put(c.arg(0), text(c.arg(1)));
    c.result(c.arg(0));
  });
  provide("strcat", [put, text](stub_call& c) {
    const std::string head = text(c.arg(0));
    put(c.arg(0) + static_cast<std::uint32_t>(head.size()), text(c.arg(1)));
    c.result(c.arg(0));
  });
  // strncpy(to, from, n): pads with NULs to n, adds none when from is longer.
  provide("strncpy", [&cpu, text](stub_call& c) {
    std::string s = text(c.arg(1)).substr(0, c.arg(2));
    s.resize(c.arg(2), '\0');
    cpu.write(c.arg(0), s.data(), s.size());
    c.result(c.arg(0));
  });
  provide("strncat", [put, text](stub_call& c) {
    const std::string head = text(c.arg(0));
    put(c.arg(0) + static_cast<std::uint32_t>(head.size()), text(c.arg(1)).substr(0, c.arg(2)));
    c.result(c.arg(0));
  });
  provide("strrchr", [text](stub_call& c) {
    const std::string s = text(c.arg(0));
    const char wanted = static_cast<char>(c.arg(1));
    const std::size_t at = wanted == 0 ? s.size() : s.rfind(wanted);
    c.result(at == std::string::npos ? 0 : c.arg(0) + static_cast<std::uint32_t>(at));
  });
  provide("strstr", [text](stub_call& c) {
    const std::size_t at = text(c.arg(0)).find(text(c.arg(1)));
    c.result(at == std::string::npos ? 0 : c.arg(0) + static_cast<std::uint32_t>(at));
  });
  provide("strspn", [text](stub_call& c) {
    const std::size_t at = text(c.arg(0)).find_first_not_of(text(c.arg(1)));
    c.result(static_cast<std::uint32_t>(at == std::string::npos ? text(c.arg(0)).size() : at));
  });
  provide("strcspn", [text](stub_call& c) {
    const std::size_t at = text(c.arg(0)).find_first_of(text(c.arg(1)));
    c.result(static_cast<std::uint32_t>(at == std::string::npos ? text(c.arg(0)).size() : at));
  });
  provide("strpbrk", [text](stub_call& c) {
    const std::size_t at = text(c.arg(0)).find_first_of(text(c.arg(1)));
    c.result(at == std::string::npos ? 0 : c.arg(0) + static_cast<std::uint32_t>(at));
  });
  provide("_strdup", [&p, put, text](stub_call& c) {
    if (c.arg(0) == 0) {
      c.result(0);
      return;
    }
    const std::string s = text(c.arg(0));
    const std::uint32_t copy = p.heap.allocate(static_cast<std::uint32_t>(s.size() + 1));
    if (copy != 0)
      put(copy, s);
    c.result(copy);
  });
  for (const char* name : {"_stricmp", "_strcmpi"}) {
    provide(name, [text](stub_call& c) {
      c.result(static_cast<std::uint32_t>(
          sign_of(lowered(text(c.arg(0))).compare(lowered(text(c.arg(1)))))));
    });
  }
  provide("_strnicmp", [text](stub_call& c) {
    c.result(static_cast<std::uint32_t>(
        sign_of(lowered(text(c.arg(0)))
                    .substr(0, c.arg(2))
                    .compare(lowered(text(c.arg(1))).substr(0, c.arg(2))))));
  });
  provide("strcoll", [text](stub_call& c) {
    c.result(static_cast<std::uint32_t>(sign_of(text(c.arg(0)).compare(text(c.arg(1))))));
  });
  // strxfrm(to, from, n): in the "C" locale the text itself.
  provide("strxfrm", [put, text](stub_call& c) {
    const std::string s = text(c.arg(1));
    if (s.size() < c.arg(2))
      put(c.arg(0), s);
    c.result(static_cast<std::uint32_t>(s.size()));
  });
  for (const auto& [name, upper] :
       {std::pair<const char*, bool>{"_strlwr", false}, {"_strupr", true}}) {
    const bool to_upper = upper;
    provide(name, [put, text, to_upper](stub_call& c) {
      std::string s = text(c.arg(0));
      for (char& ch : s)
        ch = static_cast<char>(to_upper ? std::toupper(static_cast<unsigned char>(ch))
                                        : std::tolower(static_cast<unsigned char>(ch)));
      put(c.arg(0), s);
      c.result(c.arg(0));
    });
  }
  provide("wcslen",
          [wide](stub_call& c) { c.result(static_cast<std::uint32_t>(wide(c.arg(0)).size())); });
  provide("wcscpy", [put_wide, wide](stub_call& c) {
    put_wide(c.arg(0), wide(c.arg(1)));
    c.result(c.arg(0));
  });
  provide("wcscat", [put_wide, wide](stub_call& c) {
    const std::string head = wide(c.arg(0));
    put_wide(c.arg(0) + 2 * static_cast<std::uint32_t>(head.size()), wide(c.arg(1)));
    c.result(c.arg(0));
  });
  provide("wcsncpy", [&cpu, wide](stub_call& c) {
    std::string s = wide(c.arg(1)).substr(0, c.arg(2));
    s.resize(c.arg(2), '\0');
    for (std::uint32_t i = 0; i < s.size(); ++i) {
      const std::uint16_t unit = static_cast<unsigned char>(s[i]);
      cpu.write(c.arg(0) + 2 * i, &unit, 2);
    }
    c.result(c.arg(0));
  });
  for (const char* name : {"wcscmp", "wcscoll"}) {
    provide(name, [wide](stub_call& c) {
      c.result(static_cast<std::uint32_t>(sign_of(wide(c.arg(0)).compare(wide(c.arg(1))))));
    });
  }
  provide("wcsncmp", [wide](stub_call& c) {
    c.result(static_cast<std::uint32_t>(
        sign_of(wide(c.arg(0)).substr(0, c.arg(2)).compare(wide(c.arg(1)).substr(0, c.arg(2))))));
  });
  provide("_wcsicmp", [wide](stub_call& c) {
    c.result(static_cast<std::uint32_t>(
        sign_of(lowered(wide(c.arg(0))).compare(lowered(wide(c.arg(1)))))));
  });
  // wcschr and wcsrchr: the first or last of a character; its NUL counts.
  for (const auto& [name, last] :
       {std::pair<const char*, bool>{"wcschr", false}, {"wcsrchr", true}}) {
    const bool from_the_end = last;
    provide(name, [wide, from_the_end](stub_call& c) {
      const std::string s = wide(c.arg(0));
      const std::uint32_t wanted = c.arg(1) & 0xFFFF;
      const char ch = static_cast<char>(wanted);
      const std::size_t at = wanted == 0     ? s.size()
                             : wanted > 0xFF ? std::string::npos
                             : from_the_end  ? s.rfind(ch)
                                             : s.find(ch);
      c.result(at == std::string::npos ? 0 : c.arg(0) + 2 * static_cast<std::uint32_t>(at));
    });
  }
  provide("wcsxfrm", [put_wide, wide](stub_call& c) {
    const std::string s = wide(c.arg(1));
    if (s.size() < c.arg(2))
      put_wide(c.arg(0), s);
    c.result(static_cast<std::uint32_t>(s.size()));
  });
  // mbstowcs and wcstombs between ISO 8859-1 and UTF-16.
  provide("mbstowcs", [&cpu, text](stub_call& c) {
    const std::string s = text(c.arg(1));
    if (c.arg(0) != 0) {
      const std::string kept = s.substr(0, c.arg(2));
      write_text(cpu, c.arg(0), static_cast<std::uint32_t>(kept.size() + 1), kept, true);
    }
    c.result(static_cast<std::uint32_t>(
        std::min<std::size_t>(s.size(), c.arg(0) ? c.arg(2) : s.size())));
  });
  provide("wcstombs", [&cpu, wide](stub_call& c) {
    const std::string s = wide(c.arg(1));
    if (c.arg(0) != 0) {
      const std::string kept = s.substr(0, c.arg(2));
      cpu.write(c.arg(0), kept.c_str(), std::min<std::size_t>(kept.size() + 1, c.arg(2)));
    }
    c.result(static_cast<std::uint32_t>(
        std::min<std::size_t>(s.size(), c.arg(0) ? c.arg(2) : s.size())));
  });

  // Character classes and case, narrow and wide.
  for (const auto& [name, mask] : {std::pair<const char*, std::uint32_t>{"isalpha", 0x103},
                                   {"isdigit", 0x4},
                                   {"isspace", 0x8},
                                   {"ispunct", 0x10},
                                   {"isalnum", 0x107},
                                   {"isupper", 0x1},
                                   {"islower", 0x2},
                                   {"isxdigit", 0x80},
                                   {"isprint", 0x1D7},
                                   {"isgraph", 0x197},
                                   {"iscntrl", 0x20},
                                   {"iswalpha", 0x103},
                                   {"iswdigit", 0x4},
                                   {"iswspace", 0x8},
                                   {"iswpunct", 0x10},
                                   {"iswalnum", 0x107},
                                   {"iswupper", 0x1},
                                   {"iswlower", 0x2},
                                   {"iswxdigit", 0x80},
                                   {"iswprint", 0x1D7},
                                   {"iswgraph", 0x197},
                                   {"iswcntrl", 0x20}}) {
    const std::uint32_t classes = mask;
    const bool is_print = std::string(name).find("print") != std::string::npos;
    provide(name, [classes, is_print](stub_call& c) {
      const std::uint32_t ch = c.arg(0) & 0xFFFF;
      // isprint: a space too, which has _BLANK and _SPACE.
      c.result((class_of(ch) & classes) != 0 || (is_print && ch == ' ') ? 1 : 0);
    });
  }
  provide("iswctype",
          [](stub_call& c) { c.result(class_of(c.arg(0) & 0xFFFF) & c.arg(1) & 0xFFFF); });
  provide("isleadbyte", [](stub_call& c) { c.result(0); });
  for (const auto& [name, upper] : {std::pair<const char*, bool>{"tolower", false},
                                    {"towlower", false},
                                    {"_tolower", false},
                                    {"toupper", true},
                                    {"towupper", true},
                                    {"_toupper", true}}) {
    const bool to_upper = upper;
    provide(name, [to_upper](stub_call& c) {
      const int ch = static_cast<int>(c.arg(0));
      c.result(ch < 0 || ch >= 0x80 ? c.arg(0)
               : to_upper           ? static_cast<std::uint32_t>(std::toupper(ch))
                                    : static_cast<std::uint32_t>(std::tolower(ch)));
    });
  }

  // Numbers from texts: the host's conversions in its "C" locale, with
  // msvcrt's 32-bit long and ERANGE.
  auto integer = [&cpu, text, set_errno](stub_call& c, bool is_signed, bool wide_result,
                                         bool has_end) {
    const std::string s = text(c.arg(0));
    const int base = has_end ? static_cast<int>(c.arg(2)) : 10;
    char* end = nullptr;
    errno = 0;
    std::uint64_t value = 0;
    bool overflow = false;
    if (is_signed) {
      const long long v = std::strtoll(s.c_str(), &end, base);
      overflow = errno == ERANGE || (!wide_result && (v > 0x7FFFFFFFLL || v < -0x80000000LL));
      value = static_cast<std::uint64_t>(
          !overflow || wide_result ? v : (v > 0 ? 0x7FFFFFFFLL : -0x80000000LL));
    } else {
      const unsigned long long v = std::strtoull(s.c_str(), &end, base);
      overflow = errno == ERANGE ||
                 (!wide_result && v > 0xFFFFFFFFull && s.find('-') == std::string::npos);
      value = !overflow || wide_result ? v : 0xFFFFFFFFull;
    }
    if (overflow && has_end)
      set_errno(msvcrt_erange);
    if (has_end && c.arg(1) != 0)
      cpu.write32(c.arg(1), c.arg(0) + static_cast<std::uint32_t>(end - s.c_str()));
    if (wide_result)
      c.result64(value);
    else
      c.result(static_cast<std::uint32_t>(value));
  };
  provide("atoi", [integer](stub_call& c) { integer(c, true, false, false); });
  provide("atol", [integer](stub_call& c) { integer(c, true, false, false); });
  provide("_atoi64", [integer](stub_call& c) { integer(c, true, true, false); });
  provide("strtol", [integer](stub_call& c) { integer(c, true, false, true); });
  provide("strtoul", [integer](stub_call& c) { integer(c, false, false, true); });
  provide("_strtoi64", [integer](stub_call& c) { integer(c, true, true, true); });
  provide("_strtoui64", [integer](stub_call& c) { integer(c, false, true, true); });
  // _itoa(value, to, base) and its kin: the text of the number.
  for (const auto& [name, bits, is_signed] : {std::tuple<const char*, int, bool>{"_itoa", 32, true},
                                              {"_ltoa", 32, true},
                                              {"_ultoa", 32, false},
                                              {"_i64toa", 64, true},
                                              {"_ui64toa", 64, false}}) {
    const bool wide_value = bits == 64, signed_value = is_signed;
    provide(name, [put, wide_value, signed_value](stub_call& c) {
      const std::uint64_t raw =
          wide_value ? (std::uint64_t{c.arg(1)} << 32 | c.arg(0)) : std::uint64_t{c.arg(0)};
      const int at = wide_value ? 2 : 1;
      const unsigned base = c.arg(at + 1);
      const bool negative =
          signed_value && base == 10 &&
          (wide_value ? static_cast<std::int64_t>(raw) < 0 : static_cast<std::int32_t>(raw) < 0);
      const std::uint64_t magnitude =
          !negative    ? raw
          : wide_value ? 0 - raw
                       : static_cast<std::uint64_t>(
                             -static_cast<std::int64_t>(static_cast<std::int32_t>(raw)));
      put(c.arg(at), number_text(magnitude, base < 2 || base > 36 ? 10 : base, negative));
      c.result(c.arg(at));
    });
  }
  // atof(text) and strtod(text, end out): doubles, answered on the x87
  // stack by a routine that calls the stub, then loads what it wrote:
  //   mov eax,stub; call eax; fld qword [result]; ret
  const std::uint32_t result_slot = p.host_allocate(8, 8);
  auto returning_double = [&p, result_slot](const char* name, stub_handler compute) {
    const std::uint32_t stub = p.cpu.add_stub(std::string("msvcrt.dll!") + name, 0, compute);
    std::vector<std::uint8_t> code = {0xB8, 0, 0, 0, 0, 0xFF, 0xD0, 0xDD, 0x05, 0, 0, 0, 0, 0xC3};
    std::memcpy(code.data() + 1, &stub, 4);
    std::memcpy(code.data() + 9, &result_slot, 4);
    p.provide_data(msvcrt, name, p.cpu.add_routine(code));
  };
  // In the stubs the routine's own return address comes first: arg(1) is
  // the call's first argument.
  auto to_double = [&p, result_slot, text, set_errno](stub_call& c, bool has_end) {
    const std::string s = text(c.arg(1));
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(s.c_str(), &end);
    if (errno == ERANGE && has_end)
      set_errno(msvcrt_erange);
    if (has_end && c.arg(2) != 0)
      p.cpu.write32(c.arg(2), c.arg(1) + static_cast<std::uint32_t>(end - s.c_str()));
    p.cpu.write(result_slot, &value, 8);
  };
  returning_double("atof", [to_double](stub_call& c) { to_double(c, false); });
  returning_double("strtod", [to_double](stub_call& c) { to_double(c, true); });

  // msvcrt's pseudo-random numbers: the same sequence for the same seed.
  auto seed = std::make_shared<std::uint32_t>(1);
  provide("srand", [seed](stub_call& c) { *seed = c.arg(0); });
  provide("rand", [seed](stub_call& c) {
    *seed = *seed * 214013u + 2531011u;
    c.result(*seed >> 16 & 0x7FFF);
  });

  // The environment, msvcrt's copy of the host's: each value a text of its
  // own, kept for the process's life.
  auto values = std::make_shared<std::map<std::string, std::uint32_t>>();
  provide("getenv", [&p, text, values](stub_call& c) {
    const std::string name = text(c.arg(0));
    const auto& environment = host_environment();
    const auto it = std::find_if(environment.begin(), environment.end(), [&name](const auto& e) {
      return lowered(e.first) == lowered(name);
    });
    if (it == environment.end()) {
      c.result(0);
      return;
    }
    auto [slot, added] = values->emplace(it->first, 0);
    if (added)
      slot->second = p.host_string(it->second);
    c.result(slot->second);
  });
  // strerror(number): a text of msvcrt's, kept for the process's life.
  auto error_texts = std::make_shared<std::map<std::uint32_t, std::uint32_t>>();
  provide("strerror", [&p, error_texts](stub_call& c) {
    auto [slot, added] = error_texts->emplace(c.arg(0), 0);
    if (added)
      slot->second = p.host_string(error_text(c.arg(0)));
    c.result(slot->second);
  });

  // Time: time_t counts seconds since 1970 (32-bit in time, mktime and
  // localtime; 64-bit in their _64 forms). localtime and gmtime share one
  // struct tm, as msvcrt's do per thread.
  auto seconds_now = [&p]() {
    return static_cast<std::int64_t>((file_time_now(p) - file_time_of_1970) / 10000000);
  };
  for (const auto& [name, wide_time] :
       {std::pair<const char*, bool>{"time", false}, {"_time64", true}}) {
    const bool is64 = wide_time;
    provide(name, [&p, seconds_now, is64](stub_call& c) {
      const std::int64_t now = seconds_now();
      if (c.arg(0) != 0)
        p.cpu.write(c.arg(0), &now, is64 ? 8 : 4);
      if (is64)
        c.result64(static_cast<std::uint64_t>(now));
      else
        c.result(static_cast<std::uint32_t>(now));
    });
  }
  provide("clock", [&p](stub_call& c) {
    c.result(static_cast<std::uint32_t>(p.clock.read() / 1'000'000));  // CLOCKS_PER_SEC 1000
  });
  const std::uint32_t shared_tm = p.host_allocate(36, 4);
  for (const auto& [name, wide_time] : {std::pair<const char*, bool>{"localtime", false},
                                        {"gmtime", false},
                                        {"_localtime64", true},
                                        {"_gmtime64", true}}) {
    const bool is64 = wide_time;
    provide(name, [&p, shared_tm, is64](stub_call& c) {
      std::int64_t seconds = 0;
      p.cpu.read(c.arg(0), &seconds, is64 ? 8 : 4);
      if (!is64)
        seconds = static_cast<std::int32_t>(seconds);
      if (seconds < 0) {  // msvcrt's times start in 1970
        c.result(0);
        return;
      }
      const civil_time t = civil_of(seconds);
      const std::int32_t tm[9] = {t.second,  t.minute,    t.hour,
                                  t.day,     t.month - 1, static_cast<std::int32_t>(t.year - 1900),
                                  t.weekday, t.yearday,   0};
      p.cpu.write(shared_tm, tm, sizeof tm);
      c.result(shared_tm);
    });
  }
  // mktime(struct tm): normalises the fields and answers the time.
  for (const auto& [name, wide_time] :
       {std::pair<const char*, bool>{"mktime", false}, {"_mktime64", true}}) {
    const bool is64 = wide_time;
    provide(name, [&p, is64](stub_call& c) {
      std::int32_t tm[9];
      p.cpu.read(c.arg(0), tm, sizeof tm);
      const std::int64_t seconds = seconds_of(std::int64_t{tm[5]} + 1900, std::int64_t{tm[4]} + 1,
                                              tm[3], tm[2], tm[1], tm[0]);
      const civil_time t = civil_of(seconds);
      const std::int32_t normalised[9] = {
          t.second,  t.minute,    t.hour,
          t.day,     t.month - 1, static_cast<std::int32_t>(t.year - 1900),
          t.weekday, t.yearday,   0};
      p.cpu.write(c.arg(0), normalised, sizeof normalised);
      if (is64)
        c.result64(static_cast<std::uint64_t>(seconds));
      else
        c.result(seconds < 0 || seconds > 0x7FFFFFFF ? 0xFFFFFFFF
                                                     : static_cast<std::uint32_t>(seconds));
    });
  }
  // strftime(to, size, format, struct tm): the host's "C" locale formats.
  provide("strftime", [&p, text](stub_call& c) {
    std::int32_t fields[9];
    p.cpu.read(c.arg(3), fields, sizeof fields);
    std::tm tm{};
    tm.tm_sec = fields[0];
    tm.tm_min = fields[1];
    tm.tm_hour = fields[2];
    tm.tm_mday = fields[3];
    tm.tm_mon = fields[4];
    tm.tm_year = fields[5];
    tm.tm_wday = fields[6];
    tm.tm_yday = fields[7];
    tm.tm_isdst = fields[8];
    std::vector<char> out(std::max<std::uint32_t>(c.arg(1), 1));
    const std::string format = text(c.arg(2));
    const std::size_t n = std::strftime(out.data(), out.size(), format.c_str(), &tm);
    if (c.arg(1) != 0 && (n != 0 || format.empty()))
      p.cpu.write(c.arg(0), out.data(), n + 1);
    c.result(static_cast<std::uint32_t>(n));
  });
}
