// msvcrt.dll as the module uses it: cdecl functions (the caller pops), the
// heap, the memory and string primitives, console output and printf, the
// CRT's start-up table walk, setjmp and longjmp, signals, and the ways a C
// runtime ends a process or a thread, which a plug-in must never take.
// msvcrt_text.cpp has the rest of its texts, numbers and times.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include <unicorn/unicorn.h>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"
#include "emulated_windows/system_dlls/printf_format.hpp"

namespace {

constexpr char msvcrt[] = "msvcrt.dll";
constexpr std::uint32_t file_record_size = 32;  // msvcrt's FILE
constexpr std::uint32_t file_records = 20;

// _initterm(begin, end) calls every non-null pointer in [begin, end): the
// calls go back into the module, so it runs as x86 code.
//   push esi; push edi; mov esi,[esp+12]; mov edi,[esp+16]
//   next: cmp esi,edi; jae done; mov eax,[esi]; test eax,eax; jz skip; call eax
//   skip: add esi,4; jmp next
//   done: pop edi; pop esi; ret
const std::vector<std::uint8_t> initterm_code = {
    0x56, 0x57, 0x8B, 0x74, 0x24, 0x0C, 0x8B, 0x7C, 0x24, 0x10, 0x39, 0xFE, 0x73, 0x0D, 0x8B,
    0x06, 0x85, 0xC0, 0x74, 0x02, 0xFF, 0xD0, 0x83, 0xC6, 0x04, 0xEB, 0xEF, 0x5F, 0x5E, 0xC3};

}  // namespace

void provide_msvcrt(windows_process& process) {
  windows_process& p = process;
  auto provide = [&p](const char* name, stub_handler handler) {
    p.provide(msvcrt, name, 0, std::move(handler));
  };

  p.iob = p.host_allocate(file_record_size * file_records, 8);
  p.provide_data(msvcrt, "_iob", p.iob);
  const std::uint32_t mb_cur_max = p.host_allocate(4, 4);
  p.cpu.write32(mb_cur_max, 1);  // the "C" locale's single-byte characters
  p.provide_data(msvcrt, "__mb_cur_max", mb_cur_max);
  p.crt_errno = p.host_allocate(4, 4);
  const std::uint32_t errno_location = p.crt_errno;
  // The "C" locale's code page, which the runtime reads as data.
  p.provide_data(msvcrt, "__lc_codepage", p.host_allocate(4, 4));

  const std::uint32_t initterm = p.cpu.add_routine(initterm_code);
  p.provide_data(msvcrt, "_initterm", initterm);

  provide("malloc", [&p](stub_call& c) { c.result(p.heap.allocate(c.arg(0))); });
  provide("calloc", [&p](stub_call& c) {
    const std::uint64_t size = std::uint64_t{c.arg(0)} * c.arg(1);
    if (size > 0xFFFFFFFFu) {
      c.result(0);
      return;
    }
    const std::uint32_t block = p.heap.allocate(static_cast<std::uint32_t>(size));
    if (block != 0) {
      const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(size), 0);
      p.cpu.write(block, zeros.data(), zeros.size());
    }
    c.result(block);
  });
  provide("realloc", [&p](stub_call& c) {
    const std::uint32_t old_block = c.arg(0), size = c.arg(1);
    if (old_block == 0) {
      c.result(p.heap.allocate(size));
      return;
    }
    const std::int64_t old_size = p.heap.size_of(old_block);
    if (old_size < 0) {
      p.heap.release(old_block);  // records the misuse
      c.result(0);
      return;
    }
    if (size == 0) {
      p.heap.release(old_block);
      c.result(0);
      return;
    }
    const std::uint32_t block = p.heap.allocate(size);
    if (block != 0) {
      const std::size_t kept = std::min<std::size_t>(static_cast<std::size_t>(old_size), size);
      p.cpu.write(block, p.cpu.read_bytes(old_block, kept).data(), kept);
      p.heap.release(old_block);
    }
    c.result(block);
  });
  provide("free", [&p](stub_call& c) {
    if (c.arg(0) != 0)
      p.heap.release(c.arg(0));
  });

  for (const char* name : {"memcpy", "memmove"}) {
    provide(name, [&p](stub_call& c) {
      p.cpu.write(c.arg(0), p.cpu.read_bytes(c.arg(1), c.arg(2)).data(), c.arg(2));
      c.result(c.arg(0));
    });
  }
  provide("_msize", [&p](stub_call& c) {
    const std::int64_t size = p.heap.size_of(c.arg(0));
    c.result(size < 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(size));
  });
  provide("memset", [&p](stub_call& c) {
    const std::vector<std::uint8_t> fill(c.arg(2), static_cast<std::uint8_t>(c.arg(1)));
    p.cpu.write(c.arg(0), fill.data(), fill.size());
    c.result(c.arg(0));
  });
  provide("memcmp", [&p](stub_call& c) {
    const auto a = p.cpu.read_bytes(c.arg(0), c.arg(2)), b = p.cpu.read_bytes(c.arg(1), c.arg(2));
    const int order = c.arg(2) == 0 ? 0 : std::memcmp(a.data(), b.data(), a.size());
    c.result(static_cast<std::uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0));
  });
  provide("memchr", [&p](stub_call& c) {
    const auto bytes = p.cpu.read_bytes(c.arg(0), c.arg(2));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == static_cast<std::uint8_t>(c.arg(1))) {
        c.result(c.arg(0) + static_cast<std::uint32_t>(i));
        return;
      }
    }
    c.result(0);
  });
  provide("strlen", [&p](stub_call& c) {
    c.result(static_cast<std::uint32_t>(p.cpu.read_string(c.arg(0)).size()));
  });
  provide("strcmp", [&p](stub_call& c) {
    const int order = p.cpu.read_string(c.arg(0)).compare(p.cpu.read_string(c.arg(1)));
    c.result(static_cast<std::uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0));
  });
  provide("strncmp", [&p](stub_call& c) {
    const std::string a = p.cpu.read_string(c.arg(0)).substr(0, c.arg(2));
    const std::string b = p.cpu.read_string(c.arg(1)).substr(0, c.arg(2));
    const int order = a.compare(b);
    c.result(static_cast<std::uint32_t>(order < 0 ? -1 : order > 0 ? 1 : 0));
  });
  provide("strchr", [&p](stub_call& c) {
    const std::string text = p.cpu.read_string(c.arg(0));
    const char wanted = static_cast<char>(c.arg(1));
    // The terminating NUL counts as part of the string.
    const std::size_t at = wanted == 0 ? text.size() : text.find(wanted);
    c.result(at == std::string::npos ? 0 : c.arg(0) + static_cast<std::uint32_t>(at));
  });

  // Only the "C" locale exists: asking for it or querying gives "C".
  const std::uint32_t c_locale = p.host_string("C");
  provide("setlocale", [&p, c_locale](stub_call& c) {
    const std::string wanted = c.arg(1) == 0 ? "C" : p.cpu.read_string(c.arg(1));
    c.result(wanted == "C" || wanted.empty() ? c_locale : 0);
  });

  // struct lconv of the "C" locale: ten texts, "." the decimal point and
  // the rest empty, then eight numbers at CHAR_MAX (not available).
  const std::uint32_t lconv = p.host_allocate(48, 4);
  {
    const std::uint32_t point = p.host_string("."), empty = p.host_string("");
    for (std::uint32_t i = 0; i < 10; ++i) p.cpu.write32(lconv + 4 * i, i == 0 ? point : empty);
    const std::vector<std::uint8_t> unavailable(8, 127);
    p.cpu.write(lconv + 40, unavailable.data(), unavailable.size());
  }
  provide("localeconv", [lconv](stub_call& c) { c.result(lconv); });

  provide("_errno", [errno_location](stub_call& c) { c.result(errno_location); });
  provide("_lock", [](stub_call&) {});
  provide("_unlock", [](stub_call&) {});

  // Console output: only the three standard streams exist.
  auto stream_of = [&p](std::uint32_t file) {
    for (int stream = 0; stream < 3; ++stream) {
      if (file == p.iob + file_record_size * static_cast<std::uint32_t>(stream))
        return stream;
    }
    p.breach("output to a FILE that is no standard stream");
    return -1;
  };
  provide("fputs", [&p, stream_of](stub_call& c) {
    p.console_write(stream_of(c.arg(1)), p.cpu.read_string(c.arg(0)));
    c.result(0);
  });
  provide("fputc", [&p, stream_of](stub_call& c) {
    p.console_write(stream_of(c.arg(1)), std::string(1, static_cast<char>(c.arg(0))));
    c.result(c.arg(0) & 0xFF);
  });
  provide("fwrite", [&p, stream_of](stub_call& c) {
    const std::uint64_t size = std::uint64_t{c.arg(1)} * c.arg(2);
    const auto bytes = p.cpu.read_bytes(c.arg(0), static_cast<std::size_t>(size));
    p.console_write(stream_of(c.arg(3)), std::string(bytes.begin(), bytes.end()));
    c.result(c.arg(2));
  });

  provide("__iob_func", [&p](stub_call& c) { c.result(p.iob); });
  provide("fflush", [](stub_call& c) { c.result(0); });
  provide("puts", [&p](stub_call& c) {
    p.console_write(1, p.cpu.read_string(c.arg(0)) + "\n");
    c.result(0);
  });
  provide("putchar", [&p](stub_call& c) {
    p.console_write(1, std::string(1, static_cast<char>(c.arg(0))));
    c.result(c.arg(0) & 0xFF);
  });

  // printf and its kin: (format, ...) or (format, va_list), to a stream or
  // into a buffer. _snprintf and _vsnprintf store at most `size`
  // characters and answer -1 when the text is longer, without a NUL then.
  auto formatted = [&p](std::uint32_t format, std::uint32_t arguments) {
    emulated_arguments list{p.cpu, arguments};
    return format_printf(p.cpu, p.cpu.read_string(format), list);
  };
  auto stack_at = [&p](int index) {
    return p.cpu.reg(UC_X86_REG_ESP) + 4 + 4 * static_cast<std::uint32_t>(index);
  };
  auto store = [&p](std::uint32_t to, const std::string& text) {
    p.cpu.write(to, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
  };
  auto store_bounded = [&p](std::uint32_t to, std::uint32_t size, const std::string& text) {
    p.cpu.write(to, text.data(), std::min<std::size_t>(text.size() + 1, size));
    return text.size() > size ? 0xFFFFFFFFu : static_cast<std::uint32_t>(text.size());
  };
  provide("printf", [&p, formatted, stack_at](stub_call& c) {
    const std::string text = formatted(c.arg(0), stack_at(1));
    p.console_write(1, text);
    c.result(static_cast<std::uint32_t>(text.size()));
  });
  provide("vprintf", [&p, formatted](stub_call& c) {
    const std::string text = formatted(c.arg(0), c.arg(1));
    p.console_write(1, text);
    c.result(static_cast<std::uint32_t>(text.size()));
  });
  provide("fprintf", [&p, formatted, stack_at, stream_of](stub_call& c) {
    const std::string text = formatted(c.arg(1), stack_at(2));
    p.console_write(stream_of(c.arg(0)), text);
    c.result(static_cast<std::uint32_t>(text.size()));
  });
  provide("vfprintf", [&p, formatted, stream_of](stub_call& c) {
    const std::string text = formatted(c.arg(1), c.arg(2));
    p.console_write(stream_of(c.arg(0)), text);
    c.result(static_cast<std::uint32_t>(text.size()));
  });
  provide("sprintf", [formatted, stack_at, store](stub_call& c) {
    c.result(store(c.arg(0), formatted(c.arg(1), stack_at(2))));
  });
  provide("vsprintf", [formatted, store](stub_call& c) {
    c.result(store(c.arg(0), formatted(c.arg(1), c.arg(2))));
  });
  provide("_snprintf", [formatted, stack_at, store_bounded](stub_call& c) {
    c.result(store_bounded(c.arg(0), c.arg(1), formatted(c.arg(2), stack_at(3))));
  });
  provide("_vsnprintf", [formatted, store_bounded](stub_call& c) {
    c.result(store_bounded(c.arg(0), c.arg(1), formatted(c.arg(2), c.arg(3))));
  });

  // setjmp and longjmp: _setjmp3(jmp_buf, count, ...) keeps EBP, EBX,
  // EDI, ESI, the stack and return address and the SEH chain (MSVC's
  // layout); longjmp(jmp_buf, value) puts them back and returns there.
  provide("_setjmp3", [&p](stub_call& c) {
    const std::uint32_t esp = p.cpu.reg(UC_X86_REG_ESP);
    record buffer(64);
    buffer.put32(0, p.cpu.reg(UC_X86_REG_EBP));
    buffer.put32(4, p.cpu.reg(UC_X86_REG_EBX));
    buffer.put32(8, p.cpu.reg(UC_X86_REG_EDI));
    buffer.put32(12, p.cpu.reg(UC_X86_REG_ESI));
    buffer.put32(16, esp + 4);                                      // the stack after the return
    buffer.put32(20, p.cpu.read32(esp));                            // the return address
    buffer.put32(24, p.cpu.read32(emulated_layout::thread_block));  // SEH chain
    buffer.put32(32, 0x56433230);                                   // "VC20", the layout's mark
    buffer.write(p.cpu, c.arg(0));
    c.result(0);
  });
  provide("longjmp", [&p](stub_call& c) {
    const std::uint32_t buffer = c.arg(0), value = c.arg(1);
    p.cpu.set_reg(UC_X86_REG_EBP, p.cpu.read32(buffer));
    p.cpu.set_reg(UC_X86_REG_EBX, p.cpu.read32(buffer + 4));
    p.cpu.set_reg(UC_X86_REG_EDI, p.cpu.read32(buffer + 8));
    p.cpu.set_reg(UC_X86_REG_ESI, p.cpu.read32(buffer + 12));
    p.cpu.write32(emulated_layout::thread_block, p.cpu.read32(buffer + 24));
    // The stub returns with a plain ret: through the saved return address
    // put where the saved stack ends.
    const std::uint32_t esp = p.cpu.read32(buffer + 16) - 4;
    p.cpu.write32(esp, p.cpu.read32(buffer + 20));
    p.cpu.set_reg(UC_X86_REG_ESP, esp);
    c.result(value == 0 ? 1 : value);
  });

  // Signals: the handlers are the process's, the host's. A default action
  // of a raised signal ends the process.
  auto handlers = std::make_shared<std::map<std::uint32_t, std::uint32_t>>();
  provide("signal", [handlers](stub_call& c) {
    c.result((*handlers)[c.arg(0)]);
    (*handlers)[c.arg(0)] = c.arg(1);
  });
  provide("raise", [handlers](stub_call& c) {
    const std::uint32_t handler = (*handlers)[c.arg(0)];
    if (handler == 1) {  // SIG_IGN
      c.result(0);
    } else if (handler == 0) {
      c.cpu.stop_call("calls raise(" + std::to_string(c.arg(0)) +
                      "), whose default action ends the host's process");
    } else {
      c.cpu.stop_call_missing("msvcrt.dll!raise",
                              "for a signal handler of its own, which the emulated msvcrt does "
                              "not call");
    }
  });
  provide("__setusermatherr", [](stub_call&) {});

  // Threads: msvcrt's start a second one (the validator's gap); ending one
  // ends the host's.
  for (const char* name : {"_beginthreadex", "_beginthread"}) {
    const std::string function = std::string("msvcrt.dll!") + name;
    provide(name, [function](stub_call& c) {
      c.cpu.stop_call_missing(
          function,
          "which starts a second thread: the emulated Windows runs only the host's, so the "
          "validator cannot judge what the plug-in does in another");
    });
  }
  for (const char* name : {"_endthreadex", "_endthread"}) {
    const std::string function = name;
    provide(name, [function](stub_call& c) {
      c.cpu.stop_call("calls " + function +
                      ", which ends the host's thread that called the plug-in");
    });
  }

  // The ways a C runtime ends the process: the call never returns, and the
  // host is gone.
  provide("abort",
          [](stub_call& c) { c.cpu.stop_call("calls abort(), which ends the host's process"); });
  for (const char* name : {"exit", "_exit"}) {
    const std::string function = name;
    provide(name, [function](stub_call& c) {
      c.cpu.stop_call("calls " + function + "(" + std::to_string(c.arg(0)) +
                      "), which ends the host's process");
    });
  }
  provide("_amsg_exit", [](stub_call& c) {
    c.cpu.stop_call("calls _amsg_exit(" + std::to_string(c.arg(0)) +
                    "), the runtime's fatal error, which ends the host's process");
  });
  // _assert(expression, file, line): the message, then abort().
  provide("_assert", [&p](stub_call& c) {
    c.cpu.stop_call("fails an assertion, \"" + p.cpu.read_string(c.arg(0)) + "\" (" +
                    p.cpu.read_string(c.arg(1)) + ":" + std::to_string(c.arg(2)) +
                    "), whose abort() ends the host's process");
  });
}
