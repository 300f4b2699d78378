#pragma once
// The facts the native module reads from the running system, chosen by a
// test. This executable defines clock_gettime, uname and sysconf itself and
// exports them (see interposed_symbols.list), so the native module's calls
// resolve here. While a scoped_native_facts lives they answer its facts;
// otherwise, and for every other question, they pass the call on to the C
// library.

#include <cstdint>
#include <string>
#include <vector>

struct native_facts {
  // CLOCK_MONOTONIC in milliseconds, answered in turn, the last one again.
  std::vector<std::uint64_t> ticks;
  long processors = 1;                // _SC_NPROCESSORS_ONLN
  std::uint64_t physical_memory = 0;  // _SC_PHYS_PAGES times the page size
  // uname: the module joins these with blanks for its OS line.
  std::string system_name, release, machine;
};

class scoped_native_facts {
 public:
  explicit scoped_native_facts(native_facts facts);
  ~scoped_native_facts();
  scoped_native_facts(const scoped_native_facts&) = delete;
  scoped_native_facts& operator=(const scoped_native_facts&) = delete;

  // How often the monotonic clock was read while this was active.
  int clock_reads() const;
};
