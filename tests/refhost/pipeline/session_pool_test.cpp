// Workers that each hold their own plug-in component: every frame is
// stamped once, and no component is ever called from a second thread.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "refhost/pictures/image_handle.hpp"
#include "refhost/pipeline/session_pool.hpp"
#include "tests/support/module_path.hpp"

TEST(session_pool, EachComponentStaysOnItsOwnThread) {
  session_pool pool(3, module_path(), session_settings{});
  ASSERT_TRUE(pool.discovery().accepted);
  std::mutex mutex;
  std::map<const plugin_session*, std::set<std::thread::id>> threads_of;
  std::vector<int> stamped(40, 0);
  pool.run(stamped.size(), [&](plugin_session& session, std::size_t frame) {
    host_image_ptr picture = make_host_image(24, 16, Bgra8{9, 9, 9, 0});
    const render_outcome outcome =
        session.render(render_facts{}, false, [&](render_facts&) { return picture.get(); });
    std::lock_guard<std::mutex> lock(mutex);
    threads_of[&session].insert(std::this_thread::get_id());
    stamped[frame] += outcome.notifications;
  });
  for (const auto& [session, threads] : threads_of) EXPECT_EQ(threads.size(), 1u);
  EXPECT_LE(threads_of.size(), 3u);
  EXPECT_EQ(stamped, std::vector<int>(40, 1));
  EXPECT_TRUE(pool.problems().empty());
}

TEST(session_pool, AFailingFrameStopsTheRunAndItsErrorComesBack) {
  session_pool pool(2, module_path(), session_settings{});
  std::mutex mutex;
  std::set<std::size_t> started;
  EXPECT_THROW(pool.run(1000,
                        [&](plugin_session&, std::size_t frame) {
                          {
                            std::lock_guard<std::mutex> lock(mutex);
                            started.insert(frame);
                          }
                          if (frame == 3)
                            throw std::runtime_error("frame 3");
                          std::this_thread::sleep_for(std::chrono::milliseconds(2));
                        }),
               std::runtime_error);
  // The frames in hand finish; no new one starts (1000 would take 1 s).
  EXPECT_LT(started.size(), 200u);
  // The pool still serves a later run.
  std::size_t done = 0;
  pool.run(5, [&](plugin_session&, std::size_t) {
    std::lock_guard<std::mutex> lock(mutex);
    ++done;
  });
  EXPECT_EQ(done, 5u);
}

TEST(session_pool, AModuleThatCannotLoadFailsEveryWorkerCleanly) {
  EXPECT_THROW(session_pool(4, module_path() + ".missing", session_settings{}), module_error);
  session_settings old_host;
  old_host.host_version = 429999;
  session_pool refused(2, module_path(), old_host);
  EXPECT_FALSE(refused.discovery().accepted);
}
