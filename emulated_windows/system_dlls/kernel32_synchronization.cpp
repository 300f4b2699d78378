// KERNEL32.dll's synchronisation in a process of one thread: critical
// sections, events, semaphores and mutexes, the waits on them, handles,
// the interlocked operations and Sleep. Nothing here ever waits: an object
// that is signalled is taken at once, a wait with a time-out moves the
// clock on by it, and a wait without one on an object that nothing else in
// the process can signal is the hang it would be on Windows, the caller's.

#include <map>
#include <memory>

#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

using namespace windows_error;
constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t thread_id = 0x5678;
constexpr std::uint32_t infinite = 0xFFFFFFFF;
constexpr std::uint32_t wait_object_0 = 0, wait_timeout = 0x102, wait_failed = 0xFFFFFFFF;
constexpr std::uint32_t error_already_exists = 183, error_not_owner = 288,
                        error_too_many_posts = 298;

// Named objects, so that a second CreateEvent of a name opens the first.
struct named_objects {
  std::map<std::string, std::weak_ptr<kernel_object>> by_name;
};

// The waitable object behind `handle`, or null (and a breach) for none.
std::shared_ptr<kernel_object> waitable(windows_process& p, stub_call& c, std::uint32_t handle) {
  std::shared_ptr<kernel_object> object = p.object_of(handle);
  if (object == nullptr || object->kind == "registry key") {
    p.breach(c.name + " on a handle that is no waitable object");
    return nullptr;
  }
  return object;
}

// Whether a wait on `object` would be satisfied now. A mutex always is: the
// one thread owns it or may take it. This process or thread is signalled
// only by ending.
bool ready(const kernel_object& object) {
  return object.kind == "mutex" || (object.kind == "event" && object.signalled) ||
         (object.kind == "semaphore" && object.count != 0);
}

// What a satisfied wait does to the object.
void take(kernel_object& object) {
  if (object.kind == "event")
    object.signalled = object.manual_reset;
  else if (object.kind == "semaphore")
    --object.count;
  else if (object.kind == "mutex")
    ++object.count;
}

std::string what_is_waited_for(const kernel_object& object) {
  if (object.kind == "event")
    return "an event that is not set";
  if (object.kind == "semaphore")
    return "a semaphore whose count is 0";
  if (object.kind == "thread")
    return "its own thread, the host's, which never ends while it waits";
  if (object.kind == "process")
    return "its own process, which never ends while it waits";
  return "a " + object.kind + " that is not signalled";
}

// The end of a wait that nothing satisfied: a time-out moves the clock on;
// without one, the calling thread (the host's) waits forever.
void wait_unsatisfied(windows_process& p, stub_call& c, std::uint32_t timeout,
                      const kernel_object& object) {
  if (timeout == infinite) {
    c.cpu.stop_call("waits with no time-out (" + c.name + ") for " + what_is_waited_for(object) +
                    ", and no other thread of the plug-in runs to change that: the host hangs");
    return;
  }
  p.clock.wait(timeout);
  c.result(wait_timeout);
}

void fail(windows_process& p, stub_call& c, std::uint32_t error, std::uint32_t result = 0) {
  p.set_last_error(error);
  c.result(result);
}

}  // namespace

void provide_kernel32_synchronization(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};
  auto names = std::make_shared<named_objects>();

  // Critical sections: one thread, so entering never waits; the books
  // catch a leave without an enter and a section never deleted.
  auto initialize = [&p](std::uint32_t section) {
    record r(24);
    r.put32(4, 0xFFFFFFFF);  // LockCount
    r.write(p.cpu, section);
    p.critical_sections.insert(section);
  };
  auto enter = [&p](std::uint32_t section) {
    if (p.critical_sections.count(section) == 0)
      p.breach("EnterCriticalSection of a section never initialised");
    p.cpu.write32(section + 8, p.cpu.read32(section + 8) + 1);  // RecursionCount
    p.cpu.write32(section + 12, thread_id);                     // OwningThread
  };
  provide("InitializeCriticalSection", 4, [initialize](stub_call& c) { initialize(c.arg(0)); });
  provide("InitializeCriticalSectionAndSpinCount", 8, [initialize](stub_call& c) {
    initialize(c.arg(0));
    c.result(1);
  });
  provide("SetCriticalSectionSpinCount", 8, [](stub_call& c) { c.result(0); });
  provide("DeleteCriticalSection", 4, [&p](stub_call& c) {
    if (p.critical_sections.erase(c.arg(0)) == 0)
      p.breach("DeleteCriticalSection of a section never initialised");
    else if (p.cpu.read32(c.arg(0) + 8) != 0)
      p.breach("DeleteCriticalSection of a section still entered");
  });
  provide("EnterCriticalSection", 4, [enter](stub_call& c) { enter(c.arg(0)); });
  provide("TryEnterCriticalSection", 4, [enter](stub_call& c) {
    enter(c.arg(0));
    c.result(1);
  });
  provide("LeaveCriticalSection", 4, [&p](stub_call& c) {
    const std::uint32_t depth = p.cpu.read32(c.arg(0) + 8);
    if (depth == 0) {
      p.breach("LeaveCriticalSection of a section not entered");
      return;
    }
    p.cpu.write32(c.arg(0) + 8, depth - 1);
    if (depth == 1)
      p.cpu.write32(c.arg(0) + 12, 0);
  });

  // Creating an object, or opening the one of the same name.
  auto create = [&p, names](stub_call& c, std::uint32_t name_at, bool wide,
                            std::shared_ptr<kernel_object> object) {
    p.set_last_error(0);
    if (name_at != 0) {
      object->name = read_text(p.cpu, name_at, wide);
      std::weak_ptr<kernel_object>& slot = names->by_name[object->name];
      if (std::shared_ptr<kernel_object> existing = slot.lock()) {
        if (existing->kind != object->kind) {
          fail(p, c, invalid_handle);
          return;
        }
        p.set_last_error(error_already_exists);
        c.result(p.open_handle(existing));
        return;
      }
      slot = object;
    }
    c.result(p.open_handle(std::move(object)));
  };
  auto open = [&p, names](stub_call& c, std::uint32_t name_at, bool wide, const char* kind) {
    const auto it = names->by_name.find(read_text(p.cpu, name_at, wide));
    std::shared_ptr<kernel_object> object =
        it == names->by_name.end() ? nullptr : it->second.lock();
    if (object == nullptr || object->kind != kind) {
      fail(p, c, file_not_found);
      return;
    }
    c.result(p.open_handle(object));
  };
  for (const bool wide : {false, true}) {
    const std::string suffix = wide ? "W" : "A";
    // CreateEvent(attributes, manual reset, initially set, name)
    provide(("CreateEvent" + suffix).c_str(), 16, [create, wide](stub_call& c) {
      auto event = std::make_shared<kernel_object>("event");
      event->manual_reset = c.arg(1) != 0;
      event->signalled = c.arg(2) != 0;
      create(c, c.arg(3), wide, event);
    });
    // CreateSemaphore(attributes, initial count, maximum, name)
    provide(("CreateSemaphore" + suffix).c_str(), 16, [&p, create, wide](stub_call& c) {
      if (static_cast<std::int32_t>(c.arg(1)) < 0 || static_cast<std::int32_t>(c.arg(2)) <= 0 ||
          c.arg(1) > c.arg(2)) {
        fail(p, c, invalid_parameter);
        return;
      }
      auto semaphore = std::make_shared<kernel_object>("semaphore");
      semaphore->count = c.arg(1);
      semaphore->maximum = c.arg(2);
      create(c, c.arg(3), wide, semaphore);
    });
    // CreateMutex(attributes, initially owned, name)
    provide(("CreateMutex" + suffix).c_str(), 12, [create, wide](stub_call& c) {
      auto mutex = std::make_shared<kernel_object>("mutex");
      mutex->count = c.arg(1) != 0 ? 1 : 0;
      create(c, c.arg(2), wide, mutex);
    });
    // Open*(access, inherit, name)
    for (const char* kind : {"Event", "Semaphore", "Mutex"}) {
      std::string lower_kind = kind;
      lower_kind[0] = static_cast<char>(lower_kind[0] - 'A' + 'a');
      provide(
          ("Open" + std::string(kind) + suffix).c_str(), 12,
          [open, wide, lower_kind](stub_call& c) { open(c, c.arg(2), wide, lower_kind.c_str()); });
    }
  }

  // The object of `handle` when it is of `kind`; else the call fails as on
  // Windows, and it is a breach.
  auto object_of_kind = [&p](stub_call& c, std::uint32_t handle, const char* kind) {
    std::shared_ptr<kernel_object> object = p.object_of(handle);
    if (object == nullptr || object->kind != kind) {
      p.breach(c.name + " on a handle that is no " + kind);
      fail(p, c, invalid_handle);
      return std::shared_ptr<kernel_object>();
    }
    return object;
  };
  for (const auto& [name, set] : {std::pair<const char*, bool>{"SetEvent", true},
                                  {"ResetEvent", false},
                                  {"PulseEvent", false}}) {
    const bool signalled = set;
    provide(name, 4, [object_of_kind, signalled](stub_call& c) {
      if (auto event = object_of_kind(c, c.arg(0), "event")) {
        // PulseEvent releases the waiting threads, of which there are none.
        event->signalled = signalled;
        c.result(1);
      }
    });
  }
  // ReleaseSemaphore(handle, count, previous count out)
  provide("ReleaseSemaphore", 12, [&p, object_of_kind](stub_call& c) {
    auto semaphore = object_of_kind(c, c.arg(0), "semaphore");
    if (!semaphore)
      return;
    if (static_cast<std::int32_t>(c.arg(1)) <= 0 ||
        std::uint64_t{semaphore->count} + c.arg(1) > semaphore->maximum) {
      fail(p, c, c.arg(1) == 0 ? invalid_parameter : error_too_many_posts);
      return;
    }
    if (c.arg(2) != 0)
      p.cpu.write32(c.arg(2), semaphore->count);
    semaphore->count += c.arg(1);
    c.result(1);
  });
  provide("ReleaseMutex", 4, [&p, object_of_kind](stub_call& c) {
    auto mutex = object_of_kind(c, c.arg(0), "mutex");
    if (!mutex)
      return;
    if (mutex->count == 0) {
      p.breach("ReleaseMutex of a mutex not held");
      fail(p, c, error_not_owner);
      return;
    }
    --mutex->count;
    c.result(1);
  });

  // WaitForSingleObject(handle, milliseconds) and its alertable twin.
  auto wait_single = [&p](stub_call& c) {
    const std::shared_ptr<kernel_object> object = waitable(p, c, c.arg(0));
    if (object == nullptr) {
      fail(p, c, invalid_handle, wait_failed);
      return;
    }
    if (!ready(*object)) {
      wait_unsatisfied(p, c, c.arg(1), *object);
      return;
    }
    take(*object);
    c.result(wait_object_0);
  };
  provide("WaitForSingleObject", 8, wait_single);
  provide("WaitForSingleObjectEx", 12, wait_single);
  // WaitForMultipleObjects(count, handles, all, milliseconds)
  auto wait_multiple = [&p](stub_call& c) {
    const std::uint32_t count = c.arg(0);
    if (count == 0 || count > 64) {
      fail(p, c, invalid_parameter, wait_failed);
      return;
    }
    std::vector<std::shared_ptr<kernel_object>> objects;
    for (std::uint32_t i = 0; i < count; ++i) {
      objects.push_back(waitable(p, c, p.cpu.read32(c.arg(1) + 4 * i)));
      if (objects.back() == nullptr) {
        fail(p, c, invalid_handle, wait_failed);
        return;
      }
    }
    // All of them at once, or the first one ready.
    const bool all = c.arg(2) != 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!ready(*objects[i]) && all) {
        wait_unsatisfied(p, c, c.arg(3), *objects[i]);
        return;
      }
      if (ready(*objects[i]) && !all) {
        take(*objects[i]);
        c.result(wait_object_0 + i);
        return;
      }
    }
    if (!all) {
      wait_unsatisfied(p, c, c.arg(3), *objects.front());
      return;
    }
    for (const auto& object : objects) take(*object);
    c.result(wait_object_0);
  };
  provide("WaitForMultipleObjects", 16, wait_multiple);
  provide("WaitForMultipleObjectsEx", 20, wait_multiple);

  // Handles.
  provide("CloseHandle", 4, [&p](stub_call& c) {
    if (!p.close_handle(c.arg(0))) {
      p.breach("CloseHandle of a handle not open");
      fail(p, c, invalid_handle);
      return;
    }
    c.result(1);
  });
  // DuplicateHandle(source process, handle, target process, out, access,
  // inherit, options): another handle to the same object, in this process.
  provide("DuplicateHandle", 28, [&p](stub_call& c) {
    const auto in_this_process = [&p](std::uint32_t handle) {
      const auto object = p.object_of(handle);
      return object != nullptr && object->kind == "process";
    };
    const std::shared_ptr<kernel_object> object = p.object_of(c.arg(1));
    if (!in_this_process(c.arg(0)) || !in_this_process(c.arg(2)) || object == nullptr) {
      p.breach("DuplicateHandle of a handle not open, or for another process");
      fail(p, c, invalid_handle);
      return;
    }
    const std::uint32_t duplicate = p.open_handle(object);
    if (c.arg(3) != 0)
      p.cpu.write32(c.arg(3), duplicate);
    if ((c.arg(6) & 1) != 0)  // DUPLICATE_CLOSE_SOURCE
      p.close_handle(c.arg(1));
    c.result(1);
  });
  provide("GetHandleInformation", 8, [&p](stub_call& c) {
    if (p.object_of(c.arg(0)) == nullptr) {
      fail(p, c, invalid_handle);
      return;
    }
    p.cpu.write32(c.arg(1), 0);
    c.result(1);
  });
  provide("SetHandleInformation", 12,
          [&p](stub_call& c) { c.result(p.object_of(c.arg(0)) != nullptr ? 1 : 0); });

  // The interlocked operations, exported by the 32-bit kernel32 for
  // compilers that do not inline them.
  auto interlocked = [&p](const char* name, std::uint16_t popped,
                          std::uint32_t (*operation)(std::uint32_t old, stub_call & c),
                          bool answers_new) {
    p.provide(kernel32, name, popped, [&p, operation, answers_new](stub_call& c) {
      const std::uint32_t old = p.cpu.read32(c.arg(0));
      const std::uint32_t updated = operation(old, c);
      p.cpu.write32(c.arg(0), updated);
      c.result(answers_new ? updated : old);
    });
  };
  interlocked(
      "InterlockedIncrement", 4, [](std::uint32_t old, stub_call&) { return old + 1; }, true);
  interlocked(
      "InterlockedDecrement", 4, [](std::uint32_t old, stub_call&) { return old - 1; }, true);
  interlocked(
      "InterlockedExchange", 8, [](std::uint32_t, stub_call& c) { return c.arg(1); }, false);
  interlocked(
      "InterlockedExchangeAdd", 8, [](std::uint32_t old, stub_call& c) { return old + c.arg(1); },
      false);
  interlocked(
      "InterlockedCompareExchange", 12,
      [](std::uint32_t old, stub_call& c) { return old == c.arg(2) ? c.arg(1) : old; }, false);

  // Sleeping moves the clock on; sleeping forever is a hang.
  auto sleep = [&p](stub_call& c) {
    if (c.arg(0) == infinite) {
      c.cpu.stop_call("sleeps forever (" + c.name + " with INFINITE): the host hangs");
      return;
    }
    p.clock.wait(c.arg(0));
    c.result(0);
  };
  provide("Sleep", 4, sleep);
  provide("SleepEx", 8, sleep);
  // There is no other thread to switch to.
  provide("SwitchToThread", 0, [](stub_call& c) { c.result(0); });
}
