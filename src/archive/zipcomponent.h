#pragma once
// The compression component: one object works on one current archive at a
// time, with the properties, operations, events and result codes the
// archive windows and the task pipeline rely on. Every operation is
// synchronous and returns a result code (0 or less is success; see
// ZipResult). Entry names inside an archive always use "/".
//
// Reading, listing, extracting, testing and deleting go through libzip.
// Adding appends in place (only the new entry and the central directory are
// written), so a run that adds thousands of files one by one never rewrites
// the archive; see docs/DESIGN.md. Archives with Zip64 records, files of
// 4 GiB or more and archives that would outgrow 32-bit offsets or 65,534
// entries are added to through libzip instead (a full rewrite).
//
// Writers (Add, Delete, Fix) hold an exclusive flock on the archive, readers
// a shared one; both try without waiting, and a lock held elsewhere gives
// zrBusy. Each operation empties FilesToProcess and clears a pending abort
// request when it starts.
//
// Details the callers rely on:
//   - An archive whose end was lost (a crash during an add) but that starts
//     with a local header is "damaged": List, Extract, Test, Delete and
//     EntryCount leave it alone (zrCorrupted, -1), Fix and Add repair it
//     (see Fix). A file that does not start like a ZIP is never repaired
//     (zrNotAZip). A file of 0 bytes is a new archive to Add and no archive
//     (zrNotAZip) to the other operations.
//   - Add: OnAdding/OnUpdating, and OnStatus while the data goes in and once
//     more with Done set, report the entry name. A file that cannot be read
//     is skipped (OnSkipping, zrSkipped); an abort, or a failure writing the
//     archive, puts the archive back byte for byte (and removes an archive
//     the add created).
//   - Extract: an existing file answered No by OnReplace (or with OnReplace
//     unset) counts as skipped (zrSkipped); under xowNever it is left alone
//     without that. Entries with unsafe names, behind a symbolic link in the
//     target tree, larger than the free space or bomb-like are skipped
//     through OnSkipping with the reason.
//   - Test reports each entry that fails through OnSkipping.
//   - Delete of every entry leaves an empty archive (only the end record,
//     the archive comment kept), not a missing file.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Result codes of the operations. The numbers are the ones the result
// classification (CheckZipResult) knows.
enum ZipResult : int {
  zrSuccess = 0,
  zrNothingToDo = 10,       // no file matched what was to be processed
  zrUpToDate = 30,          // freshen/update: every matching entry was current
  zrSkipped = 40,           // some files were skipped (unsafe names, refused by the user, missing)
  zrEmptyZip = 50,          // the archive has no entries
  zrMinorErrors = 140,      // an entry could not be set exactly (time stamp, attributes)
  zrNotFound = 100,         // the archive file does not exist
  zrCorrupted = 110,        // bad central directory, bad CRC, truncated data
  zrMemory = 120,
  zrDiskFull = 150,         // no space, or an entry larger than free space or the size limit
  zrNotAZip = 160,          // the file is not a ZIP archive at all
  zrBusy = 180,             // another process is writing this archive
  zrAborted = 190,          // the abort request stopped the operation
  zrTestFailed = 200,       // integrity test: errors in the archive
  zrNothingTested = 210,
  zrTempFile = 280,
  zrNamesRepeated = 370,    // adding without paths would give two entries one name
  zrAccess = 400,           // the archive or a file to process cannot be read or written
  zrGeneric = 500,
};

enum class ZipOverwrite { xowAsk, xowNever, xowAlways };
enum class ZipAddMode { AddReplace, Freshen, Update };
// The answer to a replace question while extracting with xowAsk.
enum class ZipReplaceReply { Yes, No, Cancel, All };

// What the events report about one file or entry.
struct ZipFileStats {
  std::string Name;            // entry name (relative, "/"), or the file being added
  std::uint64_t Size = 0;      // uncompressed
  std::uint64_t Packed = 0;    // compressed
  int Ratio = 0;               // percent saved: 100 - packed*100/size, 0 for empty entries
  std::time_t Modified = 0;    // local modification time of the entry
  int Percent = 0;             // progress of the current file, 0..100
  bool Done = false;           // the current file is fully processed
  std::string Comment;         // at most 255 characters
};

namespace hxzip {
class FilePacker;
}

class TZipComponent {
 public:
  // Properties.
  std::string ZipFileName;                  // the current archive
  std::vector<std::string> FilesToProcess;  // entry names or masks ("*.*", "a/*.*"), or files to add; emptied by each operation
  int Compression = 6;                      // 0 (store) to 9
  bool UsePaths = true;
  bool Recurse = false;
  ZipOverwrite Overwrite = ZipOverwrite::xowAsk;
  std::string ExtractDirectory;
  std::string StoredExtensions = ".ZIP;.LZH;.ARC;.ARJ;.ZOO";
  bool UseTempFile = false;  // not needed: adds write in place, libzip always writes a temp file
  // Adding: files given by relative path are taken relative to this folder
  // (the process's current folder when empty), and with UsePaths the entry
  // name is that relative path.
  std::string BaseFolder;
  // Extraction refuses an entry larger than the free space of the target
  // folder, and an entry above this size whose data is packed more than
  // 100 to 1 (a bomb).
  std::uint64_t BombLimit = std::uint64_t{1} << 30;
  // Adding: files this packer deflated ahead are written from its data
  // (when still unchanged) instead of being packed again.
  hxzip::FilePacker* Packer = nullptr;

  // Events. Unset events are not called; an unset OnFileComment gives no
  // comment and an unset OnReplace answers No.
  std::function<void(const ZipFileStats&)> OnAdding, OnUpdating, OnExtracting, OnListing;
  std::function<void(const std::string& entry)> OnDeleting;
  std::function<void(const ZipFileStats&)> OnStatus;
  // Asked once per added entry; returns the comment (cut to 255 characters).
  std::function<std::string(const std::string& file)> OnFileComment;
  std::function<ZipReplaceReply(const std::string& existing, const std::string& incoming)> OnReplace;
  // A file that was skipped and why, for the status line.
  std::function<void(const std::string& name, const std::string& reason)> OnSkipping;

  // Operations on the current archive.
  int Add(ZipAddMode mode = ZipAddMode::AddReplace);
  int Delete();
  int Extract();
  int List();
  // The integrity test: reads every entry and checks its CRC.
  int Test();
  // Rebuilds the central directory of an archive whose end was lost (a
  // crash during an add) from the entries that are complete; the damaged
  // file is kept beside it as "<name>.damaged". Entries left out are
  // reported through OnSkipping. An intact archive is left as it is
  // (zrSuccess). The archive comment of a damaged archive is lost.
  int Fix();
  // Number of entries, -1 when the archive cannot be read.
  long long EntryCount();
  // The deflate level an added file of this name gets; 0 when it is stored.
  int PackLevelFor(const std::string& name) const;
  // Asks the running operation to stop at its next progress callback.
  void Abort() { abort_ = true; }

  // Test seam: called after an added entry's local header and data are
  // complete on disk and before the central directory is written again,
  // the moment at which a crash leaves a damaged archive. Unset in
  // production.
  std::function<void(const std::string& entry)> AfterEntryWritten;

 private:
  // The steps the operations share, defined with them.
  struct Steps;

  std::atomic<bool> abort_{false};
};

// True when an entry name would be written outside the extraction folder
// ("/etc/x", "../x", "a/../../x", "C:x").
bool UnsafeEntryName(const std::string& name);
