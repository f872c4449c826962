#pragma once
// Where Harvix keeps things on disk, and the few file-system operations every
// subsystem needs: whole-file reads, atomic replacement, the temp-folder rules.
// Folder paths end with "/".
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

std::string IncludeTrailingSlash(const std::string& path);
std::string ExcludeTrailingSlash(const std::string& path);

// $HARVIX_HOME, else $XDG_DATA_HOME/Harvix/, else ~/.local/share/Harvix/.
std::string ProgramFolder();
// $HARVIX_CONFIG_DIR, else $XDG_CONFIG_HOME/Harvix/, else ~/.config/Harvix/.
std::string ConfigFolder();
// The shipped resources: $HARVIX_RESOURCES, an installed share/harvix beside
// the program, or the source tree's resources/ for a build run in place.
std::string ResourcesFolder();
std::string HomeFolder();
// <system temp>/Harvix-<user>/ (not created here).
std::string DefaultTempFolder();

// With info, the file's status as it was opened is left there.
std::optional<std::string> ReadWholeFile(const std::string& path, struct stat* info = nullptr);
// Temp file beside the target, fsync, rename: a crash leaves the old file whole.
// Without durable the fsync is left out: the rename still keeps a crashed
// process from leaving half a file, for content that can be fetched again.
// replaced: the target's status when the caller has just read it, which
// spares looking it up again.
bool WriteFileAtomic(const std::string& path, const std::string& content, bool durable = true,
                     const struct stat* replaced = nullptr);
bool ForceDirectories(const std::string& path);

// True for "/", the home folder and every folder that holds it.
bool IsHomeOrAbove(const std::string& path);
// The temp folder may only be removed when its own name says it is ours.
bool IsRemovableTempFolder(const std::string& path);
// Removes the folder tree without following symbolic links; refuses any
// folder that IsRemovableTempFolder rejects. Returns whether it removed it.
bool RemoveTempFolder(const std::string& path);
// Creates the default temp folder with mode 0700 and checks that it is a real
// folder owned by us; returns false when it is not safe to use.
bool PrepareOwnTempFolder(const std::string& path);

// Writes a file in pieces through a temp file beside the target; Commit
// syncs and renames it over the target. Destroyed uncommitted, it leaves the
// target as it was.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  bool Ok() const { return ok_; }
  void Write(std::string_view data);
  // replaced: as for WriteFileAtomic.
  bool Commit(bool durable = true, const struct stat* replaced = nullptr);

 private:
  void Flush();
  std::string path_, tmp_, buffer_;
  int fd_ = -1;
  bool ok_ = false;
};
