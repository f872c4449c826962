#include "app/settingstable.h"

#include <charconv>
#include <functional>

#include "app/folders.h"
#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "url/textutil.h"

namespace {

using T = SettingType;

// Defaults of the values that the zip dialogs own: what those dialogs show
// the first time.
constexpr int kDefaultCompression = 6;

std::string Flag(bool v) { return v ? "1" : "0"; }

std::string Stored(const char* name, const std::string& def) { return ReadSetting(kSettingsKey, name, def); }

}  // namespace

const std::vector<SettingInfo>& AllSettings() {
  static const std::vector<SettingInfo> table = {
      {"Connections", T::Integer, 1, 16},
      {"Priority", T::Integer, 0, 10},
      {"Use Proxy", T::Flag},
      {"Proxy Address", T::Text},
      {"Proxy Port", T::Text},
      {"Proxy Authorization", T::Text},
      {"Language", T::Text},
      {"Skin", T::Text},
      {"Max URL History", T::Integer, 0, 1000},
      {"Max File History", T::Integer, 0, 1000},
      {"Max Items To Display", T::Integer, 0, 1000000},
      {"Last Category", T::Text},
      {"Last Task", T::Text},
      {"User Agent", T::Text},
      {"Zip Last", T::Flag},
      {"Show Summary On Completion", T::Flag},
      {"Beep On Completion", T::Flag},
      {"Save Mode", T::Integer, 0, 1},
      {"Downloads Folder", T::Text},
      {"Local Intranet Folder", T::Text},
      {"Temp Folder", T::Text},
      {"Engine Pace", T::Integer, 0, 60000},
      {"Work Offline", T::Flag},
      {"HOME URL", T::Text},
      {"Compression", T::Integer, 0, 9},
      {"Use Paths", T::Flag},
      {"Action", T::Integer, 0, 2},
      {"Zip Folder", T::Text},
      {"Last Zip Folder", T::Flag},
      {"Unzip Folder", T::Text},
      {"Last Unzip Folder", T::Flag},
      {"Extract Use Paths", T::Flag},
      {"Extract Overwrite", T::Flag},
  };
  return table;
}

const SettingInfo* FindSetting(const std::string& name) {
  for (const auto& info : AllSettings())
    if (SameText(info.Name, name)) return &info;
  return nullptr;
}

std::string CurrentSettingText(const SettingInfo& info) {
  THXApp& a = *HXApp;
  const std::string n = info.Name;
  if (n == "Connections") return std::to_string(a.Connections);
  if (n == "Priority") return std::to_string(a.Priority);
  if (n == "Use Proxy") return Flag(a.UseProxy);
  if (n == "Proxy Address") return a.ProxyAddress;
  if (n == "Proxy Port") return a.ProxyPort;
  if (n == "Proxy Authorization") return a.ProxyAuthorization;
  if (n == "Language") return a.Language;
  if (n == "Skin") return a.Skin;
  if (n == "Max URL History") return std::to_string(a.MaxUrlHistory);
  if (n == "Max File History") return std::to_string(a.MaxFileHistory);
  if (n == "Max Items To Display") return std::to_string(a.MaxItemsToDisplay);
  if (n == "Last Category") return a.LastCategory;
  if (n == "Last Task") return a.LastTask;
  if (n == "User Agent") return Stored("User Agent", "");
  if (n == "Zip Last") return Flag(a.ZipLast);
  if (n == "Show Summary On Completion") return Flag(a.ShowSummaryOnCompletion);
  if (n == "Beep On Completion") return Flag(a.BeepOnCompletion);
  if (n == "Save Mode") return std::to_string(a.SaveMode());
  if (n == "Downloads Folder") return Stored("Downloads Folder", a.ProgramFolder + "Downloads/");
  if (n == "Local Intranet Folder") return Stored("Local Intranet Folder", HomeFolder() + "My Intranet/");
  if (n == "Temp Folder") return Stored("Temp Folder", DefaultTempFolder());
  if (n == "Engine Pace") return std::to_string(a.EnginePace);
  if (n == "Compression") return Stored("Compression", std::to_string(kDefaultCompression));
  if (n == "Use Paths" || n == "Extract Use Paths") return Stored(info.Name, "1");
  if (info.Type == T::Text) return Stored(info.Name, "");
  return Stored(info.Name, "0");
}

std::optional<std::string> SetSettingFromText(const SettingInfo& info, const std::string& text) {
  THXApp& a = *HXApp;
  const std::string n = info.Name;
  int v = 0;
  if (info.Type != T::Text) {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size())
      return "\"" + text + "\" is not a whole number";
    const int lo = info.Type == T::Flag ? 0 : info.Min, hi = info.Type == T::Flag ? 1 : info.Max;
    if (lo != hi && (v < lo || v > hi))
      return n + " takes a value from " + std::to_string(lo) + " to " + std::to_string(hi);
  }
  const bool f = v != 0;
  if (n == "Connections") a.SetConnections(v);
  else if (n == "Priority") a.SetPriority(v);
  else if (n == "Use Proxy") a.SetUseProxy(f);
  else if (n == "Proxy Address") a.SetProxyAddress(text);
  else if (n == "Proxy Port") a.SetProxyPort(text);
  else if (n == "Proxy Authorization") a.SetProxyAuthorization(text);
  else if (n == "Language") a.SetLanguage(text);
  else if (n == "Skin") a.SetSkin(text);
  else if (n == "Max URL History") a.SetMaxUrlHistory(v);
  else if (n == "Max File History") a.SetMaxFileHistory(v);
  else if (n == "Last Category") a.SetLastCategory(text);
  else if (n == "Last Task") a.SetLastTask(text);
  else if (n == "User Agent") a.SetUserAgent(text);
  else if (n == "Zip Last") a.SetZipLast(f);
  else if (n == "Show Summary On Completion") a.SetShowSummaryOnCompletion(f);
  else if (n == "Beep On Completion") a.SetBeepOnCompletion(f);
  else if (n == "Save Mode") a.SetSaveMode(v);
  else if (n == "Downloads Folder") a.SetDownloadsFolder(text);
  else if (n == "Local Intranet Folder") a.SetIntranetFolder(text);
  else if (n == "Temp Folder") {
    if (text.empty()) return std::string("Temp Folder cannot be empty");
    a.SetTempFolder(text);
  } else if (n == "Engine Pace") a.SetEnginePace(v);
  else if (info.Type == T::Text) WriteSetting(kSettingsKey, info.Name, text);
  else WriteSetting(kSettingsKey, info.Name, static_cast<std::int32_t>(v));
  return std::nullopt;
}
