#include "refhost/pipeline/session_pool.hpp"

session_pool::session_pool(int workers, const std::string& module_path,
                           const session_settings& settings)
    : sessions_(static_cast<std::size_t>(workers)),
      start_failures_(static_cast<std::size_t>(workers)) {
  for (std::size_t worker = 0; worker < sessions_.size(); ++worker)
    threads_.emplace_back([=] { serve(worker, module_path, settings); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return started_ == threads_.size(); });
  for (const std::exception_ptr& failure : start_failures_) {
    if (failure) {
      lock.unlock();
      stop_threads();
      std::rethrow_exception(failure);
    }
  }
}

session_pool::~session_pool() {
  stop_threads();
}

void session_pool::stop_threads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quitting_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable())
      thread.join();
  }
}

void session_pool::serve(std::size_t worker, const std::string& module_path,
                         const session_settings& settings) {
  std::unique_ptr<plugin_session>& session = sessions_[worker];
  try {
    session = std::make_unique<plugin_session>(module_path, settings);
  } catch (...) {
    start_failures_[worker] = std::current_exception();
  }
  std::uint64_t served = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  ++started_;
  changed_.notify_all();
  for (;;) {
    changed_.wait(lock, [&] { return quitting_ || generation_ != served; });
    if (quitting_)
      break;
    served = generation_;
    lock.unlock();
    if (session)
      take_frames(*session);
    lock.lock();
    if (--busy_ == 0)
      changed_.notify_all();
  }
  lock.unlock();
  session.reset();
}

void session_pool::take_frames(plugin_session& session) {
  while (!stopping_.load()) {
    const std::size_t frame = next_.fetch_add(1);
    if (frame >= count_)
      return;
    ++in_progress_;
    try {
      (*work_)(session, frame);
      --in_progress_;
    } catch (...) {
      --in_progress_;
      std::lock_guard<std::mutex> lock(mutex_);
      if (!run_failure_)
        run_failure_ = std::current_exception();
      stopping_.store(true);
    }
  }
}

void session_pool::run(std::size_t count, const frame_work& work) {
  std::unique_lock<std::mutex> lock(mutex_);
  work_ = &work;
  count_ = count;
  next_.store(0);
  stopping_.store(false);
  run_failure_ = nullptr;
  busy_ = threads_.size();
  ++generation_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return busy_ == 0; });
  work_ = nullptr;
  if (run_failure_)
    std::rethrow_exception(run_failure_);
}

std::vector<std::string> session_pool::problems() const {
  std::vector<std::string> all;
  for (const std::unique_ptr<plugin_session>& session : sessions_) {
    if (session)
      all.insert(all.end(), session->problems().begin(), session->problems().end());
  }
  return all;
}
