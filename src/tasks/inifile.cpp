#include "tasks/inifile.h"

#include <charconv>
#include <unordered_map>
#include <limits>

#include "app/folders.h"
#include "url/textutil.h"

namespace {

constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";

// "[Name]" gives Name; anything else is not a section header. Views, not
// copies: saving a task with thousands of start URLs walks these often.
bool SectionName(const std::string& line, std::string_view& name) {
  const std::string_view t = TrimView(line);
  if (t.size() < 2 || t[0] != '[') return false;
  const auto close = t.find(']');
  if (close == std::string_view::npos) return false;
  name = TrimView(t.substr(1, close - 1));
  return true;
}

bool KeyOf(const std::string& line, std::string_view& key) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = TrimView(std::string_view(line).substr(0, eq));
  return !key.empty() && key[0] != ';';
}

// A value is one line: line breaks inside it would split the file's structure.
std::string OneLine(const std::string& value) {
  std::string v = value;
  for (auto& c : v)
    if (c == '\n' || c == '\r') c = ' ';
  return v;
}

}  // namespace

bool ParseIniInteger(const std::string& raw, std::int64_t& value) {
  const std::string t = Trim(raw);
  std::size_t p = 0;
  bool negative = false;
  if (p < t.size() && (t[p] == '-' || t[p] == '+')) negative = t[p++] == '-';
  int base = 10;
  if (t.size() > p + 1 && t[p] == '0' && (t[p + 1] == 'x' || t[p + 1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (p >= t.size()) return false;
  std::uint64_t u = 0;
  auto [end, ec] = std::from_chars(t.data() + p, t.data() + t.size(), u, base);
  if (ec != std::errc() || end != t.data() + t.size()) return false;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (base == 16 && t.size() - p <= 8) u = static_cast<std::uint64_t>(static_cast<std::int32_t>(u));
  else if (u > kMax + (negative ? 1 : 0)) return false;
  // Negated as unsigned: the smallest int64, which WriteInteger can write,
  // has no positive counterpart.
  value = static_cast<std::int64_t>(negative ? 0 - u : u);
  return true;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  if (auto text = ReadWholeFile(path_)) SetLines(*text);
}

IniFile IniFile::FromText(const std::string& text) {
  IniFile ini;
  ini.SetLines(text);
  return ini;
}

void IniFile::SetLines(const std::string& text) {
  std::size_t pos = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(std::move(line));
    pos = end + 1;
  }
}

bool IniFile::FindSection(const std::string& section, Span& span) const {
  std::string_view name;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!SectionName(lines_[i], name) || !SameText(name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !SectionName(lines_[end], name)) ++end;
    span = {i, end};
    return true;
  }
  return false;
}

std::ptrdiff_t IniFile::FindKey(const Span& span, const std::string& key) const {
  std::string_view k;
  for (std::size_t i = span.Header + 1; i < span.End; ++i)
    if (KeyOf(lines_[i], k) && SameText(k, key)) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

const std::string* IniFile::RawValue(const std::string& section, const std::string& key, std::string& out) const {
  Span span{};
  if (!FindSection(section, span)) return nullptr;
  const auto i = FindKey(span, key);
  if (i < 0) return nullptr;
  const std::string& line = lines_[static_cast<std::size_t>(i)];
  out = std::string(TrimView(std::string_view(line).substr(line.find('=') + 1)));
  if (out.size() > kMaxValue) out.resize(kMaxValue);
  return &out;
}

bool IniFile::SectionExists(const std::string& section) const {
  Span span{};
  return FindSection(section, span);
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  std::string v;
  return RawValue(section, key, v) != nullptr;
}

std::vector<std::string> IniFile::KeyNames(const std::string& section) const {
  std::vector<std::string> names;
  Span span{};
  if (!FindSection(section, span)) return names;
  std::string_view k;
  for (std::size_t i = span.Header + 1; i < span.End; ++i)
    if (KeyOf(lines_[i], k)) names.emplace_back(k);
  return names;
}

std::vector<std::pair<std::string, std::string>> IniFile::ReadSection(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> out;
  Span span{};
  if (!FindSection(section, span)) return out;
  std::string_view k;
  for (std::size_t i = span.Header + 1; i < span.End; ++i) {
    if (!KeyOf(lines_[i], k)) continue;
    std::string value(TrimView(std::string_view(lines_[i]).substr(lines_[i].find('=') + 1)));
    if (value.size() > kMaxValue) value.resize(kMaxValue);
    out.emplace_back(std::string(k), std::move(value));
  }
  return out;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  std::string v;
  return RawValue(section, key, v) ? v : def;
}

std::int64_t IniFile::ReadInt64(const std::string& section, const std::string& key, std::int64_t def) const {
  std::string v;
  std::int64_t n = 0;
  return RawValue(section, key, v) && ParseIniInteger(v, n) ? n : def;
}

std::int32_t IniFile::ReadInteger(const std::string& section, const std::string& key, std::int32_t def) const {
  const std::int64_t n = ReadInt64(section, key, def);
  return n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()
             ? def
             : static_cast<std::int32_t>(n);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string v = OneLine(value);
  Span span{};
  if (!FindSection(section, span)) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + section + "]");
    lines_.push_back(key + "=" + v);
    modified_ = true;
    return;
  }
  if (const auto i = FindKey(span, key); i >= 0) {
    std::string& line = lines_[static_cast<std::size_t>(i)];
    const std::string updated = line.substr(0, line.find('=') + 1) + v;
    if (updated != line) {
      line = updated;
      modified_ = true;
    }
    return;
  }
  // After the section's last non-blank line, so a blank line before the next
  // section stays where it was.
  std::size_t at = span.End;
  while (at > span.Header + 1 && Trim(lines_[at - 1]).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), key + "=" + v);
  modified_ = true;
}

void IniFile::WriteKeys(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values) {
  if (values.empty()) return;
  Span span{};
  if (!FindSection(section, span)) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + section + "]");
    for (const auto& [key, value] : values) lines_.push_back(key + "=" + OneLine(value));
    modified_ = true;
    return;
  }
  // One look at the section instead of one per key: task files may list
  // thousands of start URLs.
  std::unordered_map<std::string, std::size_t> known;
  std::string_view k;
  for (std::size_t i = span.Header + 1; i < span.End; ++i)
    if (KeyOf(lines_[i], k)) known.emplace(LowerCase(k), i);
  std::vector<std::string> added;
  for (const auto& [key, value] : values) {
    const std::string v = OneLine(value);
    if (const auto it = known.find(LowerCase(key)); it != known.end()) {
      std::string& line = lines_[it->second];
      std::string updated = line.substr(0, line.find('=') + 1) + v;
      if (updated != line) {
        line = std::move(updated);
        modified_ = true;
      }
    } else {
      added.push_back(key + "=" + v);
    }
  }
  if (added.empty()) return;
  std::size_t at = span.End;
  while (at > span.Header + 1 && Trim(lines_[at - 1]).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  modified_ = true;
}

void IniFile::DeleteKeysIf(const std::string& section, const std::function<bool(std::string_view key)>& doomed) {
  Span span{};
  if (!FindSection(section, span)) return;
  std::string_view k;
  std::vector<std::string> kept;
  kept.reserve(lines_.size());
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > span.Header && i < span.End && KeyOf(lines_[i], k) && doomed(k)) {
      modified_ = true;
      continue;
    }
    kept.push_back(std::move(lines_[i]));
  }
  lines_ = std::move(kept);
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  Span span{};
  if (!FindSection(section, span)) return;
  if (const auto i = FindKey(span, key); i >= 0) {
    lines_.erase(lines_.begin() + i);
    modified_ = true;
  }
}

std::string IniFile::Text() const {
  std::string out;
  // The reader drops one leading byte-order mark; a first line that itself
  // starts with one (a file saved with two) needs a marker in front to keep it.
  if (!lines_.empty() && lines_.front().compare(0, 3, kByteOrderMark) == 0) out = kByteOrderMark;
  for (const auto& line : lines_) out += line + "\n";
  return out;
}

bool IniFile::UpdateFile() {
  if (!modified_) return true;
  if (!WriteFileAtomic(path_, Text())) return false;
  modified_ = false;
  return true;
}
