#include "engine/tthreaddownload.h"

#include <chrono>
#include <cmath>

#include "app/mainqueue.h"
#include "app/thxapp.h"
#include "parse/tthreadparse.h"
#include "schedule/tthreadschedule.h"
#include "tasks/thxqitem.h"
#include "tasks/thxtask.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

using namespace std::chrono_literals;

namespace {

// An item that came back incomplete is offered again this many times in a
// run before it counts as an error; so a run always ends.
constexpr int kIncompleteRetries = 2;

THXTask* Current() { return HXApp ? HXApp->CurrentTask.get() : nullptr; }

int Pace() { return CurrentEnginePace(); }

}  // namespace

TThreadDownload* ThreadDownload = nullptr;

TThreadDownload::TThreadDownload(TSocketList& slots)
    : slots_(slots), thread_([this](std::stop_token stop) { Run(stop); }) {}

TThreadDownload::~TThreadDownload() {
  thread_.request_stop();
  cv_.notify_all();
}

void TThreadDownload::Resume() {
  retry_.clear();
  incomplete_.clear();
  stop_.store(false);
  cv_.notify_all();
}

void TThreadDownload::Stop() {
  stop_.store(true);
  cv_.notify_all();
}

void TThreadDownload::Wake() {
  woken_.store(true);
  cv_.notify_all();
}

void TThreadDownload::Pause(std::stop_token stop, int ms, bool wakeEnds) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, stop, std::chrono::milliseconds(ms), [&] { return stop_.load() || (wakeEnds && woken_.load()); });
}

void TThreadDownload::Run(std::stop_token stop) {
  bool finalSaved = true;
  auto lastTick = std::chrono::steady_clock::now();
  while (!stop.stop_requested()) {
    if (stop_.load()) {
      if (!finalSaved) finalSaved = MainThread().sync([this] { FinalSave(); }, stop);
      std::unique_lock lock(mutex_);
      cv_.wait(lock, stop, [&] { return !stop_.load(); });
      continue;
    }
    finalSaved = false;
    const int pace = Pace();
    if (pace > 0) Pause(stop, pace / 2, false);
    woken_.store(false);
    if (!stop_.load()) MainThread().sync([this] { Dispatch(); }, stop);
    if (pace > 0) Pause(stop, pace - pace / 2, false);
    // The periodic save counts seconds, whatever the pace.
    if (!stop_.load() && std::chrono::steady_clock::now() - lastTick >= 1s) {
      lastTick = std::chrono::steady_clock::now();
      MainThread().sync([this] { PeriodicSave(); }, stop);
    }
    if (pace == 0) Pause(stop, 100, true);
  }
}

void TThreadDownload::Dispatch() {
  THXTask* task = Current();
  // A step queued before Stop may run after it; a stopped run starts nothing.
  if (!task || stop_.load()) return;
  // One item a step at a steady pace; at pace 0 every idle slot is filled.
  const bool fill = Pace() == 0;
  do {
    if (!slots_.FirstIdle()) return;
  } while (DispatchOne(*task) && fill);
}

// Starts one item; false when there was none (the completion test ran).
bool TThreadDownload::DispatchOne(THXTask& task) {
  TThreadSocket* slot = slots_.FirstIdle();
  if (!slot) return false;
  if (auto item = PickNextItem()) {
    StartTransfer(*slot, std::move(item));
    return true;
  }
  // Complete when nothing is busy, nothing marked is left to hand out and no
  // saved page waits for parsing. Unmarked items (media of a mapping run)
  // are counted in the totals but never fetched: waiting for the counters
  // to add up would never end such a run.
  if (slots_.CountBusySlots() > 0 || task.NextPageToParse()) return false;
  task.SetDownloadComplete();
  task.SaveDownloads();
  stop_.store(true);
  cv_.notify_all();
  if (ThreadSchedule) ThreadSchedule->Wake();
  return false;
}

std::unique_ptr<THXQItem> TThreadDownload::PickNextItem() {
  THXTask* task = Current();
  if (!task) return nullptr;
  const double a = task->PagesHanded, b = task->MediaHanded;
  const double p = HXApp ? HXApp->Priority : 5;
  const bool mediaFirst = a + b > 0 && std::fabs(p - 10) / 10 < a / (a + b);
  std::unique_ptr<THXQItem> item = mediaFirst ? task->NextMedia() : task->NextPage();
  if (!item) item = mediaFirst ? task->NextPage() : task->NextMedia();
  while (!item && !retry_.empty()) {
    const auto at = task->Downloads.Find(retry_.front());
    retry_.pop_front();
    if (at >= 0) item = task->GetItem(static_cast<std::size_t>(at));
    if (item && item->State != isNone) item.reset();
  }
  if (item) ++(item->IsPage() ? task->PagesHanded : task->MediaHanded);
  return item;
}

bool TThreadDownload::SendsCredentials(const THXTask& task, const std::string& url) const {
  // The task's password is for the site it names, not for every site its
  // pages link to.
  const std::string host = URLHost(url);
  if (SameText(host, URLHost(task.Url))) return true;
  for (const auto& start : task.Urls)
    if (SameText(host, URLHost(start))) return true;
  return false;
}

void TThreadDownload::StartTransfer(TThreadSocket& slot, std::unique_ptr<THXQItem> item) {
  THXTask& task = *item->Task;
  item->SetState(isDownloading);
  if (item->Url.empty()) {
    RecordFailure(task, *item);
    return;
  }
  TThreadSocket::Arming arming;
  arming.UseCache = item->Mark == mkUpdate || item->Result == "Transfer Incomplete";
  arming.OnDone = [this](TThreadSocket& s) { RecordOutcome(s); };
  arming.OnProgress = [this](TThreadSocket& s) { RecordProgress(s); };
  arming.LocalFile = item->GetLocalFile();
  arming.LastModified = item->LastModified;
  arming.UserAgent = HXApp ? HXApp->UserAgent : std::string();
  if (SendsCredentials(task, item->Url)) {
    arming.User = task.UserName;
    arming.Password = task.Password;
  }
  arming.URL = item->Url;
  item->Store();
  arming.Item = std::move(item);
  slot.Arm(std::move(arming));
}

void TThreadDownload::RecordFailure(THXTask& task, THXQItem& item) {
  item.SetState(isError);
  ++(item.IsPage() ? task.PageErrors : task.ResourceErrors);
}

void TThreadDownload::RecordOutcome(TThreadSocket& slot) {
  std::unique_ptr<THXQItem> item = slot.TakeItem();
  if (!item) {
    slot.ClearSlot();
    return;
  }
  THXTask& task = *item->Task;
  item->BytesReceived = slot.BytesReceived();
  item->Size = slot.ContentLength() != 0 ? slot.ContentLength() : item->BytesReceived;
  item->Result = slot.ResultCode();
  item->LastModified = slot.LastModified();
  const std::string status = slot.StatusText();
  const std::string code = Trim(item->Result);
  const bool failed = status == "Error" || (!code.empty() && code[0] != '2' && code[0] != '3');
  bool saved = false;
  if (failed) {
    RecordFailure(task, *item);
  } else if (status == "Transfer Complete") {
    item->SetState(isSaved);
    ++(item->IsPage() ? task.PagesSaved : task.ResourcesSaved);
    saved = true;
  } else {
    item->SetState(isNone);
    item->Result = "Transfer Incomplete";
    if (++incomplete_[LowerCase(item->Url)] > kIncompleteRetries) RecordFailure(task, *item);
    else retry_.push_back(item->Url);
  }
  item->Store();
  if (saved && !item->IsPage() && !task.IntranetMode) {
    std::string file = item->GetLocalFile();
    task.QueueForZip(std::move(file), std::move(item));
  }
  slot.ClearSlot();
  if (saved && ThreadParse) ThreadParse->Wake();
  // At pace 0 the freed slot is filled right here, on the main thread, without
  // a round trip through the dispatcher's thread.
  if (Pace() == 0) Dispatch();
  else Wake();
}

void TThreadDownload::RecordProgress(TThreadSocket& slot) {
  THXQItem* item = slot.Item();
  if (!item) return;
  item->BytesReceived = slot.BytesReceived();
  item->Size = slot.ContentLength();
  item->Task->TotalBytes += item->BytesReceived - item->LastReported;
  item->LastReported = item->BytesReceived;
}

void TThreadDownload::PeriodicSave() {
  if (THXTask* task = Current(); task && task->Modified) task->SaveDownloadsTick();
}

void TThreadDownload::FinalSave() {
  if (THXTask* task = Current(); task && task->Modified) task->SaveDownloads();
}
