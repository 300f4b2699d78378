// The reserved entries of the component's table: each begins a throw of
// its group's character string instead of returning. Nothing in the
// module catches it, so the static C++ runtime terminates: the exception
// object it allocated holds a pointer to the string and names its type as
// char const*, the terminate handler says so on stderr, abort() is reached
// and the call never comes back. A real host process would end there; each
// group gets a process of its own, so its first entry shows the full
// terminate message and the later ones the runtime's "recursively".

#include <gtest/gtest.h>

#include <set>

#include "tests/emulated_windows/foreign_plugin.hpp"

namespace {

struct reserved_group {
  const char* interface;
  int first_slot;
  int count;
  const char* message;
};

// The exception object: the thrown value (a char const*) ends the block,
// after the runtime's header, which refers to the thrown type's type_info.
struct thrown_string {
  std::string text;
  std::set<std::string> type_names;  // of every type_info the header refers to
};

std::vector<thrown_string> thrown_strings(foreign_plugin& dll,
                                          const std::set<std::uint32_t>& blocks) {
  std::vector<thrown_string> found;
  x86_emulator& cpu = dll.process.cpu;
  auto text_at = [&](std::uint32_t address) -> std::string {
    try {
      return cpu.read_string(address, 256);
    } catch (const emulation_error&) {
      return std::string();
    }
  };
  for (std::uint32_t block : blocks) {
    const auto size = static_cast<std::uint32_t>(dll.process.heap.size_of(block));
    if (size < 8)
      continue;
    auto in_module = [&](std::uint32_t address) {
      return address - dll.module.base() < dll.module.size();
    };
    thrown_string thrown{text_at(cpu.read32(block + size - 4)), {}};
    // A type_info: a table pointer and a name pointer, both into the module.
    for (std::uint32_t at = block; at + 8 <= block + size - 4; at += 4) {
      const std::uint32_t type_info = cpu.read32(at);
      if (in_module(type_info) && in_module(cpu.read32(type_info)) &&
          in_module(cpu.read32(type_info + 4)))
        thrown.type_names.insert(text_at(cpu.read32(type_info + 4)));
    }
    found.push_back(thrown);
  }
  return found;
}

void check_group(const reserved_group& group) {
  foreign_plugin dll;
  const std::uint32_t component = dll.create_component();
  ASSERT_NE(component, 0u);
  const auto component_size = static_cast<std::size_t>(dll.process.heap.size_of(component));
  const std::vector<std::uint8_t> component_before =
      dll.process.cpu.read_bytes(component, component_size);

  for (int slot = group.first_slot; slot < group.first_slot + group.count; ++slot) {
    SCOPED_TRACE(std::string(group.interface) + " reserved slot " + std::to_string(slot));
    std::set<std::uint32_t> before;
    for (const auto& block : dll.process.heap.live_blocks()) before.insert(block.first);
    dll.process.console[2].clear();

    const call_outcome r = dll.call_slot(component, slot, call_convention::thiscall, {});
    ASSERT_FALSE(r.returned) << r.describe();
    EXPECT_EQ(r.stop_reason, "calls abort(), which ends the host's process");

    std::set<std::uint32_t> allocated;
    for (const auto& block : dll.process.heap.live_blocks()) {
      if (before.count(block.first) == 0)
        allocated.insert(block.first);
    }
    // The first throw also sets up the runtime's own books (the unwinder's
    // sorted frame table, the thread's exception globals); after that only
    // the exception object stays.
    if (slot != group.first_slot) {
      EXPECT_EQ(allocated.size(), 1u);
    }
    std::vector<thrown_string> thrown;
    for (const thrown_string& candidate : thrown_strings(dll, allocated)) {
      if (candidate.text == group.message)
        thrown.push_back(candidate);
    }
    ASSERT_EQ(thrown.size(), 1u) << "no exception object holding the string";
    EXPECT_EQ(thrown[0].type_names.count("PKc"), 1u) << "not thrown as a char const*";
    EXPECT_EQ(dll.process.console[2],
              slot == group.first_slot
                  ? "terminate called after throwing an instance of 'char const*'\n"
                  : "terminate called recursively\n");
    EXPECT_EQ(dll.process.cpu.read_bytes(component, component_size), component_before);
  }
}

TEST(reserved_entries, the_80_plugin_interface_entries_throw_its_string) {
  check_group({"plugin_interface", 125, 80, "invalid interface plugin_interface"});
}

TEST(reserved_entries, the_184_effector_interface_entries_throw_its_string) {
  check_group({"effector_interface", 221, 184, "invalid interface effector_interface"});
}

}  // namespace
