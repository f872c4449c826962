// Task and profile files are plain text a user may edit, so any bytes must
// load, and what the program writes into them must read back as written.
// Also the comma lists kept inside profile keys: whatever list we store
// must come back item for item.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzzsupport.h"
#include "tasks/commatext.h"
#include "tasks/inifile.h"

namespace {

bool Blank(char c) { return static_cast<unsigned char>(c) <= 32; }

// What a stored value reads back as, worked out independently of IniFile:
// one line, blanks and control characters trimmed, then cut to the limit.
std::string ExpectedRead(std::string v) {
  for (auto& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  std::size_t b = 0, e = v.size();
  while (b < e && Blank(v[b])) ++b;
  while (e > b && Blank(v[e - 1])) --e;
  return v.substr(b, std::min(e - b, IniFile::kMaxValue));
}

std::string Without(std::string s, const std::string& chars) {
  std::erase_if(s, [&](char c) { return chars.find(c) != std::string::npos; });
  return s;
}

std::string Trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && Blank(s[b])) ++b;
  while (e > b && Blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Names the program itself would use: a section name fits between the
// brackets of one header line; a key is one word before the '=', and a line
// starting with ';' or '[' would be a comment or a header instead.
std::string SectionNameFrom(const std::string& raw) { return Trimmed(Without(raw, "\r\n]")); }
std::string KeyNameFrom(const std::string& raw) {
  std::string key = Trimmed(Without(raw, "\r\n="));
  if (key.empty() || key[0] == ';' || key[0] == '[') key.insert(0, "k");
  return key;
}

void ExerciseReads(const IniFile& ini, const std::string& section, const std::string& key) {
  const std::string s = ini.ReadString(section, key, "");
  Require(s.size() <= IniFile::kMaxValue, "a value longer than the limit");
  Require(s.find('\n') == std::string::npos, "a value spanning lines");
  Require(s.empty() || !Blank(s.front()), "a value with a leading blank");
  ini.ReadInteger(section, key, 7);
  ini.ReadInt64(section, key, 7);
  ini.SectionExists(section);
  for (const auto& name : ini.KeyNames(section))
    Require(ini.ValueExists(section, name), "a listed key that cannot be read");
}

void CheckWriteReadsBack(IniFile ini, const std::string& section, const std::string& key,
                         const std::string& value, std::int64_t number) {
  const bool sectionExisted = ini.SectionExists(section);
  const bool keyExisted = ini.ValueExists(section, key);
  const std::string before = ini.Text();

  ini.WriteString(section, key, value);
  const std::string expected = ExpectedRead(value);
  Require(ini.ReadString(section, key, "\x01") == expected, "a written value reads back changed");
  // The same after a save and reload.
  const IniFile reloaded = IniFile::FromText(ini.Text());
  Require(reloaded.ReadString(section, key, "\x01") == expected, "a written value changed on reload");

  // A key added and deleted again leaves the section as it was.
  if (sectionExisted && !keyExisted) {
    IniFile copy = ini;
    copy.DeleteKey(section, key);
    Require(copy.Text() == before, "write then delete of a new key left traces");
  }

  const std::string numberKey = key + "#";
  ini.WriteInteger(section, numberKey, number);
  Require(ini.ReadInt64(section, numberKey, number ^ 1) == number, "a written integer reads back changed");
  const auto n32 = static_cast<std::int32_t>(number);
  ini.WriteInteger(section, numberKey, n32);
  Require(ini.ReadInteger(section, numberKey, n32 ^ 1) == n32, "a written 32-bit integer reads back changed");

  ini.DeleteKey(section, numberKey);
  ini.Text();
}

// Lists of non-empty items (or the single empty item) survive a round trip.
void CheckCommaText(const std::vector<std::string>& items) {
  const std::vector<std::string> back = FromCommaText(ToCommaText(items));
  Require(back == items, "a comma list changed on its round trip");
}

bool NoEmptyItem(const std::vector<std::string>& items) {
  for (const auto& item : items)
    if (item.empty()) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string rawSection = in.ConsumeRandomLengthString(40);
  const std::string rawKey = in.ConsumeRandomLengthString(40);
  const std::string value = in.ConsumeRandomLengthString(3000);
  const auto number = in.ConsumeIntegral<std::int64_t>();
  std::vector<std::string> items(in.ConsumeIntegralInRange<std::size_t>(0, 8));
  for (auto& item : items) {
    item = Without(in.ConsumeRandomLengthString(64), std::string(1, '\0'));
    if (item.empty() && items.size() > 1) item = "x";
  }
  const std::string text = in.ConsumeRemainingBytesAsString();

  IniFile ini = IniFile::FromText(text);
  ExerciseReads(ini, rawSection, rawKey);
  ini.DeleteKey(rawSection, rawKey);
  ini.Text();

  const std::string section = SectionNameFrom(rawSection);
  const std::string key = KeyNameFrom(rawKey);
  const IniFile fresh = IniFile::FromText(text);
  ExerciseReads(fresh, section, key);
  CheckWriteReadsBack(fresh, section, key, value, number);

  CheckCommaText(items);
  const std::vector<std::string> parsed = FromCommaText(text);
  if (NoEmptyItem(parsed)) CheckCommaText(parsed);
  return 0;
}
