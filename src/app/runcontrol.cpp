#include "app/runcontrol.h"

#include <algorithm>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/language.h"
#include "app/thxapp.h"
#include "archive/taskarchive.h"
#include "archive/zipmanager.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"
#include "parse/tthreadparse.h"
#include "schedule/schedule.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

bool CheckStartUrl(std::string& url) { return ValidateStartURL(url); }

std::string ShortTaskName(const std::string& url) {
  const std::string u = BackslashesToSlashes(url);
  std::string name;
  if (const auto www = u.find("www."); www != std::string::npos) {
    const std::string rest = u.substr(www + 4);
    const auto dot = rest.find('.');
    if (dot != std::string::npos) name = rest.substr(0, dot);
  } else {
    name = URLHost(u);
    if (const auto dot = name.find('.'); dot != std::string::npos) {
      name[dot] = '_';
      name = name.substr(0, name.find('.'));
    }
  }
  // A name that came out empty would make a task file called ".hxt".
  if (name.empty()) name = URLHost(u);
  name = ReplaceIllegalChars(name, '_');
  return name.empty() ? "Task" : name;
}

std::string NewTask(const std::string& url, const std::string& profileName, bool map, bool intranet) {
  const bool namedProfile = !profileName.empty() && profileName != "Custom";
  std::string address = url;
  if (namedProfile && !CheckStartUrl(address)) return "";
  THXApp& app = *HXApp;
  const std::string folder = app.TasksFolder + app.LastCategory + "/";
  auto task = std::make_unique<THXTask>();
  task->FileName = UniqueFileName(folder + ShortTaskName(address) + ".hxt");
  task->Name = FileNameWithoutExt(task->FileName);
  task->Category = app.LastCategory;
  task->Url = address;
  task->IntranetMode = intranet;
  if (map) task->RunMethod = rmMap;
  if (namedProfile) {
    task->Profile.FileName = app.ProfilesFolder + profileName + ".hxp";
    task->Profile.LoadFromFile();
  } else {
    task->Profile.Name.clear();
  }
  if (intranet) {
    task->Destination = app.IntranetFolder();
  } else if (TZipManager* zip = ExistingZipManager(); app.AddToSelectedZip && zip && zip->Selected()) {
    // A shared archive is never renamed after one task's start page.
    task->Destination = TZipManager::ArchiveRoot(zip->Selected())->Data->FileName;
    task->Profile.UseStartPageTitle = false;
  } else {
    task->Destination = UniqueFileName(app.DownloadsFolder() + task->Name + ".zip");
  }
  if (namedProfile) {
    task->Schedule = "Now";
    task->Status = tsScheduled;
    task->SaveToFile();
  } else if (!UI().EditNewTask(*task)) {
    return "";
  }
  UI().TasksChanged();
  return task->FileName;
}

void RunTask(std::unique_ptr<THXTask> task) {
  THXApp& app = *HXApp;
  THXTask* current = app.CurrentTask.get();
  if (!current || current->FileName != task->FileName) {
    app.SetCurrentTask(std::move(task));
  } else {
    // The file is the current task's: its object goes on, but with what was
    // just chosen for the file, so a Resume never turns into a Restart.
    current->RunMethod = task->RunMethod;
    current->Status = task->Status;
    current->Schedule = task->Schedule;
    current->NextRun = task->NextRun;
  }
  THXTask& run = *app.CurrentTask;
  if (!run.IntranetMode) StartZipRun(run);
  run.BeginRun();
  UI().TasksChanged();
  UI().RunStateChanged(true);
  ConfigureSlotsFromSettings();
  if (SocketList().Count() == 0) SocketList().SetSlotCount(static_cast<std::size_t>(std::clamp(app.Connections, 1, 16)));
  if (ThreadDownload) ThreadDownload->Resume();
  if (ThreadParse) ThreadParse->Start(&run);
}

void EndTaskRun(THXTask& task) {
  if (ThreadDownload) ThreadDownload->Stop();
  if (ThreadParse) ThreadParse->Pause();
  SocketList().StopAllSlots();
  task.ResetInProgressItems();
  SetZipTimerEnabled(false);
  // The temp folder may be removed once the front end ends: what waits for
  // the archive goes in now.
  DrainZipQueue(task);
  EndZipRun();
  // The dispatcher's own last save happens on its thread; a front end that
  // ends right after this must still find everything on disk.
  if (task.Modified) task.SaveDownloads();
  UI().RunStateChanged(false);
  Reschedule(task, Now());
  UI().TasksChanged();
}

void FinishTask(THXTask& task) {
  EndTaskRun(task);
  RenameTaskArchive(task);
  UI().ShowStatus(LanguageString(690) + task.Name + ")");
  if (HXApp->BeepOnCompletion) UI().Beep();
}

void StopCurrentTask() {
  THXTask* task = HXApp ? HXApp->CurrentTask.get() : nullptr;
  if (!task || !task->IsActive()) return;
  UI().ShowStatus(LanguageString(694));
  task->Status = tsStopped;
  task->SaveToFile();
  EndTaskRun(*task);
  UI().ShowStatus(LanguageString(695));
}

void ExploreTask(const std::string& path) {
  THXTask* current = HXApp->CurrentTask.get();
  if (!current || current->FileName != path) HXApp->SetCurrentTask(THXTask::LoadTask(path));
}
