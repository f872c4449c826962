#pragma once
// INI text files as task and profile files use them. Section and key names
// are compared ignoring case (the first of duplicates wins); values come back
// trimmed and cut to 2047 characters; integers read as decimal or as "0x"
// hexadecimal, anything else yielding the default. Writing keeps every line
// it does not change, keys keep their places, new keys go to the end of their
// section; UpdateFile replaces the file atomically.
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <string>
#include <vector>

class IniFile {
 public:
  static constexpr std::size_t kMaxValue = 2047;

  // Loads the file when it exists; a missing file is an empty one.
  explicit IniFile(std::string path);
  static IniFile FromText(const std::string& text);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> KeyNames(const std::string& section) const;
  // Every key and value of the section in file order, values as ReadString
  // gives them.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  std::int32_t ReadInteger(const std::string& section, const std::string& key, std::int32_t def) const;
  std::int64_t ReadInt64(const std::string& section, const std::string& key, std::int64_t def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int64_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void DeleteKey(const std::string& section, const std::string& key);
  // Many keys of one section at once, as WriteString would write them one
  // by one, in one pass over the section.
  void WriteKeys(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values);
  void DeleteKeysIf(const std::string& section, const std::function<bool(std::string_view key)>& doomed);

  std::string Text() const;
  bool Modified() const { return modified_; }
  // Writes the file if anything changed; false when the write failed.
  bool UpdateFile();

 private:
  IniFile() = default;
  struct Span { std::size_t Header, End; };  // header line, one past the last line
  bool FindSection(const std::string& section, Span& span) const;
  std::ptrdiff_t FindKey(const Span& span, const std::string& key) const;
  const std::string* RawValue(const std::string& section, const std::string& key, std::string& out) const;
  void SetLines(const std::string& text);

  std::string path_;
  std::vector<std::string> lines_;
  bool modified_ = false;
};

// Decimal, or hexadecimal after "0x"/"0X", with an optional sign; nothing else.
bool ParseIniInteger(const std::string& text, std::int64_t& value);
