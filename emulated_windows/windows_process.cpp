#include "emulated_windows/windows_process.hpp"

#include <cpuid.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

using namespace emulated_layout;

// Thread block fields a 32-bit module may read through FS.
constexpr std::uint32_t teb_exception_list = 0x00;
constexpr std::uint32_t teb_stack_base = 0x04;
constexpr std::uint32_t teb_stack_limit = 0x08;
constexpr std::uint32_t teb_self = 0x18;
constexpr std::uint32_t teb_process_id = 0x20;
constexpr std::uint32_t teb_thread_id = 0x24;
constexpr std::uint32_t teb_process_block = 0x30;
constexpr std::uint32_t teb_last_error = 0x34;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

cpuid_answer native_cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
  return cpuid_answer{eax, ebx, ecx, edx};
}

windows_process::windows_process(const windows_machine& described)
    : heap(cpu, emulated_layout::heap, heap_size), machine(described), arena_next_(host_arena) {
  cpu.map(host_arena, host_arena_size);
  cpu.map(thread_block, 0x2000);
  cpu.write32(thread_block + teb_exception_list, 0xFFFFFFFF);  // end of the SEH chain
  cpu.write32(thread_block + teb_stack_base, stack_base);
  cpu.write32(thread_block + teb_stack_limit, stack_limit);
  cpu.write32(thread_block + teb_self, thread_block);
  cpu.write32(thread_block + teb_process_id, 0x1234);
  cpu.write32(thread_block + teb_thread_id, 0x5678);
  cpu.write32(thread_block + teb_process_block, process_block);
  cpu.set_thread_block(thread_block, 0x1000);
  cpu.cpuid = [this](std::uint32_t leaf, std::uint32_t subleaf) {
    return machine.cpuid ? machine.cpuid(leaf, subleaf) : native_cpuid(leaf, subleaf);
  };
  provide_kernel32(*this);
  provide_msvcrt(*this);
  provide_user32(*this);
}

std::uint32_t windows_process::host_allocate(std::uint32_t size, std::uint32_t alignment) {
  const std::uint32_t address = (arena_next_ + alignment - 1) & ~(alignment - 1);
  if (address + std::uint64_t{size} > host_arena + host_arena_size)
    throw emulation_error("host arena full");
  arena_next_ = address + size;
  return address;
}

std::uint32_t windows_process::host_string(const std::string& text) {
  const std::uint32_t address = host_allocate(static_cast<std::uint32_t>(text.size() + 1), 1);
  cpu.write(address, text.c_str(), text.size() + 1);
  return address;
}

std::string windows_process::key(const std::string& dll, const std::string& function) {
  return lower(dll) + "!" + function;
}

void windows_process::provide(const std::string& dll, const std::string& function,
                              std::uint16_t popped, stub_handler handler) {
  provided_[key(dll, function)] = provided{popped, std::move(handler), 0};
}

void windows_process::provide_data(const std::string& dll, const std::string& name,
                                   std::uint32_t address) {
  provided_[key(dll, name)] = provided{0, nullptr, address};
}

bool windows_process::exported_by_system(const std::string& dll,
                                         const std::string& function) const {
  return provided_.count(key(dll, function)) != 0;
}

std::uint32_t windows_process::bind(const std::string& dll, const std::string& function) {
  const std::string k = key(dll, function);
  if (const auto it = bound_.find(k); it != bound_.end())
    return it->second;
  const std::string name = dll + "!" + function;
  std::uint32_t address = 0;
  const auto it = provided_.find(k);
  if (it == provided_.end()) {
    address = cpu.add_stub(name, 0, [name](stub_call& call) {
      call.cpu.stop_call("call of " + name + ", which the emulated system does not provide");
    });
  } else if (it->second.data != 0) {
    address = it->second.data;
  } else {
    stub_handler handler = it->second.handler;
    std::uint64_t* calls = &stub_calls_[name];  // map nodes stay put
    address = cpu.add_stub(name, it->second.popped, [calls, handler](stub_call& call) {
      ++*calls;
      handler(call);
    });
  }
  bound_[k] = address;
  return address;
}

std::uint32_t windows_process::open_handle(const std::string& kind) {
  next_handle_ += 4;
  handles_[next_handle_] = kind;
  return next_handle_;
}

bool windows_process::close_handle(std::uint32_t handle) {
  return handles_.erase(handle) != 0;
}

void windows_process::set_last_error(std::uint32_t code) {
  cpu.write32(thread_block + teb_last_error, code);
}
