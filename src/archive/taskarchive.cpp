#include "archive/taskarchive.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <vector>
#include <filesystem>

#include "app/frontend.h"
#include "app/mainqueue.h"
#include "app/thxapp.h"
#include "app/runcontrol.h"
#include "archive/zipmanager.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"

namespace fs = std::filesystem;

TZipTimer* ThreadZip = nullptr;

namespace {

std::atomic<bool> g_enabled{false};
// A tick waits in the main-thread queue; the timer posts no second one. Not a
// member: the posted tick may outlive the timer.
std::atomic<bool> g_tickPending{false};
ZipTreeNode* g_runNode = nullptr;
std::string g_runTask;  // the task file whose archive g_runNode is

int Pace() { return CurrentEnginePace(); }

THXTask* RunTask() {
  THXTask* task = HXApp ? HXApp->CurrentTask.get() : nullptr;
  return task && !task->IntranetMode ? task : nullptr;
}

// The archive node of the task's run: the one opened at its start, or the
// task's archive opened now (a run stopped before it got that far).
ZipTreeNode* TaskNode(THXTask& task) {
  if (g_runNode && g_runTask == task.FileName) return g_runNode;
  g_runNode = ZipManager().OpenArchive(task.Destination);
  g_runTask = task.FileName;
  return g_runNode;
}

// Files of the queue into the task's archive: the first one, or at most
// `count` in one add. Each leaves the queue whatever happens; a file that did
// not get in is fetched again next time.
void AddQueuedFiles(THXTask& task, TZipManager& zip, std::size_t count) {
  std::vector<std::unique_ptr<THXQItem>> items;
  std::vector<std::pair<std::string, std::string>> files;
  while (!task.ZipQueue.empty() && items.size() < count) {
    auto [file, item] = std::move(task.ZipQueue.front());
    task.ZipQueue.pop_front();
    const std::string path = item->GetLocalFile();
    if (path.empty()) continue;
    files.emplace_back(path, item->Title.substr(0, 255));
    items.push_back(std::move(item));
  }
  if (files.empty()) return;
  zip.ZipOperation = zoAdding;
  zip.PendingComment = {files.front().first, files.front().second};
  zip.SelectionLocked = true;
  zip.ManualAdd = false;
  zip.Zip.Packer = RunPacker();
  const std::vector<bool> added = zip.AddTaskFiles(files, TaskNode(task));
  zip.Zip.Packer = nullptr;
  zip.PendingComment = {};
  zip.SelectionLocked = false;
  zip.ManualAdd = true;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (added[i]) continue;
    items[i]->SetState(isNone);
    items[i]->Result = "Not Zipped";
    items[i]->Store();
    task.Modified = true;
  }
}

// At pace 0 a tick adds everything that waits, as a dispatch step then fills
// every idle slot; the cap keeps the main thread answering between adds.
constexpr std::size_t kBatchAtPaceZero = 256;
// How many waiting files wake the timer at pace 0.
constexpr std::size_t kWakeBatch = 64;

}  // namespace

void SetZipTimerEnabled(bool enabled) {
  g_enabled = enabled;
  if (enabled && ThreadZip) ThreadZip->Wake();
}

bool ZipTimerEnabled() { return g_enabled; }

ZipTreeNode* RunZipNode() {
  THXTask* task = RunTask();
  return task && g_runTask == task->FileName ? g_runNode : nullptr;
}

std::string ArchiveNameFromTitle(const std::string& title) { return ReplaceIllegalChars(title, ' '); }

void StartZipRun(THXTask& task) {
  UI().ShowZipWindow();
  TZipManager& zip = ZipManager();
  zip.RunningArchive = [] {
    ZipTreeNode* node = RunZipNode();
    return node ? static_cast<const TZipObj*>(node->Data) : nullptr;
  };
  // An archive whose end was lost when a run was killed in the middle of an
  // add is rebuilt from its complete entries before the run adds to it.
  std::error_code ec;
  if (fs::is_regular_file(task.Destination, ec)) {
    zip.Zip.ZipFileName = task.Destination;
    if (zip.Zip.EntryCount() < 0) {
      zip.CheckZipResult(zip.Zip.Fix(), "adding");
      if (ZipTreeNode* stale = zip.FindArchiveNode(task.Destination)) zip.CloseArchiveNode(stale);
    }
  }
  g_runNode = nullptr;
  g_runTask.clear();
  ZipTreeNode* node = TaskNode(task);
  if (node && node->Data) node->Data->Extracted = true;
  SetZipTimerEnabled(true);
}

void ZipTimerTick() {
  if (!g_enabled) return;
  THXTask* task = RunTask();
  if (!task) return;
  if (task->Status == tsDownloadComplete && task->ZipQueue.empty()) {
    task->Status = tsZipped;
    task->SaveToFile();
    SetZipTimerEnabled(false);
    FinishTask(*task);
    return;
  }
  TZipManager& zip = ZipManager();
  if (zip.ZipOperation != zoIdle || zip.ListingMode != lmNone) return;
  if (HXApp->ZipLast && task->Status != tsDownloadComplete) return;
  if (task->ZipQueue.empty()) return;
  AddQueuedFiles(*task, zip, Pace() == 0 ? kBatchAtPaceZero : 1);
  // At pace 0 what is left goes on at once when there is enough of it, or
  // when the download is complete (the last add leads straight to
  // "Zipped!"); a few stragglers wait for the next poll.
  if (ThreadZip && Pace() == 0 && ZipWorkHook) ZipWorkHook();
}

void DrainZipQueue(THXTask& task) {
  if (task.IntranetMode || task.ZipQueue.empty()) return;
  TZipManager& zip = ZipManager();
  const std::size_t total = task.ZipQueue.size();
  // In steps, so that the progress moves.
  const std::size_t step = std::max<std::size_t>(1, std::min<std::size_t>(kBatchAtPaceZero, total / 20));
  for (std::size_t done = 0; !task.ZipQueue.empty(); done += step) {
    UI().ShowStatus("Zipping " + std::to_string(std::min(done + step, total)) + " of " + std::to_string(total),
                    static_cast<int>(done * 100 / total));
    AddQueuedFiles(task, zip, step);
  }
  UI().ShowStatus("");
}

hxzip::FilePacker* RunPacker() { return ThreadZip ? ThreadZip->Packer() : nullptr; }

void EndZipRun() {
  g_runNode = nullptr;
  g_runTask.clear();
  if (hxzip::FilePacker* packer = RunPacker()) packer->Clear();
}

void RenameTaskArchive(THXTask& task) {
  if (task.IntranetMode || !task.Profile.UseStartPageTitle || task.StartPageTitle.empty()) return;
  ZipTreeNode* node = ZipManager().OpenArchive(task.Destination);
  if (!node || !node->Data) return;
  std::error_code ec;
  // Nothing was added, so there is no file to rename.
  if (!fs::exists(node->Data->FileName, ec)) return;
  ZipManager().RenameArchive(node, ArchiveNameFromTitle(task.StartPageTitle) + ".zip");
  task.Destination = node->Data->FileName;
  task.SaveToFile();
}

// ---------------------------------------------------------------------------

TZipTimer::TZipTimer() : thread_([this](std::stop_token stop) { Run(stop); }) {
  ZipFileHook = [this](const std::string& file) {
    if (RunTask()) packer_.Prepare(file, ZipManager().Zip.PackLevelFor(file));
  };
  // Every add rewrites the archive's central directory, so at pace 0 files
  // are gathered into adds of many: the timer is woken when enough wait or
  // the download is complete, and its 100 ms poll takes the rest.
  ZipWorkHook = [this] {
    if (Pace() != 0) return;
    const THXTask* task = RunTask();
    if (task && (task->Status == tsDownloadComplete || task->ZipQueue.size() >= kWakeBatch)) Wake();
  };
}

TZipTimer::~TZipTimer() {
  ZipWorkHook = nullptr;
  ZipFileHook = nullptr;
  if (TZipManager* zip = ExistingZipManager()) zip->Zip.Packer = nullptr;
  thread_.request_stop();
  cv_.notify_all();
}

void TZipTimer::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

void TZipTimer::PostTick() {
  if (g_tickPending.exchange(true)) return;
  MainThread().post([] {
    g_tickPending = false;
    ZipTimerTick();
  });
}

void TZipTimer::Run(std::stop_token stop) {
  while (!stop.stop_requested()) {
    const int pace = Pace();
    std::unique_lock lock(mutex_);
    if (pace > 0) {
      // In steps, so that a pace set to 0 meanwhile (a run's own pace) is
      // taken up at once rather than after a whole old pace.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pace);
      while (!stop.stop_requested() && !woken_ && Pace() > 0 && std::chrono::steady_clock::now() < until)
        cv_.wait_for(lock, stop, std::chrono::milliseconds(100), [this] { return woken_; });
    } else {
      // The poll is a fallback only: every queued file and the end of a
      // download wake the timer.
      cv_.wait_for(lock, stop, std::chrono::milliseconds(100), [this] { return woken_; });
    }
    if (stop.stop_requested()) break;
    woken_ = false;
    lock.unlock();
    if (g_enabled) PostTick();
  }
}
