#include "app/thxapp.h"

#include <algorithm>
#include <filesystem>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/settingsstore.h"
#include "schedule/tthreadschedule.h"
#include "tasks/inifile.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

THXApp* HXApp = nullptr;

namespace {

std::int32_t ReadInt(const char* name, std::int32_t def) { return ReadSetting(kSettingsKey, name, def); }
bool ReadFlag(const char* name, bool def) { return ReadSetting(kSettingsKey, name, def); }
std::string ReadText(const char* name, const char* def) { return ReadSetting(kSettingsKey, name, def); }

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

}  // namespace

std::string TranslateUserAgent(const std::string& stored) {
  if (stored.empty() || stored == "Harvix")
    return std::string("Harvix/") + kProductVersion + " (" + kProductHomePage + ")";
  if (stored == "Internet Explorer 4.01") return "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)";
  if (stored == "Netscape Navigator 4.05") return "Mozilla/4.05 [en] (Win95; I)";
  if (stored == "Anonymous") return "";
  return stored;
}

THXApp::THXApp() : ProgramFolder(::ProgramFolder()) {
  TasksFolder = ProgramFolder + "Tasks/";
  ProfilesFolder = ProgramFolder + "Profiles/";
  DefaultSkinFolder = ProgramFolder + "Skins/Default/";
  ShowSummaryOnCompletion = ReadFlag("Show Summary On Completion", true);
  BeepOnCompletion = ReadFlag("Beep On Completion", true);
  Connections = ReadInt("Connections", 5);
  Priority = ReadInt("Priority", 5);
  UseProxy = ReadFlag("Use Proxy", false);
  ProxyAddress = ReadText("Proxy Address", "");
  ProxyPort = ReadText("Proxy Port", "");
  ProxyAuthorization = ReadText("Proxy Authorization", "");
  Language = ReadText("Language", "Native");
  Skin = ReadText("Skin", "Default");
  MaxUrlHistory = ReadInt("Max URL History", 20);
  MaxFileHistory = ReadInt("Max File History", 10);
  MaxItemsToDisplay = ReadInt("Max Items To Display", 500);
  LastCategory = ReadText("Last Category", "General");
  LastTask = ReadText("Last Task", "General");
  LoadActiveTasks();
  UserAgent = TranslateUserAgent(ReadText("User Agent", ""));
  ZipLast = ReadFlag("Zip Last", false);
  EnginePace = std::max(0, ReadInt("Engine Pace", 1000));
  const std::string branding = ProgramFolder + "branding.url";
  if (FileExists(branding))
    BrandingUrl = IniFile(branding).ReadString("InternetShortcut", "URL", kProductHomePage);
  SaveInterval = 10;
}

THXApp::~THXApp() = default;

std::string THXApp::DownloadsFolder() {
  std::string folder = ReadText("Downloads Folder", "");
  if (folder.empty()) {
    folder = ProgramFolder + "Downloads/";
    SetDownloadsFolder(folder);
  }
  ForceDirectories(folder);
  return folder;
}

void THXApp::SetDownloadsFolder(const std::string& path) {
  WriteSetting(kSettingsKey, "Downloads Folder",
               path.empty() ? ProgramFolder + "Downloads/" : IncludeTrailingSlash(path));
}

std::string THXApp::IntranetFolder() {
  std::string folder = ReadText("Local Intranet Folder", "");
  if (folder.empty()) {
    folder = HomeFolder() + "My Intranet/";
    SetIntranetFolder(folder);
  }
  ForceDirectories(folder);
  return folder;
}

void THXApp::SetIntranetFolder(const std::string& path) {
  WriteSetting(kSettingsKey, "Local Intranet Folder",
               path.empty() ? HomeFolder() + "My Intranet/" : IncludeTrailingSlash(path));
}

std::string THXApp::TempFolder() {
  std::string folder = ReadText("Temp Folder", "");
  if (!folder.empty()) {
    ForceDirectories(folder);
    return folder;
  }
  if (sessionTempFolder_.empty()) {
    sessionTempFolder_ = DefaultTempFolder();
    // Someone else's folder (or a planted link) under that name: use a fresh
    // private one for this session instead.
    if (!PrepareOwnTempFolder(sessionTempFolder_)) {
      std::string tmpl = ExcludeTrailingSlash(sessionTempFolder_) + "-XXXXXX";
      sessionTempFolder_ = mkdtemp(tmpl.data()) ? tmpl + "/" : sessionTempFolder_;
    }
  }
  return sessionTempFolder_;
}

void THXApp::SetTempFolder(const std::string& path) {
  if (path.empty()) return;
  std::string folder = IncludeTrailingSlash(path);
  // The folder's own name must carry the product word, and never may the
  // root, the home folder or a folder above it be the one we delete at close.
  if (!IsRemovableTempFolder(folder)) folder += "Harvix/";
  WriteSetting(kSettingsKey, "Temp Folder", folder);
}

void THXApp::SetLastCategory(const std::string& name) {
  LastCategory = name.empty() ? "General" : name;
  WriteSetting(kSettingsKey, "Last Category", name);
}

void THXApp::SetLastTask(const std::string& name) {
  LastTask = name.empty() ? "General" : name;
  WriteSetting(kSettingsKey, "Last Task", name);
}

std::int32_t THXApp::SaveMode() const { return ReadInt("Save Mode", 1); }
void THXApp::SetSaveMode(std::int32_t mode) { WriteSetting(kSettingsKey, "Save Mode", mode); }

#define HX_SETTER(Member, Type, Name)                \
  void THXApp::Set##Member(Type value) {             \
    Member = value;                                  \
    WriteSetting(kSettingsKey, Name, Member);        \
  }
HX_SETTER(ShowSummaryOnCompletion, bool, "Show Summary On Completion")
HX_SETTER(BeepOnCompletion, bool, "Beep On Completion")
HX_SETTER(ZipLast, bool, "Zip Last")
HX_SETTER(Connections, std::int32_t, "Connections")
HX_SETTER(UseProxy, bool, "Use Proxy")
HX_SETTER(ProxyAddress, const std::string&, "Proxy Address")
HX_SETTER(ProxyPort, const std::string&, "Proxy Port")
HX_SETTER(ProxyAuthorization, const std::string&, "Proxy Authorization")
HX_SETTER(Language, const std::string&, "Language")
HX_SETTER(Skin, const std::string&, "Skin")
HX_SETTER(MaxUrlHistory, std::int32_t, "Max URL History")
HX_SETTER(MaxFileHistory, std::int32_t, "Max File History")
HX_SETTER(EnginePace, std::int32_t, "Engine Pace")
#undef HX_SETTER

void THXApp::SetPriority(std::int32_t value) {
  Priority = value;
  WriteSetting(kSettingsKey, "Priority", value);
  // A new balance starts from scratch.
  if (CurrentTask) CurrentTask->PagesHanded = CurrentTask->MediaHanded = 0;
}

void THXApp::SetUserAgent(const std::string& stored) {
  WriteSetting(kSettingsKey, "User Agent", stored);
  UserAgent = TranslateUserAgent(stored);
}

std::string THXApp::SkinFolder() const { return ProgramFolder + "Skins/" + Skin + "/"; }

void THXApp::SetCurrentTask(std::unique_ptr<THXTask> task) {
  if (!task) {
    DropCurrentTask();
    return;
  }
  CurrentTask = std::move(task);
  UI().CurrentTaskChanged(CurrentTask.get());
}

std::unique_ptr<THXTask> THXApp::DropCurrentTask() {
  auto task = std::move(CurrentTask);
  UI().CurrentTaskChanged(nullptr);
  return task;
}

std::string THXApp::ActiveTasksFileName() const { return TasksFolder + "ActiveTasks.lst"; }

namespace {
std::int64_t FileStamp(const std::string& path) {
  std::error_code ec;
  const auto t = fs::last_write_time(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(t.time_since_epoch().count());
}
}  // namespace

void THXApp::ReloadActiveTasksIfChanged() {
  if (FileStamp(ActiveTasksFileName()) != activeListStamp_) LoadActiveTasks();
}

void THXApp::LoadActiveTasks() {
  activeListStamp_ = FileStamp(ActiveTasksFileName());
  ActiveTasks.clear();
  const auto text = ReadWholeFile(ActiveTasksFileName());
  if (!text) return;
  std::size_t pos = 0;
  while (pos < text->size()) {
    std::size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.find('\0') == std::string::npos) ActiveTasks.push_back(line);
    pos = end + 1;
  }
}

void THXApp::SaveActiveTasks() {
  std::string text;
  for (const auto& path : ActiveTasks) text += path + "\r\n";
  ForceDirectories(TasksFolder);
  WriteFileAtomic(ActiveTasksFileName(), text);
  activeListStamp_ = FileStamp(ActiveTasksFileName());
}

void THXApp::UpdateActiveTask(const std::string& fileName, bool active) {
  const auto it = std::find_if(ActiveTasks.begin(), ActiveTasks.end(),
                               [&](const std::string& p) { return SameText(p, fileName); });
  const bool listed = it != ActiveTasks.end();
  if (active && !listed) {
    ActiveTasks.push_back(fileName);
    SaveActiveTasks();
    if (ThreadSchedule) ThreadSchedule->Wake();
  } else if (!active && listed) {
    ActiveTasks.erase(it);
    SaveActiveTasks();
  }
}

bool THXApp::DropMissingTask(const std::string& path) {
  if (FileExists(path)) return false;
  UpdateActiveTask(path, false);
  return true;
}

void THXApp::ResetActiveTasks() {
  // Saving a task takes it off the list, so walk a copy: every path that was
  // listed at the start is examined exactly once.
  const std::vector<std::string> snapshot = ActiveTasks;
  for (const auto& path : snapshot) {
    if (DropMissingTask(path)) continue;
    auto task = THXTask::LoadTask(path);
    if (task->Status != tsScheduled || task->Schedule == "Now") {
      task->Status = tsUnscheduled;
      task->Schedule.clear();
      task->SaveToFile();
    }
  }
}

std::unique_ptr<THXTask> THXApp::FindDueTask(TDateTime now) {
  ReloadActiveTasksIfChanged();
  const std::vector<std::string> snapshot = ActiveTasks;
  for (const auto& path : snapshot) {
    if (DropMissingTask(path)) continue;
    auto task = THXTask::LoadTask(path);
    if (task->NextRun <= now) return task;
  }
  return nullptr;
}
