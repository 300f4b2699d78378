#pragma once
// A kernel object of the emulated process: what its handles name. Each
// handle names one object; DuplicateHandle gives another handle to the
// same one, and the object lives while a handle does.

#include <cstdint>
#include <string>

struct kernel_object {
  explicit kernel_object(std::string object_kind) : kind(std::move(object_kind)) {}

  // "event", "semaphore", "mutex", "thread", "process", "registry key", ...
  std::string kind;
  // Events: signalled, and whether a wait leaves it so (manual reset).
  bool signalled = false;
  bool manual_reset = false;
  // Semaphores: the count and its maximum. Mutexes: how often the one
  // thread holds it.
  std::uint32_t count = 0;
  std::uint32_t maximum = 0;
  // What the object stands for where its kind has a name (a registry key's
  // path).
  std::string name;
};
