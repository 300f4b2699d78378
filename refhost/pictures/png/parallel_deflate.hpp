#pragma once
// One zlib stream made of blocks compressed apart, as parallel gzip tools
// make theirs: each block starts from the 32 KiB before it as its
// dictionary and ends on a byte boundary, so that blocks compressed on
// different threads join into one stream, and the stream is the same
// whatever the number of threads.

#include <cstddef>
#include <functional>
#include <vector>

struct deflate_block {
  std::vector<unsigned char> bytes;  // the dictionary, then the block's own data
  std::size_t dictionary_bytes = 0;  // of which the dictionary (only its last 32 KiB count)
  int level = 6;                     // zlib's level and strategy for this block
  int strategy = 0;
};

// Makes block `index` into `block`, which comes empty. Called on any of
// the threads, for each block once.
using deflate_block_maker = std::function<void(std::size_t index, deflate_block& block)>;

// Compresses `count` blocks (at least 1) into one zlib stream and hands it
// to `emit` in order, one piece a block (the stream's header comes with the
// first, its checksum with the last). `spare_threads` more threads compress
// blocks ahead of the one being handed on while the caller works too; at
// most two blocks a thread wait, so memory does not grow with the data.
// Throws what `make` or `emit` throws, std::bad_alloc when zlib has no
// memory, once every thread has stopped.
void deflate_blocks(std::size_t count, const deflate_block_maker& make, int spare_threads,
                    const std::function<void(const unsigned char* data, std::size_t size)>& emit);
