// The component called as an MSVC-built host calls it: by table position,
// `this` in ECX for the host's interfaces and on the stack for IUnknown,
// results returned by value through a location passed first, and the callee
// popping every argument.

#include <gtest/gtest.h>

#include <cstring>

#include "plugin/exports.hpp"
#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/foreign_call.hpp"
#include "tests/support/test_host.hpp"

namespace {

void* new_component() {
  void* object = nullptr;
  EXPECT_EQ(create_interface(0, 0, &object, 0, 0), 1);
  return object;
}

constexpr int plugin_slot(int entry) {
  return 4 + entry;
}
constexpr int effector_slot(int entry) {
  return 204 + entry;
}

TEST(table_by_position, iunknown_slots_use_the_com_convention) {
  void* object = new_component();
  foreign_result r = call_com_slot(object, 1, {});
  EXPECT_EQ(r.eax, 2u);
  EXPECT_EQ(r.stack_imbalance, 0);
  r = call_com_slot(object, 2, {});
  EXPECT_EQ(r.eax, 1u);
  EXPECT_EQ(r.stack_imbalance, 0);

  GUID id{};
  void* out = reinterpret_cast<void*>(0x5555);
  r = call_com_slot(object, 0, {word(&id), word(&out)});
  EXPECT_EQ(r.eax, 0x80004002u);
  EXPECT_EQ(r.stack_imbalance, 0);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x5555));

  r = call_thiscall_slot(object, 4, {});
  EXPECT_EQ(r.eax & 0xFF, 1u);
  EXPECT_EQ(r.stack_imbalance, 0);
  call_com_slot(object, 2, {});
}

TEST(table_by_position, plugin_defaults_answer_by_position) {
  void* object = new_component();
  struct value_case {
    int entry;
    std::initializer_list<std::uint32_t> args;
    std::uint32_t mask, expected;
  };
  const value_case cases[] = {
      {1, {7}, 0xFFFFFFFF, 0}, {32, {}, 0xFFFFFFFF, 410000}, {37, {0}, 0xFF, 1},
      {38, {0}, 0xFF, 0},      {64, {0}, 0xFFFFFFFF, 1},     {119, {0}, 0xFF, 0},
  };
  for (const value_case& c : cases) {
    const foreign_result r = call_thiscall_slot(object, plugin_slot(c.entry), c.args);
    EXPECT_EQ(r.eax & c.mask, c.expected) << "entry " << c.entry;
    EXPECT_EQ(r.stack_imbalance, 0) << "entry " << c.entry;
  }

  foreign_result r = call_thiscall_slot(object, plugin_slot(98), {0x1111, 0x2222});
  EXPECT_EQ(r.eax, 0x2222u);
  EXPECT_EQ(r.stack_imbalance, 0);

  Uuid uuid{{7, 7, 7, 7}};
  r = call_thiscall_slot(object, plugin_slot(102), {word(&uuid), 0});
  EXPECT_EQ(r.eax, word(&uuid));
  EXPECT_EQ(r.stack_imbalance, 0);
  const std::uint32_t plugin_words[4] = {0x05A838F5, 0xCA63446B, 0x9F83727D, 0x554E9C40};
  EXPECT_EQ(std::memcmp(uuid.words, plugin_words, 16), 0);

  r = call_thiscall_slot(object, plugin_slot(103), {word(&uuid), 0, 0});
  EXPECT_EQ(r.eax, word(&uuid));
  EXPECT_EQ(r.stack_imbalance, 0);
  EXPECT_EQ(uuid.words[0] | uuid.words[1] | uuid.words[2] | uuid.words[3], 0u);

  std::uint8_t byte = 0x44;
  r = call_thiscall_slot(object, plugin_slot(114), {word(&byte), 0});
  EXPECT_EQ(r.eax & 0xFF, 1u);
  EXPECT_EQ(byte, 0);
  EXPECT_EQ(r.stack_imbalance, 0);

  for (int entry : {23, 31, 59, 99, 118}) {
    empty_result result{0x99};
    // Entry 59 takes the part, a float, a further value and the reserved 0.
    r = entry == 59 ? call_thiscall_slot(object, plugin_slot(entry), {word(&result), 0, 0, 0, 0})
                    : call_thiscall_slot(object, plugin_slot(entry), {word(&result), 0});
    EXPECT_EQ(r.eax, word(&result)) << "entry " << entry;
    EXPECT_EQ(result.value, 0) << "entry " << entry;
    EXPECT_EQ(r.stack_imbalance, 0) << "entry " << entry;
  }

  for (int entry : {6, 16}) {
    r = call_thiscall_slot(object, effector_slot(entry), {0});
    EXPECT_EQ(r.eax & 0xFF, 0u) << "effector entry " << entry;
    EXPECT_EQ(r.stack_imbalance, 0);
  }
  call_com_slot(object, 2, {});
}

// Stands in for slot 3 to see that the last Release goes through it.
void* deleting_destructor_seen = nullptr;
unsigned deleting_destructor_flags = 0;
const void* original_slot_3 = nullptr;

void* __attribute__((thiscall)) record_deleting_destructor(void* self, unsigned flags) {
  deleting_destructor_seen = self;
  deleting_destructor_flags = flags;
  return reinterpret_cast<void*>(
      foreign_call(original_slot_3, reinterpret_cast<std::uint32_t>(self), {flags}).eax);
}

TEST(table_by_position, the_last_release_destroys_through_slot_3) {
  void* object = new_component();
  const void* const* table = *static_cast<const void* const* const*>(object);
  std::vector<const void*> patched(table, table + component_table_slots);
  original_slot_3 = patched[3];
  patched[3] = reinterpret_cast<const void*>(&record_deleting_destructor);
  *static_cast<const void* const**>(object) = patched.data();

  const foreign_result r = call_com_slot(object, 2, {});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.stack_imbalance, 0);
  EXPECT_EQ(deleting_destructor_seen, object);
  EXPECT_EQ(deleting_destructor_flags, 1u);  // destroy and free
}

TEST(table_by_position, the_hooks_at_205_and_207_stamp_a_render) {
  fake_platform platform;
  test_host host(64, 48, Bgra8{0, 0, 0, 0});
  host.use_shipped_atlas();
  void* object = new_component();
  foreign_result r =
      call_thiscall_slot(object, effector_slot(1), {word(&host.job), word(&host.application), 0});
  EXPECT_EQ(r.stack_imbalance, 0);
  r = call_thiscall_slot(object, effector_slot(3), {0});
  EXPECT_EQ(r.stack_imbalance, 0);
  EXPECT_EQ(host.settings.notifications, 1);
  EXPECT_EQ(host.image.at(5, 5).alpha, 255);
  call_com_slot(object, 2, {});
  EXPECT_TRUE(host.reference_problems(false).empty());
}

}  // namespace
