#include "app/startup.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/file.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

int lockFd = -1;

int ReadBound(const char* name, int def) {
  const std::string text = ReadSetting(kFormHarvixKey, name, std::to_string(def));
  int v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return text.empty() || ec != std::errc() || p != text.data() + text.size() ? def : v;
}

void CopyResources(const std::string& from, const std::string& to) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(from, ec)) {
    const std::string name = entry.path().filename().string();
    const auto ext = entry.path().extension().string();
    if (entry.is_directory(ec) && name == "Skins") {
      fs::copy(entry.path(), to + name,
               fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    } else if (SameText(ext, ".lng") || name == "FTypes.reg") {
      fs::copy_file(entry.path(), to + name, fs::copy_options::overwrite_existing, ec);
    }
  }
  fs::create_directories(to + "Skins", ec);
}

void MoveStrayTaskFiles(const std::string& tasksFolder) {
  const std::string general = tasksFolder + "General/";
  ForceDirectories(general);
  std::error_code ec;
  for (const char* ext : {".hxt", ".dwn"}) {
    for (const auto& entry : fs::directory_iterator(tasksFolder, ec)) {
      if (!entry.is_regular_file(ec) || !SameText(entry.path().extension().string(), ext)) continue;
      const fs::path target = general + entry.path().filename().string();
      std::error_code moveEc;
      if (!fs::exists(target, moveEc)) fs::rename(entry.path(), target, moveEc);
    }
  }
}

}  // namespace

WindowBounds ReadWindowBounds() {
  WindowBounds b;
  b.Left = std::max(0, ReadBound("Left", 0));
  b.Top = std::max(0, ReadBound("Top", 0));
  b.Width = ReadBound("Width", 640);
  if (b.Width < 600) b.Width = 640;
  b.Height = ReadBound("Height", 480);
  if (b.Height < 400) b.Height = 480;
  return b;
}

void WriteWindowBounds(const WindowBounds& b) {
  WriteSetting(kFormHarvixKey, "Left", std::to_string(b.Left));
  WriteSetting(kFormHarvixKey, "Top", std::to_string(b.Top));
  WriteSetting(kFormHarvixKey, "Width", std::to_string(b.Width));
  WriteSetting(kFormHarvixKey, "Height", std::to_string(b.Height));
}

ArgumentKind ClassifyArgument(const std::string& argument) {
  if (StartsText("http://", argument)) return ArgumentKind::Url;
  const std::string ext = fs::path(argument).extension().string();
  if (SameText(ext, ".hxt")) return ArgumentKind::TaskFile;
  if (SameText(ext, ".zip")) return ArgumentKind::ZipFile;
  return ArgumentKind::None;
}

bool AcquireTaskRunLock(const std::string& tasksFolder) {
  if (lockFd >= 0) return true;
  ForceDirectories(tasksFolder);
  const std::string path = tasksFolder + ".harvix.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lockFd = fd;
  return true;
}

bool HoldsTaskRunLock() { return lockFd >= 0; }

void ReleaseTaskRunLock() {
  if (lockFd < 0) return;
  ::close(lockFd);
  lockFd = -1;
}

bool MachineIsOnline() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return true;  // cannot tell: do not block the user
  bool online = false;
  for (ifaddrs* i = list; i && !online; i = i->ifa_next)
    online = i->ifa_addr && (i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK) &&
             (i->ifa_addr->sa_family == AF_INET || i->ifa_addr->sa_family == AF_INET6);
  freeifaddrs(list);
  return online;
}

void DetectWorkOffline() { WriteSetting(kSettingsKey, "Work Offline", !MachineIsOnline()); }

bool WorkOffline() { return ReadSetting(kSettingsKey, "Work Offline", false); }

void StartModule() {
  if (!HXApp) HXApp = new THXApp();
  if (AcquireTaskRunLock(HXApp->TasksFolder)) {
    DetectWorkOffline();
    HXApp->ResetActiveTasks();
  } else {
    UI().ShowWarning("Another Harvix front end is running tasks; this one will not run or reset them.");
  }
}

void ShutdownModule() {
  delete HXApp;
  HXApp = nullptr;
  ReleaseTaskRunLock();
}

void FirstRunSetup() {
  std::error_code ec;
  const std::string version = ReadSetting(kHarvixKey, "Version", "");
  if (version == kProductVersion && fs::is_directory(HXApp->ProgramFolder + "Skins", ec)) return;
  WriteSetting(kHarvixKey, "Version", kProductVersion);
  ForceDirectories(HXApp->ProgramFolder);
  CopyResources(ResourcesFolder(), HXApp->ProgramFolder);
  // A missing or unreadable table is not reported: it stays empty until the
  // user fills it.
  if (const auto reg = ReadWholeFile(HXApp->ProgramFolder + "FTypes.reg")) Registry().Import(*reg);
  HXApp->DownloadsFolder();
  MoveStrayTaskFiles(HXApp->TasksFolder);
}
