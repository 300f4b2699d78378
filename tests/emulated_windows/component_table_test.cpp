// The component's table called by position as the host calls it: IUnknown
// with the COM convention, everything after it with thiscall, each entry
// popping exactly the arguments the host pushes and giving the answer of
// its kind. The kinds and positions below are written out here from the
// host's definition, apart from the header that generates the table.

#include <gtest/gtest.h>

#include <map>

#include "host/component_table.hpp"
#include "tests/emulated_windows/foreign_plugin.hpp"
#include "tests/emulated_windows/scene_objects.hpp"
#include "tests/support/test_host.hpp"

namespace {

enum class kind {
  value_0,
  nothing,
  empty_result,
  answers_410000,
  answers_true,
  answers_false,
  value_1,
  second_argument,
  zero_byte_and_true,
  part_variant,
  plugin_uuid,
  nil_uuid,
  shape_adapter,
};

struct operation_run {
  kind what;
  int first, last;
};

// The 120 plugin operations, positions counted from 1 within the group.
constexpr operation_run plugin_operations[] = {
    {kind::value_0, 1, 4},           {kind::nothing, 5, 18},
    {kind::value_0, 19, 19},         {kind::nothing, 20, 21},
    {kind::value_0, 22, 22},         {kind::empty_result, 23, 27},
    {kind::nothing, 28, 28},         {kind::empty_result, 29, 31},
    {kind::answers_410000, 32, 32},  {kind::empty_result, 33, 36},
    {kind::answers_true, 37, 37},    {kind::answers_false, 38, 39},
    {kind::value_0, 40, 47},         {kind::nothing, 48, 48},
    {kind::answers_false, 49, 52},   {kind::answers_true, 53, 56},
    {kind::answers_false, 57, 57},   {kind::answers_true, 58, 58},
    {kind::part_variant, 59, 59},    {kind::empty_result, 60, 62},
    {kind::answers_false, 63, 63},   {kind::value_1, 64, 64},
    {kind::nothing, 65, 65},         {kind::answers_false, 66, 66},
    {kind::nothing, 67, 69},         {kind::answers_false, 70, 70},
    {kind::nothing, 71, 71},         {kind::empty_result, 72, 73},
    {kind::nothing, 74, 74},         {kind::empty_result, 75, 77},
    {kind::value_0, 78, 78},         {kind::nothing, 79, 79},
    {kind::empty_result, 80, 82},    {kind::value_0, 83, 83},
    {kind::nothing, 84, 84},         {kind::empty_result, 85, 89},
    {kind::value_0, 90, 90},         {kind::nothing, 91, 94},
    {kind::answers_false, 95, 95},   {kind::nothing, 96, 97},
    {kind::second_argument, 98, 98}, {kind::empty_result, 99, 99},
    {kind::value_0, 100, 100},       {kind::empty_result, 101, 101},
    {kind::plugin_uuid, 102, 102},   {kind::nil_uuid, 103, 103},
    {kind::empty_result, 104, 105},  {kind::nothing, 106, 107},
    {kind::empty_result, 108, 108},  {kind::shape_adapter, 109, 109},
    {kind::empty_result, 110, 110},  {kind::nothing, 111, 111},
    {kind::answers_false, 112, 113}, {kind::zero_byte_and_true, 114, 114},
    {kind::value_0, 115, 115},       {kind::empty_result, 116, 118},
    {kind::answers_false, 119, 119}, {kind::nothing, 120, 120},
};

// The 16 effector operations in order, with their argument counts.
struct effector_operation {
  kind what;  // the hooks are checked apart
  int arguments;
};
constexpr effector_operation effector_operations[16] = {
    {kind::nothing, 3},       {kind::nothing, 2},       {kind::nothing, 1},
    {kind::nothing, 0},       {kind::nothing, 1},       {kind::answers_false, 1},
    {kind::answers_false, 1}, {kind::answers_false, 1}, {kind::nothing, 1},
    {kind::answers_false, 1}, {kind::answers_false, 1}, {kind::nothing, 3},
    {kind::answers_false, 1}, {kind::nothing, 4},       {kind::nothing, 2},
    {kind::answers_false, 1},
};

constexpr int plugin_slot(int position) {
  return 4 + position;
}
constexpr int effector_slot(int position) {
  return 204 + position;
}

// Arguments the host passes: the result location first where there is one.
int argument_count(kind what) {
  switch (what) {
    case kind::answers_410000:
      return 0;
    case kind::empty_result:
    case kind::second_argument:
    case kind::zero_byte_and_true:
    case kind::plugin_uuid:
      return 2;
    case kind::nil_uuid:
      return 3;
    case kind::part_variant:
      return 5;
    case kind::shape_adapter:
      return 6;
    default:
      return 1;
  }
}

bool takes_result_location(kind what) {
  return what == kind::empty_result || what == kind::part_variant ||
         what == kind::zero_byte_and_true || what == kind::plugin_uuid || what == kind::nil_uuid ||
         what == kind::shape_adapter;
}

class component_table : public ::testing::Test {
 protected:
  component_table() : component(dll.create_component()) {}

  // A result location between guard bytes that must stay as they are.
  std::uint32_t location(std::uint32_t size) {
    const std::vector<std::uint8_t> fill(size + 8, 0xAB);
    return dll.host_bytes(fill.data(), fill.size()) + 4;
  }
  bool guards_kept(std::uint32_t at, std::uint32_t size) {
    return dll.process.cpu.read32(at - 4) == 0xABABABAB &&
           dll.process.cpu.read32(at + size) == 0xABABABAB;
  }
  // The component's heap block; empty once it is no live block.
  std::vector<std::uint8_t> component_bytes() {
    const std::int64_t size = dll.process.heap.size_of(component);
    return size < 0 ? std::vector<std::uint8_t>()
                    : dll.process.cpu.read_bytes(component, static_cast<std::size_t>(size));
  }
  call_outcome call(int slot, const std::vector<std::uint32_t>& args) {
    return dll.call_slot(component, slot, call_convention::thiscall, args);
  }

  foreign_plugin dll;
  test_host host{1, 1, Bgra8{0, 0, 0, 0}};
  std::uint32_t component;
};

TEST_F(component_table, slot_3_is_the_one_slot_deleting_destructor) {
  ASSERT_NE(component, 0u);
  // Called directly with bit 0 set: destroys, frees, answers the address.
  call_outcome r = call(3, {1});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, component);
  EXPECT_EQ(dll.process.heap.size_of(component), -1) << "the memory was not freed";

  // Without bit 0 the memory stays the caller's.
  const std::uint32_t second = dll.create_component();
  r = dll.call_slot(second, 3, call_convention::thiscall, {0});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, second);
  EXPECT_GT(dll.process.heap.size_of(second), 0);

  // The last Release destroys through slot 3 with bit 0 set: a copy of the
  // table with our own entry there shows it.
  const std::uint32_t third = dll.create_component();
  std::vector<std::uint32_t> table(405);
  dll.process.cpu.read(dll.process.cpu.read32(third), table.data(), 4 * table.size());
  std::vector<std::uint32_t> seen;
  table[3] = dll.process.cpu.add_stub("recording slot 3", 4, [&](stub_call& c) {
    seen = {c.ecx(), c.arg(0)};
    c.result(c.ecx());
  });
  dll.process.cpu.write32(third, dll.host_bytes(table.data(), 4 * table.size()));
  r = dll.call_slot(third, 2, call_convention::com_stdcall, {});
  ASSERT_TRUE(r.clean()) << r.describe();
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{third, 1}));
}

TEST_F(component_table, the_120_plugin_operations_answer_by_kind_and_change_nothing) {
  // The list above against the host's own tally of kinds.
  std::map<kind, int> tally;
  int next = 1;
  for (const operation_run& r : plugin_operations) {
    ASSERT_EQ(r.first, next);
    tally[r.what] += r.last - r.first + 1;
    next = r.last + 1;
  }
  ASSERT_EQ(next, 121);
  EXPECT_EQ(tally[kind::nothing], 36);
  EXPECT_EQ(tally[kind::empty_result] + tally[kind::part_variant], 38);
  EXPECT_EQ(tally[kind::value_0], 19);
  EXPECT_EQ(tally[kind::answers_false], 14);
  EXPECT_EQ(tally[kind::answers_true], 6);

  ASSERT_NE(component, 0u);
  const module_scene_types types = find_module_scene_types(dll);
  const std::uint32_t plain_shape = make_scene_object(dll, types.shape_class);
  const std::uint32_t part = make_scene_object(dll, types.part_class);
  for (const operation_run& run : plugin_operations) {
    for (int position = run.first; position <= run.last; ++position) {
      SCOPED_TRACE("plugin operation " + std::to_string(position));
      std::vector<std::uint32_t> args;
      for (int i = 0; i < argument_count(run.what); ++i)
        args.push_back(0x10000000u * (i + 1) + static_cast<std::uint32_t>(position));
      const std::uint32_t result_size =
          run.what == kind::plugin_uuid || run.what == kind::nil_uuid ? 16 : 1;
      const std::uint32_t at = location(result_size);
      if (takes_result_location(run.what))
        args[0] = at;
      if (run.what == kind::part_variant)
        args[1] = part;
      if (run.what == kind::shape_adapter)
        args[1] = plain_shape;

      const std::vector<std::uint8_t> before = component_bytes();
      const std::uint64_t allocations = dll.process.heap.allocations();
      const call_outcome r = call(plugin_slot(position), args);
      ASSERT_TRUE(r.clean()) << r.describe();
      EXPECT_EQ(component_bytes(), before);
      EXPECT_EQ(dll.process.heap.allocations(), allocations);
      EXPECT_TRUE(guards_kept(at, result_size));

      const std::uint8_t byte = dll.process.cpu.read_bytes(at, 1)[0];
      switch (run.what) {
        case kind::value_0:
          EXPECT_EQ(r.eax, 0u);
          break;
        case kind::value_1:
          EXPECT_EQ(r.eax, 1u);
          break;
        case kind::answers_410000:
          EXPECT_EQ(r.eax, 410000u);
          break;
        case kind::answers_true:
          EXPECT_EQ(r.eax & 0xFF, 1u);
          break;
        case kind::answers_false:
          EXPECT_EQ(r.eax & 0xFF, 0u);
          break;
        case kind::second_argument:
          EXPECT_EQ(r.eax, args[1]);
          break;
        case kind::empty_result:
        case kind::part_variant:
          EXPECT_EQ(r.eax, at);
          EXPECT_EQ(byte, 0);
          break;
        case kind::zero_byte_and_true:
          EXPECT_EQ(r.eax & 0xFF, 1u);
          EXPECT_EQ(byte, 0);
          break;
        case kind::plugin_uuid:
          EXPECT_EQ(r.eax, at);
          EXPECT_EQ(dll.process.cpu.read_bytes(at, 16),
                    (std::vector<std::uint8_t>{0xF5, 0x38, 0xA8, 0x05, 0x6B, 0x44, 0x63, 0xCA, 0x7D,
                                               0x72, 0x83, 0x9F, 0x40, 0x9C, 0x4E, 0x55}));
          break;
        case kind::nil_uuid:
          EXPECT_EQ(r.eax, at);
          EXPECT_EQ(dll.process.cpu.read_bytes(at, 16), std::vector<std::uint8_t>(16, 0));
          break;
        case kind::shape_adapter:
          // A shape that is no part: a null result, the location untouched.
          EXPECT_EQ(r.eax, 0u);
          EXPECT_EQ(byte, 0xAB);
          break;
        case kind::nothing:
          break;
      }
    }
  }
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST_F(component_table, the_shape_adapter_forwards_a_part_and_nothing_else) {
  ASSERT_NE(component, 0u);
  const module_scene_types types = find_module_scene_types(dll);
  // A class the module has never seen, derived from shape_class.
  const std::uint32_t other_type =
      make_single_base_type(dll, types, "11other_shape", types.shape_class);
  struct shape_case {
    const char* what;
    std::uint32_t object;
    bool is_part;
  };
  for (const shape_case& c :
       {shape_case{"a part", make_scene_object(dll, types.part_class), true},
        shape_case{"a plain shape", make_scene_object(dll, types.shape_class), false},
        shape_case{"another shape class", make_scene_object(dll, other_type), false},
        shape_case{"no shape", 0, false}}) {
    const std::uint32_t at = location(1);
    // result, shape, a dropped value, a float (1.5), a further value, 0.
    const call_outcome r = call(plugin_slot(109), {at, c.object, 0x77, 0x3FC00000, 0x99, 0});
    ASSERT_TRUE(r.clean()) << c.what << ": " << r.describe();
    EXPECT_EQ(r.eax, c.is_part ? at : 0u) << c.what;
    EXPECT_EQ(dll.process.cpu.read_bytes(at, 1)[0], c.is_part ? 0 : 0xAB) << c.what;
    EXPECT_TRUE(guards_kept(at, 1)) << c.what;
  }
}

TEST_F(component_table, the_16_effector_operations_with_the_hooks_at_205_and_207) {
  ASSERT_NE(component, 0u);
  host.use_shipped_atlas();
  const std::uint32_t job = dll.hosts.address_of<RenderJob>(&host.job);
  const std::uint32_t application = dll.hosts.address_of<HostApplication>(&host.application);
  for (int position = 1; position <= 16; ++position) {
    SCOPED_TRACE("effector operation " + std::to_string(position));
    const effector_operation& op = effector_operations[position - 1];
    std::vector<std::uint32_t> args;
    for (int i = 0; i < op.arguments; ++i) args.push_back(0x20000000u * (i + 1) + position);
    if (position == 1)
      args = {job, application, 0x5A5A5A5A};
    const std::vector<std::uint8_t> before = component_bytes();
    host.ledger.calls.clear();
    const call_outcome r = call(effector_slot(position), args);
    ASSERT_TRUE(r.clean()) << r.describe();
    if (position == 1) {
      // The begin hook keeps the job, loads the atlas, takes the cell size.
      EXPECT_EQ(host.ledger.calls,
                (std::vector<std::string>{"application.get_services",
                                          "services.load_image_resource", "atlas1.get_size"}));
    } else if (position == 3) {
      // The end hook stamps the 1x1 picture and tells the host.
      EXPECT_EQ(host.settings.notifications, 1);
      EXPECT_EQ(host.image.at(0, 0).alpha, 255);
      EXPECT_TRUE(host.reference_problems(true).empty());
    } else {
      EXPECT_EQ(component_bytes(), before);
      EXPECT_TRUE(host.ledger.calls.empty());
      if (op.what == kind::answers_false) {
        EXPECT_EQ(r.eax & 0xFF, 0u);
      }
    }
  }
  const call_outcome released = dll.call_slot(component, 2, call_convention::com_stdcall, {});
  ASSERT_TRUE(released.clean()) << released.describe();
  EXPECT_EQ(released.eax, 0u);
  EXPECT_TRUE(host.reference_problems(false).empty());
}

// The table read from the interfaces' declarations, which the validator
// calls by, agrees with the host's definition as written out here.
TEST(component_table_facts, the_declarations_give_each_entry_its_words_and_answer) {
  for (const operation_run& run : plugin_operations) {
    for (int position = run.first; position <= run.last; ++position) {
      SCOPED_TRACE("plugin operation " + std::to_string(position));
      const table_entry& entry = ::component_table[plugin_slot(position)];
      EXPECT_EQ(entry.arguments, argument_count(run.what));
      EXPECT_EQ(entry.answer == entry_answer::location,
                takes_result_location(run.what) && run.what != kind::zero_byte_and_true);
    }
  }
  for (int position = 1; position <= 16; ++position) {
    SCOPED_TRACE("effector operation " + std::to_string(position));
    const table_entry& entry = ::component_table[effector_slot(position)];
    EXPECT_EQ(entry.arguments, effector_operations[position - 1].arguments);
    EXPECT_EQ(entry.answer, effector_operations[position - 1].what == kind::answers_false
                                ? entry_answer::boolean
                                : entry_answer::nothing);
  }
  int reserved = 0;
  for (const table_entry& entry : ::component_table) {
    reserved += entry.answer == entry_answer::throws ? 1 : 0;
    if (entry.answer == entry_answer::throws)
      EXPECT_EQ(entry.arguments, 0);
  }
  EXPECT_EQ(reserved, 80 + 184);
  EXPECT_EQ(::component_table[plugin_slot(114)].pointee_bytes[0], 1) << "the zero byte's place";
  EXPECT_EQ(::component_table[plugin_slot(102)].pointee_bytes[0], 16) << "a Uuid";
  EXPECT_EQ(::component_table[plugin_slot(109)].pointee_bytes[1], 0) << "a scene object: null";
}

}  // namespace
