#include "archive/zipnames.h"

#include <errno.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace hxzip {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool FnMatch(std::string_view text, std::string_view mask) {
  const std::string t(text), m(mask);
  return ::fnmatch(m.c_str(), t.c_str(), FNM_CASEFOLD) == 0;
}

// Without the trailing "/" a path can carry, except for the root itself.
fs::path WithoutTrailingSlash(fs::path p) {
  p = p.lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

class Collector {
 public:
  Collector(fs::path base, bool usePaths, bool recurse)
      : base_(std::move(base)), usePaths_(usePaths), recurse_(recurse) {}

  void Item(const std::string& item) {
    fs::path p(item);
    if (p.is_relative()) p = base_ / p;
    p = WithoutTrailingSlash(p);
    const std::string last = p.filename().string();
    if (HasWildcard(last)) {
      if (HasWildcard(p.parent_path().string())) {
        out_.skipped.emplace_back(item, "wildcards are allowed in the file name only");
        return;
      }
      Walk(p.parent_path(), last, true);
      return;
    }
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
      out_.skipped.emplace_back(item, std::generic_category().message(errno));
    } else if (S_ISDIR(st.st_mode)) {
      Walk(p, "*", true);
    } else if (S_ISREG(st.st_mode)) {
      Add(p, st);
    } else {
      out_.skipped.emplace_back(item, "not a regular file");
    }
  }

  CollectedFiles Take() { return std::move(out_); }

 private:
  void Walk(const fs::path& folder, const std::string& mask, bool given) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
      // A mask in a folder that is not there simply matches nothing.
      if (!(given && ec == std::errc::no_such_file_or_directory))
        out_.skipped.emplace_back(folder.string(), ec.message());
      return;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      names.push_back(it->path().filename().string());
      if (ec) break;
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      const fs::path full = folder / name;
      struct stat st {};
      if (::stat(full.c_str(), &st) != 0) {
        // A dangling link is no file to add.
        struct stat link {};
        if (::lstat(full.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) continue;
        out_.skipped.emplace_back(full.string(), std::generic_category().message(errno));
        continue;
      }
      if (S_ISREG(st.st_mode)) {
        if (MatchesNameMask(name, mask)) Add(full, st);
      } else if (S_ISDIR(st.st_mode) && recurse_) {
        struct stat link {};
        if (::lstat(full.c_str(), &link) == 0 && !S_ISLNK(link.st_mode)) Walk(full, mask, false);
      }
    }
  }

  void Add(const fs::path& path, const struct stat& st) {
    const std::string full = path.string();
    if (!seen_.insert(full).second) return;
    SourceFile f;
    f.path = full;
    f.name = EntryNameFor(full, base_.string(), usePaths_);
    f.size = static_cast<std::uint64_t>(st.st_size);
    f.modified = st.st_mtime;
    f.mode = st.st_mode;
    f.device = st.st_dev;
    f.inode = st.st_ino;
    out_.files.push_back(std::move(f));
  }

  fs::path base_;
  bool usePaths_;
  bool recurse_;
  CollectedFiles out_;
  std::set<std::string> seen_;
};

}  // namespace

bool HasWildcard(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

bool MatchesNameMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  return FnMatch(name, mask);
}

EntrySelector::EntrySelector(std::vector<std::string> masks) : masks_(std::move(masks)) {
  for (auto& m : masks_) std::replace(m.begin(), m.end(), '\\', '/');
  masks_.erase(std::remove(masks_.begin(), masks_.end(), std::string()), masks_.end());
}

bool EntrySelector::Matches(std::string_view entry) const {
  if (masks_.empty()) return true;
  for (const auto& mask : masks_) {
    if (!HasWildcard(mask)) {
      if (EqualIgnoringCase(entry, mask)) return true;
      continue;
    }
    const auto slash = mask.rfind('/');
    const std::string_view folder = slash == std::string::npos ? "" : std::string_view(mask).substr(0, slash + 1);
    const std::string_view pattern = std::string_view(mask).substr(folder.size());
    if (HasWildcard(folder)) {
      if (FnMatch(entry, mask)) return true;
      continue;
    }
    if (!StartsIgnoringCase(entry, folder)) continue;
    std::string_view rest = entry.substr(folder.size());
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.empty()) continue;
    const auto lastSlash = rest.rfind('/');
    if (MatchesNameMask(lastSlash == std::string_view::npos ? rest : rest.substr(lastSlash + 1), pattern)) return true;
  }
  return false;
}

std::string EntryNameFor(const std::string& absolutePath, const std::string& absoluteBase, bool usePaths) {
  const fs::path path = WithoutTrailingSlash(absolutePath);
  if (!usePaths) return path.filename().string();
  const fs::path relative = path.lexically_relative(WithoutTrailingSlash(absoluteBase));
  if (!relative.empty() && *relative.begin() != ".." && relative != ".") return relative.generic_string();
  return path.relative_path().generic_string();
}

CollectedFiles CollectFiles(const std::vector<std::string>& items, const std::string& base, bool usePaths,
                            bool recurse) {
  std::error_code ec;
  fs::path root = base.empty() ? fs::current_path(ec) : fs::path(base);
  if (root.is_relative()) root = fs::absolute(root, ec);
  Collector collector(WithoutTrailingSlash(root), usePaths, recurse);
  for (const auto& item : items)
    if (!item.empty()) collector.Item(item);
  return collector.Take();
}

}  // namespace hxzip
