#include "schedule/tthreadschedule.h"

#include "app/frontend.h"
#include "app/mainqueue.h"
#include "app/runcontrol.h"
#include "app/thxapp.h"

TThreadSchedule* ThreadSchedule = nullptr;

namespace {
THXTask* ActiveTask() {
  THXTask* task = HXApp ? HXApp->CurrentTask.get() : nullptr;
  return task && task->IsActive() ? task : nullptr;
}
}  // namespace

TThreadSchedule::TThreadSchedule(Clock clock, int tickMs)
    : clock_(std::move(clock)), tickMs_(tickMs), thread_([this](std::stop_token stop) { Run(stop); }) {}

TThreadSchedule::~TThreadSchedule() {
  thread_.request_stop();
  cv_.notify_all();
}

void TThreadSchedule::Run(std::stop_token stop) {
  while (!stop.stop_requested()) {
    MainThread().sync([this] { Tick(); }, stop);
    // The active test reads task data: it belongs on the main thread too.
    MainThread().sync([this] {
      if (!ActiveTask()) return;
      CompleteFolderTask();
      TrackRun();
    }, stop);
    std::unique_lock lock(mutex_);
    const bool eventDriven = HXApp && HXApp->EnginePace == 0;
    cv_.wait_for(lock, stop, std::chrono::milliseconds(tickMs_), [&] { return eventDriven && woken_.load(); });
    woken_.store(false);
  }
}

void TThreadSchedule::Wake() {
  woken_.store(true);
  cv_.notify_all();
}

void TThreadSchedule::Tick() {
  if (!HXApp || ActiveTask()) return;
  if (auto task = HXApp->FindDueTask(clock_())) RunTask(std::move(task));
}

void TThreadSchedule::CompleteFolderTask() {
  THXTask* task = ActiveTask();
  if (!task || !task->IntranetMode || task->Status != tsDownloadComplete) return;
  task->Status = tsTaskComplete;
  task->SaveToFile();
  FinishTask(*task);
}

void TThreadSchedule::TrackRun() {
  THXTask* task = ActiveTask();
  if (!task) return;
  task->ElapsedTime = clock_() - task->StartTime;
  UI().RefreshTaskCounters(*task);
}
