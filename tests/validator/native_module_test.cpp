// velloq-validate's behaviour checks on the native module, loaded into this
// process: in the sanitizer build they run under AddressSanitizer and
// UndefinedBehaviorSanitizer, which watch every call the checks make.

#include <gtest/gtest.h>

#include "validator/checks/check_context.hpp"
#include "validator/native_plugin.hpp"

namespace {

TEST(native_module, passes_every_check_that_applies_and_skips_the_windows_dll_ones) {
  validation_options options;
  options.plugin_path = VELLOQ_MODULE_PATH;
  const validation done = validate(options, native_module_source(VELLOQ_MODULE_PATH));
  ASSERT_EQ(done.results.size(), check_definitions().size());
  int applicable = 0;
  for (std::size_t i = 0; i < done.results.size(); ++i) {
    const check_result& r = done.results[i];
    const bool windows_only = check_definitions()[i].target == check_target::windows_dll;
    applicable += windows_only ? 0 : 1;
    EXPECT_EQ(r.status, windows_only ? check_status::skipped : check_status::passed)
        << r.name << ": " << r.detail;
  }
  // The component, render and fault checks at least: the table's, the
  // hooks', the references', the allocator's.
  EXPECT_GE(applicable, 14);
}

TEST(native_module, allocations_in_the_end_hook_are_counted_and_failed) {
  native_plugin target(VELLOQ_MODULE_PATH);
  std::string problem;
  const component_ref component = target.create_component(problem);
  ASSERT_EQ(problem, "");
  target.render(component, target.new_frame(8, 8));
  contract_frame& frame = target.new_frame(8, 8);
  target.begin_render(component, frame);
  const std::uint64_t before = *target.allocations();
  target.end_render(component);
  ASSERT_GT(*target.allocations(), before) << "the end hook allocates";
  // The first allocation of the next end hook fails: the hook comes back
  // clean, and leaves the picture as it was.
  contract_frame& failing = target.new_frame(8, 8);
  EXPECT_TRUE(target.begin_render(component, failing).clean());
  target.fail_allocation(1);
  EXPECT_TRUE(target.end_render(component).clean());
  target.fail_allocation(0);
  EXPECT_FALSE(failing.picture_changed());
  EXPECT_TRUE(target.release(component).clean());
}

}  // namespace
