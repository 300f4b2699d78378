#include "refhost/system/interruption_cleanup.hpp"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "refhost/system/interruption_cleanup_platform.hpp"

namespace interruption_cleanup {
namespace {

// Room for every file a run writes at once (two per frame, a frame per
// worker), with paths as long as the system allows.
constexpr int slot_count = 128;
constexpr std::size_t path_room = 4096;

enum slot_state : int { free_slot, filling, armed };

struct slot {
  std::atomic<int> state{free_slot};
  char path[path_room];
};

slot slots[slot_count];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

}  // namespace

int track(const std::string& path) {
  if (path.size() >= path_room)
    throw std::length_error("path too long to write safely: " + path);
  for (int i = 0; i < slot_count; ++i) {
    int expected = free_slot;
    if (slots[i].state.compare_exchange_strong(expected, filling, std::memory_order_acquire)) {
      std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
      slots[i].state.store(armed, std::memory_order_release);
      return i;
    }
  }
  throw std::length_error("too many files being written at once");
}

void release(int slot_index) {
  if (slot_index >= 0 && slot_index < slot_count)
    slots[slot_index].state.store(free_slot, std::memory_order_release);
}

void remove_tracked_files() {
  for (slot& entry : slots) {
    if (entry.state.load(std::memory_order_acquire) == armed)
      remove_now(entry.path);
  }
}

int tracked_count() {
  int count = 0;
  for (const slot& entry : slots) count += entry.state.load() == armed ? 1 : 0;
  return count;
}

}  // namespace interruption_cleanup
