// msvcrt.dll as the module uses it: cdecl functions (the caller pops), the
// heap, the string and memory primitives, console output, the CRT's
// start-up table walk and the ways a C runtime ends a process.

#include <algorithm>
#include <cstring>

#include "emulated_windows/process/windows_process.hpp"

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
  const std::uint32_t errno_location = p.host_allocate(4, 4);

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

  provide("memcpy", [&p](stub_call& c) {
    p.cpu.write(c.arg(0), p.cpu.read_bytes(c.arg(1), c.arg(2)).data(), c.arg(2));
    c.result(c.arg(0));
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

  // The process would end here, so the call never returns.
  provide("abort", [](stub_call& c) { c.cpu.stop_call("abort() called"); });
}
