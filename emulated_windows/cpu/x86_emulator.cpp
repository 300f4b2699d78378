#include "emulated_windows/cpu/x86_emulator.hpp"

#include <unicorn/unicorn.h>

#include <cstdio>

namespace {

using namespace emulated_layout;

constexpr std::uint32_t stub_stride = 16;
constexpr std::uint32_t direction_flag = 1u << 10;
// Every x87 register tagged empty (two bits each, 11 for empty).
constexpr std::uint32_t x87_all_empty = 0xFFFF;
// How Windows starts a thread's SSE state: every exception masked, round to
// nearest, no flush-to-zero, no denormals-are-zero.
constexpr std::uint32_t host_mxcsr = 0x1F80;
constexpr std::uint32_t mxcsr_exception_flags = 0x3F;  // sticky, harmless while masked

int x87_values_on_stack(std::uint32_t tags) {
  int values = 0;
  for (int i = 0; i < 8; ++i) values += ((tags >> (2 * i)) & 3) != 3 ? 1 : 0;
  return values;
}

// What a changed MXCSR does to the host, in words.
std::string mxcsr_change(std::uint32_t mxcsr) {
  std::string what;
  auto add = [&what](const char* text) { what += std::string(what.empty() ? ": " : ", ") + text; };
  if ((mxcsr & 0x8000) != 0)
    add("flush-to-zero left on");
  if ((mxcsr & 0x0040) != 0)
    add("denormals-are-zero left on");
  if ((mxcsr & 0x6000) != (host_mxcsr & 0x6000))
    add("another rounding mode");
  if ((mxcsr & 0x1F80) != 0x1F80)
    add("SSE exceptions unmasked");
  return what;
}
constexpr std::uint8_t nop = 0x90, int3 = 0xCC, hlt = 0xF4;

// Values the host leaves in the registers a callee must keep.
struct kept_register {
  int id;
  const char* name;
  std::uint32_t value;
};
constexpr kept_register kept_registers[] = {
    {UC_X86_REG_EBX, "EBX", 0xB0B0B0B0},
    {UC_X86_REG_ESI, "ESI", 0x51515151},
    {UC_X86_REG_EDI, "EDI", 0xD0D0D0D0},
    {UC_X86_REG_EBP, "EBP", 0xEBEBEBEB},
};

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// One GDT entry: base, byte-granular limit, access byte, flag nibble.
std::uint64_t segment_descriptor(std::uint32_t base, std::uint32_t limit, std::uint8_t access,
                                 std::uint8_t flags) {
  std::uint64_t d = limit & 0xFFFFu;
  d |= std::uint64_t{base & 0xFFFFFFu} << 16;
  d |= std::uint64_t{access} << 40;
  d |= std::uint64_t{(limit >> 16) & 0xFu} << 48;
  d |= std::uint64_t{flags & 0xFu} << 52;
  d |= std::uint64_t{base >> 24} << 56;
  return d;
}

}  // namespace

// The C callbacks Unicorn calls; they reach the emulator's private state.
struct emulator_hooks {
  static void on_stub(uc_engine*, std::uint64_t address, std::uint32_t, void* user) {
    auto& cpu = *static_cast<x86_emulator*>(user);
    const std::uint64_t offset = address - stubs;
    // The hook covers the whole area; only each stub's first byte calls out.
    if (offset % stub_stride != 0 || offset / stub_stride >= cpu.stubs_.size())
      return;
    const x86_emulator::stub& target = cpu.stubs_[offset / stub_stride];
    stub_call call(cpu, target.name);
    try {
      target.handler(call);
    } catch (const std::exception& e) {
      // Nothing may unwind through the emulator's C code.
      cpu.stop_call("stub " + target.name + " failed: " + e.what());
    }
  }
  static void on_block(uc_engine*, std::uint64_t, std::uint32_t, void* user) {
    auto& cpu = *static_cast<x86_emulator*>(user);
    if (++cpu.blocks_ > cpu.block_limit && !cpu.over_budget_) {
      cpu.over_budget_ = cpu.stop_reason_.empty();
      cpu.stop_call("instruction limit: more than " + std::to_string(cpu.block_limit) +
                    " blocks without returning");
    }
  }
  static int on_cpuid(uc_engine*, void* user) {
    auto& cpu = *static_cast<x86_emulator*>(user);
    if (!cpu.cpuid)
      return 0;
    const cpuid_answer a = cpu.cpuid(cpu.reg(UC_X86_REG_EAX), cpu.reg(UC_X86_REG_ECX));
    cpu.set_reg(UC_X86_REG_EAX, a.eax);
    cpu.set_reg(UC_X86_REG_EBX, a.ebx);
    cpu.set_reg(UC_X86_REG_ECX, a.ecx);
    cpu.set_reg(UC_X86_REG_EDX, a.edx);
    return 1;  // answered: the instruction itself is skipped
  }
  static bool on_invalid_memory(uc_engine*, uc_mem_type type, std::uint64_t address, int size,
                                std::int64_t, void* user) {
    auto& cpu = *static_cast<x86_emulator*>(user);
    const char* kind = type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT   ? "write"
                       : type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? "fetch"
                                                                                    : "read";
    cpu.memory_fault_ =
        std::string(kind) + " of " + std::to_string(size) + " bytes at " + hex(address);
    return false;
  }
};

std::string call_outcome::describe() const {
  if (!returned)
    return "did not return: " + stop_reason;
  std::string text = "returned EAX " + hex(eax) + ", popped " + std::to_string(popped) +
                     " bytes (its convention: " + std::to_string(expected_popped) + ")";
  for (const std::string& name : clobbered) text += ", " + name + " not kept";
  return text;
}

std::uint32_t stub_call::arg(int index) const {
  return cpu.read32(cpu.reg(UC_X86_REG_ESP) + 4 + 4 * static_cast<std::uint32_t>(index));
}
std::uint32_t stub_call::ecx() const {
  return cpu.reg(UC_X86_REG_ECX);
}
void stub_call::result(std::uint32_t eax) const {
  cpu.set_reg(UC_X86_REG_EAX, eax);
}
void stub_call::result64(std::uint64_t edx_eax) const {
  cpu.set_reg(UC_X86_REG_EAX, static_cast<std::uint32_t>(edx_eax));
  cpu.set_reg(UC_X86_REG_EDX, static_cast<std::uint32_t>(edx_eax >> 32));
}

x86_emulator::x86_emulator() {
  check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc_), "uc_open");
  set_reg(UC_X86_REG_FPCW, x87_control);
  map(gdt, 0x1000);
  map(stack_limit, stack_base - stack_limit);
  map(stubs, stubs_size);
  map(routines, routines_size);
  map(return_sentinel, 0x1000);
  write(stubs, std::vector<std::uint8_t>(stubs_size, int3).data(), stubs_size);
  write(routines, std::vector<std::uint8_t>(routines_size, int3).data(), routines_size);
  write(return_sentinel, std::vector<std::uint8_t>(0x1000, hlt).data(), 0x1000);

  uc_hook hook;
  check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&emulator_hooks::on_stub),
                    this, stubs, stubs + stubs_size - 1),
        "stub hook");
  check(uc_hook_add(uc_, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&emulator_hooks::on_block),
                    this, 1, 0),
        "block hook");
  check(uc_hook_add(uc_, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&emulator_hooks::on_cpuid),
                    this, 1, 0, UC_X86_INS_CPUID),
        "cpuid hook");
  check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_INVALID,
                    reinterpret_cast<void*>(&emulator_hooks::on_invalid_memory), this, 1, 0),
        "memory hook");
}

x86_emulator::~x86_emulator() {
  if (uc_ != nullptr)
    uc_close(uc_);
}

void x86_emulator::check(int error, const char* what) const {
  if (error != UC_ERR_OK)
    throw emulation_error(std::string(what) + ": " + uc_strerror(static_cast<uc_err>(error)));
}

void x86_emulator::map(std::uint32_t address, std::uint32_t size) {
  check(uc_mem_map(uc_, address, (size + 0xFFFu) & ~0xFFFu, UC_PROT_ALL),
        ("map " + hex(address)).c_str());
}

void x86_emulator::unmap(std::uint32_t address, std::uint32_t size) {
  check(uc_mem_unmap(uc_, address, (size + 0xFFFu) & ~0xFFFu), "unmap");
}

void x86_emulator::read(std::uint32_t address, void* out, std::size_t size) const {
  if (size != 0 && uc_mem_read(uc_, address, out, size) != UC_ERR_OK)
    throw emulation_error("read of " + std::to_string(size) + " bytes at " + hex(address) +
                          " outside emulated memory");
}

void x86_emulator::write(std::uint32_t address, const void* data, std::size_t size) {
  if (size != 0 && uc_mem_write(uc_, address, data, size) != UC_ERR_OK)
    throw emulation_error("write of " + std::to_string(size) + " bytes at " + hex(address) +
                          " outside emulated memory");
}

std::uint32_t x86_emulator::read32(std::uint32_t address) const {
  std::uint32_t value = 0;
  read(address, &value, 4);
  return value;
}

void x86_emulator::write32(std::uint32_t address, std::uint32_t value) {
  write(address, &value, 4);
}

std::string x86_emulator::read_string(std::uint32_t address, std::size_t limit) const {
  std::string text;
  char chunk[64];
  while (text.size() < limit) {
    // Byte by byte near a page end, so a string ending there is still read.
    const std::size_t room = 0x1000 - (address & 0xFFFu);
    const std::size_t n = std::min<std::size_t>(sizeof chunk, room);
    read(address, chunk, n);
    for (std::size_t i = 0; i < n; ++i) {
      if (chunk[i] == 0)
        return text;
      text += chunk[i];
    }
    address += static_cast<std::uint32_t>(n);
  }
  throw emulation_error("string longer than " + std::to_string(limit) + " bytes");
}

std::vector<std::uint8_t> x86_emulator::read_bytes(std::uint32_t address, std::size_t size) const {
  std::vector<std::uint8_t> bytes(size);
  read(address, bytes.data(), size);
  return bytes;
}

std::uint32_t x86_emulator::reg(int id) const {
  std::uint32_t value = 0;
  check(uc_reg_read(uc_, id, &value), "register read");
  return value;
}

void x86_emulator::set_reg(int id, std::uint32_t value) {
  check(uc_reg_write(uc_, id, &value), "register write");
}

std::uint32_t x86_emulator::add_stub(const std::string& name, std::uint16_t popped,
                                     stub_handler handler) {
  const std::uint32_t address = stubs + static_cast<std::uint32_t>(stubs_.size()) * stub_stride;
  if (address + stub_stride > stubs + stubs_size)
    throw emulation_error("stub area full");
  std::vector<std::uint8_t> code{nop};
  if (popped == 0) {
    code.push_back(0xC3);  // ret
  } else {
    code.push_back(0xC2);  // ret imm16
    code.push_back(static_cast<std::uint8_t>(popped));
    code.push_back(static_cast<std::uint8_t>(popped >> 8));
  }
  write(address, code.data(), code.size());
  stubs_.push_back(stub{name, std::move(handler)});
  return address;
}

std::uint32_t x86_emulator::add_routine(const std::vector<std::uint8_t>& code) {
  const std::uint32_t address = routines + routines_used_;
  if (routines_used_ + code.size() > routines_size)
    throw emulation_error("routine area full");
  write(address, code.data(), code.size());
  routines_used_ += static_cast<std::uint32_t>((code.size() + 15) & ~std::size_t{15});
  return address;
}

void x86_emulator::set_thread_block(std::uint32_t base, std::uint32_t size) {
  const std::uint64_t table[] = {
      0, segment_descriptor(0, 0xFFFFF, 0x9B, 0xC),   // flat code, ring 0
      segment_descriptor(0, 0xFFFFF, 0x93, 0xC),      // flat data, ring 0
      segment_descriptor(base, size - 1, 0xF3, 0x4),  // the thread block, byte granular
  };
  write(gdt, table, sizeof table);
  uc_x86_mmr gdtr{0, gdt, sizeof table - 1, 0};
  check(uc_reg_write(uc_, UC_X86_REG_GDTR, &gdtr), "GDTR");
  // The stack and data segments get the flat ring-0 descriptor (the CPU
  // runs at ring 0); FS the thread block's.
  set_reg(UC_X86_REG_SS, 2u << 3);
  set_reg(UC_X86_REG_DS, 2u << 3);
  set_reg(UC_X86_REG_ES, 2u << 3);
  set_reg(UC_X86_REG_FS, (3u << 3) | 3u);
}

void x86_emulator::stop_call_missing(const std::string& function, const std::string& why) {
  if (stop_reason_.empty())
    missing_function_ = function;
  stop_call("calls " + function + ", " +
            (why.empty() ? "which the emulated Windows does not provide" : why));
}

void x86_emulator::stop_call(const std::string& reason) {
  if (stop_reason_.empty())
    stop_reason_ = reason;
  uc_emu_stop(uc_);
}

call_outcome x86_emulator::call(std::uint32_t target, call_convention convention,
                                std::uint32_t self, const std::vector<std::uint32_t>& args) {
  if (in_call_)
    throw emulation_error("a call while another is running");
  std::uint32_t sp = stack_base - 64;
  auto push = [&](std::uint32_t value) {
    sp -= 4;
    write32(sp, value);
  };
  for (auto it = args.rbegin(); it != args.rend(); ++it) push(*it);
  if (convention == call_convention::com_stdcall)
    push(self);
  push(return_sentinel);
  const std::uint32_t entry_sp = sp;

  set_reg(UC_X86_REG_ESP, sp);
  for (const kept_register& r : kept_registers) set_reg(r.id, r.value);
  set_reg(UC_X86_REG_ECX, convention == call_convention::thiscall ? self : 0xC1C1C1C1);
  set_reg(UC_X86_REG_EAX, 0xA1A1A1A1);
  set_reg(UC_X86_REG_EDX, 0xD1D1D1D1);
  set_reg(UC_X86_REG_EFLAGS, 0x202);  // interrupts on, the direction flag clear
  set_reg(UC_X86_REG_FPCW, x87_control);
  set_reg(UC_X86_REG_FPSW, 0);
  set_reg(UC_X86_REG_FPTAG, x87_all_empty);
  set_reg(UC_X86_REG_MXCSR, host_mxcsr);

  stop_reason_.clear();
  missing_function_.clear();
  memory_fault_.clear();
  over_budget_ = false;
  blocks_before_ += blocks_;
  blocks_ = 0;
  in_call_ = true;
  const uc_err error = uc_emu_start(uc_, target, return_sentinel, 0, 0);
  in_call_ = false;

  call_outcome outcome;
  outcome.blocks = blocks_;
  const std::uint32_t eip = reg(UC_X86_REG_EIP);
  if (!stop_reason_.empty()) {
    outcome.stop_reason = stop_reason_;
    outcome.missing_function = missing_function_;
    outcome.over_budget = over_budget_;
  } else if (error != UC_ERR_OK) {
    outcome.stop_reason = std::string("fault: ") + uc_strerror(error) + " at EIP " + hex(eip);
    if (!memory_fault_.empty())
      outcome.stop_reason += " (" + memory_fault_ + ")";
  } else if (eip != return_sentinel) {
    outcome.stop_reason = "stopped at EIP " + hex(eip);
  } else {
    outcome.returned = true;
    outcome.eax = reg(UC_X86_REG_EAX);
    outcome.edx = reg(UC_X86_REG_EDX);
    outcome.popped = static_cast<std::int32_t>(reg(UC_X86_REG_ESP) - (entry_sp + 4));
    for (const kept_register& r : kept_registers) {
      if (reg(r.id) != r.value)
        outcome.clobbered.push_back(r.name);
    }
    // The host's floating-point state is the host's: a callee that changes
    // the x87 precision or exception masks changes the host's arithmetic.
    if ((reg(UC_X86_REG_FPCW) & 0x1F3F) != (x87_control & 0x1F3F))
      outcome.clobbered.push_back("the x87 control word");
    // An exception flag that the host's control word unmasks traps at the
    // host's next floating-point instruction (the emulator does not trap).
    const std::uint32_t status = reg(UC_X86_REG_FPSW);
    if ((status & ~x87_control & 0x3F) != 0)
      outcome.clobbered.push_back("the x87 status word (an exception left pending for the host)");
    // Values left on the x87 register stack: the host's next loads find the
    // stack full and get NaN (no call here returns a floating-point value).
    const int left = x87_values_on_stack(reg(UC_X86_REG_FPTAG));
    if (left != 0 || ((status >> 11) & 7) != 0)
      outcome.clobbered.push_back("the x87 register stack (" +
                                  std::to_string(left != 0 ? left : 1) +
                                  (left > 1 ? " values" : " value") + " left on it)");
    // The direction flag must be clear on return: the host's string
    // instructions (memcpy, memset) would run backwards.
    if ((reg(UC_X86_REG_EFLAGS) & direction_flag) != 0)
      outcome.clobbered.push_back("the direction flag (left set)");
    // The SSE control word is the host's too: flush-to-zero or
    // denormals-are-zero change its arithmetic, unmasked exceptions trap.
    const std::uint32_t mxcsr = reg(UC_X86_REG_MXCSR) & ~mxcsr_exception_flags;
    if (mxcsr != host_mxcsr)
      outcome.clobbered.push_back("MXCSR (" + hex(mxcsr) + ", not " + hex(host_mxcsr) +
                                  mxcsr_change(mxcsr) + ")");
  }
  const std::size_t stack_args = args.size() + (convention == call_convention::com_stdcall);
  outcome.expected_popped =
      convention == call_convention::cdecl_call ? 0 : static_cast<std::int32_t>(4 * stack_args);
  return outcome;
}
