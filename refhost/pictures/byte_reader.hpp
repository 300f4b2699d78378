#pragma once
// A byte_source read through a buffer of its own, so that decoders that
// take a few bytes at a time (chunk headers, run-length packets) cost no
// call of the source each.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "refhost/pictures/picture_formats.hpp"

class byte_reader {
 public:
  explicit byte_reader(const byte_source& source, std::size_t buffer_bytes = std::size_t{64} << 10)
      : source_(source), buffer_(buffer_bytes) {}

  // Up to `most` next bytes where they lie; none only at the end.
  std::size_t next(const unsigned char** data, std::size_t most) {
    if (at_ == end_) {
      at_ = 0;
      end_ = source_(buffer_.data(), buffer_.size());
    }
    const std::size_t count = std::min(most, end_ - at_);
    *data = buffer_.data() + at_;
    at_ += count;
    offset_ += count;
    return count;
  }

  // The next `size` bytes into `target`; fewer only at the end.
  std::size_t read(unsigned char* target, std::size_t size) {
    std::size_t done = 0;
    const unsigned char* piece = nullptr;
    while (done < size) {
      const std::size_t count = next(&piece, size - done);
      if (count == 0)
        break;
      std::memcpy(target + done, piece, count);
      done += count;
    }
    return done;
  }

  // Bytes handed out so far.
  std::uint64_t offset() const { return offset_; }

 private:
  const byte_source& source_;
  std::vector<unsigned char> buffer_;
  std::size_t at_ = 0;
  std::size_t end_ = 0;
  std::uint64_t offset_ = 0;
};
