#include "refhost/pictures/picture_memory.hpp"

#include <cstring>

#include "refhost/system/large_allocation.hpp"

namespace {

// Smaller pictures come from malloc, which reuses its blocks anyway.
constexpr std::size_t kept_from_bytes = std::size_t{2} << 20;

struct kept_picture {
  void* block = nullptr;
  std::size_t bytes = 0;

  void let_go() noexcept {
    free_large(block, bytes);
    block = nullptr;
  }
  ~kept_picture() { let_go(); }
};

kept_picture& this_thread_kept_picture() {
  thread_local kept_picture kept;
  return kept;
}

}  // namespace

void* allocate_picture_memory(std::size_t bytes) {
  kept_picture& kept = this_thread_kept_picture();
  if (kept.block != nullptr && kept.bytes == bytes) {
    void* block = kept.block;
    kept.block = nullptr;
    std::memset(block, 0, bytes);
    return block;
  }
  kept.let_go();
  return allocate_large(bytes);
}

void free_picture_memory(void* block, std::size_t bytes) noexcept {
  kept_picture& kept = this_thread_kept_picture();
  if (block != nullptr && bytes >= kept_from_bytes && kept.block == nullptr) {
    kept.block = block;
    kept.bytes = bytes;
    return;
  }
  free_large(block, bytes);
}
