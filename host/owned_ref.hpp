#pragma once
// Scoped holder of an owned reference to a reference-counted object: released
// exactly once, when the holder is reset or goes out of scope, also while an
// exception passes. The one releaser of both sides: the plug-in holds the
// host's objects with it, and a host its own.

#include <cstddef>
#include <utility>

template <class T>
class owned_ref {
 public:
  owned_ref() = default;
  owned_ref(std::nullptr_t) {}
  explicit owned_ref(T* object) : object_(object) {}
  owned_ref(const owned_ref&) = delete;
  owned_ref& operator=(const owned_ref&) = delete;
  owned_ref(owned_ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  owned_ref& operator=(owned_ref&& other) noexcept {
    reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  ~owned_ref() { reset(); }

  // Keeps `object` and releases the reference held before, if any.
  void reset(T* object = nullptr) {
    T* previous = std::exchange(object_, object);
    if (previous != nullptr)
      previous->Release();
  }

  // Gives up the reference without releasing it: the caller now owns it.
  T* release() { return std::exchange(object_, nullptr); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  friend bool operator==(const owned_ref& held, std::nullptr_t) { return held.object_ == nullptr; }
  friend bool operator!=(const owned_ref& held, std::nullptr_t) { return held.object_ != nullptr; }

 private:
  T* object_ = nullptr;
};
