#include "refhost/pictures/png/frame_buffers.hpp"

#include <cstring>

#include "refhost/system/large_allocation.hpp"

reused_bytes::~reused_bytes() {
  free_large(block_, capacity_);
}

unsigned char* reused_bytes::reserve(std::size_t size, std::size_t kept) {
  if (size <= capacity_)
    return block_;
  auto* grown = static_cast<unsigned char*>(allocate_large(size));
  if (kept != 0)
    std::memcpy(grown, block_, kept);
  free_large(block_, capacity_);
  block_ = grown;
  capacity_ = size;
  return block_;
}

frame_buffers& this_thread_frame_buffers() {
  thread_local frame_buffers buffers;
  return buffers;
}
