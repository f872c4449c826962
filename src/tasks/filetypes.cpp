#include "tasks/filetypes.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "app/settingsstore.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

namespace {

struct Cache {
  std::mutex Mutex;
  std::uint64_t Generation = ~0ull;
  std::shared_ptr<const std::vector<FileTypeGroup>> Groups;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

std::shared_ptr<const std::vector<FileTypeGroup>> Table() {
  Cache& c = TheCache();
  std::lock_guard lock(c.Mutex);
  const auto gen = SettingsStore::Generation();
  if (!c.Groups || c.Generation != gen) {
    auto groups = std::make_shared<std::vector<FileTypeGroup>>();
    for (const auto& v : Registry().Values(kFileTypesKey))
      groups->push_back({v.Name, v.IsInteger ? std::to_string(v.Int) : v.Str});
    c.Groups = std::move(groups);
    c.Generation = gen;
  }
  return c.Groups;
}

std::string GroupOfUncached(std::string_view extension) {
  std::string entry(extension);
  entry += ';';
  for (const auto& g : *Table())
    if (g.Extensions.find(entry) != std::string::npos) return g.Name;
  return kUnknownType;
}

// Every link of every page asks for its type, and a site uses a handful of
// extensions: each thread keeps the answers for the store's generation it
// read them in.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

struct GroupMemo {
  std::uint64_t Generation = ~0ull;
  std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> ByExtension;
};

std::string GroupOf(std::string_view extension) {
  thread_local GroupMemo memo;
  constexpr std::size_t kMaxRemembered = 4096;
  const auto gen = SettingsStore::Generation();
  if (memo.Generation != gen || memo.ByExtension.size() >= kMaxRemembered) {
    memo.ByExtension.clear();
    memo.Generation = gen;
  }
  if (const auto known = memo.ByExtension.find(extension); known != memo.ByExtension.end())
    return known->second;
  std::string group = GroupOfUncached(extension);
  memo.ByExtension.emplace(extension, group);
  return group;
}

// The extension of a file name: from its last "." in the last segment.
std::string ExtensionOfName(const std::string& name) {
  const auto slash = name.find_last_of("/\\");
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return name.substr(dot);
}

}  // namespace

std::vector<FileTypeGroup> ReadFileTypes() { return *Table(); }

std::string FileTypeOfUrl(const std::string& url) {
  if (url.find('\\') == std::string::npos) return FileTypeOfParts(url, SplitURLView(url));
  std::string slashed = url;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return FileTypeOfParts(url, SplitURLView(slashed));
}

std::string FileTypeOfParts(std::string_view url, const URLParts& u) {
  if (!u.Query.empty()) {
    // A script that serves an image usually names it in its parameters.
    if (url.find("=gif") != std::string::npos) return GroupOf(".gif");
    if (url.find("=jpg") != std::string::npos) return GroupOf(".jpg");
    if (url.find(".gif") != std::string::npos) return GroupOf(".gif");
    if (url.find(".jpg") != std::string::npos) return GroupOf(".jpg");
    return GroupOf(".htm");
  }
  if (url.find('?') != std::string::npos) return GroupOf(".html");
  if (u.Extension.empty()) return GroupOf(".htm");
  // Lower-cased on the stack: extensions are short.
  char lower[16];
  if (u.Extension.size() > sizeof lower) return GroupOf(LowerCase(u.Extension));
  std::transform(u.Extension.begin(), u.Extension.end(), lower,
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return GroupOf(std::string_view(lower, u.Extension.size()));
}

std::string FileTypeOfFile(const std::string& fileName) { return GroupOf(LowerCase(ExtensionOfName(fileName))); }

void WriteFileTypeGroup(const std::string& name, const std::string& extensions) {
  std::string data = extensions;
  if (data.empty() || data.back() != ';') data += ';';
  WriteSetting(kFileTypesKey, name, data);
}

void DeleteFileTypeGroup(const std::string& name) { Registry().DeleteValue(kFileTypesKey, name); }

void RemoveFileTypeExtension(const std::string& group, const std::string& extension) {
  const auto value = Registry().Get(kFileTypesKey, group);
  if (!value || value->IsInteger) return;
  std::string data = value->Str;
  const std::string entry = extension + ";";
  // Whole entries only: removing ".gz" must not cut into ".tar.gz;".
  for (std::size_t at = 0; (at = data.find(entry, at)) != std::string::npos;) {
    if (at == 0 || data[at - 1] == ';') {
      data.erase(at, entry.size());
      WriteSetting(kFileTypesKey, group, data);
      return;
    }
    at += entry.size();
  }
}
