#pragma once
// Writing extracted files below one folder without ever leaving it. Every
// step goes through descriptors opened relative to that folder, so a
// symbolic link planted in the tree (a folder on the way, or the file name
// itself) never redirects a write: a link on the way is refused, and a file
// is created under a temp name with O_EXCL | O_NOFOLLOW and renamed over its
// name, which replaces a link there instead of writing through it. The file
// appears under its name only when complete, so a failed entry never leaves
// half a file nor destroys the file it would have replaced.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "archive/zipio.h"

namespace hxzip {

// An entry name as path parts: "/" and "\" both separate, empty and "."
// parts are dropped.
std::vector<std::string> EntryParts(std::string_view name);

class ExtractTarget {
 public:
  // Opens the folder, creating it and its parents when missing. 0 or an
  // errno.
  int Open(const std::string& folder);
  // The folder below the target named by parts, created when missing.
  // Invalid with error ELOOP when a part is a symbolic link, ENOTDIR when it
  // is not a folder.
  UniqueFd OpenFolder(const std::vector<std::string>& parts, int& error) const;

 private:
  UniqueFd root_;
};

class PendingFile {
 public:
  // A file to be named name in the folder behind dir.
  PendingFile(int dir, std::string name);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temp file beside the name. 0 or an errno.
  int Create();
  int Fd() const { return fd_.Get(); }
  // Sets the modification time (timeSet tells whether that worked) and
  // renames the file into place. 0 or an errno; on failure the temp file
  // goes.
  int Finish(std::time_t modified, bool& timeSet);

 private:
  int dir_;
  std::string name_;
  std::string temp_;
  UniqueFd fd_;
  bool finished_ = false;
};

}  // namespace hxzip
