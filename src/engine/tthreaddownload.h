#pragma once
// The dispatcher: while a run lasts it hands the current task's queue items
// to idle connection slots, balancing pages and media by Priority, records
// every outcome in the item and the task's counters, saves the downloads
// list periodically and declares the download complete. Its thread only
// paces; every step runs on the main thread. Resume starts a run, Stop ends
// it (the thread saves once more and waits for the next Resume).
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/socketlist.h"

class THXQItem;
class THXTask;

class TThreadDownload {
 public:
  explicit TThreadDownload(TSocketList& slots);
  ~TThreadDownload();

  // Main thread: start or end a run.
  void Resume();
  void Stop();
  bool Stopped() const { return stop_.load(); }
  // Any thread: something changed (a slot is idle, items were added). At
  // pace 0 the next step runs at once.
  void Wake();

  // Main-thread steps.
  void Dispatch();
  std::unique_ptr<THXQItem> PickNextItem();
  void StartTransfer(TThreadSocket& slot, std::unique_ptr<THXQItem> item);
  void RecordOutcome(TThreadSocket& slot);
  void RecordProgress(TThreadSocket& slot);
  void PeriodicSave();
  void FinalSave();

 private:
  void Run(std::stop_token stop);
  // Waits up to ms, or until a stop (or, at pace 0, a wake) ends it.
  void Pause(std::stop_token stop, int ms, bool wakeEnds);
  bool DispatchOne(THXTask& task);
  void RecordFailure(THXTask& task, THXQItem& item);
  bool SendsCredentials(const THXTask& task, const std::string& url) const;

  TSocketList& slots_;
  std::atomic<bool> stop_{true};
  std::atomic<bool> woken_{false};
  std::mutex mutex_;
  std::condition_variable_any cv_;
  // Items that came back incomplete, offered again once the queues are
  // walked; how often each came back this run.
  std::deque<std::string> retry_;
  std::unordered_map<std::string, int> incomplete_;
  std::jthread thread_;
};

// The dispatcher of this process, while the front end has one.
extern TThreadDownload* ThreadDownload;
