#include "host_kit/ledger.hpp"

#include <algorithm>

namespace host_kit {

std::int64_t ledger::count(const std::string& text) const {
  std::int64_t total = 0;
  for (const object_books* books : objects_) {
    if (text.compare(0, books->name.size(), books->name) != 0 ||
        text.size() <= books->name.size() || text[books->name.size()] != '.')
      continue;
    const std::string name = text.substr(books->name.size() + 1);
    for (int c = 0; c < call_count; ++c) {
      if (name == call_table[c].name)
        total += books->calls[static_cast<std::size_t>(c)];
    }
  }
  return total;
}

std::map<std::string, std::int64_t> ledger::counts() const {
  std::map<std::string, std::int64_t> all;
  for (const object_books* books : objects_) {
    for (int c = 0; c < call_count; ++c) {
      const std::int64_t n = books->calls[static_cast<std::size_t>(c)];
      if (n != 0 && call_table[c].kind != call_kind::reference)
        all[books->name + "." + call_table[c].name] += n;
    }
  }
  return all;
}

void ledger::clear_counts() {
  for (object_books* books : objects_) books->calls.fill(0);
}

std::vector<std::string> ledger::without(const std::string& prefix) const {
  std::vector<std::string> kept;
  for (const auto& c : calls) {
    if (c.compare(0, prefix.size(), prefix) != 0)
      kept.push_back(c);
  }
  return kept;
}

ledger::plugin_call::plugin_call(ledger& books, std::string what) : ledger_(books) {
  ledger_.call_in_progress_ = std::move(what);
  ledger_.lent_at_start_.clear();
  for (object_books* object : ledger_.objects_) {
    if (object->role == object_role::lent && !object->gone)
      ledger_.lent_at_start_.emplace_back(object, object->held());
  }
}

ledger::plugin_call::~plugin_call() {
  for (const auto& [object, held] : ledger_.lent_at_start_) {
    const std::int64_t kept = object->held() - held;
    if (kept > 0)
      ledger_.lent_kept.push_back(ledger_.call_in_progress_ + " added " + std::to_string(kept) +
                                  " reference(s) to " + object->name +
                                  ", which the host lends it, and returned without releasing "
                                  "them");
  }
  ledger_.lent_at_start_.clear();
  ledger_.call_in_progress_.clear();
}

void ledger::note_use_after_release(const object_books& books, call c) {
  // The first few tell the story; a loop over a picture would make millions.
  constexpr std::size_t kept = 32;
  if (used_after_release.size() >= kept)
    return;
  const std::string who = call_in_progress_.empty() ? "the plug-in" : call_in_progress_;
  used_after_release.push_back(who + " called " + books.name + "'s " + facts_of(c).name +
                               " after releasing its last reference to it");
}

void ledger::enlist(object_books& books) {
  books.id = next_id_++;
  objects_.push_back(&books);
}

void ledger::forget(object_books& books) {
  objects_.erase(std::remove(objects_.begin(), objects_.end(), &books), objects_.end());
}

void ledger::fold(const object_books& books, call c, std::int32_t x, std::int32_t y) {
  if (!hash_calls)
    return;
  ++hashed;
  for (std::uint64_t word : {std::uint64_t{books.id} << 8 | static_cast<std::uint64_t>(c),
                             std::uint64_t{static_cast<std::uint32_t>(x)},
                             std::uint64_t{static_cast<std::uint32_t>(y)}}) {
    hash = (hash ^ word) * 1099511628211ull;
  }
}

void ledger::record(object_books& books, call c, std::int32_t x, std::int32_t y) {
  ++books.calls[static_cast<std::size_t>(c)];
  // A pixel call is most of a render's calls: the short way when nothing
  // more than its count is asked for.
  if ((c == call::get_pixel || c == call::set_pixel) && !hash_calls && !trace_calls &&
      !books.gone && !list_pixel_calls && !released(books)) {
    ++counted_calls;
    if (throw_at != 0 && counted_calls == throw_at)
      throw injected_fault();
    return;
  }
  const call_facts& facts = facts_of(c);
  fold(books, c, x, y);
  if (trace_calls)
    trace.push_back(traced_call{books.id, c, x, y});
  if (books.gone)
    late_calls.push_back(books.name + "::" + facts.name);
  // An AddRef is counted before it is recorded: the reference it made is
  // not one the plug-in held.
  if (c != call::Release && books.role == object_role::owned && books.handed_out > 0 &&
      books.held() - (c == call::AddRef ? 1 : 0) <= 0)
    note_use_after_release(books, c);
  if (observer && facts.kind != call_kind::pixel)
    observer(books, c);
  // An AddRef is counted in the books only; a Release is listed for the
  // order of releases but never chosen for a fault: a release is how the
  // plug-in cleans up after one.
  if (c == call::AddRef)
    return;
  if (!list_calls) {
    // counted below, never listed
  } else if (facts.kind != call_kind::pixel) {
    std::string& name = books.listed_names[static_cast<std::size_t>(c)];
    if (name.empty())
      name = books.name + "." + facts.name;
    calls.push_back(name);
  } else if (list_pixel_calls)
    calls.push_back(books.name + "." + facts.name + "(" + std::to_string(x) + "," +
                    std::to_string(y) + ")");
  if (c == call::Release)
    return;
  ++counted_calls;
  if (throw_at != 0 && counted_calls == throw_at)
    throw injected_fault();
}

bool ledger::answers_null(call c) {
  const call_facts& facts = facts_of(c);
  if (facts.kind == call_kind::borrowed && !borrowed_may_be_null)
    return false;
  ++object_calls;
  if (null_at == 0 || object_calls != null_at)
    return false;
  null_answered = std::string(facts.interface_name) + "::" + facts.name;
  return true;
}

}  // namespace host_kit
