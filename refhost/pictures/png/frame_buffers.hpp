#pragma once
// The buffers a thread reads and writes whole frames with (a frame's
// compressed stream, its filtered rows), kept from one frame to the next:
// a worker's frames are alike, and fresh memory for each would be faulted
// in and zeroed page by page again. Each holds at most about
// png_whole_frame_limit bytes, so a worker keeps a bounded few tens of
// megabytes beside its picture.

#include <cstddef>

class reused_bytes {
 public:
  reused_bytes() = default;
  ~reused_bytes();
  reused_bytes(const reused_bytes&) = delete;
  reused_bytes& operator=(const reused_bytes&) = delete;

  // At least `size` bytes, the first `kept` of them as they were. Throws
  // std::bad_alloc.
  unsigned char* reserve(std::size_t size, std::size_t kept = 0);
  unsigned char* data() const { return block_; }
  std::size_t capacity() const { return capacity_; }

 private:
  unsigned char* block_ = nullptr;
  std::size_t capacity_ = 0;
};

struct frame_buffers {
  reused_bytes compressed;  // a frame's zlib stream
  reused_bytes rows;        // its filtered rows
};

// The calling thread's. A thread reads or writes one frame at a time.
frame_buffers& this_thread_frame_buffers();
