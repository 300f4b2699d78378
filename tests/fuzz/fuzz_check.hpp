#pragma once
// A broken property ends the run at once: libFuzzer then keeps the input as
// a crash, and a regression run stops with the message.

#include <cstdio>
#include <cstdlib>

inline void fuzz_require(bool holds, const char* target, const char* property) {
  if (holds)
    return;
  std::fprintf(stderr, "%s: %s\n", target, property);
  std::fflush(stderr);
  std::abort();
}
