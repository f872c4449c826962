#include "tasks/thxtask.h"

#include <filesystem>
#include <unordered_map>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/thxapp.h"
#include "tasks/inifile.h"
#include "url/localfile.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTask = "Task";
constexpr const char* kUrls = "URLs";

std::string Slashes(std::string path, char from, char to) {
  for (auto& c : path)
    if (c == from) c = to;
  return path;
}

TDateTime ReadDate(const IniFile& ini, const char* key, bool dashesAsSlashes) {
  std::string text = ini.ReadString(kTask, key, "");
  if (dashesAsSlashes) text = Slashes(text, '-', '/');
  return ParseDateTime(text).value_or(0.0);
}

void WriteDate(IniFile& ini, const char* key, TDateTime value) {
  ini.WriteString(kTask, key, value != 0 ? FormatTaskDateTime(value) : "");
}

// "URL" + digits, and the digits' value.
bool UrlKeyIndex(const std::string& key, long long& index) {
  if (key.size() < 4 || !StartsText("URL", key)) return false;
  std::int64_t n = 0;
  for (std::size_t i = 3; i < key.size(); ++i)
    if (key[i] < '0' || key[i] > '9') return false;
  if (key.size() > 15 || !ParseIniInteger(key.substr(3), n)) return false;
  index = n;
  return true;
}

}  // namespace

std::string TaskStatusName(std::int32_t status) {
  static const char* const names[] = {"Unscheduled", "Scheduled", "Downloading...",
                                      "Download Stopped", "Incomplete", "Download Complete",
                                      "Zipped!", "Task Complete", "Deleted"};
  return status >= 0 && status <= 8 ? names[status] : "Unknown";
}

THXTask::THXTask() { ResetRun(); }

THXTask::~THXTask() = default;

std::unique_ptr<THXTask> THXTask::LoadTask(const std::string& path) {
  auto task = std::make_unique<THXTask>();
  task->FileName = path;
  task->LoadFromFile();
  return task;
}

void THXTask::LoadFromFile() {
  const IniFile ini(FileName);
  Name = ini.ReadString(kTask, "Task Name", fs::path(FileName).stem().string());
  Category = ini.ReadString(kTask, "Category", "");
  Url = ini.ReadString(kTask, "URL", "");
  Urls.clear();
  std::unordered_map<std::string, std::string> urlKeys;
  for (auto& [key, value] : ini.ReadSection(kUrls)) urlKeys.emplace(LowerCase(key), std::move(value));
  for (int i = 0;; ++i) {
    const auto it = urlKeys.find("url" + std::to_string(i));
    if (it == urlKeys.end() || it->second.empty()) break;
    Urls.push_back(std::move(it->second));
  }
  StartPageTitle = ini.ReadString(kTask, "Start Page Title", "");
  Server = ini.ReadString(kTask, "Server", "");
  CanUpdate = ini.ReadBool(kTask, "Can Update", false);
  UserName = ini.ReadString(kTask, "User Name", "");
  Password = ini.ReadString(kTask, "Password", "");
  Comment = ini.ReadString(kTask, "Comment", "");
  Destination = Slashes(ini.ReadString(kTask, "Destination", ""), '\\', '/');
  IntranetMode = ini.ReadBool(kTask, "Intranet Mode", false);
  Status = ini.ReadInteger(kTask, "Status", 0);
  Schedule = ini.ReadString(kTask, "Schedule", "");
  RunMethod = static_cast<std::uint8_t>(ini.ReadInteger(kTask, "Run Method", 0));
  TotalBytes = ini.ReadInt64(kTask, "Total Bytes", 0);
  TotalPages = ini.ReadInteger(kTask, "Total Pages", 0);
  TotalResources = ini.ReadInteger(kTask, "Total Resources", 0);
  PagesSaved = ini.ReadInteger(kTask, "Pages Saved", 0);
  ResourcesSaved = ini.ReadInteger(kTask, "Resources Saved", 0);
  PageErrors = ini.ReadInteger(kTask, "Page Errors", 0);
  ResourceErrors = ini.ReadInteger(kTask, "Resource Errors", 0);
  ElapsedTime = ReadDate(ini, "Elapsed Time", true);
  LastRun = ReadDate(ini, "Last Run", true);
  NextRun = ReadDate(ini, "Next Run", false);
  Profile.FileName = FileName;
  Profile.LoadFrom(ini);
}

bool THXTask::SaveToFile() {
  ForceDirectories(fs::path(FileName).parent_path().string());
  IniFile ini(FileName);
  ini.WriteString(kTask, "Task Name", Name);
  ini.WriteString(kTask, "URL", Url);
  std::vector<std::pair<std::string, std::string>> urlKeys;
  urlKeys.reserve(Urls.size());
  for (std::size_t i = 0; i < Urls.size(); ++i) urlKeys.emplace_back("URL" + std::to_string(i), Urls[i]);
  ini.WriteKeys(kUrls, urlKeys);
  ini.DeleteKeysIf(kUrls, [&](std::string_view key) {
    long long index = 0;
    return UrlKeyIndex(std::string(key), index) && index >= static_cast<long long>(Urls.size());
  });
  ini.WriteString(kTask, "Start Page Title", StartPageTitle);
  ini.WriteString(kTask, "Server", Server);
  ini.WriteBool(kTask, "Can Update", CanUpdate);
  ini.WriteString(kTask, "User Name", UserName);
  ini.WriteString(kTask, "Password", Password);
  ini.WriteString(kTask, "Comment", Comment);
  ini.WriteString(kTask, "Destination", Slashes(Destination, '\\', '/'));
  ini.WriteBool(kTask, "Intranet Mode", IntranetMode);
  ini.WriteInteger(kTask, "Status", Status);
  ini.WriteString(kTask, "Schedule", Schedule);
  ini.WriteInteger(kTask, "Run Method", RunMethod);
  ini.WriteInteger(kTask, "Total Bytes", TotalBytes);
  ini.WriteInteger(kTask, "Total Pages", TotalPages);
  ini.WriteInteger(kTask, "Total Resources", TotalResources);
  ini.WriteInteger(kTask, "Pages Saved", PagesSaved);
  ini.WriteInteger(kTask, "Resources Saved", ResourcesSaved);
  ini.WriteInteger(kTask, "Page Errors", PageErrors);
  ini.WriteInteger(kTask, "Resource Errors", ResourceErrors);
  WriteDate(ini, "Elapsed Time", ElapsedTime);
  WriteDate(ini, "Last Run", LastRun);
  WriteDate(ini, "Next Run", NextRun);
  Profile.FileName = FileName;
  Profile.SaveTo(ini);
  const bool written = ini.UpdateFile();
  if (HXApp) HXApp->UpdateActiveTask(FileName, Status == tsScheduled || Status == tsDownloading);
  return written;
}

void THXTask::QueueForZip(std::string file, std::unique_ptr<THXQItem> item) {
  if (ZipFileHook) ZipFileHook(file);
  ZipQueue.emplace_back(std::move(file), std::move(item));
  if (ZipWorkHook) ZipWorkHook();
}

void THXTask::SetDownloadComplete() {
  Status = tsDownloadComplete;
  if (!IntranetMode && ZipWorkHook) ZipWorkHook();
}

void THXTask::ClearLists() {
  ZipQueue.clear();
  Downloads.clear();
}

void THXTask::ResetRun() {
  ClearLists();
  PagesSaved = ResourcesSaved = PageErrors = ResourceErrors = 0;
  TotalPages = TotalResources = 0;
  TotalBytes = 0;
  StartTime = Now();
  ElapsedTime = 0;
}

bool THXTask::AllAccounted() const {
  return PagesSaved + PageErrors >= TotalPages && ResourcesSaved + ResourceErrors >= TotalResources;
}

std::string THXTask::HomeHost() const {
  if (!Url.empty()) return URLHost(Url);
  return Urls.empty() ? std::string() : URLHost(Urls.front());
}

std::string THXTask::OutputFolder() const {
  if (!IntranetMode) return HXApp ? HXApp->TempFolder() : DefaultTempFolder();
  return Url.empty() ? Destination : Destination + URLHost(Url) + "/";
}

std::string THXTask::StartPageFile() const {
  return LocalFileName(OutputFolder(), URLDirectory(Url), Url, HomeHost());
}

const std::string& THXTask::StartFolderUrl() {
  if (!startFolderKnown_) {
    startFolderUrl_ = URLDirectory(Url);
    startFolderKnown_ = true;
  }
  return startFolderUrl_;
}

const std::string& THXTask::DownloadsFileName() {
  if (downloadsFileName_.empty())
    downloadsFileName_ = IncludeTrailingSlash(fs::path(FileName).parent_path().string()) + Name + ".dwn";
  return downloadsFileName_;
}

bool THXTask::RequestRun() {
  RunMethod = rmRestart;
  if (TotalBytes > 0) {
    const auto method = UI().ChooseRunMethod(*this);
    if (!method) return false;
    RunMethod = static_cast<std::uint8_t>(*method);
  }
  // Asked to run now, it runs now: a moment left from an earlier schedule
  // must not hold it back.
  Status = tsScheduled;
  Schedule = "Now";
  NextRun = 0;
  SaveToFile();
  return true;
}
