#include "cli/session.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/mainqueue.h"
#include "app/runcontrol.h"
#include "app/startup.h"
#include "app/thxapp.h"
#include "app/workerthreads.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

}  // namespace

Session::Session() = default;

Session::~Session() {
  if (threads_) threads_->EndSchedule();
  if (THXTask* task = HXApp ? HXApp->CurrentTask.get() : nullptr; task && task->IsActive()) StopCurrentTask();
  threads_.reset();
  if (HXApp == app_.get()) HXApp = nullptr;
  app_.reset();
  ReleaseTaskRunLock();
}

bool Session::Interrupted() { return interrupted != 0; }

bool Session::Start(std::string& error) {
  app_ = std::make_unique<THXApp>();
  HXApp = app_.get();
  if (!AcquireTaskRunLock(HXApp->TasksFolder)) {
    error = "another Harvix is running tasks (the window or another harvix-cli); try again when it has finished";
    return false;
  }
  FirstRunSetup();
  DetectWorkOffline();
  HXApp->ResetActiveTasks();
  ConfigureSlotsFromSettings();
  SocketList().SetSlotCount(static_cast<std::size_t>(std::clamp(HXApp->Connections, 1, 16)));
  threads_ = std::make_unique<WorkerThreads>();
  threads_->Create(true);
  std::signal(SIGINT, [](int) { interrupted = 1; });
  std::signal(SIGTERM, [](int) { interrupted = 1; });
  terminal_ = isatty(2);
  return true;
}

bool Session::PumpUntil(const std::function<bool()>& done) {
  auto lastShown = std::chrono::steady_clock::now();
  while (!done()) {
    if (interrupted) return false;
    MainThread().waitForWork(std::chrono::milliseconds(50));
    MainThread().processPending();
    THXTask* task = HXApp->CurrentTask.get();
    if (terminal_ && task && task->IsActive() && std::chrono::steady_clock::now() - lastShown > std::chrono::milliseconds(200)) {
      ShowProgress(*task, false);
      lastShown = std::chrono::steady_clock::now();
    }
  }
  return true;
}

void Session::ShowProgress(const THXTask& t, bool final) { ShowRunProgress(t, terminal_, final); }

void ShowRunProgress(const THXTask& t, bool terminal, bool final) {
  if (!terminal && !final) return;
  char line[220];
  std::snprintf(line, sizeof line, "%s: %d/%d pages, %d/%d files, %d errors, %.1f kB, %d busy", t.Name.c_str(),
                t.PagesSaved, t.TotalPages, t.ResourcesSaved, t.TotalResources, t.PageErrors + t.ResourceErrors,
                static_cast<double>(t.TotalBytes) / 1024.0, SocketList().CountBusySlots());
  if (terminal) std::fprintf(stderr, "\r%-79s%s", line, final ? "\n" : "");
  else std::fprintf(stderr, "%s\n", line);
}

int WaitForRun(Session& session, const std::string& fileName) {
  bool started = false;
  auto current = [&]() -> THXTask* {
    THXTask* t = HXApp->CurrentTask.get();
    return t && t->FileName == fileName ? t : nullptr;
  };
  const bool ended = session.PumpUntil([&] {
    THXTask* t = current();
    if (t && t->IsActive()) started = true;
    return started && t && !t->IsActive();
  });
  THXTask* task = current();
  if (!ended) {
    StopCurrentTask();
    if (task) session.ShowProgress(*task, true);
    return 3;
  }
  session.ShowProgress(*task, true);
  if (task->Status == tsStopped) return 3;
  return task->PageErrors + task->ResourceErrors > 0 ? 1 : 0;
}

std::string ResolveTaskFile(const std::string& name) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(name, ec)) return std::filesystem::absolute(name).string();
  const std::string below = HXApp->TasksFolder + name + (name.size() > 4 && name.ends_with(".hxt") ? "" : ".hxt");
  return std::filesystem::is_regular_file(below, ec) ? below : std::string();
}
