#pragma once
// Every value of the Settings key with its type and default, in the order a
// listing shows them, and text access through THXApp's setters, so that a
// value set from a command line follows the same rules as one set in a
// dialog ("User Agent" is translated, "Temp Folder" gets its product name).
#include <optional>
#include <string>
#include <vector>

enum class SettingType { Integer, Flag, Text };

struct SettingInfo {
  const char* Name;
  SettingType Type;
  int Min = 0, Max = 0;  // for integers; Min == Max means unbounded
};

const std::vector<SettingInfo>& AllSettings();
const SettingInfo* FindSetting(const std::string& name);

// The value as it stands now: stored, else its default. Needs HXApp.
std::string CurrentSettingText(const SettingInfo& info);

// Parses and sets the value; the error text tells a user what was wrong.
std::optional<std::string> SetSettingFromText(const SettingInfo& info, const std::string& text);
