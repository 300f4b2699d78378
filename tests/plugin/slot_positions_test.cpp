// The component's table has exactly the slots the host calls by position.

#include <gtest/gtest.h>

#include "emulated_windows/host/slot_index.hpp"
#include "plugin/velloq_component.hpp"

namespace {

using vc = velloq_component;

TEST(slot_positions, iunknown_destructor_and_validity_query_come_first) {
  EXPECT_EQ(slot_index(&vc::QueryInterface), 0);
  EXPECT_EQ(slot_index(&vc::AddRef), 1);
  EXPECT_EQ(slot_index(&vc::Release), 2);
  EXPECT_EQ(slot_index(&vc::delete_this), 3);  // one slot, not GCC's two
  EXPECT_EQ(slot_index(&vc::is_valid_interface), 4);
}

TEST(slot_positions, plugin_group_spans_slots_5_to_204) {
  EXPECT_EQ(slot_index(&vc::plugin_op_1), 5);
  EXPECT_EQ(slot_index(&vc::plugin_op_32), 36);
  EXPECT_EQ(slot_index(&vc::part_variant), 5 + 58);
  EXPECT_EQ(slot_index(&vc::plugin_op_98), 5 + 97);
  EXPECT_EQ(slot_index(&vc::get_plugin_uuid), 5 + 101);
  EXPECT_EQ(slot_index(&vc::plugin_op_103), 5 + 102);
  EXPECT_EQ(slot_index(&vc::shape_adapter), 5 + 108);
  EXPECT_EQ(slot_index(&vc::plugin_op_114), 5 + 113);
  EXPECT_EQ(slot_index(&vc::plugin_op_120), 124);
  EXPECT_EQ(slot_index(&vc::plugin_reserved_121), 125);
  EXPECT_EQ(slot_index(&vc::plugin_reserved_200), 204);
}

TEST(slot_positions, effector_group_spans_slots_205_to_404) {
  EXPECT_EQ(slot_index(&vc::begin_render), 205);
  EXPECT_EQ(slot_index(&vc::effector_op_2), 206);
  EXPECT_EQ(slot_index(&vc::end_render), 207);
  EXPECT_EQ(slot_index(&vc::effector_op_16), 220);
  EXPECT_EQ(slot_index(&vc::effector_reserved_17), 221);
  EXPECT_EQ(slot_index(&vc::effector_reserved_200), 404);
}

// A class that adds one virtual function after the host's interfaces shows
// where the table ends.
struct one_more : effector_interface {
  virtual void VELLOQ_THISCALL appended() {}
};

TEST(slot_positions, the_host_interfaces_define_405_slots_and_nothing_after) {
  EXPECT_EQ(slot_index(&one_more::appended), component_table_slots);
  // The component's operations are not virtual: they add no slot.
  EXPECT_EQ(slot_index(&vc::assemble_report), -1);
  EXPECT_EQ(slot_index(&vc::draw_text), -1);
  EXPECT_EQ(slot_index(&vc::run_end_render), -1);
}

}  // namespace
