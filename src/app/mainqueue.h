#pragma once
// The main-thread queue. Workers hand every step that touches tasks, items,
// settings or windows to the main thread: sync() blocks until the main
// thread has run the function (it runs inline on the main thread itself),
// post() queues without waiting. The front end pumps processPending() from
// its event loop; a wake-up hook lets it learn that work is waiting.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

class MainQueue {
 public:
  // The thread that calls this becomes the main thread.
  void setMainThread();
  bool isMainThread() const;

  // Returns false without running fn when the stop token fires first, so a
  // worker being stopped never waits on a main thread that is joining it.
  bool sync(const std::function<void()>& fn, std::stop_token stop = {});
  void post(std::function<void()> fn);
  // Runs everything queued so far; returns how many functions ran.
  int processPending();
  // Waits until something is queued or the timeout passes (for plain loops).
  void waitForWork(std::chrono::milliseconds timeout);
  // Called (from any thread) whenever work is queued.
  void setWakeUp(std::function<void()> wake);

 private:
  struct Job {
    std::function<void()> Fn;
    bool* Done = nullptr;  // set under the mutex when a sync job finished
  };
  mutable std::mutex mutex_;
  std::condition_variable queued_, finished_;
  std::deque<Job> jobs_;
  std::thread::id mainId_ = std::this_thread::get_id();
  std::function<void()> wake_;
};

MainQueue& MainThread();
