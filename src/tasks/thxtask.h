#pragma once
// One website download job: what to fetch, where to put it, when to run it
// and what happened so far. Task objects belong to the main thread; the one
// the engine works on is THXApp's CurrentTask, every other one is a
// short-lived copy loaded from its task file.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/hxdatetime.h"
#include "tasks/downloadlist.h"
#include "tasks/thxprofile.h"
#include "tasks/thxqitem.h"

enum TaskStatus : std::int32_t {
  tsUnscheduled = 0,
  tsScheduled = 1,
  tsDownloading = 2,
  tsStopped = 3,
  tsIncomplete = 4,
  tsDownloadComplete = 5,
  tsZipped = 6,
  tsTaskComplete = 7,
  tsDeleted = 8,
};

enum RunMethodKind : std::uint8_t {
  rmRestart = 0,
  rmResume = 1,
  rmSmartUpdate = 2,
  rmSmartRecovery = 3,
  rmMap = 4,
};

std::string TaskStatusName(std::int32_t status);

// Called on the main thread when the archive side has work: a file joined a
// zip queue or a download completed. Installed by the zip timer.
inline std::function<void()> ZipWorkHook;
// Called on the main thread with the path of each file that joins a zip queue.
inline std::function<void(const std::string&)> ZipFileHook;

class THXTask {
 public:
  using ProgressEvent = std::function<void(THXTask& sender, const std::string& message, int position, int maximum)>;

  THXTask();
  ~THXTask();
  THXTask(const THXTask&) = delete;
  THXTask& operator=(const THXTask&) = delete;

  // Definition, kept in the task file.
  std::string Name;
  std::string FileName;
  std::string Category;
  std::string Url;
  std::vector<std::string> Urls;
  std::string StartPageTitle;
  std::string Server;
  bool CanUpdate = false;
  std::string UserName, Password;
  std::string Comment;
  std::string Destination;
  bool IntranetMode = false;
  std::int32_t Status = tsUnscheduled;
  std::string Schedule;
  std::uint8_t RunMethod = rmRestart;
  std::int32_t PagesSaved = 0, ResourcesSaved = 0;
  std::int32_t PageErrors = 0, ResourceErrors = 0;
  std::int32_t TotalPages = 0, TotalResources = 0;
  std::int64_t TotalBytes = 0;
  TDateTime LastRun = 0, NextRun = 0, ElapsedTime = 0;
  THXProfile Profile;

  // Run-time state. The downloads list carries its own separator and the
  // case-insensitive URL index that look-ups use.
  TDownloadList Downloads;
  // Zip mode: finished files waiting for the archive, each with its item.
  std::deque<std::pair<std::string, std::unique_ptr<THXQItem>>> ZipQueue;
  bool Modified = false;
  std::int32_t SaveTicks = 0;
  std::int32_t PagesHanded = 0, MediaHanded = 0;
  std::int32_t PageCursor = 1, MediaCursor = 1;
  TDateTime StartTime = 0;
  ProgressEvent OnProgress;

  // A missing or damaged file still gives a task: what it lacks takes the
  // defaults of the task file.
  static std::unique_ptr<THXTask> LoadTask(const std::string& path);
  void LoadFromFile();
  // Writes the task and its profile, then brings the active-task list up to
  // date. False when the task file could not be written.
  bool SaveToFile();

  void ClearLists();
  void ResetRun();
  bool IsActive() const { return Status == tsDownloading || Status == tsDownloadComplete; }
  // A finished file of a zip-mode run joins the zip queue; the archive side
  // is told, so that at pace 0 it need not wait for its next tick.
  void QueueForZip(std::string file, std::unique_ptr<THXQItem> item);
  // The download part of a run is over.
  void SetDownloadComplete();
  bool AllAccounted() const;
  std::string OutputFolder() const;
  const std::string& DownloadsFileName();
  // The host whose files lie directly below the output folder: that of the
  // start URL, or of the first URL of the list.
  std::string HomeHost() const;
  std::string StartPageFile() const;
  // The start URL's directory: the "current directory" of the location
  // rules. Computed at first use and kept for the object's life.
  const std::string& StartFolderUrl();

  // The downloads list. Item indexes are those of URL lines (even numbers).
  std::unique_ptr<THXQItem> GetItem(std::size_t urlLine);
  void LoadDownloads();
  // Also saves the task file. False (and Modified kept) when the list could
  // not be written, so that the next tick tries again.
  bool SaveDownloads();
  void SaveDownloadsTick();
  void BuildUrlIndex();
  void AddStartUrls();
  std::unique_ptr<THXQItem> NextPage();
  std::unique_ptr<THXQItem> NextMedia();
  std::unique_ptr<THXQItem> NextPageToParse();
  void ResetInProgressItems();

  // The start of a run by its RunMethod; the task becomes Downloading and
  // is saved.
  void BeginRun();
  void BeginRestart();
  void BeginResume();
  // The item counters taken from the downloads list, which is the record:
  // the list is saved before the task file, so a run killed between the two
  // leaves the task's counters behind it.
  void RecountItems();
  void BeginSmartUpdate();
  void BeginSmartRecovery();

  // The request to run this task now. Asks the front end for the run method
  // when the task ran before; false when the user cancelled. The caller
  // frees a task that is not the current one.
  bool RequestRun();

 private:
  std::unique_ptr<THXQItem> NextItem(std::int32_t& cursor, bool pages);
  void ReportProgress(const std::string& message, std::size_t position);
  std::string downloadsFileName_;
  std::string startFolderUrl_;
  bool startFolderKnown_ = false;
};
