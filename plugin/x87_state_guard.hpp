#pragma once
// The host's x87 floating-point state, put aside while a hook runs.
//
// The report's figures and the blending are computed in double precision,
// rounded to nearest, with every floating-point exception masked: how
// Windows starts a thread and an MSVC program keeps it. A host may have
// changed that. Direct3D 9 sets single precision unless told otherwise, a
// bare FNINIT gives 64-bit precision, and a host may unmask exceptions to
// catch its own faults, where the mean of a text block with no pixel inside
// the picture (0/0) would trap in the plug-in or leave an exception pending
// for the host's next instruction. So each hook runs in that one state and
// hands the host back its own environment, status flags included.
//
// Only the 32-bit Windows module does its arithmetic on the x87 unit; on
// other targets the guard does nothing.

#if defined(__i386__) && !defined(__SSE2_MATH__)
#define VELLOQ_X87_MATH 1
#else
#define VELLOQ_X87_MATH 0
#endif

class x87_state_guard {
 public:
  x87_state_guard() {
#if VELLOQ_X87_MATH
    // FNSTENV also masks every exception, so nothing pending traps here.
    __asm__ volatile("fnstenv %0" : "=m"(host_environment_));
    const unsigned short ours = 0x027F;  // 53-bit, to nearest, all masked
    __asm__ volatile("fldcw %0" : : "m"(ours));
#endif
  }
  ~x87_state_guard() {
#if VELLOQ_X87_MATH
    // Control word, status flags and register tags as the host left them;
    // the hook's own exception flags go with its state.
    __asm__ volatile("fldenv %0" : : "m"(host_environment_));
#endif
  }
  x87_state_guard(const x87_state_guard&) = delete;
  x87_state_guard& operator=(const x87_state_guard&) = delete;

 private:
#if VELLOQ_X87_MATH
  unsigned char host_environment_[28];  // the 32-bit protected-mode layout
#endif
};
