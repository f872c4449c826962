#include "tasks/filetypes.h"

#include <memory>
#include <mutex>

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

std::string GroupOf(const std::string& extension) {
  const std::string entry = extension + ";";
  for (const auto& g : *Table())
    if (g.Extensions.find(entry) != std::string::npos) return g.Name;
  return kUnknownType;
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
  TbwURL u;
  u.SetURL(url);
  std::string extension;
  if (url.find('?') != std::string::npos) extension = ".html";
  else extension = u.Extension.empty() ? ".htm" : LowerCase(u.Extension);
  if (!u.Query.empty()) {
    // A script that serves an image usually names it in its parameters.
    if (url.find("=gif") != std::string::npos) extension = ".gif";
    else if (url.find("=jpg") != std::string::npos) extension = ".jpg";
    else if (url.find(".gif") != std::string::npos) extension = ".gif";
    else if (url.find(".jpg") != std::string::npos) extension = ".jpg";
    else extension = ".htm";
  }
  return GroupOf(extension);
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
