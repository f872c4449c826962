#pragma once
// The schedule thread: about once a second it starts the first due task of
// the active-task list when no task is active, finishes a folder-mode task
// whose download is complete, and keeps the running task's elapsed time.
// Every step runs on the main thread; the thread itself only waits. The
// clock is injectable so tests can move time instead of waiting.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "app/hxdatetime.h"

class TThreadSchedule {
 public:
  using Clock = std::function<TDateTime()>;
  explicit TThreadSchedule(Clock clock = Now, int tickMs = 1000);
  ~TThreadSchedule();

  // Any thread: a task was asked to run or a run completed. At pace 0 the
  // next pass runs at once instead of at the next second.
  void Wake();

  // Main-thread steps of one pass.
  void Tick();
  void CompleteFolderTask();
  void TrackRun();

 private:
  void Run(std::stop_token stop);
  Clock clock_;
  int tickMs_;
  std::mutex mutex_;
  std::condition_variable_any cv_;
  std::atomic<bool> woken_{false};
  std::jthread thread_;
};

// The schedule thread of this process, while the front end has one.
extern TThreadSchedule* ThreadSchedule;
