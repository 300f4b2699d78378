// The emulated Windows's system functions, called as emulated code calls
// them: the dated table of what each version exports, the clock, the
// synchronisation objects and waits, the heaps, exceptions, printf, the
// registry, and the line between what ends or hangs the host (the plug-in's
// fault) and what the emulated Windows cannot do (the validator's gap).

#include <gtest/gtest.h>

#include <cstring>

#include "emulated_windows/process/windows_functions.hpp"
#include "emulated_windows/process/windows_process.hpp"

namespace {

constexpr std::uint32_t infinite = 0xFFFFFFFF, wait_timeout = 0x102;

struct emulated_windows {
  explicit emulated_windows(const windows_machine& machine = windows_machine())
      : process(machine) {}

  // DLL!function with the convention its DLL uses (msvcrt's: cdecl).
  call_outcome call(const std::string& dll, const std::string& function,
                    const std::vector<std::uint32_t>& args) {
    const bool cdecl_call = dll == "msvcrt.dll" || function == "wsprintfA";
    return process.cpu.call(process.bind(dll, function),
                            cdecl_call ? call_convention::cdecl_call : call_convention::stdcall, 0,
                            args);
  }
  std::uint32_t kernel32(const std::string& function, const std::vector<std::uint32_t>& args = {}) {
    const call_outcome r = call("KERNEL32.dll", function, args);
    EXPECT_TRUE(r.clean()) << function << ": " << r.describe();
    return r.eax;
  }
  std::uint32_t text(const std::string& s) { return process.host_string(s); }
  std::uint32_t zeros(std::uint32_t size) {
    const std::uint32_t at = process.host_allocate(size, 8);
    const std::vector<std::uint8_t> bytes(size, 0);
    process.cpu.write(at, bytes.data(), size);
    return at;
  }
  std::uint64_t read64(std::uint32_t at) {
    std::uint64_t value = 0;
    process.cpu.read(at, &value, 8);
    return value;
  }
  // msvcrt!function(args) from emulated code of our own that stores the
  // double it answers on the x87 stack: push the arguments, call, pop
  // them, fstp qword [result], ret.
  double msvcrt_double(const std::string& function, const std::vector<std::uint32_t>& args) {
    const std::uint32_t result = zeros(8), target = process.bind("msvcrt.dll", function);
    std::vector<std::uint8_t> code;
    auto word = [&code](std::uint32_t value) {
      for (int i = 0; i < 4; ++i) code.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    for (auto it = args.rbegin(); it != args.rend(); ++it) {
      code.push_back(0x68);
      word(*it);
    }
    code.push_back(0xB8);
    word(target);
    code.insert(code.end(),
                {0xFF, 0xD0, 0x83, 0xC4, static_cast<std::uint8_t>(4 * args.size()), 0xDD, 0x1D});
    word(result);
    code.push_back(0xC3);
    const call_outcome r =
        process.cpu.call(process.cpu.add_routine(code), call_convention::cdecl_call, 0, {});
    EXPECT_TRUE(r.clean()) << r.describe();
    double value = 0;
    process.cpu.read(result, &value, 8);
    return value;
  }
  std::uint32_t msvcrt(const std::string& function, const std::vector<std::uint32_t>& args) {
    const call_outcome r = call("msvcrt.dll", function, args);
    EXPECT_TRUE(r.clean()) << function << ": " << r.describe();
    return r.eax;
  }
  std::string string_at(std::uint32_t at) { return process.cpu.read_string(at); }

  windows_process process;
};

TEST(windows_functions, dated_by_the_headers_and_the_corrections) {
  // What XP SP3 has, the posix runtime's imports among them.
  for (const auto& [dll, function] : std::vector<std::pair<const char*, const char*>>{
           {"KERNEL32.dll", "CreateEventA"},
           {"KERNEL32.dll", "DuplicateHandle"},
           {"KERNEL32.dll", "GetThreadContext"},
           {"KERNEL32.dll", "AddVectoredExceptionHandler"},
           {"KERNEL32.dll", "TryEnterCriticalSection"},
           {"kernel32.dll", "GetModuleHandleExW"},
           {"KERNEL32.dll", "SetProcessDEPPolicy"},
           {"KERNEL32.dll", "InterlockedIncrement"},
           {"USER32.dll", "MessageBoxA"},
           {"ADVAPI32.dll", "RegOpenKeyExA"},
           {"SHELL32.dll", "SHGetFolderPathA"},
           {"msvcrt.dll", "_beginthreadex"},
           {"msvcrt.dll", "_setjmp3"},
           {"msvcrt.dll", "_strdup"},
           {"msvcrt.dll", "fprintf"}}) {
    EXPECT_TRUE(windows_exports(windows_version::xp_sp3, dll, function)) << dll << "!" << function;
  }
  // What came later, whether the headers guard it or the corrections say so.
  for (const auto& [dll, function, first] :
       std::vector<std::tuple<const char*, const char*, windows_version>>{
           {"KERNEL32.dll", "GetTickCount64", windows_version::vista},
           {"KERNEL32.dll", "InitializeSRWLock", windows_version::vista},
           {"KERNEL32.dll", "GetThreadId", windows_version::vista},
           {"KERNEL32.dll", "Wow64DisableWow64FsRedirection", windows_version::vista},
           {"ADVAPI32.dll", "RegGetValueA", windows_version::vista},
           {"msvcrt.dll", "strcpy_s", windows_version::vista},
           {"KERNEL32.dll", "SetThreadErrorMode", windows_version::windows_7},
           {"KERNEL32.dll", "GetSystemTimePreciseAsFileTime", windows_version::windows_8},
           {"KERNEL32.dll", "AddDllDirectory", windows_version::windows_8}}) {
    EXPECT_EQ(first_windows_with(dll, function), first) << dll << "!" << function;
  }
  EXPECT_EQ(windows_function_record("KERNEL32.dll", "BaseThreadInitThunk"),
            function_record::undated);
  EXPECT_EQ(windows_function_record("KERNEL32.dll", "NoSuchFunction"), function_record::unlisted);
  EXPECT_TRUE(windows_lists_dll("kernel32.DLL"));
  EXPECT_FALSE(windows_lists_dll("d3d9.dll"));
}

TEST(system_functions, the_clock_moves_with_reading_and_waiting) {
  emulated_windows w;
  // A wait for the next tick ends within a thousand readings (1 us each).
  const std::uint32_t start = w.kernel32("GetTickCount");
  int readings = 0;
  while (w.kernel32("GetTickCount") == start) ASSERT_LT(++readings, 1001);
  const std::uint32_t counter = w.zeros(16);
  w.kernel32("QueryPerformanceFrequency", {counter});
  EXPECT_EQ(w.read64(counter), 10'000'000u);
  w.kernel32("QueryPerformanceCounter", {counter});
  w.kernel32("QueryPerformanceCounter", {counter + 8});
  EXPECT_GE(w.read64(counter + 8) - w.read64(counter), 10u);
  const std::uint32_t before = w.kernel32("GetTickCount");
  w.kernel32("Sleep", {1500});
  EXPECT_GE(w.kernel32("GetTickCount") - before, 1500u);
  // The system time starts on a fixed date.
  const std::uint32_t system_time = w.zeros(16);
  w.kernel32("GetSystemTimeAsFileTime", {counter});
  EXPECT_EQ(w.kernel32("FileTimeToSystemTime", {counter, system_time}), 1u);
  std::uint16_t fields[8];
  w.process.cpu.read(system_time, fields, 16);
  EXPECT_EQ((std::vector<std::uint16_t>{fields[0], fields[1], fields[2], fields[3], fields[4]}),
            (std::vector<std::uint16_t>{2011, 2, 2, 22, 12}));  // a Tuesday, at noon
  // Back again, and a leap day.
  const std::uint16_t leap_day[8] = {2000, 2, 2, 29, 23, 59, 58, 999};
  w.process.cpu.write(system_time, leap_day, 16);
  EXPECT_EQ(w.kernel32("SystemTimeToFileTime", {system_time, counter}), 1u);
  EXPECT_EQ(w.read64(counter), 125963423989990000u);
  const std::uint16_t day_30[8] = {2001, 2, 0, 29, 0, 0, 0, 0};
  w.process.cpu.write(system_time, day_30, 16);
  EXPECT_EQ(w.kernel32("SystemTimeToFileTime", {system_time, counter}), 0u);

  // Ticks a test chose come in turn, then the last of them stays.
  windows_machine scripted;
  scripted.ticks = {5, 7};
  emulated_windows s(scripted);
  EXPECT_EQ(s.kernel32("GetTickCount"), 5u);
  EXPECT_EQ(s.kernel32("GetTickCount"), 7u);
  EXPECT_EQ(s.kernel32("GetTickCount"), 7u);
}

TEST(system_functions, events_semaphores_and_waits_in_one_thread) {
  emulated_windows w;
  const process_books empty = w.process.books();
  // An automatic event: a wait takes it, the next one times out after its
  // time-out, and the clock moved on by that.
  const std::uint32_t event = w.kernel32("CreateEventA", {0, 0, 0, 0});
  ASSERT_NE(event, 0u);
  EXPECT_EQ(w.kernel32("SetEvent", {event}), 1u);
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {event, infinite}), 0u);
  const std::uint32_t before = w.kernel32("GetTickCount");
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {event, 250}), wait_timeout);
  EXPECT_GE(w.kernel32("GetTickCount") - before, 250u);
  // Another handle to the same event, and both in the books until closed.
  const std::uint32_t copy = w.zeros(4);
  EXPECT_EQ(w.kernel32("DuplicateHandle", {0xFFFFFFFF, event, 0xFFFFFFFF, copy, 0, 0, 2}), 1u);
  const std::uint32_t second = w.process.cpu.read32(copy);
  w.kernel32("SetEvent", {second});
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {event, 0}), 0u);
  EXPECT_EQ(w.process.books().handles, 2u);
  // A manual event stays set; a named one opens the first of its name.
  const std::uint32_t manual = w.kernel32("CreateEventW", {0, 1, 1, 0});
  EXPECT_EQ(w.kernel32("WaitForMultipleObjects", {2, w.process.host_allocate(8, 4), 0, 0}),
            0xFFFFFFFFu);  // two null handles: WAIT_FAILED
  const std::uint32_t handles = w.zeros(8);
  w.process.cpu.write32(handles, event);
  w.process.cpu.write32(handles + 4, manual);
  EXPECT_EQ(w.kernel32("WaitForMultipleObjects", {2, handles, 0, infinite}), 1u);
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {manual, 0}), 0u);
  const std::uint32_t name = w.text("render done");
  const std::uint32_t named = w.kernel32("CreateEventA", {0, 1, 0, name});
  const std::uint32_t again = w.kernel32("CreateEventA", {0, 1, 0, name});
  w.kernel32("SetEvent", {named});
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {again, 0}), 0u);
  // A semaphore counts down and back up to its maximum.
  const std::uint32_t semaphore = w.kernel32("CreateSemaphoreA", {0, 1, 2, 0});
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {semaphore, 0}), 0u);
  EXPECT_EQ(w.kernel32("WaitForSingleObject", {semaphore, 0}), wait_timeout);
  EXPECT_EQ(w.kernel32("ReleaseSemaphore", {semaphore, 2, 0}), 1u);
  EXPECT_EQ(w.kernel32("ReleaseSemaphore", {semaphore, 1, 0}), 0u);  // past the maximum
  for (std::uint32_t h : {event, second, manual, named, again, semaphore})
    EXPECT_EQ(w.kernel32("CloseHandle", {h}), 1u);
  EXPECT_EQ(w.process.books(), empty);
  // An unset event waited for without a time-out: nothing else runs to set it.
  const std::uint32_t never = w.kernel32("CreateEventA", {0, 1, 0, 0});
  const call_outcome hang = w.call("KERNEL32.dll", "WaitForSingleObject", {never, infinite});
  EXPECT_FALSE(hang.returned);
  EXPECT_TRUE(hang.missing_function.empty());
  EXPECT_EQ(hang.stop_reason,
            "waits with no time-out (KERNEL32.dll!WaitForSingleObject) for an event that is not "
            "set, and no other thread of the plug-in runs to change that: the host hangs");
}

TEST(system_functions, the_one_thread_its_storage_and_the_interlocked_operations) {
  emulated_windows w;
  const std::uint32_t slot = w.kernel32("TlsAlloc");
  EXPECT_EQ(w.kernel32("TlsSetValue", {slot, 0xCAFE}), 1u);
  EXPECT_EQ(w.kernel32("TlsGetValue", {slot}), 0xCAFEu);
  EXPECT_EQ(w.kernel32("TlsFree", {slot}), 1u);
  EXPECT_EQ(w.kernel32("TlsGetValue", {slot}), 0u);  // freed: refused, a breach
  EXPECT_EQ(w.process.breaches.size(), 1u);
  // A handle to the one thread, and to the process, by id.
  const std::uint32_t thread =
      w.kernel32("OpenThread", {0x1F03FF, 0, w.kernel32("GetCurrentThreadId")});
  const std::uint32_t code = w.zeros(4);
  EXPECT_EQ(w.kernel32("GetExitCodeThread", {thread, code}), 1u);
  EXPECT_EQ(w.process.cpu.read32(code), 259u);  // STILL_ACTIVE
  EXPECT_EQ(w.kernel32("ResumeThread", {thread}), 0u);
  EXPECT_NE(w.kernel32("OpenProcess", {0x400, 0, w.kernel32("GetCurrentProcessId")}), 0u);
  EXPECT_EQ(w.process.books().handles, 2u);
  const std::uint32_t value = w.zeros(4);
  w.process.cpu.write32(value, 41);
  EXPECT_EQ(w.kernel32("InterlockedIncrement", {value}), 42u);
  EXPECT_EQ(w.kernel32("InterlockedExchangeAdd", {value, 8}), 42u);
  EXPECT_EQ(w.kernel32("InterlockedCompareExchange", {value, 7, 49}), 50u);  // no match
  EXPECT_EQ(w.kernel32("InterlockedCompareExchange", {value, 7, 50}), 50u);
  EXPECT_EQ(w.process.cpu.read32(value), 7u);
}

TEST(system_functions, the_process_heap_and_blocks_freed_by_the_wrong_allocator) {
  emulated_windows w;
  const std::uint32_t heap = w.kernel32("GetProcessHeap");
  const std::uint32_t block = w.kernel32("HeapAlloc", {heap, 8, 64});  // HEAP_ZERO_MEMORY
  ASSERT_NE(block, 0u);
  EXPECT_EQ(w.process.cpu.read_bytes(block, 64), std::vector<std::uint8_t>(64, 0));
  w.process.cpu.write32(block, 0x12345678);
  const std::uint32_t grown = w.kernel32("HeapReAlloc", {heap, 8, block, 128});
  EXPECT_EQ(w.process.cpu.read32(grown), 0x12345678u);
  EXPECT_EQ(w.kernel32("HeapSize", {heap, 0, grown}), 128u);
  EXPECT_EQ(w.kernel32("HeapFree", {heap, 0, grown}), 1u);
  EXPECT_TRUE(w.process.heap.problems.empty());
  // A heap of its own goes with its blocks.
  const std::uint32_t own = w.kernel32("HeapCreate", {0, 0, 0});
  w.kernel32("HeapAlloc", {own, 0, 32});
  EXPECT_EQ(w.process.books().heap_blocks, 1u);
  EXPECT_EQ(w.kernel32("HeapDestroy", {own}), 1u);
  EXPECT_EQ(w.process.books().heap_blocks, 0u);
  // malloc's block freed by HeapFree: reported, and left alone.
  const std::uint32_t from_malloc = w.call("msvcrt.dll", "malloc", {16}).eax;
  w.kernel32("HeapFree", {heap, 0, from_malloc});
  ASSERT_EQ(w.process.heap.problems.size(), 1u);
  EXPECT_NE(w.process.heap.problems[0].find(" of malloc freed by the counterpart of HeapAlloc "
                                            "on the process heap"),
            std::string::npos)
      << w.process.heap.problems[0];
  EXPECT_EQ(w.process.books().heap_blocks, 1u);
}

TEST(system_functions, ending_the_host_is_the_plugins_fault_a_thread_the_validators_gap) {
  emulated_windows w;
  auto stopped = [&w](const std::string& dll, const std::string& function,
                      const std::vector<std::uint32_t>& args) {
    const call_outcome r = w.call(dll, function, args);
    EXPECT_FALSE(r.returned) << function;
    return r;
  };
  for (const auto& [dll, function, args, reason] :
       std::vector<std::tuple<std::string, std::string, std::vector<std::uint32_t>, std::string>>{
           {"KERNEL32.dll",
            "ExitProcess",
            {3},
            "calls ExitProcess(3), which ends the host's process"},
           {"KERNEL32.dll",
            "TerminateProcess",
            {0xFFFFFFFF, 1},
            "calls TerminateProcess(1) on its own process, which ends the host"},
           {"msvcrt.dll", "exit", {2}, "calls exit(2), which ends the host's process"},
           {"msvcrt.dll", "abort", {}, "calls abort(), which ends the host's process"},
           {"USER32.dll",
            "MessageBoxA",
            {0, w.text("Out of memory"), w.text("Plug-in"), 0},
            "shows a message box (MessageBoxA, \"Out of memory\") and waits for someone to click "
            "it: a host rendering unattended hangs there"},
           {"KERNEL32.dll",
            "Sleep",
            {infinite},
            "sleeps forever (KERNEL32.dll!Sleep with INFINITE): the host hangs"},
           {"KERNEL32.dll",
            "SuspendThread",
            {0xFFFFFFFE},
            "suspends its own thread (SuspendThread), the host's, which nothing resumes: the host "
            "hangs"}}) {
    const call_outcome r = stopped(dll, function, args);
    EXPECT_EQ(r.stop_reason, reason);
    EXPECT_TRUE(r.missing_function.empty()) << function;
  }
  // A second thread, and a function the emulated Windows lacks, even one
  // found through GetProcAddress: the validator's gap, named.
  const call_outcome thread = stopped("KERNEL32.dll", "CreateThread", {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(thread.missing_function, "KERNEL32.dll!CreateThread");
  const std::uint32_t kernel32 = w.process.module_handle("kernel32");
  const std::uint32_t found = w.kernel32("GetProcAddress", {kernel32, w.text("CreateFileA")});
  ASSERT_NE(found, 0u);
  const call_outcome file =
      w.process.cpu.call(found, call_convention::stdcall, 0, {0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(file.missing_function, "KERNEL32.dll!CreateFileA");
  // What this version lacks is not found at all.
  emulated_windows xp(windows_machine::of(windows_version::xp_sp3));
  EXPECT_EQ(xp.kernel32("GetProcAddress",
                        {xp.process.module_handle("kernel32"), xp.text("GetTickCount64")}),
            0u);
}

TEST(system_functions, raise_exception_calls_the_vectored_handlers) {
  emulated_windows w;
  // LONG CALLBACK handler(EXCEPTION_POINTERS*): keeps the code it saw,
  //   mov eax,[esp+4]; mov eax,[eax]; mov eax,[eax]; mov [seen],eax;
  //   or eax,-1; ret 4   (EXCEPTION_CONTINUE_EXECUTION)
  const std::uint32_t seen = w.zeros(4);
  std::vector<std::uint8_t> code = {0x8B, 0x44, 0x24, 0x04, 0x8B, 0x00, 0x8B, 0x00, 0xA3, 0,
                                    0,    0,    0,    0x83, 0xC8, 0xFF, 0xC2, 0x04, 0x00};
  std::memcpy(code.data() + 9, &seen, 4);
  const std::uint32_t handler = w.process.cpu.add_routine(code);
  const std::uint32_t cookie = w.kernel32("AddVectoredExceptionHandler", {1, handler});
  EXPECT_EQ(w.process.books().vectored_handlers, 1u);
  EXPECT_TRUE(w.call("KERNEL32.dll", "RaiseException", {0x406D1388, 0, 0, 0}).clean());
  EXPECT_EQ(w.process.cpu.read32(seen), 0x406D1388u);
  // Without a handler that takes it, the process ends.
  EXPECT_EQ(w.kernel32("RemoveVectoredExceptionHandler", {cookie}), 1u);
  const call_outcome unhandled = w.call("KERNEL32.dll", "RaiseException", {0xE0000001, 0, 0, 0});
  EXPECT_EQ(unhandled.stop_reason,
            "raises exception 0xE0000001 (RaiseException), which no handler takes: the host's "
            "process ends");
}

TEST(system_functions, printf_formats_as_msvcrt_does) {
  emulated_windows w;
  const std::uint32_t out = w.zeros(256);
  double value = 1.5;
  std::uint32_t words[2];
  std::memcpy(words, &value, 8);
  const call_outcome r =
      w.call("msvcrt.dll", "sprintf",
             {out, w.text("%d|%5.2f|%-4s|%04X|%e|%s|%I64d|%%|%c"), 0xFFFFFFF9u, words[0], words[1],
              w.text("ab"), 0xBEEF, words[0], words[1], 0, 0xFFFFFFFF, 0xFFFFFFFF, 'z'});
  EXPECT_EQ(w.process.cpu.read_string(out), "-7| 1.50|ab  |BEEF|1.500000e+000|(null)|-1|%|z");
  EXPECT_EQ(r.eax, w.process.cpu.read_string(out).size());
  // _snprintf: at most the size, -1 and no NUL when the text is longer.
  EXPECT_EQ(w.call("msvcrt.dll", "_snprintf", {out, 3, w.text("%s"), w.text("abcdef")}).eax,
            0xFFFFFFFFu);
  EXPECT_EQ(w.process.cpu.read_bytes(out, 4), (std::vector<std::uint8_t>{'a', 'b', 'c', ' '}));
  EXPECT_EQ(w.call("USER32.dll", "wsprintfA", {out, w.text("%lu-%x"), 42, 255}).eax, 5u);
  EXPECT_EQ(w.process.cpu.read_string(out), "42-ff");
  // Widths and precisions as arguments, %g, a wide text, a short.
  const std::uint32_t wide_text = w.zeros(8);
  const std::uint16_t units[] = {'w', 'i', 0};
  w.process.cpu.write(wide_text, units, sizeof units);
  value = 0.0001;
  std::memcpy(words, &value, 8);
  w.call("msvcrt.dll", "sprintf",
         {out, w.text("[%*d|%.*s|%g|%S|%hd]"), 4, 7, 2, w.text("abc"), words[0], words[1],
          wide_text, 0x12345});
  EXPECT_EQ(w.process.cpu.read_string(out), "[   7|ab|0.0001|wi|9029]");
  // To the standard streams: msvcrt's _iob records.
  w.call("msvcrt.dll", "fprintf", {w.process.iob + 64, w.text("%s %d\n"), w.text("frame"), 3});
  w.call("msvcrt.dll", "puts", {w.text("done")});
  EXPECT_EQ(w.process.console[2], "frame 3\n");
  EXPECT_EQ(w.process.console[1], "done\n");
}

TEST(system_functions, the_registry_keeps_what_the_plugin_writes) {
  emulated_windows w;
  const std::uint32_t hkcu = 0x80000001, out = w.zeros(64), size = w.zeros(4);
  const std::uint32_t path = w.text("Software\\Vendor\\Plug-in");
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegOpenKeyExA", {hkcu, path, 0, 0, out}).eax, 2u);
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegCreateKeyExA", {hkcu, path, 0, 0, 0, 0, 0, out, 0}).eax, 0u);
  const std::uint32_t key = w.process.cpu.read32(out);
  EXPECT_EQ(w.process.books().handles, 1u);
  const std::uint32_t value = w.text("C:\\renders");
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegSetValueExA", {key, w.text("Folder"), 0, 1, value, 11}).eax,
            0u);
  w.call("ADVAPI32.dll", "RegCloseKey", {key});
  EXPECT_EQ(w.process.books().handles, 0u);
  // Read back through the W function: UTF-16, the size with its NUL.
  ASSERT_EQ(w.call("ADVAPI32.dll", "RegOpenKeyExA",
                   {hkcu, w.text("software\\VENDOR\\plug-in"), 0, 0, out})
                .eax,
            0u);
  const std::uint32_t reopened = w.process.cpu.read32(out);
  std::vector<std::uint8_t> wide_name = {'F', 0, 'o', 0, 'l', 0, 'd', 0, 'e', 0, 'r', 0, 0, 0};
  const std::uint32_t name = w.zeros(16);
  w.process.cpu.write(name, wide_name.data(), wide_name.size());
  w.process.cpu.write32(size, 4);
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegQueryValueExW", {reopened, name, 0, 0, out, size}).eax,
            234u);  // ERROR_MORE_DATA
  EXPECT_EQ(w.process.cpu.read32(size), 22u);
  w.process.cpu.write32(size, 64);
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegQueryValueExW", {reopened, name, 0, 0, out, size}).eax, 0u);
  EXPECT_EQ(w.process.cpu.read_bytes(out, 4), (std::vector<std::uint8_t>{'C', 0, ':', 0}));
  // A key with a subkey is not deleted; a leaf is.
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegDeleteKeyA", {hkcu, w.text("Software\\Vendor")}).eax, 5u);
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegDeleteKeyA", {hkcu, path}).eax, 0u);
  EXPECT_EQ(w.call("ADVAPI32.dll", "RegOpenKeyExA", {hkcu, path, 0, 0, out}).eax, 2u);
  // The user's name, with the size of it and its NUL.
  w.process.cpu.write32(size, 64);
  EXPECT_EQ(w.call("ADVAPI32.dll", "GetUserNameA", {out, size}).eax, 1u);
  EXPECT_EQ(w.process.cpu.read_string(out), "artist");
  EXPECT_EQ(w.process.cpu.read32(size), 7u);
}

TEST(system_functions, the_c_runtimes_texts_numbers_and_times) {
  emulated_windows w;
  const std::uint32_t out = w.zeros(64), end = w.zeros(4);
  const std::uint32_t number = w.text("  -123xyz");
  EXPECT_EQ(w.msvcrt("strtol", {number, end, 10}), static_cast<std::uint32_t>(-123));
  EXPECT_EQ(w.process.cpu.read32(end), number + 6);
  EXPECT_EQ(w.msvcrt("strtol", {w.text("99999999999"), end, 10}), 0x7FFFFFFFu);
  EXPECT_EQ(w.process.cpu.read32(w.process.crt_errno), 34u);  // ERANGE
  EXPECT_EQ(w.msvcrt_double("atof", {w.text("2.5e3")}), 2500.0);
  EXPECT_EQ(w.msvcrt_double("strtod", {w.text("-0.125 rest"), end}), -0.125);
  w.msvcrt("_itoa", {static_cast<std::uint32_t>(-42), out, 10});
  EXPECT_EQ(w.string_at(out), "-42");
  w.msvcrt("_ultoa", {255, out, 16});
  EXPECT_EQ(w.string_at(out), "ff");
  w.msvcrt("_i64toa", {0xFFFFFFFF, 0x7FFFFFFF, out, 10});
  EXPECT_EQ(w.string_at(out), "9223372036854775807");
  // msvcrt's own sequence: the same numbers for the same seed.
  w.msvcrt("srand", {1});
  EXPECT_EQ(w.msvcrt("rand", {}), 41u);
  EXPECT_EQ(w.msvcrt("rand", {}), 18467u);
  const std::uint32_t text = w.text("render.0001.png");
  EXPECT_EQ(w.msvcrt("strrchr", {text, '.'}), text + 11);
  EXPECT_EQ(w.msvcrt("strstr", {text, w.text("0001")}), text + 7);
  EXPECT_EQ(w.msvcrt("_stricmp", {w.text("ABC"), w.text("abd")}), static_cast<std::uint32_t>(-1));
  // strncpy pads with NULs and adds none to a longer text.
  const std::uint32_t padded = w.zeros(8);
  w.process.cpu.write32(padded + 4, 0x55555555);
  w.msvcrt("strncpy", {padded, w.text("ab"), 5});
  EXPECT_EQ(w.process.cpu.read_bytes(padded, 6),
            (std::vector<std::uint8_t>{'a', 'b', 0, 0, 0, 0x55}));
  w.msvcrt("strncpy", {padded, w.text("abcdefg"), 3});
  EXPECT_EQ(w.process.cpu.read_bytes(padded, 4), (std::vector<std::uint8_t>{'a', 'b', 'c', 0}));
  const std::uint32_t wide_copy = w.zeros(16);
  w.msvcrt("mbstowcs", {wide_copy, w.text("pq"), 8});
  EXPECT_EQ(w.msvcrt("wcslen", {wide_copy}), 2u);
  EXPECT_EQ(w.msvcrt("wcsrchr", {wide_copy, 'q'}), wide_copy + 2);
  EXPECT_EQ(w.msvcrt("isalpha", {'q'}), 1u);
  EXPECT_EQ(w.msvcrt("isdigit", {'q'}), 0u);
  EXPECT_EQ(w.msvcrt("toupper", {'q'}), static_cast<std::uint32_t>('Q'));
  EXPECT_EQ(w.string_at(w.msvcrt("strerror", {2})), "No such file or directory");
  EXPECT_NE(w.msvcrt("getenv", {w.text("temp")}), 0u);
  EXPECT_EQ(w.msvcrt("getenv", {w.text("NO_SUCH_VARIABLE")}), 0u);

  // Time: the clock's date, local time being UTC.
  const std::uint32_t now = w.zeros(8);
  EXPECT_EQ(w.msvcrt("time", {now}), 1298376000u);  // 2011-02-22 12:00:00
  std::int32_t tm[9];
  w.process.cpu.read(w.msvcrt("localtime", {now}), tm, sizeof tm);
  EXPECT_EQ(std::vector<std::int32_t>(tm, tm + 8),
            (std::vector<std::int32_t>{0, 0, 12, 22, 1, 111, 2, 52}));
  w.msvcrt("strftime", {out, 64, w.text("%Y-%m-%d %H:%M"), w.msvcrt("gmtime", {now})});
  EXPECT_EQ(w.string_at(out), "2011-02-22 12:00");
  // mktime carries 32 January into 1 February.
  const std::int32_t january_32[9] = {0, 0, 0, 32, 0, 100, 0, 0, 0};
  const std::uint32_t fields = w.zeros(36);
  w.process.cpu.write(fields, january_32, sizeof january_32);
  EXPECT_EQ(w.msvcrt("mktime", {fields}), 949363200u);
  w.process.cpu.read(fields, tm, sizeof tm);
  EXPECT_EQ(tm[3], 1);
  EXPECT_EQ(tm[4], 1);
}

TEST(system_functions, setjmp_and_longjmp_return_twice) {
  emulated_windows w;
  const std::uint32_t buffer = w.zeros(64);
  const std::uint32_t setjmp = w.process.bind("msvcrt.dll", "_setjmp3");
  const std::uint32_t longjmp = w.process.bind("msvcrt.dll", "longjmp");
  // push 0; push buffer; call _setjmp3; add esp,8; test eax,eax; jnz done;
  // push 7; push buffer; call longjmp; done: ret
  std::vector<std::uint8_t> code = {0x6A, 0x00, 0x68, 0,    0,    0,    0,    0xB8, 0,
                                    0,    0,    0,    0xFF, 0xD0, 0x83, 0xC4, 0x08, 0x85,
                                    0xC0, 0x75, 0x0E, 0x6A, 0x07, 0x68, 0,    0,    0,
                                    0,    0xB8, 0,    0,    0,    0,    0xFF, 0xD0, 0xC3};
  std::memcpy(code.data() + 3, &buffer, 4);
  std::memcpy(code.data() + 8, &setjmp, 4);
  std::memcpy(code.data() + 24, &buffer, 4);
  std::memcpy(code.data() + 29, &longjmp, 4);
  const call_outcome r =
      w.process.cpu.call(w.process.cpu.add_routine(code), call_convention::cdecl_call, 0, {});
  EXPECT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, 7u);
}

TEST(system_functions, kernel32s_texts_and_the_host_machine) {
  emulated_windows w;
  const std::uint32_t out = w.zeros(128), wide = w.zeros(64), flag = w.zeros(4);
  // ISO 8859-1 both ways; a character beyond it becomes '?', and says so.
  EXPECT_EQ(w.kernel32("MultiByteToWideChar", {1252, 0, w.text("h\xE9!"), 0xFFFFFFFF, wide, 32}),
            4u);
  const std::uint16_t smile = 0x263A;
  w.process.cpu.write(wide + 2, &smile, 2);
  EXPECT_EQ(w.kernel32("WideCharToMultiByte", {1252, 0, wide, 0xFFFFFFFF, out, 32, 0, flag}), 4u);
  EXPECT_EQ(w.string_at(out), "h?!");
  EXPECT_EQ(w.process.cpu.read32(flag), 1u);
  EXPECT_EQ(w.kernel32("lstrlenA", {0}), 0u);
  w.kernel32("lstrcpynA", {out, w.text("abcdef"), 4});
  EXPECT_EQ(w.string_at(out), "abc");
  EXPECT_EQ(w.kernel32("lstrcmpiA", {w.text("Foo"), w.text("fOO")}), 0u);
  EXPECT_EQ(w.kernel32("CompareStringA",
                       {0x409, 1, w.text("Abc"), 0xFFFFFFFF, w.text("aBC"), 0xFFFFFFFF}),
            2u);  // CSTR_EQUAL
  EXPECT_EQ(w.kernel32("LCMapStringA", {0x409, 0x200, w.text("abc1"), 0xFFFFFFFF, out, 16}), 5u);
  EXPECT_EQ(w.string_at(out), "ABC1");
  EXPECT_EQ(w.kernel32("GetLocaleInfoA", {0x409, 0x0E, out, 8}), 2u);  // LOCALE_SDECIMAL
  EXPECT_EQ(w.string_at(out), ".");
  // The environment: the length without the NUL, or the size needed with it.
  EXPECT_EQ(w.kernel32("GetEnvironmentVariableA", {w.text("USERNAME"), out, 64}), 6u);
  EXPECT_EQ(w.string_at(out), "artist");
  EXPECT_EQ(w.kernel32("GetEnvironmentVariableA", {w.text("USERNAME"), out, 3}), 7u);
  w.kernel32("SetEnvironmentVariableA", {w.text("PLUGIN_MODE"), w.text("fast")});
  EXPECT_EQ(w.kernel32("GetEnvironmentVariableA", {w.text("PLUGIN_MODE"), out, 64}), 4u);
  EXPECT_EQ(w.kernel32("GetEnvironmentVariableA", {w.text("NO_SUCH_VARIABLE"), out, 64}), 0u);
  EXPECT_EQ(w.kernel32("GetLastError"), 203u);  // ERROR_ENVVAR_NOT_FOUND
  // Module paths: the host's, a system DLL's, and one cut to the buffer.
  EXPECT_EQ(w.kernel32("GetModuleFileNameA", {0, out, 128}), 30u);
  EXPECT_EQ(w.string_at(out), "C:\\Program Files\\Host\\host.exe");
  w.kernel32("GetModuleFileNameA", {w.process.module_handle("kernel32"), out, 128});
  EXPECT_EQ(w.string_at(out), "C:\\WINDOWS\\system32\\KERNEL32.dll");
  EXPECT_EQ(w.kernel32("GetModuleFileNameA", {0, out, 5}), 5u);
  EXPECT_EQ(w.string_at(out), "C:\\P");
  // Folders: the length without the NUL, or the size needed with it.
  EXPECT_EQ(w.kernel32("GetSystemDirectoryA", {out, 128}), 19u);
  EXPECT_EQ(w.string_at(out), "C:\\WINDOWS\\system32");
  EXPECT_EQ(w.kernel32("GetSystemDirectoryA", {out, 4}), 20u);
  const std::uint32_t size = w.zeros(4);
  w.process.cpu.write32(size, 4);
  EXPECT_EQ(w.kernel32("GetComputerNameA", {out, size}), 0u);
  EXPECT_EQ(w.process.cpu.read32(size), 11u);
  EXPECT_EQ(w.call("SHELL32.dll", "SHGetFolderPathA", {0, 0x801A, 0, 0, out}).eax, 0u);
  EXPECT_EQ(w.string_at(out), "C:\\Documents and Settings\\artist\\Application Data");
}

TEST(system_functions, local_global_and_virtual_memory) {
  emulated_windows w;
  const std::uint32_t local = w.kernel32("LocalAlloc", {0x40, 10});  // LMEM_ZEROINIT
  EXPECT_EQ(w.process.cpu.read_bytes(local, 10), std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(w.kernel32("LocalFree", {local}), 0u);
  // VirtualAlloc: whole 64 KB regions, in the books until released.
  const std::uint32_t region = w.kernel32("VirtualAlloc", {0, 100000, 0x3000, 4});
  ASSERT_NE(region, 0u);
  EXPECT_EQ(region % 0x10000, 0u);
  EXPECT_EQ(w.process.books().virtual_bytes, 131072u);
  const std::uint32_t info = w.zeros(28);
  EXPECT_EQ(w.kernel32("VirtualQuery", {region + 0x1234, info, 28}), 28u);
  std::uint32_t fields[7];
  w.process.cpu.read(info, fields, sizeof fields);
  EXPECT_EQ((std::vector<std::uint32_t>{fields[0], fields[1], fields[3], fields[4], fields[6]}),
            (std::vector<std::uint32_t>{region + 0x1000, region, 131072 - 0x1000, 0x1000,
                                        0x20000}));  // MEM_COMMIT, MEM_PRIVATE
  EXPECT_EQ(w.kernel32("IsBadReadPtr", {region, 16}), 0u);
  EXPECT_EQ(w.kernel32("VirtualFree", {region, 0, 0x8000}), 1u);  // MEM_RELEASE
  EXPECT_EQ(w.process.books().virtual_bytes, 0u);
  EXPECT_EQ(w.kernel32("IsBadReadPtr", {region, 16}), 1u);
  w.kernel32("VirtualQuery", {region, info, 28});
  EXPECT_EQ(w.process.cpu.read32(info + 16), 0x10000u);  // MEM_FREE
}

}  // namespace
