#include "tasks/thxprofile.h"

#include <algorithm>
#include <filesystem>

#include "app/folders.h"
#include "tasks/commatext.h"
#include "tasks/inifile.h"
#include "url/textutil.h"

namespace {

constexpr const char* kSection = "Profile";

// An empty stored text leaves the list as it was.
void ReadList(const IniFile& ini, const char* key, std::vector<std::string>& list) {
  const std::string text = ini.ReadString(kSection, key, "");
  if (!text.empty()) list = FromCommaText(text);
}

std::uint8_t ReadByte(const IniFile& ini, const char* key, int def) {
  return static_cast<std::uint8_t>(ini.ReadInteger(kSection, key, def));
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

void THXProfile::SetReadDefaults() {
  PageLocation = 1;
  ResourceLocation = 2;
  Depth = -1;
  AggressiveParser = 1;
  ConvertFollowedLinks = 1;
  ConvertUnfollowedLinks = 1;
  UseStartPageTitle = true;
}

void THXProfile::LoadFrom(const IniFile& ini) {
  THXProfile d;
  d.SetReadDefaults();
  Name = ini.ReadString(kSection, "Profile Name", "");
  ReadList(ini, "File Types", FileTypes);
  PageLocation = ReadByte(ini, "Page Location", d.PageLocation);
  ResourceLocation = ReadByte(ini, "Resource Location", d.ResourceLocation);
  Depth = ini.ReadInteger(kSection, "Depth", d.Depth);
  AggressiveParser = ReadByte(ini, "Aggressive Parser", d.AggressiveParser);
  ConvertFollowedLinks = ReadByte(ini, "Convert Followed Links", d.ConvertFollowedLinks);
  ConvertUnfollowedLinks = ReadByte(ini, "Convert Unfollowed Links", d.ConvertUnfollowedLinks);
  UseStartPageTitle = ini.ReadBool(kSection, "Use Start Page Title", d.UseStartPageTitle);
  ReadList(ini, "URL Filters Exclude", UrlFiltersExclude);
  ReadList(ini, "URL Filters Include", UrlFiltersInclude);
  PageFileSizeMin = ini.ReadInteger(kSection, "Page File Size Min", 0);
  PageFileSizeMax = ini.ReadInteger(kSection, "Page File Size Max", 0);
  ResourceFileSizeMin = ini.ReadInteger(kSection, "Resource File Size Min", 0);
  ResourceFileSizeMax = ini.ReadInteger(kSection, "Resource File Size Max", 0);
}

void THXProfile::SaveTo(IniFile& ini) const {
  ini.WriteString(kSection, "Profile Name", Name);
  ini.WriteString(kSection, "File Types", ToCommaText(FileTypes));
  ini.WriteInteger(kSection, "Page Location", PageLocation);
  ini.WriteInteger(kSection, "Resource Location", ResourceLocation);
  ini.WriteInteger(kSection, "Depth", Depth);
  ini.WriteInteger(kSection, "Aggressive Parser", AggressiveParser);
  ini.WriteInteger(kSection, "Convert Followed Links", ConvertFollowedLinks);
  ini.WriteInteger(kSection, "Convert Unfollowed Links", ConvertUnfollowedLinks);
  ini.WriteBool(kSection, "Use Start Page Title", UseStartPageTitle);
  ini.WriteString(kSection, "URL Filters Exclude", ToCommaText(UrlFiltersExclude));
  ini.WriteString(kSection, "URL Filters Include", ToCommaText(UrlFiltersInclude));
  ini.WriteInteger(kSection, "Page File Size Min", PageFileSizeMin);
  ini.WriteInteger(kSection, "Page File Size Max", PageFileSizeMax);
  ini.WriteInteger(kSection, "Resource File Size Min", ResourceFileSizeMin);
  ini.WriteInteger(kSection, "Resource File Size Max", ResourceFileSizeMax);
}

void THXProfile::LoadFromFile() { LoadFrom(IniFile(FileName)); }

bool THXProfile::SaveToFile() {
  ForceDirectories(std::filesystem::path(FileName).parent_path().string());
  IniFile ini(FileName);
  SaveTo(ini);
  return ini.UpdateFile();
}

std::string LocationText(int location) {
  switch (location) {
    case 0: return "within the selected directory";
    case 1: return "within the selected site";
    case 2: return "anywhere";
    default: return "";
  }
}

std::string AggressiveParserText(int level) {
  switch (level) {
    case 0: return "off";
    case 1: return "SCRIPT tags only";
    case 2: return "entire page";
    default: return "";
  }
}

std::string THXProfile::DescriptionLine() const {
  std::string types;
  for (const auto& t : FileTypes) types += t + "  ";
  if (FileTypes.empty()) types = "All";
  const std::string depth = Depth == -1  ? "all levels"
                            : Depth == 0 ? "current page"
                                         : "current page + " + std::to_string(Depth);
  return Quoted(Name) + "," + Quoted(types) + "," + Quoted(LocationText(PageLocation)) + "," +
         Quoted(LocationText(ResourceLocation)) + "," + Quoted(depth) + "," +
         Quoted(AggressiveParserText(AggressiveParser));
}

std::string ProfileCsvHeader() {
  return "Profile Name,File Types,Retrieve Page Location,Retrieve Media Location,Depth,Aggressive Parser";
}

std::vector<std::string> ProfileNames(const std::string& profilesFolder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(profilesFolder, ec)) {
    const auto& p = entry.path();
    if (entry.is_regular_file(ec) && SameText(p.extension().string(), ".hxp"))
      names.push_back(p.stem().string());
  }
  std::sort(names.begin(), names.end(), CaseInsensitiveLess{});
  return names;
}
