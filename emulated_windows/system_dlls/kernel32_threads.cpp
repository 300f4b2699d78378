// KERNEL32.dll's threads and exceptions in a process of one thread, the
// host's, which calls the plug-in: its identity, thread-local storage, its
// context and priority, the vectored exception handlers and
// RaiseException, the debugger's functions, and what a plug-in may ask of
// the process (affinity, priority class, a handle to itself).
//
// Starting a second thread is beyond the emulated Windows: a plug-in that
// does is not judged (the validator's gap). Stopping or ending the one
// thread there is, the host's, is the plug-in's fault.

#include <algorithm>
#include <memory>

#include <unicorn/unicorn.h>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

using namespace windows_error;
constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t thread_id = 0x5678, process_id = 0x1234;
constexpr std::uint32_t still_active = 259;
constexpr std::uint32_t exception_continue_search = 0;
constexpr std::uint32_t seh_chain_end = 0xFFFFFFFF;

// RaiseException(code, flags, count, arguments), stdcall: asks `prepare`
// for the exception's records and the vectored handlers, calls each handler
// until one answers EXCEPTION_CONTINUE_EXECUTION (-1), and returns then;
// when none does, `unhandled` ends the call.
//   push esi; push edi; lea eax,[esp+12]; push eax; mov eax,prepare; call eax
//   mov edi,[eax]; lea esi,[eax+4]
//   next: mov eax,[esi]; test eax,eax; jz unhandled; push edi; call eax
//         cmp eax,-1; je resume; add esi,4; jmp next
//   resume: pop edi; pop esi; ret 16
//   unhandled: push edi; mov eax,unhandled; call eax
std::vector<std::uint8_t> raise_exception_code(std::uint32_t prepare, std::uint32_t unhandled) {
  std::vector<std::uint8_t> code = {
      0x56, 0x57, 0x8D, 0x44, 0x24, 0x0C, 0x50, 0xB8, 0,    0,    0,    0,    0xFF,
      0xD0, 0x8B, 0x38, 0x8D, 0x70, 0x04, 0x8B, 0x06, 0x85, 0xC0, 0x74, 0x12, 0x57,
      0xFF, 0xD0, 0x83, 0xF8, 0xFF, 0x74, 0x05, 0x83, 0xC6, 0x04, 0xEB, 0xED, 0x5F,
      0x5E, 0xC2, 0x10, 0x00, 0x57, 0xB8, 0,    0,    0,    0,    0xFF, 0xD0};
  std::memcpy(code.data() + 8, &prepare, 4);
  std::memcpy(code.data() + 45, &unhandled, 4);
  return code;
}

// The process's exception handling: the vectored handlers in their order
// and the unhandled-exception filter.
struct exception_handling {
  struct handler {
    std::uint32_t cookie, function;
  };
  std::vector<handler> vectored;
  std::uint32_t next_cookie = 0x00DE0000;
  std::uint32_t filter = 0;
  // Where RaiseException's records are built: a few in turn, so that a
  // handler may raise again.
  std::vector<std::uint32_t> scratch;
  std::size_t next_scratch = 0;
};

constexpr std::uint32_t record_size = 80, context_size = 716, max_handlers = 64;

}  // namespace

void provide_kernel32_threads(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};
  auto is_this_thread = [&p](std::uint32_t handle) {
    return p.object_of(handle) != nullptr &&
           p.object_of(handle) == p.object_of(windows_process::current_thread_handle);
  };

  // Thread-local storage: the slots live in the thread block (and the
  // expansion array it points to), as on Windows. A slot not allocated
  // fails the call as on Windows, and is a breach.
  auto slot_in_use = [&p](stub_call& c) {
    if (p.tls_slot_in_use(c.arg(0)))
      return true;
    p.breach(c.name + " of a slot not allocated: " + std::to_string(c.arg(0)));
    p.set_last_error(invalid_parameter);
    c.result(0);
    return false;
  };
  provide("TlsAlloc", 0, [&p](stub_call& c) { c.result(p.allocate_tls_slot()); });
  provide("TlsFree", 4, [&p, slot_in_use](stub_call& c) {
    if (slot_in_use(c))
      c.result(p.free_tls_slot(c.arg(0)) ? 1 : 0);
  });
  provide("TlsGetValue", 4, [&p, slot_in_use](stub_call& c) {
    if (!slot_in_use(c))
      return;
    // Windows clears the last error here, so that a stored 0 can be told apart.
    p.set_last_error(0);
    c.result(p.cpu.read32(p.tls_slot_address(c.arg(0))));
  });
  provide("TlsSetValue", 8, [&p, slot_in_use](stub_call& c) {
    if (!slot_in_use(c))
      return;
    p.cpu.write32(p.tls_slot_address(c.arg(0)), c.arg(1));
    c.result(1);
  });

  // The one thread.
  provide("GetCurrentThread", 0,
          [](stub_call& c) { c.result(windows_process::current_thread_handle); });
  provide("GetCurrentThreadId", 0, [](stub_call& c) { c.result(thread_id); });
  provide("OpenThread", 12, [&p](stub_call& c) {
    if (c.arg(2) != thread_id) {
      p.set_last_error(invalid_parameter);
      c.result(0);
      return;
    }
    c.result(p.open_handle(p.object_of(windows_process::current_thread_handle)));
  });
  provide("OpenProcess", 12, [&p](stub_call& c) {
    if (c.arg(2) != process_id) {
      p.set_last_error(invalid_parameter);
      c.result(0);
      return;
    }
    c.result(p.open_handle(p.object_of(windows_process::current_process_handle)));
  });
  auto priority = std::make_shared<std::uint32_t>(0);  // THREAD_PRIORITY_NORMAL
  provide("GetThreadPriority", 4, [priority](stub_call& c) { c.result(*priority); });
  provide("SetThreadPriority", 8, [priority](stub_call& c) {
    *priority = c.arg(1);
    c.result(1);
  });
  provide("GetExitCodeThread", 8, [&p, is_this_thread](stub_call& c) {
    if (!is_this_thread(c.arg(0))) {
      p.set_last_error(invalid_handle);
      c.result(0);
      return;
    }
    p.cpu.write32(c.arg(1), still_active);
    c.result(1);
  });
  // GetThreadContext(thread, CONTEXT out) of the calling thread: its
  // registers as the call left them.
  provide("GetThreadContext", 8, [&p, is_this_thread](stub_call& c) {
    if (!is_this_thread(c.arg(0))) {
      p.set_last_error(invalid_handle);
      c.result(0);
      return;
    }
    record context(context_size);
    context.put32(0, p.cpu.read32(c.arg(1)));  // ContextFlags, as asked
    const int registers[] = {UC_X86_REG_EDI, UC_X86_REG_ESI, UC_X86_REG_EBX, UC_X86_REG_EDX,
                             UC_X86_REG_ECX, UC_X86_REG_EAX, UC_X86_REG_EBP};
    for (std::size_t i = 0; i < std::size(registers); ++i)
      context.put32(156 + 4 * i, p.cpu.reg(registers[i]));
    const std::uint32_t esp = p.cpu.reg(UC_X86_REG_ESP);
    context.put32(184, p.cpu.read32(esp));  // Eip: where the call returns
    context.put32(192, p.cpu.reg(UC_X86_REG_EFLAGS));
    context.put32(196, esp + 12);  // Esp after the call's return
    context.write(p.cpu, c.arg(1));
    c.result(1);
  });
  provide("SetThreadContext", 8, [&p](stub_call& c) {
    p.breach("SetThreadContext, which the emulated Windows does not apply");
    p.set_last_error(not_supported);
    c.result(0);
  });
  provide("ResumeThread", 4, [&p, is_this_thread](stub_call& c) {
    if (!is_this_thread(c.arg(0))) {
      p.set_last_error(invalid_handle);
      c.result(0xFFFFFFFF);
      return;
    }
    c.result(0);  // it was not suspended
  });
  provide("SuspendThread", 4, [&p, is_this_thread](stub_call& c) {
    if (is_this_thread(c.arg(0))) {
      c.cpu.stop_call(
          "suspends its own thread (SuspendThread), the host's, which nothing resumes: the host "
          "hangs");
      return;
    }
    p.set_last_error(invalid_handle);
    c.result(0xFFFFFFFF);
  });
  const std::string one_thread =
      "which starts a second thread: the emulated Windows runs only the host's, so the validator "
      "cannot judge what the plug-in does in another";
  provide("CreateThread", 24, [one_thread](stub_call& c) {
    c.cpu.stop_call_missing("KERNEL32.dll!CreateThread", one_thread);
  });
  provide("CreateRemoteThread", 28, [one_thread](stub_call& c) {
    c.cpu.stop_call_missing("KERNEL32.dll!CreateRemoteThread", one_thread);
  });
  provide("ExitThread", 4, [](stub_call& c) {
    c.cpu.stop_call("calls ExitThread(" + std::to_string(c.arg(0)) +
                    "), which ends the host's thread that called the plug-in");
  });
  provide("TerminateThread", 8, [&p, is_this_thread](stub_call& c) {
    if (is_this_thread(c.arg(0))) {
      c.cpu.stop_call("calls TerminateThread on its own thread, which ends the host's thread");
      return;
    }
    p.set_last_error(invalid_handle);
    c.result(0);
  });

  // The process as the plug-in may ask about it.
  provide("GetProcessAffinityMask", 12, [&p](stub_call& c) {
    const std::uint32_t all =
        p.machine.processors >= 32 ? 0xFFFFFFFFu : (1u << p.machine.processors) - 1;
    p.cpu.write32(c.arg(1), all);
    p.cpu.write32(c.arg(2), all);
    c.result(1);
  });
  provide("SetProcessAffinityMask", 8, [&p](stub_call& c) {
    p.breach("SetProcessAffinityMask: the plug-in changes the host's processors");
    c.result(1);
  });
  provide("SetThreadAffinityMask", 8, [&p](stub_call& c) {
    c.result(p.machine.processors >= 32 ? 0xFFFFFFFFu : (1u << p.machine.processors) - 1);
  });
  provide("GetPriorityClass", 4, [](stub_call& c) { c.result(0x20); });  // NORMAL_PRIORITY_CLASS
  provide("SetPriorityClass", 8, [&p](stub_call& c) {
    p.breach("SetPriorityClass: the plug-in changes the host's priority");
    c.result(1);
  });
  provide("DisableThreadLibraryCalls", 4, [](stub_call& c) { c.result(1); });

  // No debugger is attached: its output goes nowhere but the books, and a
  // breakpoint is an exception nothing handles.
  provide("IsDebuggerPresent", 0, [](stub_call& c) { c.result(0); });
  provide("CheckRemoteDebuggerPresent", 8, [&p](stub_call& c) {
    p.cpu.write32(c.arg(1), 0);
    c.result(1);
  });
  provide("OutputDebugStringA", 4,
          [&p](stub_call& c) { p.console_write(3, p.cpu.read_string(c.arg(0))); });
  provide("OutputDebugStringW", 4,
          [&p](stub_call& c) { p.console_write(3, read_wide_string(p.cpu, c.arg(0))); });
  provide("DebugBreak", 0, [](stub_call& c) {
    c.cpu.stop_call(
        "calls DebugBreak: with no debugger attached, the breakpoint ends the host's process");
  });

  // Exceptions: the vectored handlers, then (not emulated) the module's own
  // structured handlers, then the end of the process.
  auto handling = std::make_shared<exception_handling>();
  for (int i = 0; i < 4; ++i)
    handling->scratch.push_back(
        p.host_allocate(record_size + context_size + 8 + 4 * (max_handlers + 2), 16));
  provide("AddVectoredExceptionHandler", 8, [&p, handling](stub_call& c) {
    if (handling->vectored.size() >= max_handlers || c.arg(1) == 0) {
      c.result(0);
      return;
    }
    const exception_handling::handler added{handling->next_cookie += 8, c.arg(1)};
    if (c.arg(0) != 0)
      handling->vectored.insert(handling->vectored.begin(), added);
    else
      handling->vectored.push_back(added);
    p.vectored_handlers = handling->vectored.size();
    c.result(added.cookie);
  });
  provide("RemoveVectoredExceptionHandler", 4, [&p, handling](stub_call& c) {
    auto& list = handling->vectored;
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&c](const auto& h) { return h.cookie == c.arg(0); });
    if (it == list.end()) {
      c.result(0);
      return;
    }
    list.erase(it);
    p.vectored_handlers = list.size();
    c.result(1);
  });
  provide("SetUnhandledExceptionFilter", 4, [handling](stub_call& c) {
    c.result(handling->filter);
    handling->filter = c.arg(0);
  });
  provide("UnhandledExceptionFilter", 4, [](stub_call& c) { c.result(exception_continue_search); });

  // RaiseException's records (EXCEPTION_RECORD, CONTEXT, EXCEPTION_POINTERS)
  // and the handlers to call, for the routine above.
  const std::uint32_t prepare =
      p.cpu.add_stub("RaiseException's dispatch", 4, [&p, handling](stub_call& c) {
        const std::uint32_t arguments = c.arg(0);
        const std::uint32_t block = handling->scratch[handling->next_scratch++ % 4];
        // The block: the address of the EXCEPTION_POINTERS, the handlers
        // (null after the last), then the pointers, record and context.
        const std::uint32_t pointers = block + 4 * (max_handlers + 2);
        const std::uint32_t exception_record = pointers + 8;
        const std::uint32_t context = exception_record + record_size;
        record r(record_size);
        r.put32(0, p.cpu.read32(arguments));          // ExceptionCode
        r.put32(4, p.cpu.read32(arguments + 4) & 1);  // ExceptionFlags: EXCEPTION_NONCONTINUABLE
        r.put32(12, p.cpu.read32(arguments - 4));  // ExceptionAddress: where RaiseException returns
        const std::uint32_t count = std::min<std::uint32_t>(p.cpu.read32(arguments + 8), 15);
        r.put32(16, count);
        for (std::uint32_t i = 0; i < count; ++i)
          r.put32(20 + 4 * i, p.cpu.read32(p.cpu.read32(arguments + 12) + 4 * i));
        r.write(p.cpu, exception_record);
        record ctx(context_size);
        ctx.put32(0, 0x10007);  // CONTEXT_FULL
        ctx.put32(184, p.cpu.read32(arguments - 4));
        ctx.put32(196, arguments + 16);
        ctx.put32(180, p.cpu.reg(UC_X86_REG_EBP));
        ctx.write(p.cpu, context);
        p.cpu.write32(pointers, exception_record);
        p.cpu.write32(pointers + 4, context);
        p.cpu.write32(block, pointers);
        std::uint32_t at = block + 4;
        for (const auto& h : handling->vectored) {
          p.cpu.write32(at, h.function);
          at += 4;
        }
        p.cpu.write32(at, 0);
        c.result(block);
      });
  const std::uint32_t unhandled = p.cpu.add_stub("RaiseException's end", 4, [&p](stub_call& c) {
    const std::uint32_t code = p.cpu.read32(p.cpu.read32(c.arg(0)));
    if (p.cpu.read32(emulated_layout::thread_block) != seh_chain_end) {
      c.cpu.stop_call_missing(
          "KERNEL32.dll!RaiseException",
          "whose exception " + hex(code) +
              " goes to the plug-in's own structured exception handlers, which the emulated "
              "Windows does not call");
      return;
    }
    c.cpu.stop_call("raises exception " + hex(code) +
                    " (RaiseException), which no handler takes: the host's process ends");
  });
  p.provide_data(kernel32, "RaiseException",
                 p.cpu.add_routine(raise_exception_code(prepare, unhandled)));
}
