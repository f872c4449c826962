#include "app/settingsstore.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/folders.h"
#include "url/textutil.h"

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kHive = "HKEY_CURRENT_USER";

std::string NormalizeKey(std::string key) {
  for (auto& c : key)
    if (c == '/') c = '\\';
  while (!key.empty() && key.front() == '\\') key.erase(0, 1);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

bool IsBelow(const std::string& path, const std::string& parent) {
  return path.size() > parent.size() && path[parent.size()] == '\\' &&
         SameText(std::string_view(path).substr(0, parent.size()), parent);
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the quote.
std::optional<std::string> Unquote(const std::string& text, std::size_t& pos) {
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\' && pos + 1 < text.size()) {
      const char n = text[++pos];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::optional<std::int32_t> ParseDecimal(const std::string& text) {
  std::int32_t v = 0;
  const std::string t = Trim(text);
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
  return v;
}

std::atomic<std::uint64_t> generation{0};

std::unique_ptr<SettingsStore>& GlobalStore() {
  static std::unique_ptr<SettingsStore> store;
  return store;
}
std::mutex& GlobalMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

SettingsStore::SettingsStore(std::string filePath) : path_(std::move(filePath)) {
  const auto text = ReadWholeFile(path_);
  if (!text) return;
  const RegParseResult r = Merge(*text);
  if (r.Problems.empty()) return;
  // Keep the original aside: the next save would otherwise drop what we
  // could not read.
  std::error_code ec;
  std::filesystem::copy_file(path_, path_ + ".bad", std::filesystem::copy_options::overwrite_existing, ec);
  warning_ = "The settings file " + path_ + " is damaged (" + r.Problems.front() +
             "); what could be read was kept and a copy was saved as " + path_ + ".bad";
}

SettingsStore::Key* SettingsStore::FindKey(const std::string& key) {
  const std::string k = NormalizeKey(key);
  for (auto& entry : keys_)
    if (SameText(entry.Path, k)) return &entry;
  return nullptr;
}

const SettingsStore::Key* SettingsStore::FindKey(const std::string& key) const {
  return const_cast<SettingsStore*>(this)->FindKey(key);
}

SettingsStore::Key& SettingsStore::CreateKey(const std::string& key) {
  if (Key* k = FindKey(key)) return *k;
  keys_.push_back(Key{NormalizeKey(key), {}});
  return keys_.back();
}

std::optional<RegValue> SettingsStore::Get(const std::string& key, const std::string& name) const {
  std::lock_guard lock(mutex_);
  if (const Key* k = FindKey(key))
    for (const auto& v : k->Values)
      if (SameText(v.Name, name)) return v;
  return std::nullopt;
}

bool SettingsStore::KeyExists(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return FindKey(key) != nullptr;
}

std::vector<RegValue> SettingsStore::Values(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const Key* k = FindKey(key);
  return k ? k->Values : std::vector<RegValue>{};
}

void SettingsStore::Put(const std::string& key, RegValue value) {
  std::lock_guard lock(mutex_);
  Key& k = CreateKey(key);
  bool replaced = false;
  for (auto& v : k.Values)
    if (SameText(v.Name, value.Name)) {
      value.Name = v.Name;
      v = std::move(value);
      replaced = true;
      break;
    }
  if (!replaced) k.Values.push_back(std::move(value));
  SaveLocked();
}

void SettingsStore::DeleteValue(const std::string& key, const std::string& name) {
  std::lock_guard lock(mutex_);
  Key* k = FindKey(key);
  if (!k) return;
  std::erase_if(k->Values, [&](const RegValue& v) { return SameText(v.Name, name); });
  SaveLocked();
}

void SettingsStore::DeleteKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  const std::string k = NormalizeKey(key);
  const auto before = keys_.size();
  std::erase_if(keys_, [&](const Key& e) { return SameText(e.Path, k) || IsBelow(e.Path, k); });
  if (keys_.size() != before) SaveLocked();
}

RegParseResult SettingsStore::Import(const std::string& regText) {
  std::lock_guard lock(mutex_);
  RegParseResult r = Merge(regText);
  SaveLocked();
  return r;
}

RegParseResult SettingsStore::Merge(const std::string& text) {
  RegParseResult r;
  Key* current = nullptr;  // null: outside any key, or in a hive we ignore
  bool headerSeen = false;
  std::size_t lineNo = 0, pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  auto problem = [&](const std::string& what) {
    r.Problems.push_back("line " + std::to_string(lineNo) + ": " + what);
  };
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (!headerSeen) {
      headerSeen = true;
      if (t == kHeader || t == "REGEDIT4") continue;
      problem("missing header");
    }
    if (t[0] == '[') {
      if (t.back() != ']') { problem("unclosed key"); current = nullptr; continue; }
      std::string path = t.substr(1, t.size() - 2);
      const bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      current = nullptr;
      if (!StartsText(kHive, path) || (path.size() > 17 && path[17] != '\\')) {
        problem("key outside " + std::string(kHive));
        continue;
      }
      path = NormalizeKey(path.substr(17));
      if (remove) {
        std::erase_if(keys_, [&](const Key& e) { return SameText(e.Path, path) || IsBelow(e.Path, path); });
      } else {
        current = &CreateKey(path);
      }
      continue;
    }
    if (!current) { problem("value outside a key"); continue; }
    RegValue v;
    std::size_t p = 0;
    if (t[0] == '@') {
      p = 1;
    } else if (t[0] == '"') {
      auto name = Unquote(t, p);
      if (!name) { problem("unclosed value name"); continue; }
      v.Name = *name;
    } else {
      problem("not a value");
      continue;
    }
    while (p < t.size() && t[p] == ' ') ++p;
    if (p >= t.size() || t[p] != '=') { problem("missing '='"); continue; }
    std::string data = Trim(t.substr(p + 1));
    if (data == "-") {
      std::erase_if(current->Values, [&](const RegValue& e) { return SameText(e.Name, v.Name); });
      continue;
    }
    if (!data.empty() && data[0] == '"') {
      std::size_t q = 0;
      auto s = Unquote(data, q);
      if (!s) { problem("unclosed string"); continue; }
      v.Str = s->substr(0, s->find('\0'));
    } else if (StartsText("dword:", data)) {
      const std::string hex = data.substr(6);
      std::uint32_t u = 0;
      auto [e, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), u, 16);
      if (hex.empty() || hex.size() > 8 || ec != std::errc() || e != hex.data() + hex.size()) {
        problem("bad dword");
        continue;
      }
      v.IsInteger = true;
      v.Int = static_cast<std::int32_t>(u);
    } else {
      problem("unsupported value type");
      continue;
    }
    bool replaced = false;
    for (auto& e : current->Values)
      if (SameText(e.Name, v.Name)) { v.Name = e.Name; e = v; replaced = true; break; }
    if (!replaced) current->Values.push_back(v);
    ++r.ValuesRead;
  }
  return r;
}

std::string SettingsStore::Serialize() const {
  std::lock_guard lock(mutex_);
  return SerializeLocked();
}

std::string SettingsStore::SerializeLocked() const {
  std::string out = std::string(kHeader) + "\n";
  for (const auto& k : keys_) {
    out.append("\n[").append(kHive).append("\\").append(k.Path).append("]\n");
    for (const auto& v : k.Values) {
      out += v.Name.empty() ? "@" : Quote(v.Name);
      if (v.IsInteger) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<std::uint32_t>(v.Int));
        out.append("=").append(buf).append("\n");
      } else {
        out.append("=").append(Quote(v.Str)).append("\n");
      }
    }
  }
  return out;
}

std::uint64_t SettingsStore::Generation() { return generation.load(); }

void SettingsStore::SaveLocked() {
  ++generation;
  // A lost write is not reported: the value lives on in memory for this run.
  if (!path_.empty()) WriteFileAtomic(path_, SerializeLocked());
}

SettingsStore& Registry() {
  std::lock_guard lock(GlobalMutex());
  auto& store = GlobalStore();
  if (!store) {
    store = std::make_unique<SettingsStore>(ConfigFolder() + "registry.reg");
    if (!store->Warning().empty()) std::cerr << "harvix: " << store->Warning() << "\n";
  }
  return *store;
}

void OpenRegistry(const std::string& filePath) {
  std::lock_guard lock(GlobalMutex());
  GlobalStore() = std::make_unique<SettingsStore>(filePath);
  ++generation;
  if (!GlobalStore()->Warning().empty()) std::cerr << "harvix: " << GlobalStore()->Warning() << "\n";
}

std::int32_t ReadSetting(const std::string& key, const std::string& name, std::int32_t def) {
  const auto v = Registry().Get(key, name);
  if (!v) return def;
  if (v->IsInteger) return v->Int;
  return ParseDecimal(v->Str).value_or(def);
}

bool ReadSetting(const std::string& key, const std::string& name, bool def) {
  return ReadSetting(key, name, static_cast<std::int32_t>(def ? 1 : 0)) != 0;
}

std::string ReadSetting(const std::string& key, const std::string& name, const std::string& def) {
  const auto v = Registry().Get(key, name);
  if (!v) return def;
  return v->IsInteger ? std::to_string(v->Int) : v->Str;
}

std::string ReadSetting(const std::string& key, const std::string& name, const char* def) {
  return ReadSetting(key, name, std::string(def));
}

void WriteSetting(const std::string& key, const std::string& name, std::int32_t value) {
  Registry().Put(key, RegValue{name, true, value, {}});
}

void WriteSetting(const std::string& key, const std::string& name, bool value) {
  WriteSetting(key, name, static_cast<std::int32_t>(value ? 1 : 0));
}

void WriteSetting(const std::string& key, const std::string& name, const std::string& value) {
  Registry().Put(key, RegValue{name, false, 0, value.substr(0, value.find('\0'))});
}

void WriteSetting(const std::string& key, const std::string& name, const char* value) {
  WriteSetting(key, name, std::string(value));
}
