#pragma once
// Scoped holder of an owned host reference: released exactly once, when the
// holder is reset or goes out of scope, also while an exception passes.

#include <utility>

template <class T>
class owned_ref {
 public:
  owned_ref() = default;
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

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives up the reference without releasing it: the caller now owns it.
  T* release() { return std::exchange(object_, nullptr); }
  T& operator*() const { return *object_; }
  owned_ref(decltype(nullptr)) {}
  friend bool operator==(const owned_ref& held, decltype(nullptr)) {
    return held.object_ == nullptr;
  }
  friend bool operator!=(const owned_ref& held, decltype(nullptr)) {
    return held.object_ != nullptr;
  }

 private:
  T* object_ = nullptr;
};
