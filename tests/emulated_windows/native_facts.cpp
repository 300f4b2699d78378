#include "tests/emulated_windows/native_facts.hpp"

#include <dlfcn.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace {

native_facts* active = nullptr;
std::size_t next_tick = 0;
int clock_reads_so_far = 0;

// The definition the C library (or a sanitizer in front of it) provides.
template <class Function>
Function next_definition(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr)
    std::abort();
  return reinterpret_cast<Function>(symbol);
}

void copy_field(char* field, const std::string& text) {
  // utsname fields hold 65 bytes with the terminating NUL.
  std::strncpy(field, text.c_str(), 64);
  field[64] = 0;
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t clock, struct timespec* time) noexcept {
  if (active != nullptr && clock == CLOCK_MONOTONIC && !active->ticks.empty()) {
    const std::uint64_t ms = active->ticks[std::min(next_tick, active->ticks.size() - 1)];
    ++next_tick;
    ++clock_reads_so_far;
    time->tv_sec = static_cast<time_t>(ms / 1000);
    time->tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    return 0;
  }
  static const auto next = next_definition<int (*)(clockid_t, struct timespec*)>("clock_gettime");
  return next(clock, time);
}

int uname(struct utsname* names) noexcept {
  if (active != nullptr) {
    std::memset(names, 0, sizeof *names);
    copy_field(names->sysname, active->system_name);
    copy_field(names->release, active->release);
    copy_field(names->machine, active->machine);
    return 0;
  }
  static const auto next = next_definition<int (*)(struct utsname*)>("uname");
  return next(names);
}

long sysconf(int name) noexcept {
  static const auto next = next_definition<long (*)(int)>("sysconf");
  if (active != nullptr && name == _SC_NPROCESSORS_ONLN)
    return active->processors;
  if (active != nullptr && name == _SC_PHYS_PAGES)
    return static_cast<long>(active->physical_memory /
                             static_cast<std::uint64_t>(next(_SC_PAGE_SIZE)));
  return next(name);
}
}

scoped_native_facts::scoped_native_facts(native_facts facts) {
  if (active != nullptr)
    throw std::logic_error("native facts are already chosen");
  const long page = sysconf(_SC_PAGE_SIZE);
  if (page <= 0 || facts.physical_memory % static_cast<std::uint64_t>(page) != 0)
    throw std::invalid_argument("physical memory must be whole pages");
  active = new native_facts(std::move(facts));
  next_tick = 0;
  clock_reads_so_far = 0;
}

scoped_native_facts::~scoped_native_facts() {
  delete active;
  active = nullptr;
}

int scoped_native_facts::clock_reads() const {
  return clock_reads_so_far;
}
