#pragma once
// A named set of download rules. Every task owns one, kept as the section
// "Profile" of its task file; the same section alone in a ".hxp" file of the
// profiles folder is a named profile. A new object means "this page only,
// within the current directory"; the read defaults apply only through
// LoadFromFile.
#include <cstdint>
#include <string>
#include <vector>

class IniFile;

class THXProfile {
 public:
  std::string FileName;
  std::string Name;
  std::vector<std::string> FileTypes;
  std::uint8_t PageLocation = 0;
  std::uint8_t ResourceLocation = 0;
  std::int32_t Depth = 0;
  std::uint8_t AggressiveParser = 0;
  std::uint8_t ConvertFollowedLinks = 0;
  std::uint8_t ConvertUnfollowedLinks = 0;
  bool UseStartPageTitle = false;
  std::vector<std::string> UrlFiltersExclude;
  std::vector<std::string> UrlFiltersInclude;
  std::int32_t PageFileSizeMin = 0, PageFileSizeMax = 0;
  std::int32_t ResourceFileSizeMin = 0, ResourceFileSizeMax = 0;

  // The rules a profile file without any key gives: pages within the site,
  // media anywhere, all levels, scripts parsed, links converted, renaming on.
  void SetReadDefaults();

  void LoadFromFile();
  // Creates the file's folder; false when the file could not be written.
  bool SaveToFile();
  // The same, on an INI file the caller already holds (the task file).
  void LoadFrom(const IniFile& ini);
  void SaveTo(IniFile& ini) const;

  std::string DescriptionLine() const;
};

std::string ProfileCsvHeader();
std::string LocationText(int location);
std::string AggressiveParserText(int level);
// The named profiles: "*.hxp" directly in the folder, by name without the
// extension, sorted ignoring case.
std::vector<std::string> ProfileNames(const std::string& profilesFolder);
