#pragma once
// The application object: every user setting (read at creation, written back
// the moment it changes), the program's folders, the active-task list and
// the current task. One per process, reached through HXApp; only the main
// thread touches it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tasks/thxtask.h"

inline constexpr const char* kProductVersion = "3.07";
inline constexpr const char* kProductHomePage = "https://harvix.org/";

// The User-Agent header text for a stored "User Agent" choice; empty means
// no header at all.
std::string TranslateUserAgent(const std::string& stored);

class THXApp {
 public:
  THXApp();
  ~THXApp();

  std::unique_ptr<THXTask> CurrentTask;
  std::vector<std::string> ActiveTasks;
  std::string ProgramFolder;
  std::string TasksFolder, ProfilesFolder, DefaultSkinFolder;
  std::string LastCategory, LastTask;
  bool ShowSummaryOnCompletion = true, BeepOnCompletion = true, ZipLast = false, UseProxy = false;
  std::int32_t Connections = 5, Priority = 5;
  std::string ProxyAddress, ProxyPort, ProxyAuthorization;
  std::string Language, Skin;
  std::int32_t MaxUrlHistory = 20, MaxFileHistory = 10, MaxItemsToDisplay = 500;
  std::int32_t SaveInterval = 10;
  // Milliseconds that scale the engine's waits; 0 runs as fast as it can.
  std::int32_t EnginePace = 1000;
  std::string UserAgent;
  std::string BrandingUrl;
  // The main window's "Add future downloads to currently selected zip"
  // toggle; not stored.
  bool AddToSelectedZip = false;

  std::string DownloadsFolder();
  void SetDownloadsFolder(const std::string& path);
  std::string IntranetFolder();
  void SetIntranetFolder(const std::string& path);
  std::string TempFolder();
  void SetTempFolder(const std::string& path);
  void SetLastCategory(const std::string& name);
  void SetLastTask(const std::string& name);
  std::int32_t SaveMode() const;
  void SetSaveMode(std::int32_t mode);
  void SetShowSummaryOnCompletion(bool value);
  void SetBeepOnCompletion(bool value);
  void SetZipLast(bool value);
  void SetConnections(std::int32_t value);
  void SetPriority(std::int32_t value);
  void SetUseProxy(bool value);
  void SetProxyAddress(const std::string& value);
  void SetProxyPort(const std::string& value);
  void SetProxyAuthorization(const std::string& value);
  void SetLanguage(const std::string& value);
  void SetSkin(const std::string& value);
  void SetMaxUrlHistory(std::int32_t value);
  void SetMaxFileHistory(std::int32_t value);
  void SetEnginePace(std::int32_t value);
  void SetUserAgent(const std::string& stored);
  std::string SkinFolder() const;

  // The old current task is freed; the front end rebinds its windows. With
  // no task the current one is freed too: a caller that wants to keep it
  // takes it with DropCurrentTask.
  void SetCurrentTask(std::unique_ptr<THXTask> task);
  // Drops the current task without freeing it: the caller owns it now.
  std::unique_ptr<THXTask> DropCurrentTask();

  std::string ActiveTasksFileName() const;
  // Keeps ActiveTasks and ActiveTasks.lst in step with one task's saved status.
  void UpdateActiveTask(const std::string& fileName, bool active);
  void ResetActiveTasks();
  // The first due task of the active-task list (the caller owns it), or null.
  std::unique_ptr<THXTask> FindDueTask(TDateTime now = Now());

 private:
  void LoadActiveTasks();
  void SaveActiveTasks();
  // Entries whose task file is gone leave the list; nothing recreates them.
  bool DropMissingTask(const std::string& path);
  // Another process (harvix-cli schedule) may change the list file: its
  // time when we last read or wrote it tells us to read it again.
  void ReloadActiveTasksIfChanged();
  std::int64_t activeListStamp_ = -1;
  std::string sessionTempFolder_;
};

extern THXApp* HXApp;
// The engine pace in milliseconds (the default when there is no application).
inline int CurrentEnginePace() { return HXApp ? HXApp->EnginePace : 1000; }
