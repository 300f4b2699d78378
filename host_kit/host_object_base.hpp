#pragma once
// What the host's five objects share: reference counting and, when the host
// asks for them, books in a ledger. Both are chosen at compile time by a
// policy, so that a host that keeps no books pays nothing per call: the
// picture's pixel calls are made millions of times a frame.
//
//   lifetime::deleting   a new object holds its creator's reference; the
//                        last Release deletes it (velloq-host, the benches).
//   lifetime::host_kept  the host holds one reference of its own for the
//                        object's whole life and owns it; a Release that
//                        would take that one is a breach, noted and refused
//                        (the validator, the tests, the fuzz targets).

#include <cstdint>
#include <memory>
#include <string>

#include "host/abi.hpp"
#include "host/types.hpp"
#include "host_kit/ledger.hpp"

namespace host_kit {

enum class lifetime { deleting, host_kept };

template <lifetime Life, bool KeepsBooks, class PixelAllocator = std::allocator<Bgra8>>
struct policy {
  static constexpr lifetime life = Life;
  static constexpr bool keeps_books = KeepsBooks;
  using pixel_allocator = PixelAllocator;
};

// A host that only answers: velloq-host's own choice, with its allocator.
using plain = policy<lifetime::deleting, false>;
// A host that keeps its objects and the books on them.
using recorded = policy<lifetime::host_kept, true>;

namespace detail {
// The books, present only for a policy that keeps them.
template <bool KeepsBooks>
struct bookkeeping {};
template <>
struct bookkeeping<true> {
  object_books own_books;
  ledger* into = nullptr;
};
}  // namespace detail

template <class Interface, class Policy>
class host_object_base : public Interface, private detail::bookkeeping<Policy::keeps_books> {
 public:
  static constexpr bool keeps_books = Policy::keeps_books;

  virtual ~host_object_base() {
    if constexpr (keeps_books) {
      if (this->into != nullptr)
        this->into->forget(this->own_books);
    }
  }
  host_object_base(const host_object_base&) = delete;
  host_object_base& operator=(const host_object_base&) = delete;

  std::uint32_t VELLOQ_THISCALL AddRef() override {
    if constexpr (keeps_books) {
      ++this->own_books.add_refs;
      note(call::AddRef);
    }
    return ++references_;
  }
  std::uint32_t VELLOQ_THISCALL Release() override {
    if constexpr (keeps_books) {
      ++this->own_books.releases;
      note(call::Release);
    }
    if constexpr (Policy::life == lifetime::host_kept) {
      if (references_ <= 1) {
        if constexpr (keeps_books) {
          if (this->into != nullptr)
            this->into->errors.push_back(this->own_books.name +
                                         " released more often than referenced");
        }
        return references_;
      }
      return --references_;
    } else {
      const std::uint32_t remaining = --references_;
      if (remaining == 0)
        delete this;
      return remaining;
    }
  }

  // One owned reference for the plug-in, as an owned result is given.
  Interface* hand_out() {
    if constexpr (keeps_books) {
      ++this->own_books.handed_out;
      if (this->into != nullptr)
        this->into->fold(this->own_books, call::AddRef);
    }
    ++references_;
    return this;
  }
  std::uint32_t reference_count() const { return references_; }

  // The books, and the ledger they are part of under `name`.
  object_books& books() { return this->own_books; }
  const object_books& books() const { return this->own_books; }
  void enlist(ledger& books_ledger, std::string name) {
    static_assert(keeps_books, "a policy without books has no ledger");
    if (this->into != nullptr)
      this->into->forget(this->own_books);
    this->own_books.name = std::move(name);
    this->own_books.listed_names = {};
    this->into = &books_ledger;
    books_ledger.enlist(this->own_books);
  }

 protected:
  host_object_base() = default;

  // Records a call; may throw injected_fault when the ledger says so.
  void note(call c, std::int32_t x = 0, std::int32_t y = 0) {
    if constexpr (keeps_books) {
      if (this->into != nullptr)
        this->into->record(this->own_books, c, x, y);
    }
  }
  // The ledger this object's books are part of; null without one.
  ledger* books_ledger() const {
    if constexpr (keeps_books)
      return this->into;
    else
      return nullptr;
  }
  // Whether this call that answers an object is to answer null.
  bool answers_null(call c) {
    if constexpr (keeps_books)
      return this->into != nullptr && this->into->answers_null(c);
    else
      return false;
  }

 private:
  std::uint32_t references_ = 1;
};

}  // namespace host_kit
