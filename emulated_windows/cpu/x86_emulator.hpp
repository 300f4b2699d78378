#pragma once
// A 32-bit x86 CPU (Unicorn 2) with its memory, a thread block behind FS
// through a GDT, native stubs the emulated code can call, and one way in:
// `call`, which makes a call exactly as an MSVC-built host does and tells
// whether the callee came back, kept the registers it must keep and popped
// what its convention says.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

struct uc_struct;

struct emulation_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where things live in the emulated address space. Velloq.dll's preferred
// base (0x63C40000) and the relocation target stay clear.
namespace emulated_layout {
inline constexpr std::uint32_t gdt = 0x00001000;
inline constexpr std::uint32_t stack_limit = 0x00100000;
inline constexpr std::uint32_t stack_base = 0x00200000;
inline constexpr std::uint32_t heap = 0x10000000;
inline constexpr std::uint32_t heap_size = 0x04000000;
inline constexpr std::uint32_t host_arena = 0x20000000;
inline constexpr std::uint32_t host_arena_size = 0x01000000;
inline constexpr std::uint32_t relocated_base = 0x30000000;
inline constexpr std::uint32_t stubs = 0x7F000000;
inline constexpr std::uint32_t stubs_size = 0x00040000;
inline constexpr std::uint32_t routines = 0x7F040000;
inline constexpr std::uint32_t routines_size = 0x00010000;
inline constexpr std::uint32_t thread_block = 0x7FFDE000;
inline constexpr std::uint32_t process_block = 0x7FFDF000;
inline constexpr std::uint32_t return_sentinel = 0x7FFE0000;
}  // namespace emulated_layout

struct cpuid_answer {
  std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

enum class call_convention {
  stdcall,      // arguments on the stack, callee pops them
  thiscall,     // `this` in ECX, arguments on the stack, callee pops them
  com_stdcall,  // `this` as the first stack argument, callee pops all
  cdecl_call,   // arguments on the stack, caller pops them
};

// What became of one call.
struct call_outcome {
  bool returned = false;
  std::uint32_t eax = 0;
  std::uint32_t edx = 0;
  std::int32_t popped = 0;             // bytes the callee removed besides the return address
  std::int32_t expected_popped = 0;    // what its convention demands
  std::vector<std::string> clobbered;  // callee-saved registers and state not restored
  std::string stop_reason;             // why it did not return
  std::string missing_function;        // "DLL!function" when it called one no one provides
  std::uint64_t blocks = 0;            // translation blocks run
  bool over_budget = false;            // stopped by block_limit: still running

  // Came back, popped what it should and kept EBX, ESI, EDI, EBP, the
  // direction flag, the x87 control word, status and register stack, and
  // MXCSR as the host had them.
  bool clean() const { return returned && popped == expected_popped && clobbered.empty(); }
  std::string describe() const;
};

class x86_emulator;

// What a native stub sees of the call that reached it.
class stub_call {
 public:
  stub_call(x86_emulator& emulator, const std::string& stub_name)
      : cpu(emulator), name(stub_name) {}
  // Stack argument `index`, counted from 0 after the return address.
  std::uint32_t arg(int index) const;
  std::uint32_t ecx() const;
  void result(std::uint32_t eax) const;
  void result64(std::uint64_t edx_eax) const;

  x86_emulator& cpu;
  const std::string& name;
};

using stub_handler = std::function<void(stub_call&)>;

class x86_emulator {
 public:
  x86_emulator();
  ~x86_emulator();
  x86_emulator(const x86_emulator&) = delete;
  x86_emulator& operator=(const x86_emulator&) = delete;

  void map(std::uint32_t address, std::uint32_t size);
  void unmap(std::uint32_t address, std::uint32_t size);
  void read(std::uint32_t address, void* out, std::size_t size) const;
  void write(std::uint32_t address, const void* data, std::size_t size);
  std::uint32_t read32(std::uint32_t address) const;
  void write32(std::uint32_t address, std::uint32_t value);
  // The NUL-terminated text at `address` (at most `limit` bytes are read).
  std::string read_string(std::uint32_t address, std::size_t limit = 1u << 20) const;
  std::vector<std::uint8_t> read_bytes(std::uint32_t address, std::size_t size) const;

  std::uint32_t reg(int id) const;
  void set_reg(int id, std::uint32_t value);

  // A stub the emulated code can call: runs `handler`, then returns to the
  // caller removing `popped` bytes of arguments.
  std::uint32_t add_stub(const std::string& name, std::uint16_t popped, stub_handler handler);
  // Machine code of our own, for routines that must call back into the DLL.
  std::uint32_t add_routine(const std::vector<std::uint8_t>& code);

  // Puts `base` behind FS through a data segment of the GDT.
  void set_thread_block(std::uint32_t base, std::uint32_t size);

  // Calls `target` as the host does: arguments pushed right to left, the
  // return address a sentinel, `self` in ECX (thiscall) or pushed last (COM).
  call_outcome call(std::uint32_t target, call_convention convention, std::uint32_t self,
                    const std::vector<std::uint32_t>& args);
  // From a stub: the call in progress will not come back, for `reason`.
  void stop_call(const std::string& reason);
  // From a stub: the call reached DLL!function, which the emulated Windows
  // cannot serve (`why`: "which the emulated Windows does not provide").
  void stop_call_missing(const std::string& function, const std::string& why = std::string());

  // Answers the CPUID instruction; leaf in EAX, sub-leaf in ECX.
  std::function<cpuid_answer(std::uint32_t leaf, std::uint32_t subleaf)> cpuid;
  // The x87 control word a call starts with. Windows starts threads, and an
  // MSVC program keeps them, with 53-bit precision and every exception
  // masked (0x027F), unlike a bare FNINIT's 64-bit precision (0x037F).
  std::uint16_t x87_control = 0x027F;
  // Translation blocks one call may run before it counts as hung.
  std::uint64_t block_limit = 200'000'000;
  // Translation blocks run since the emulator was made: the work done.
  std::uint64_t blocks_run() const { return blocks_before_ + blocks_; }

 private:
  struct stub {
    std::string name;
    stub_handler handler;
  };
  friend struct emulator_hooks;
  void check(int error, const char* what) const;

  uc_struct* uc_ = nullptr;
  std::vector<stub> stubs_;
  std::uint32_t routines_used_ = 0;
  bool in_call_ = false;
  std::string stop_reason_;
  std::string missing_function_;
  std::string memory_fault_;
  bool over_budget_ = false;
  std::uint64_t blocks_ = 0;         // in the call in progress or the last one
  std::uint64_t blocks_before_ = 0;  // in the calls before it
};
