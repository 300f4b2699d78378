// Memory running out inside the end hook: operator new throws bad_alloc
// within the DLL, its own unwinder carries it to the hook's handler, and
// the host sees an ordinary return, with every reference it handed out
// given back, and a component that serves the next render.

#include <gtest/gtest.h>

#include "tests/foreign_host/foreign_plugin.hpp"

namespace {

TEST(out_of_memory, a_failed_allocation_in_the_end_hook_stays_inside_the_module) {
  foreign_plugin dll;
  test_host host(32, 24, Bgra8{100, 100, 100, 0});
  host.use_shipped_atlas();
  const std::uint32_t component = dll.create_component();
  const std::uint32_t job = dll.hosts.address_of<RenderJob>(&host.job);
  const std::uint32_t application = dll.hosts.address_of<HostApplication>(&host.application);

  // A clean render first, to count the end hook's allocations.
  ASSERT_TRUE(
      dll.call_slot(component, 205, call_convention::thiscall, {job, application, 0}).clean());
  std::uint64_t before = dll.process.heap.allocations();
  ASSERT_TRUE(dll.call_slot(component, 207, call_convention::thiscall, {0}).clean());
  const std::uint64_t per_end_hook = dll.process.heap.allocations() - before;
  ASSERT_GT(per_end_hook, 4u);
  EXPECT_EQ(host.settings.notifications, 1);

  // Now one allocation in the middle of the report fails.
  ASSERT_TRUE(
      dll.call_slot(component, 205, call_convention::thiscall, {job, application, 0}).clean());
  dll.process.heap.fail_allocation(per_end_hook / 2);
  const call_outcome failed = dll.call_slot(component, 207, call_convention::thiscall, {0});
  ASSERT_TRUE(failed.clean()) << failed.describe();
  EXPECT_EQ(host.settings.notifications, 1) << "notified although the report was never made";
  EXPECT_TRUE(host.reference_problems(true).empty())
      << ::testing::PrintToString(host.reference_problems(true));
  EXPECT_TRUE(dll.process.console[2].empty()) << dll.process.console[2];

  EXPECT_EQ(dll.render_frame(component, host), "");
  EXPECT_EQ(host.settings.notifications, 2);
  const call_outcome released = dll.call_slot(component, 2, call_convention::com_stdcall, {});
  EXPECT_TRUE(released.clean() && released.eax == 0) << released.describe();
  EXPECT_TRUE(host.reference_problems(false).empty());

  // GCC's emulated thread-local storage, where the runtime keeps each
  // thread's exception state, takes a TLS slot and a lock (a semaphore) at
  // the module's first throw and never gives them back: a module that has
  // thrown once leaves both behind at unload, and nothing else.
  const loaded_module::unload_report unloaded = dll.module.unload();
  std::vector<std::string> others;
  int runtime_leftovers = 0;
  for (const std::string& problem : unloaded.problems) {
    if (problem == "TLS slot 0 still allocated" ||
        problem.rfind("left open: semaphore handle", 0) == 0)
      ++runtime_leftovers;
    else
      others.push_back(problem);
  }
  EXPECT_EQ(runtime_leftovers, 2) << ::testing::PrintToString(unloaded.problems);
  EXPECT_TRUE(others.empty()) << ::testing::PrintToString(others);
}

}  // namespace
