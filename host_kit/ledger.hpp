#pragma once
// The books a host keeps on how a plug-in uses its objects: per object, the
// references handed out, added and released, each kind of call, accesses
// outside a picture and calls after the host dropped it; for the whole host,
// every call in order, with faults injected on request (throw at the N-th
// call, answer null at the N-th call that returns an object). Only hosts
// that ask for books (a policy with keeps_books) pay for any of it.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "host_kit/host_calls.hpp"

namespace host_kit {

struct injected_fault : std::runtime_error {
  injected_fault() : std::runtime_error("injected host fault") {}
};

// One call as the trace keeps it: cheap enough for every pixel call.
struct traced_call {
  std::uint32_t object;  // object_books::id
  call what;
  std::int32_t x, y;
};

// How the plug-in comes by an object, which decides the rules its
// references follow:
//   any    no rule beyond the counts (a host that only counts);
//   lent   the host lends it for a call (the render job, the application
//          handed to the hooks, the services): whatever the plug-in adds
//          to it in a call it takes away again before returning;
//   owned  a result handed out as owned (an output image, render settings,
//          a loaded image, the job's application): released exactly once,
//          and never used once the plug-in's last reference is released.
enum class object_role : std::uint8_t { any, lent, owned };

// One object's books.
struct object_books {
  std::string name;
  object_role role = object_role::any;
  std::int64_t handed_out = 0, add_refs = 0, releases = 0;
  // References the plug-in holds: negative when it released more than it got.
  std::int64_t held() const { return handed_out + add_refs - releases; }
  // Set when the host has dropped the object: any call on it is late.
  bool gone = false;
  std::array<std::int64_t, call_count> calls{};
  std::int64_t count(call c) const { return calls[static_cast<int>(c)]; }
  // Pixel calls outside the picture, and the first of them in words:
  // "set_pixel(640, 0) on the output image of 640x480".
  std::int64_t outside_accesses = 0;
  std::string first_outside;
  std::int64_t reserved_not_zero = 0;
  std::uint32_t id = 0;  // the order in which it joined its ledger
  // "image.get_size" for each call, made when first listed.
  std::array<std::string, call_count> listed_names;
};

class ledger {
 public:
  ledger() = default;
  ledger(const ledger&) = delete;
  ledger& operator=(const ledger&) = delete;

  // What to do.
  std::int64_t throw_at = 0;  // 1-based among counted calls (all but AddRef, Release); 0: never
  std::int64_t null_at = 0;   // 1-based among the calls that may answer null; 0: never
  bool borrowed_may_be_null = true;  // get_services among them
  bool list_pixel_calls = false;
  bool list_calls = true;    // false: calls are counted, never listed
  bool trace_calls = false;  // every call as a traced_call, pixel calls included
  bool hash_calls = false;   // fold every call and hand-out into `hash`

  // What was seen.
  std::vector<std::string> calls;  // "image.get_size", "job.Release", in order; no AddRef
  std::vector<traced_call> trace;  // with trace_calls: every call, AddRef and Release too
  std::int64_t counted_calls = 0;
  std::int64_t object_calls = 0;
  std::string null_answered;            // "RenderJob::get_output_image"
  std::vector<std::string> errors;      // contract breaches the objects saw
  std::vector<std::string> late_calls;  // "RenderJob::is_aborted" on a job already gone
  // Breaches of the references' rules, each naming the plug-in's call that
  // made it: a lent object's references not given back by the end of a
  // call, an owned object used after its last release.
  std::vector<std::string> lent_kept, used_after_release;
  // Told of every call but the pixel calls, once it is recorded.
  std::function<void(const object_books&, call)> observer;
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a, with hash_calls
  std::uint64_t hashed = 0;

  // Calls of "object.call" made so far on the objects still enlisted.
  std::int64_t count(const std::string& call) const;
  // Every "object.call" made at least once, with its count (references aside).
  std::map<std::string, std::int64_t> counts() const;
  void clear_counts();
  // The list without calls whose text begins with `prefix`.
  std::vector<std::string> without(const std::string& prefix) const;

  // The plug-in's call in progress, as messages name it ("end_render (slot
  // 207)"): what a lent object holds when it begins must hold again when it
  // ends. Calls do not nest.
  class plugin_call {
   public:
    plugin_call(ledger& books, std::string what);
    ~plugin_call();
    plugin_call(const plugin_call&) = delete;
    plugin_call& operator=(const plugin_call&) = delete;

   private:
    ledger& ledger_;
  };
  const std::string& current_call() const { return call_in_progress_; }

  // For the objects.
  void enlist(object_books& books);
  void forget(object_books& books);
  // Records `c` on `books`; throws injected_fault when it is the chosen one.
  void record(object_books& books, call c, std::int32_t x = 0, std::int32_t y = 0);
  // Whether this call, which answers an object, is the one to answer null.
  bool answers_null(call c);
  void fold(const object_books& books, call c, std::int32_t x = 0, std::int32_t y = 0);

 private:
  // An owned object the plug-in holds no reference to any more, once
  // handed out: any call on it but a Release (an over-release, which the
  // counts show) is a use after release.
  static bool released(const object_books& books) {
    return books.role == object_role::owned && books.handed_out > 0 && books.held() <= 0;
  }
  void note_use_after_release(const object_books& books, call c);

  std::vector<object_books*> objects_;
  std::uint32_t next_id_ = 1;
  std::string call_in_progress_;
  std::vector<std::pair<object_books*, std::int64_t>> lent_at_start_;
};

}  // namespace host_kit
