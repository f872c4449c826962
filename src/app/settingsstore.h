#pragma once
// The per-user settings store: keys with typed values (32-bit integers and
// strings) kept in one ".reg" text file. Key paths are written as
// "\Software\Brindlewood\Harvix\Settings" and compared ignoring case; values
// keep the order in which they were created. Every change rewrites the file
// atomically. Safe to call from any thread; the design still keeps settings
// on the main thread.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* kHarvixKey = "\\Software\\Brindlewood\\Harvix";
inline constexpr const char* kSettingsKey = "\\Software\\Brindlewood\\Harvix\\Settings";
inline constexpr const char* kFormHarvixKey = "\\Software\\Brindlewood\\Harvix\\Settings\\FormHarvix";
inline constexpr const char* kFileTypesKey = "\\Software\\Brindlewood\\Harvix\\File Types";

struct RegValue {
  std::string Name;
  bool IsInteger = false;
  std::int32_t Int = 0;
  std::string Str;
};

struct RegParseResult {
  int ValuesRead = 0;
  std::vector<std::string> Problems;  // one line each: "line N: what"
};

class SettingsStore {
 public:
  // In memory only until Open is called.
  SettingsStore() = default;
  // Loads the file if it exists. A damaged file loads what it can; a copy of
  // it is kept as "<file>.bad" and Warning() says so.
  explicit SettingsStore(std::string filePath);

  std::optional<RegValue> Get(const std::string& key, const std::string& name) const;
  void Put(const std::string& key, RegValue value);
  void DeleteValue(const std::string& key, const std::string& name);
  // Removes the key with its values and every key below it.
  void DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key) const;
  std::vector<RegValue> Values(const std::string& key) const;

  // Merges ".reg" text into the store (as an import does) and saves once.
  RegParseResult Import(const std::string& regText);
  std::string Serialize() const;
  const std::string& Warning() const { return warning_; }
  // Counts every change of any store in the process (and every reopening),
  // so caches built from the store can tell they are stale.
  static std::uint64_t Generation();
  const std::string& FilePath() const { return path_; }

 private:
  struct Key {
    std::string Path;  // without the leading backslash, as first spelt
    std::vector<RegValue> Values;
  };
  Key* FindKey(const std::string& key);
  const Key* FindKey(const std::string& key) const;
  Key& CreateKey(const std::string& key);
  RegParseResult Merge(const std::string& regText);
  void SaveLocked();
  std::string SerializeLocked() const;

  mutable std::mutex mutex_;
  std::string path_;
  std::vector<Key> keys_;
  std::string warning_;
};

// The process-wide store. Opened on first use at ConfigFolder() + "registry.reg"
// unless OpenRegistry chose another file first.
SettingsStore& Registry();
void OpenRegistry(const std::string& filePath);

// Typed access with a default: an absent key or value yields the default.
// A value stored with the other type is converted when it reads as one
// (a decimal string as an integer, an integer as its decimal text).
std::int32_t ReadSetting(const std::string& key, const std::string& name, std::int32_t def);
bool ReadSetting(const std::string& key, const std::string& name, bool def);
std::string ReadSetting(const std::string& key, const std::string& name, const std::string& def);
std::string ReadSetting(const std::string& key, const std::string& name, const char* def);
void WriteSetting(const std::string& key, const std::string& name, std::int32_t value);
void WriteSetting(const std::string& key, const std::string& name, bool value);
void WriteSetting(const std::string& key, const std::string& name, const std::string& value);
void WriteSetting(const std::string& key, const std::string& name, const char* value);
