// KERNEL32.dll's memory: the process heap and heaps of HeapCreate, the
// Local and Global allocators (fixed blocks: a handle is the block's
// address), VirtualAlloc's pages and the queries on addresses. Every block
// comes from the emulated heap, which keeps the books and reports a block
// freed by another allocator than the one that gave it.

#include <memory>
#include <set>

#include "emulated_windows/process/windows_loader.hpp"
#include "emulated_windows/process/windows_process.hpp"
#include "emulated_windows/system_dlls/emulated_data.hpp"

namespace {

using namespace windows_error;
constexpr char kernel32[] = "KERNEL32.dll";
constexpr std::uint32_t process_heap_handle = 0x00140000;
constexpr std::uint32_t heap_zero_memory = 0x8, heap_realloc_in_place_only = 0x10;
constexpr std::uint32_t fixed_zero_init = 0x40;  // GMEM_ZEROINIT, LMEM_ZEROINIT
constexpr std::uint32_t error_invalid_address = 487;
constexpr std::uint32_t mem_commit = 0x1000, mem_reserve = 0x2000, mem_decommit = 0x4000,
                        mem_release = 0x8000, mem_free = 0x10000, mem_private = 0x20000,
                        mem_image = 0x1000000;
constexpr std::uint32_t page_noaccess = 0x01, page_execute_readwrite = 0x40;

// The heaps HeapCreate made and not yet destroyed.
struct private_heaps {
  std::set<std::uint32_t> open;
  std::uint32_t next = 0x00150000;
};

void zero(windows_process& p, std::uint32_t block, std::uint32_t from, std::uint32_t to) {
  if (block != 0 && to > from) {
    const std::vector<std::uint8_t> zeros(to - from, 0);
    p.cpu.write(block + from, zeros.data(), zeros.size());
  }
}

// A new block of `size` from `owner` with the old block's bytes, the old
// block freed; 0 (the old one kept) when the heap is full.
std::uint32_t reallocate(windows_process& p, std::uint32_t old_block, std::uint32_t size,
                         std::uint32_t owner, bool zero_growth) {
  const std::uint32_t old_size = static_cast<std::uint32_t>(p.heap.size_of(old_block));
  const std::uint32_t block = p.heap.allocate(size, owner);
  if (block == 0)
    return 0;
  const std::uint32_t kept = std::min(old_size, size);
  p.cpu.write(block, p.cpu.read_bytes(old_block, kept).data(), kept);
  if (zero_growth)
    zero(p, block, kept, size);
  p.heap.release(old_block, owner);
  return block;
}

}  // namespace

void provide_kernel32_memory(windows_process& process) {
  windows_process& p = process;
  const dll_functions provide{p, kernel32};
  auto heaps = std::make_shared<private_heaps>();

  // The owner of a heap handle's blocks; 0 (and a breach) for no heap.
  auto owner_of_heap = [&p, heaps](stub_call& c) -> std::uint32_t {
    if (c.arg(0) == process_heap_handle)
      return emulated_heap::process_heap;
    if (heaps->open.count(c.arg(0)) != 0)
      return c.arg(0);
    p.breach(c.name + " on a handle that is no heap");
    p.set_last_error(invalid_handle);
    return 0;
  };
  // A block of the heap the call names; false (and a breach) for none.
  auto block_of_heap = [&p](stub_call& c, std::uint32_t owner, std::uint32_t block) {
    if (p.heap.size_of(block) >= 0 && p.heap.owner_of(block) == owner)
      return true;
    p.breach(c.name + " of a pointer that is no block of that heap");
    p.set_last_error(invalid_parameter);
    return false;
  };

  provide("GetProcessHeap", 0, [](stub_call& c) { c.result(process_heap_handle); });
  provide("GetProcessHeaps", 8, [&p, heaps](stub_call& c) {
    std::vector<std::uint32_t> all{process_heap_handle};
    all.insert(all.end(), heaps->open.begin(), heaps->open.end());
    for (std::size_t i = 0; i < all.size() && i < c.arg(0); ++i)
      p.cpu.write32(c.arg(1) + 4 * static_cast<std::uint32_t>(i), all[i]);
    c.result(static_cast<std::uint32_t>(all.size()));
  });
  provide("HeapCreate", 12, [heaps](stub_call& c) {
    const std::uint32_t heap = heaps->next;
    heaps->next += 0x10000;
    heaps->open.insert(heap);
    c.result(heap);
  });
  provide("HeapDestroy", 4, [&p, heaps](stub_call& c) {
    if (heaps->open.erase(c.arg(0)) == 0) {
      p.breach("HeapDestroy of " +
               std::string(c.arg(0) == process_heap_handle ? "the process heap" : "no heap"));
      p.set_last_error(invalid_handle);
      c.result(0);
      return;
    }
    p.heap.release_all(c.arg(0));
    c.result(1);
  });
  // HeapAlloc(heap, flags, size)
  provide("HeapAlloc", 12, [&p, owner_of_heap](stub_call& c) {
    const std::uint32_t owner = owner_of_heap(c);
    const std::uint32_t block = owner == 0 ? 0 : p.heap.allocate(c.arg(2), owner);
    if ((c.arg(1) & heap_zero_memory) != 0)
      zero(p, block, 0, c.arg(2));
    c.result(block);
  });
  // HeapReAlloc(heap, flags, block, size)
  provide("HeapReAlloc", 16, [&p, owner_of_heap, block_of_heap](stub_call& c) {
    const std::uint32_t owner = owner_of_heap(c);
    if (owner == 0 || !block_of_heap(c, owner, c.arg(2))) {
      c.result(0);
      return;
    }
    if ((c.arg(1) & heap_realloc_in_place_only) != 0 && c.arg(3) > p.heap.size_of(c.arg(2))) {
      p.set_last_error(not_enough_memory);
      c.result(0);
      return;
    }
    c.result(reallocate(p, c.arg(2), c.arg(3), owner, (c.arg(1) & heap_zero_memory) != 0));
  });
  // HeapFree(heap, flags, block): a null block is freed without a word.
  provide("HeapFree", 12, [&p, owner_of_heap](stub_call& c) {
    const std::uint32_t owner = owner_of_heap(c);
    if (owner == 0) {
      c.result(0);
      return;
    }
    if (c.arg(2) != 0)
      p.heap.release(c.arg(2), owner);
    c.result(1);
  });
  provide("HeapSize", 12, [&p, owner_of_heap, block_of_heap](stub_call& c) {
    const std::uint32_t owner = owner_of_heap(c);
    c.result(owner != 0 && block_of_heap(c, owner, c.arg(2))
                 ? static_cast<std::uint32_t>(p.heap.size_of(c.arg(2)))
                 : 0xFFFFFFFF);
  });
  provide("HeapValidate", 12, [&p, owner_of_heap](stub_call& c) {
    const std::uint32_t owner = owner_of_heap(c);
    c.result(owner != 0 && (c.arg(2) == 0 ||
                            (p.heap.size_of(c.arg(2)) >= 0 && p.heap.owner_of(c.arg(2)) == owner))
                 ? 1
                 : 0);
  });
  provide("HeapSetInformation", 16, [](stub_call& c) { c.result(1); });
  provide("HeapCompact", 8, [](stub_call& c) { c.result(0x10000); });

  // LocalAlloc and GlobalAlloc: fixed blocks of one allocator, whose handle
  // is the block itself (LMEM_MOVEABLE blocks are fixed too: their handle
  // locks to itself).
  for (const std::string prefix : {"Local", "Global"}) {
    provide((prefix + "Alloc").c_str(), 8, [&p](stub_call& c) {
      const std::uint32_t block = p.heap.allocate(c.arg(1), emulated_heap::local_heap);
      if ((c.arg(0) & fixed_zero_init) != 0)
        zero(p, block, 0, c.arg(1));
      if (block == 0)
        p.set_last_error(not_enough_memory);
      c.result(block);
    });
    // *Free(block): null when freed, the block when it is none.
    provide((prefix + "Free").c_str(), 4, [&p](stub_call& c) {
      if (c.arg(0) != 0 && (p.heap.size_of(c.arg(0)) < 0 ||
                            p.heap.owner_of(c.arg(0)) != emulated_heap::local_heap)) {
        p.heap.release(c.arg(0), emulated_heap::local_heap);  // records the misuse
        p.set_last_error(invalid_handle);
        c.result(c.arg(0));
        return;
      }
      if (c.arg(0) != 0)
        p.heap.release(c.arg(0), emulated_heap::local_heap);
      c.result(0);
    });
    // *ReAlloc(block, size, flags)
    provide((prefix + "ReAlloc").c_str(), 12, [&p](stub_call& c) {
      if (p.heap.size_of(c.arg(0)) < 0 || p.heap.owner_of(c.arg(0)) != emulated_heap::local_heap) {
        p.set_last_error(invalid_handle);
        c.result(0);
        return;
      }
      c.result(reallocate(p, c.arg(0), c.arg(1), emulated_heap::local_heap,
                          (c.arg(2) & fixed_zero_init) != 0));
    });
    provide((prefix + "Size").c_str(), 4, [&p](stub_call& c) {
      const std::int64_t size = p.heap.size_of(c.arg(0));
      c.result(size < 0 ? 0 : static_cast<std::uint32_t>(size));
    });
    provide((prefix + "Lock").c_str(), 4, [](stub_call& c) { c.result(c.arg(0)); });
    provide((prefix + "Unlock").c_str(), 4, [&p](stub_call& c) {
      p.set_last_error(0);  // NO_ERROR: a fixed block is never locked
      c.result(0);
    });
    provide((prefix + "Handle").c_str(), 4, [](stub_call& c) { c.result(c.arg(0)); });
  }

  // VirtualAlloc(address, size, type, protection): a new region; a commit
  // inside a region already there is that region's pages.
  provide("VirtualAlloc", 16, [&p](stub_call& c) {
    if ((c.arg(2) & (mem_commit | mem_reserve)) == 0) {
      p.set_last_error(invalid_parameter);
      c.result(0);
      return;
    }
    if (c.arg(0) != 0) {
      const bool inside = p.pages.region_of(c.arg(0)) != 0;
      if (!inside)
        p.set_last_error(error_invalid_address);
      c.result(inside ? c.arg(0) & ~0xFFFu : 0);
      return;
    }
    const std::uint32_t base = p.pages.allocate(c.arg(1));
    if (base == 0)
      p.set_last_error(not_enough_memory);
    c.result(base);
  });
  // VirtualFree(address, size, type): MEM_RELEASE of a whole region, or a
  // decommit (the pages stay mapped, as the module may not tell).
  provide("VirtualFree", 12, [&p](stub_call& c) {
    const bool release = c.arg(2) == mem_release;
    const bool done = release ? c.arg(1) == 0 && p.pages.release(c.arg(0))
                              : c.arg(2) == mem_decommit && p.pages.region_of(c.arg(0)) != 0;
    if (!done) {
      p.breach(c.name + " of memory that VirtualAlloc did not give, or of part of a region");
      p.set_last_error(invalid_parameter);
    }
    c.result(done ? 1 : 0);
  });
  // VirtualQuery(address, MEMORY_BASIC_INFORMATION out, its size)
  provide("VirtualQuery", 12, [&p](stub_call& c) {
    if (c.arg(2) < 28) {
      p.set_last_error(insufficient_buffer);
      c.result(0);
      return;
    }
    const std::uint32_t address = c.arg(0), page = address & ~0xFFFu;
    std::uint32_t base = 0, end = 0, type = mem_private;
    if (const loaded_module* image = p.image_at(address)) {
      base = image->base();
      end = base + image->size();
      type = mem_image;
    } else if (const std::uint32_t region = p.pages.region_of(address); region != 0) {
      base = region;
      end = region + p.pages.size_of(region);
    } else {
      for (const auto& [start, size] :
           {std::pair<std::uint32_t, std::uint32_t>{emulated_layout::heap,
                                                    emulated_layout::heap_size},
            {emulated_layout::stack_limit,
             emulated_layout::stack_base - emulated_layout::stack_limit},
            {emulated_layout::host_arena, emulated_layout::host_arena_size}}) {
        if (address - start < size) {
          base = start;
          end = start + size;
        }
      }
    }
    record r(28);
    r.put32(0, page);
    r.put32(4, base);
    r.put32(8, base != 0 ? page_execute_readwrite : 0);
    r.put32(12, base != 0 ? end - page : 0x1000);
    r.put32(16, base != 0 ? mem_commit : mem_free);
    r.put32(20, base != 0 ? page_execute_readwrite : page_noaccess);
    r.put32(24, base != 0 ? type : 0);
    r.write(p.cpu, c.arg(1));
    c.result(28);
  });
  // VirtualProtect(address, size, protection, old protection out): the
  // emulated memory is all readable, writable and executable, which is
  // what the old protection says.
  provide("VirtualProtect", 16, [&p](stub_call& c) {
    try {
      p.cpu.read_bytes(c.arg(0), 1);
    } catch (const emulation_error&) {
      p.set_last_error(error_invalid_address);
      c.result(0);
      return;
    }
    if (c.arg(3) == 0) {
      p.set_last_error(invalid_parameter);
      c.result(0);
      return;
    }
    p.cpu.write32(c.arg(3), page_execute_readwrite);
    c.result(1);
  });
  // IsBad*Ptr(address, size): whether any byte of the range (of the text,
  // up to its NUL) is not there.
  auto bad = [&p](stub_call& c, std::uint32_t size, bool text) {
    try {
      if (text) {
        for (std::uint32_t i = 0; i < size && p.cpu.read_bytes(c.arg(0) + i, 1)[0] != 0; ++i) {
        }
      } else if (size != 0)
        p.cpu.read_bytes(c.arg(0), std::min<std::uint32_t>(size, 1u << 20));
      c.result(0);
    } catch (const emulation_error&) {
      c.result(size == 0 && !text ? 0 : 1);
    }
  };
  provide("IsBadReadPtr", 8, [bad](stub_call& c) { bad(c, c.arg(1), false); });
  provide("IsBadWritePtr", 8, [bad](stub_call& c) { bad(c, c.arg(1), false); });
  provide("IsBadCodePtr", 4, [bad](stub_call& c) { bad(c, 1, false); });
  provide("IsBadStringPtrA", 8, [bad](stub_call& c) { bad(c, c.arg(1), true); });
}
