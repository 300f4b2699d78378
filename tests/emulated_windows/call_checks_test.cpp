// The call helper itself: each breach of the host's calling contract it is
// there to catch, shown on a few bytes of machine code of our own.

#include <gtest/gtest.h>

#include <unicorn/unicorn.h>

#include "emulated_windows/process/windows_process.hpp"

namespace {

call_outcome run(const std::vector<std::uint8_t>& code, call_convention convention,
                 std::vector<std::uint32_t> args = {}, std::uint64_t block_limit = 1000) {
  windows_process process;
  process.cpu.block_limit = block_limit;
  return process.cpu.call(process.cpu.add_routine(code), convention, 0x1234, args);
}

TEST(call_checks, a_clean_stdcall_and_thiscall) {
  // mov eax,[esp+4]; add eax,ecx; ret 4
  const std::vector<std::uint8_t> code{0x8B, 0x44, 0x24, 0x04, 0x01, 0xC8, 0xC2, 0x04, 0x00};
  const call_outcome r = run(code, call_convention::thiscall, {0x100});
  EXPECT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, 0x1334u);
}

TEST(call_checks, popping_too_much_or_too_little) {
  // ret 8 for one argument, ret for one argument
  EXPECT_EQ(run({0xC2, 0x08, 0x00}, call_convention::stdcall, {1}).popped, 8);
  const call_outcome r = run({0xC3}, call_convention::stdcall, {1});
  EXPECT_FALSE(r.clean());
  EXPECT_EQ(r.describe(), "returned EAX 0xA1A1A1A1, popped 0 bytes (its convention: 4)");
  // COM: `this` counts among the arguments popped.
  EXPECT_EQ(run({0xC2, 0x04, 0x00}, call_convention::com_stdcall, {}).clean(), true);
}

TEST(call_checks, registers_the_callee_must_keep) {
  // xor esi,esi; mov ebp,esp; ret
  const call_outcome r = run({0x31, 0xF6, 0x89, 0xE5, 0xC3}, call_convention::cdecl_call);
  EXPECT_EQ(r.clobbered, (std::vector<std::string>{"ESI", "EBP"}));
  // fldcw [esp-2] after storing 0x037F there: 64-bit precision left behind
  const call_outcome x87 =
      run({0x66, 0xC7, 0x44, 0x24, 0xFE, 0x7F, 0x03, 0xD9, 0x6C, 0x24, 0xFE, 0xC3},
          call_convention::cdecl_call);
  EXPECT_EQ(x87.clobbered, (std::vector<std::string>{"the x87 control word"}));
}

// What the host's code relies on besides the registers: the direction
// flag clear, an empty x87 register stack, MXCSR as Windows sets it.
TEST(call_checks, cpu_state_the_host_relies_on) {
  // std; ret
  EXPECT_EQ(run({0xFD, 0xC3}, call_convention::cdecl_call).clobbered,
            std::vector<std::string>{"the direction flag (left set)"});
  // fld1; fld1; ret: two values left on the register stack
  EXPECT_EQ(run({0xD9, 0xE8, 0xD9, 0xE8, 0xC3}, call_convention::cdecl_call).clobbered,
            std::vector<std::string>{"the x87 register stack (2 values left on it)"});
  // fld1; fstp st(0); ret: pushed and popped, nothing left
  EXPECT_TRUE(run({0xD9, 0xE8, 0xDD, 0xD8, 0xC3}, call_convention::cdecl_call).clean());
  // stmxcsr [esp-4]; or dword [esp-4],0x8000; ldmxcsr [esp-4]; ret: flush-to-zero
  const call_outcome ftz = run({0x0F, 0xAE, 0x5C, 0x24, 0xFC, 0x81, 0x4C, 0x24, 0xFC, 0x00, 0x80,
                                0x00, 0x00, 0x0F, 0xAE, 0x54, 0x24, 0xFC, 0xC3},
                               call_convention::cdecl_call);
  EXPECT_EQ(ftz.clobbered,
            std::vector<std::string>{"MXCSR (0x9F80, not 0x1F80: flush-to-zero left on)"});
  // A masked SSE exception's sticky flag is no change: divss of 1 by 0.
  // xorps xmm0,xmm0; mov eax,1.0f; movd xmm1,eax; divss xmm1,xmm0; ret
  EXPECT_TRUE(run({0x0F, 0x57, 0xC0, 0xB8, 0x00, 0x00, 0x80, 0x3F, 0x66, 0x0F, 0x6E, 0xC8, 0xF3,
                   0x0F, 0x5E, 0xC8, 0xC3},
                  call_convention::cdecl_call)
                  .clean());
}

TEST(call_checks, a_callee_that_never_returns_is_reported) {
  // jmp $
  call_outcome r = run({0xEB, 0xFE}, call_convention::stdcall);
  EXPECT_FALSE(r.returned);
  EXPECT_EQ(r.stop_reason.rfind("instruction limit", 0), 0u) << r.stop_reason;
  EXPECT_TRUE(r.over_budget);
  // mov eax,[0x00000010]: nothing is mapped there
  r = run({0xA1, 0x10, 0x00, 0x00, 0x00, 0xC3}, call_convention::stdcall);
  EXPECT_FALSE(r.returned);
  EXPECT_NE(r.stop_reason.find("read of 4 bytes at 0x10"), std::string::npos) << r.stop_reason;
}

TEST(call_checks, an_import_no_stub_provides_names_itself_when_called) {
  windows_process process;
  const std::uint32_t missing = process.bind("KERNEL32.dll", "CreateFileA");
  const call_outcome r = process.cpu.call(missing, call_convention::stdcall, 0, {});
  EXPECT_FALSE(r.returned);
  EXPECT_EQ(r.stop_reason,
            "calls KERNEL32.dll!CreateFileA, which the emulated Windows does not provide");
  EXPECT_EQ(r.missing_function, "KERNEL32.dll!CreateFileA");
}

TEST(call_checks, fs_leads_to_the_thread_block) {
  // mov eax, fs:[0x18] (the block's own address); ret
  const call_outcome r =
      run({0x64, 0xA1, 0x18, 0x00, 0x00, 0x00, 0xC3}, call_convention::cdecl_call);
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, emulated_layout::thread_block);
}

}  // namespace
