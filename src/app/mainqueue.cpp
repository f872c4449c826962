#include "app/mainqueue.h"

#include <memory>

void MainQueue::setMainThread() {
  std::lock_guard lock(mutex_);
  mainId_ = std::this_thread::get_id();
}

bool MainQueue::isMainThread() const {
  std::lock_guard lock(mutex_);
  return mainId_ == std::this_thread::get_id();
}

void MainQueue::setWakeUp(std::function<void()> wake) {
  std::lock_guard lock(mutex_);
  wake_ = std::move(wake);
}

bool MainQueue::sync(const std::function<void()>& fn, std::stop_token stop) {
  if (isMainThread()) {
    fn();
    return true;
  }
  // The flag lives on the heap: a job abandoned at a stop may still run later.
  auto done = std::make_shared<bool>(false);
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    // The lambda keeps the flag alive while the job sits in a swapped-out batch.
    jobs_.push_back(Job{[fn, done] { fn(); }, done.get()});
    wake = wake_;
  }
  queued_.notify_all();
  if (wake) wake();
  // Registered before taking the lock: a stop already requested runs the
  // callback right here, and it takes the lock itself.
  std::stop_callback onStop(stop, [this] {
    std::lock_guard l(mutex_);
    finished_.notify_all();
  });
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return *done || stop.stop_requested(); });
  if (*done) return true;
  // Still queued: take it out so it never runs after we gave up.
  for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
    if (it->Done == done.get()) {
      jobs_.erase(it);
      return false;
    }
  // Already running on the main thread: wait for it, it cannot block on us.
  finished_.wait(lock, [&] { return *done; });
  return true;
}

void MainQueue::post(std::function<void()> fn) {
  std::function<void()> wake;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(Job{std::move(fn), nullptr});
    wake = wake_;
  }
  queued_.notify_all();
  if (wake) wake();
}

int MainQueue::processPending() {
  std::deque<Job> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(jobs_);
  }
  for (auto& job : batch) {
    job.Fn();
    if (job.Done) {
      std::lock_guard lock(mutex_);
      *job.Done = true;
      finished_.notify_all();
    }
  }
  return static_cast<int>(batch.size());
}

void MainQueue::waitForWork(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  queued_.wait_for(lock, timeout, [&] { return !jobs_.empty(); });
}

MainQueue& MainThread() {
  static MainQueue queue;
  return queue;
}
