// Creation, reference counting, destruction and the begin hook's state.

#include <gtest/gtest.h>

#include <cstring>

#include "plugin/velloq_component.hpp"
#include "tests/support/fake_platform.hpp"
#include "tests/support/test_host.hpp"

namespace {

velloq_component* make_component() {
  velloq_component* component = velloq_component::create();
  static_cast<IUnknown*>(component)->AddRef();
  return component;
}

ULONG release(velloq_component* component) {
  return static_cast<IUnknown*>(component)->Release();
}

TEST(lifecycle, release_without_a_render_releases_no_atlas) {
  test_host host;
  velloq_component* component = make_component();
  EXPECT_EQ(release(component), 0u);
  EXPECT_TRUE(host.ledger.calls.empty());
}

TEST(lifecycle, a_new_begin_hook_replaces_the_atlas_and_destruction_releases_one) {
  fake_platform platform;
  test_host host;
  velloq_component* component = make_component();
  component->begin_render(&host.job, &host.application, 0);
  ASSERT_EQ(host.services.loaded.size(), 1u);
  test_image& first = *host.services.loaded[0];
  EXPECT_EQ(first.books().held(), 1u);
  EXPECT_EQ(component->current_glyph_atlas(), &first);

  component->begin_render(&host.job, &host.application, 0);
  ASSERT_EQ(host.services.loaded.size(), 2u);
  test_image& second = *host.services.loaded[1];
  EXPECT_EQ(first.books().held(), 0u);
  EXPECT_EQ(first.books().releases, 1);
  EXPECT_EQ(second.books().held(), 1u);

  release(component);
  EXPECT_EQ(second.books().held(), 0u);
  EXPECT_EQ(second.books().releases, 1);
  EXPECT_EQ(first.books().releases, 1);
  // The borrowed job, application and services are never released.
  EXPECT_EQ(host.job.books().releases, 0);
  EXPECT_EQ(host.application.books().releases, 0);
  EXPECT_EQ(host.services.books().releases, 0);
}

TEST(lifecycle, begin_hook_keeps_the_job_loads_ascii_and_derives_the_cell_size) {
  struct atlas_case {
    std::int32_t width, height, cell_width, cell_height;
  };
  for (const atlas_case& c :
       {atlas_case{128, 72, 8, 12}, atlas_case{100, 50, 6, 8}, atlas_case{15, 5, 0, 0}}) {
    fake_platform platform;
    test_host host;
    host.atlas_width = c.width;
    host.atlas_height = c.height;
    velloq_component* component = make_component();
    component->begin_render(&host.job, &host.application, 0);
    EXPECT_EQ(component->current_render_job(), &host.job);
    EXPECT_EQ(component->glyph_cell_width(), c.cell_width) << c.width;
    EXPECT_EQ(component->glyph_cell_height(), c.cell_height) << c.height;
    EXPECT_EQ(host.requested_names, std::vector<std::string>{"ascii"});
    EXPECT_EQ(host.ledger.calls,
              (std::vector<std::string>{"application.get_services", "services.load_image_resource",
                                        "atlas1.get_size"}));
    EXPECT_EQ(host.job.books().add_refs, 0);
    release(component);
  }
}

TEST(lifecycle, the_total_time_counts_from_after_the_atlas_load) {
  fake_platform platform;
  test_host host;
  velloq_component* component = make_component();
  platform.tick = 5000;
  component->begin_render(&host.job, &host.application, 0);
  // The tick is the last thing the begin hook takes.
  EXPECT_EQ(platform.calls, std::vector<std::string>{"tick_count"});
  EXPECT_EQ(component->render_start_tick(), 5000u);
  platform.tick = 7500;
  EXPECT_EQ(component->describe_total_time(&host.application), "Total Time    : 2.50 sec\n");
  release(component);
}

TEST(lifecycle, trivial_defaults_answer_their_fixed_values_and_change_nothing) {
  velloq_component* component = make_component();
  EXPECT_TRUE(component->is_valid_interface());
  EXPECT_EQ(component->plugin_op_1(7), 0);
  EXPECT_EQ(component->plugin_op_32(), 410000);
  EXPECT_TRUE(component->plugin_op_37(0));
  EXPECT_FALSE(component->plugin_op_38(0));
  EXPECT_EQ(component->plugin_op_64(0), 1);
  int a = 0, b = 0;
  EXPECT_EQ(component->plugin_op_98(&a, &b), &b);
  empty_result result{0x5A};
  EXPECT_EQ(component->plugin_op_23(&result, 0), &result);
  EXPECT_EQ(result.value, 0);
  std::uint8_t byte = 0x77;
  EXPECT_TRUE(component->plugin_op_114(&byte, 0));
  EXPECT_EQ(byte, 0);
  Uuid uuid{{9, 9, 9, 9}};
  EXPECT_EQ(component->get_plugin_uuid(&uuid, 0), &uuid);
  EXPECT_EQ(uuid.words[0], 0x05A838F5u);
  EXPECT_EQ(uuid.words[3], 0x554E9C40u);
  EXPECT_EQ(component->plugin_op_103(&uuid, 0, 0), &uuid);
  EXPECT_EQ(uuid.words[0] | uuid.words[1] | uuid.words[2] | uuid.words[3], 0u);
  EXPECT_FALSE(component->effector_op_6(0));
  EXPECT_FALSE(component->effector_op_16(0));
  component->effector_op_14(1, 2, 3, 4);
  EXPECT_EQ(component->get_reference_count(), 1);
  EXPECT_EQ(component->glyph_cell_width(), 0);
  EXPECT_EQ(component->current_render_job(), nullptr);
  release(component);
}

TEST(lifecycle, the_shape_adapter_forwards_only_parts) {
  velloq_component* component = make_component();
  shape_class shape;
  part_class part;
  empty_result result{0x33};
  EXPECT_EQ(component->shape_adapter(&result, &shape, 1, 0.5f, 2, 0), nullptr);
  EXPECT_EQ(result.value, 0x33);
  EXPECT_EQ(component->shape_adapter(&result, nullptr, 1, 0.5f, 2, 0), nullptr);
  EXPECT_EQ(result.value, 0x33);
  EXPECT_EQ(component->shape_adapter(&result, &part, 1, 0.5f, 2, 0), &result);
  EXPECT_EQ(result.value, 0);
  release(component);
}

TEST(lifecycle, reserved_entries_throw_their_group_string) {
  velloq_component* component = make_component();
  auto thrown = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const char* text) {
      return text;
    }
    return "nothing thrown";
  };
  EXPECT_EQ(thrown([&] { component->plugin_reserved_121(); }),
            "invalid interface plugin_interface");
  EXPECT_EQ(thrown([&] { component->plugin_reserved_200(); }),
            "invalid interface plugin_interface");
  EXPECT_EQ(thrown([&] { component->effector_reserved_17(); }),
            "invalid interface effector_interface");
  EXPECT_EQ(thrown([&] { component->effector_reserved_200(); }),
            "invalid interface effector_interface");
  EXPECT_EQ(component->get_reference_count(), 1);
  release(component);
}

}  // namespace
