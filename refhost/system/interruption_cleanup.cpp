#include "refhost/system/interruption_cleanup.hpp"

#include <set>

#include "refhost/system/interruption_cleanup_platform.hpp"

namespace interruption_cleanup {
namespace {

struct registry {
  std::recursive_mutex mutex;
  std::set<std::string> paths;
};

// Never destroyed: an interruption may come while the process ends.
registry& the_registry() {
  static registry* const instance = new registry;
  return *instance;
}

thread_local int guards_held = 0;

}  // namespace

guard::guard() : lock_(the_registry().mutex) {
  ++guards_held;
}

guard::~guard() {
  --guards_held;
}

bool held_by_this_thread() {
  return guards_held > 0;
}

void track(const std::string& path) {
  const guard held;
  the_registry().paths.insert(path);
}

void release(const std::string& path) {
  const guard held;
  the_registry().paths.erase(path);
}

void remove_tracked_files_for_good() {
  registry& files = the_registry();
  files.mutex.lock();  // never given back: the process ends holding it
  for (const std::string& path : files.paths) remove_now(path.c_str());
  files.paths.clear();
}

int tracked_count() {
  const guard held;
  return static_cast<int>(the_registry().paths.size());
}

}  // namespace interruption_cleanup
