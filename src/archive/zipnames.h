#pragma once
// Which files an add takes and the entry names they get, and which entries
// a list, extract, test or delete works on.
//
// Masks: "*" and "?" (fnmatch), ignoring case; "*.*" means every name, as
// users of archivers expect. A mask with wildcards only in its last part
// ("a/*.html") takes the part before the last "/" as a folder: an entry
// matches when it lies in that folder or below and its own name matches the
// last part. A mask with wildcards in a folder part is matched against the
// whole entry name. A name without wildcards matches that entry exactly,
// ignoring case.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hxzip {

bool HasWildcard(std::string_view text);
// One name (no "/") against one mask part, ignoring case.
bool MatchesNameMask(std::string_view name, std::string_view mask);

class EntrySelector {
 public:
  // No masks selects every entry.
  explicit EntrySelector(std::vector<std::string> masks);
  bool Matches(std::string_view entry) const;

 private:
  std::vector<std::string> masks_;
};

// A file to add and its entry name.
struct SourceFile {
  std::string path;  // absolute, normalised
  std::string name;  // entry name
  std::uint64_t size = 0;
  std::time_t modified = 0;
  std::uint32_t mode = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

struct CollectedFiles {
  std::vector<SourceFile> files;
  // Given files that cannot be added, with the reason.
  std::vector<std::pair<std::string, std::string>> skipped;
};

// Expands what was given to add (files, folders, masks; relative to base,
// or to the current folder when base is empty) into files, each once, in
// a stable order: folders are walked in name order, into subfolders only
// with recurse. Symbolic links to files are followed; links to folders are
// not walked into, so a loop of links cannot trap the walk.
CollectedFiles CollectFiles(const std::vector<std::string>& items, const std::string& base, bool usePaths,
                            bool recurse);

// With paths: the path relative to base when the file lies below it, else
// the absolute path without its leading "/". Without: the file name.
std::string EntryNameFor(const std::string& absolutePath, const std::string& absoluteBase, bool usePaths);

}  // namespace hxzip
