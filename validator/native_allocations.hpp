#pragma once
// Counts the allocations made through operator new while a call into a
// native plug-in runs, and fails the chosen one with std::bad_alloc: this
// program replaces operator new (native_allocations.cpp) so that the
// module's calls reach it. The host objects allocate nothing during those
// calls (their ledger lists no calls), so every allocation counted is the
// plug-in's.

#include <cstdint>

namespace native_allocations {

// While one lives, allocations on this thread are counted.
class counting_scope {
 public:
  counting_scope();
  ~counting_scope();
  counting_scope(const counting_scope&) = delete;
  counting_scope& operator=(const counting_scope&) = delete;
};

std::uint64_t counted();
// The `nth` counted allocation from now on fails; 0: none.
void fail(std::uint64_t nth);

}  // namespace native_allocations
