#include "refhost/pictures/png/parallel_deflate.hpp"

#include <zlib.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace {

struct compressed_block {
  std::vector<unsigned char> bytes;
  uLong adler = 1;  // of the block's own data
  std::size_t length = 0;
  bool ready = false;
};

// Raw deflate (no zlib header: the stream has one), ended by a sync flush,
// which leaves it on a byte boundary, or by the final block.
compressed_block compress(const deflate_block& block, bool last) {
  z_stream stream{};
  if (deflateInit2(&stream, block.level, Z_DEFLATED, -15, 8, block.strategy) != Z_OK)
    throw std::bad_alloc();
  struct ender {
    z_stream* stream;
    ~ender() { deflateEnd(stream); }
  } end_stream{&stream};
  const std::size_t dictionary = block.dictionary_bytes;
  if (dictionary != 0)
    deflateSetDictionary(&stream, block.bytes.data(), static_cast<uInt>(dictionary));
  compressed_block out;
  const unsigned char* data = block.bytes.data() + dictionary;
  out.length = block.bytes.size() - dictionary;
  out.adler = adler32(adler32(0, nullptr, 0), data, static_cast<uInt>(out.length));
  out.bytes.resize(deflateBound(&stream, static_cast<uLong>(out.length)) + 16);
  stream.next_in = const_cast<unsigned char*>(data);
  stream.avail_in = static_cast<uInt>(out.length);
  for (;;) {
    stream.next_out = out.bytes.data() + stream.total_out;
    stream.avail_out = static_cast<uInt>(out.bytes.size() - stream.total_out);
    const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (result == Z_STREAM_END || (result == Z_OK && stream.avail_out != 0))
      break;
    if (result != Z_OK && result != Z_BUF_ERROR)
      throw std::bad_alloc();
    out.bytes.resize(out.bytes.size() * 2);
  }
  out.bytes.resize(stream.total_out);
  return out;
}

}  // namespace

void deflate_blocks(std::size_t count, const deflate_block_maker& make, int spare_threads,
                    const std::function<void(const unsigned char*, std::size_t)>& emit) {
  const std::size_t threads = 1 + static_cast<std::size_t>(spare_threads > 0 ? spare_threads : 0);
  const std::size_t window = 2 * threads;
  std::vector<compressed_block> slots(window);  // block i waits in slot i % window
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next_to_take = 0;
  std::size_t next_to_emit = 0;
  bool stopping = false;
  std::exception_ptr failure;

  const auto takeable = [&] {
    return !stopping && next_to_take < count && next_to_take < next_to_emit + window;
  };
  // Makes and compresses one block; the lock is held on entry and exit.
  const auto work = [&](std::unique_lock<std::mutex>& lock) {
    const std::size_t index = next_to_take++;
    lock.unlock();
    compressed_block result;
    try {
      deflate_block block;
      make(index, block);
      result = compress(block, index + 1 == count);
    } catch (...) {
      lock.lock();
      if (!failure)
        failure = std::current_exception();
      stopping = true;
      changed.notify_all();
      return;
    }
    lock.lock();
    result.ready = true;
    slots[index % window] = std::move(result);
    changed.notify_all();
  };

  std::vector<std::thread> helpers;
  const auto help = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || next_to_take >= count || takeable(); });
      if (stopping || next_to_take >= count)
        return;
      work(lock);
    }
  };
  for (std::size_t k = 1; k < threads; ++k) {
    try {
      helpers.emplace_back(help);
    } catch (const std::system_error&) {
      break;  // fewer helpers: the caller compresses what they do not
    }
  }

  const auto stop_helpers = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    for (std::thread& helper : helpers) helper.join();
  };
  try {
    uLong adler = adler32(0, nullptr, 0);
    std::unique_lock<std::mutex> lock(mutex);
    while (next_to_emit < count) {
      compressed_block& slot = slots[next_to_emit % window];
      if (failure)
        break;
      if (slot.ready) {
        compressed_block block = std::move(slot);
        slot = compressed_block{};
        const bool first = next_to_emit == 0;
        const bool last = ++next_to_emit == count;
        changed.notify_all();
        lock.unlock();
        adler = adler32_combine(adler, block.adler, static_cast<z_off_t>(block.length));
        if (first) {
          // The zlib header: deflate with a 32 KiB window, no dictionary.
          block.bytes.insert(block.bytes.begin(), {0x78, 0x9C});
        }
        if (last) {
          for (int shift = 24; shift >= 0; shift -= 8)
            block.bytes.push_back(static_cast<unsigned char>(adler >> shift));
        }
        emit(block.bytes.data(), block.bytes.size());
        lock.lock();
      } else if (takeable()) {
        work(lock);
      } else {
        changed.wait(lock);
      }
    }
    lock.unlock();
  } catch (...) {
    stop_helpers();
    throw;
  }
  stop_helpers();
  if (failure)
    std::rethrow_exception(failure);
}
