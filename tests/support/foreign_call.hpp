#pragma once
// Calls made the way an MSVC-built host makes them, for the 32-bit Windows
// build: arguments pushed right to left by hand, `this` in ECX (thiscall) or
// pushed last (COM and plain stdcall), the callee expected to pop them all.
// Each call reports how far the stack pointer moved, which must be 0.

#include <cstdint>
#include <initializer_list>
#include <vector>

#if defined(_WIN32) && defined(__i386__)

struct foreign_result {
  std::uint32_t eax;
  std::int32_t stack_imbalance;  // bytes the callee left on (or took off) the stack
};

// Pushes `args` right to left, loads `ecx`, calls `target`.
inline foreign_result foreign_call(const void* target, std::uint32_t ecx,
                                   const std::vector<std::uint32_t>& list) {
  const std::uint32_t* data = list.data();
  std::uint32_t count = static_cast<std::uint32_t>(list.size());
  std::uint32_t result = reinterpret_cast<std::uint32_t>(target);
  std::uint32_t self = ecx;
  // Registers only: after the pushes, stack-relative operands would be off.
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "1:\n\t"
      "testl %%edx, %%edx\n\t"
      "jz 2f\n\t"
      "decl %%edx\n\t"
      "pushl (%%esi,%%edx,4)\n\t"
      "jmp 1b\n"
      "2:\n\t"
      "movl %%ebx, %%ecx\n\t"
      "call *%%eax\n\t"
      "movl %%esp, %%edx\n\t"
      "subl %%edi, %%edx\n\t"
      "movl %%edi, %%esp\n\t"
      : "+a"(result), "+d"(count)
      : "S"(data), "b"(self)
      : "ecx", "edi", "memory", "cc");
  return foreign_result{result, static_cast<std::int32_t>(count)};
}

// The table entry at `slot` of a COM-style object.
inline const void* table_entry(const void* object, int slot) {
  return (*static_cast<const void* const* const*>(object))[slot];
}

inline foreign_result call_thiscall_slot(void* object, int slot,
                                         std::initializer_list<std::uint32_t> args) {
  return foreign_call(table_entry(object, slot), reinterpret_cast<std::uint32_t>(object), args);
}

// COM convention: `this` is the first stack argument; ECX carries garbage.
inline foreign_result call_com_slot(void* object, int slot,
                                    std::initializer_list<std::uint32_t> args) {
  std::vector<std::uint32_t> with_this{reinterpret_cast<std::uint32_t>(object)};
  with_this.insert(with_this.end(), args.begin(), args.end());
  return foreign_call(table_entry(object, slot), 0xDEADBEEF, with_this);
}

template <class T>
std::uint32_t word(T* pointer) {
  return reinterpret_cast<std::uint32_t>(pointer);
}

#endif
