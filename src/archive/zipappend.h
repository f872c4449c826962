#pragma once
// Adding entries to an archive in place: the new entries are written where
// the central directory began, then the central directory (the old records,
// less those of replaced names, plus the new ones) and the end record follow
// them. Nothing before the old central directory is touched, so adding one
// file costs that file plus the central directory, whatever the archive
// holds. A replaced entry's data stays behind as dead space until a delete
// rewrites the archive.
//
// Crash safety: each entry's local header first goes out with the "sizes
// follow" flag and no sizes, and is completed once its data is on disk. A
// process killed in between leaves an entry that a repair recognises as
// incomplete; every entry completed before it survives a repair.
//
// Limits: sizes and offsets within 32 bits and fewer than 65,535 entries
// (no Zip64 records); the caller checks them with Fits() and goes through
// libzip otherwise.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/zipformat.h"

namespace hxzip {

struct AppendItem {
  std::string name;
  std::string comment;
  bool store = false;
  int level = 6;
  std::time_t modified = 0;
  std::uint32_t mode = 0;
};

enum class AppendStatus {
  Written,
  Unreadable,  // reading the file failed: the entry was not written, the archive is as before it
  TooLarge,    // the file grew past what an archive without Zip64 records holds
  Aborted,     // the progress callback asked to stop
  WriteFailed  // writing the archive failed (error holds the errno); roll back
};

// Bytes of the file read so far and its size when the entry started; false
// stops the entry.
using AppendProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

class InPlaceAppender {
 public:
  // The archive behind fd (open for reading and writing, locked) in an
  // Empty or Intact layout. Open reads the bytes behind the central
  // directory, which Rollback puts back with the directory.
  InPlaceAppender(int fd, ArchiveLayout layout);
  ~InPlaceAppender();
  InPlaceAppender(const InPlaceAppender&) = delete;
  InPlaceAppender& operator=(const InPlaceAppender&) = delete;

  // 0, or the errno of reading the end of the archive.
  int Open();
  // The record of an entry already in the archive, or null.
  const CentralView* Find(std::string_view name);
  // True when adding files of these sizes with names of these lengths keeps
  // the archive within 32-bit offsets and 16-bit counts.
  bool Fits(const std::vector<std::pair<std::uint64_t, std::size_t>>& sizesAndNameLengths) const;

  // Streams the file behind source into a new entry. A failed or stopped
  // entry leaves no trace once the next entry or Commit/Rollback runs.
  AppendStatus Write(const AppendItem& item, int source, std::uint64_t expectedSize, const AppendProgress& progress,
                     EntryRecord& written, int& error);
  // The same with data packed beforehand (method, CRC and sizes known).
  AppendStatus WritePacked(const AppendItem& item, std::uint16_t method, std::uint32_t crc, std::uint64_t size,
                           std::string_view data, EntryRecord& written, int& error);
  // Writes the central directory and end record and cuts the file behind
  // them. 0 or an errno.
  int Commit();
  // Puts the bytes from the old central directory on back as they were and
  // cuts the file to its old size. 0 or an errno.
  int Rollback();
  std::size_t Added() const { return added_.size(); }
  // True once anything was written: from then on the old central directory
  // is overwritten until Commit or Rollback.
  bool Touched() const { return touched_; }

 private:
  struct Deflater;
  EntryRecord NewRecord(const AppendItem& item) const;
  // The entry's header made final and the entry counted.
  AppendStatus Finish(EntryRecord& e, std::uint64_t dataStart, EntryRecord& written, int& error);
  // One pass over the file: stored or deflated. Returns Written, or why not.
  AppendStatus Stream(EntryRecord& entry, std::uint64_t dataStart, int source, std::uint64_t expectedSize, int level,
                      const AppendProgress& progress, int& error);

  int fd_;
  ArchiveLayout layout_;
  std::string oldEnd_;
  std::uint64_t writeAt_ = 0;
  bool touched_ = false;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string_view, std::size_t> byName_;  // built by the second Find
  std::size_t finds_ = 0;
  std::unordered_set<std::string, NameHash, std::equal_to<>> replaced_;
  std::vector<EntryRecord> added_;
  std::unique_ptr<Deflater> deflater_;
  std::string in_;
  std::string out_;
};

}  // namespace hxzip
