// Memory running out inside the end hook, at each of its allocations in
// turn: bad_alloc is thrown inside the DLL (also where a formatting stream
// meets it) and its own unwinder carries it to the hook's handler. The host
// sees an ordinary return, its picture exactly as it was, gets back every
// reference it handed out, and the component serves the next render.

#include <gtest/gtest.h>

#include <cstring>

#include "tests/emulated_windows/foreign_plugin.hpp"

namespace {

TEST(out_of_memory, each_failed_allocation_in_the_end_hook_stays_inside_the_module) {
  foreign_plugin dll;
  test_host host(8, 8, Bgra8{100, 100, 100, 0});
  host.use_shipped_atlas();
  const std::uint32_t component = dll.create_component();
  const std::uint32_t job = dll.hosts.address_of<RenderJob>(&host.job);
  const std::uint32_t application = dll.hosts.address_of<HostApplication>(&host.application);
  auto begin = [&] {
    return dll.call_slot(component, 205, call_convention::thiscall, {job, application, 0});
  };
  auto end = [&] { return dll.call_slot(component, 207, call_convention::thiscall, {0}); };

  // Two clean renders, the second to count an end hook's allocations once
  // the runtime has set itself up.
  ASSERT_EQ(dll.render_frame(component, host), "");
  ASSERT_TRUE(begin().clean());
  const std::uint64_t before = dll.process.heap.allocations();
  ASSERT_TRUE(end().clean());
  const std::uint64_t per_end_hook = dll.process.heap.allocations() - before;
  ASSERT_GT(per_end_hook, 4u);

  std::vector<std::uint64_t> changed_the_picture;
  for (std::uint64_t failing = 1; failing <= per_end_hook; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
    ASSERT_TRUE(begin().clean());
    // Transparent again, so that even the opacity pass would show.
    host.image.pixels().assign(host.image.pixels().size(), Bgra8{100, 100, 100, 0});
    const std::vector<Bgra8> rendered = host.image.pixels();
    const std::int64_t notifications = host.settings.notifications;
    dll.process.heap.fail_allocation(failing);
    const call_outcome r = end();
    ASSERT_TRUE(r.clean()) << r.describe();
    if (std::memcmp(host.image.pixels().data(), rendered.data(), rendered.size() * 4) != 0 ||
        host.settings.notifications != notifications)
      changed_the_picture.push_back(failing);
    ASSERT_TRUE(host.reference_problems(true).empty())
        << ::testing::PrintToString(host.reference_problems(true));
    ASSERT_TRUE(dll.process.console[2].empty()) << dll.process.console[2];
  }
  EXPECT_TRUE(changed_the_picture.empty())
      << "failing allocations after which the picture was changed: "
      << ::testing::PrintToString(changed_the_picture) << " of " << per_end_hook;

  EXPECT_EQ(dll.render_frame(component, host), "");
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
