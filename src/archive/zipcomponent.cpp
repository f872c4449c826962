#include "archive/zipcomponent.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "archive/zipappend.h"
#include "archive/zipextract.h"
#include "archive/zipformat.h"
#include "archive/zipio.h"
#include "archive/zipnames.h"
#include "archive/zippack.h"
#include "archive/ziprepair.h"

using hxzip::ArchiveLayout;
using hxzip::ArchiveState;
using hxzip::UniqueFd;

namespace {

constexpr std::size_t kChunk = 256 * 1024;

int FromErrno(int error) {
  switch (error) {
    case 0:
      return zrSuccess;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return zrDiskFull;
    case ENOMEM:
      return zrMemory;
    case ENOENT:
      return zrNotFound;
    default:
      return zrAccess;
  }
}

int FromLibzip(int code, int system) {
  switch (code) {
    case ZIP_ER_OK:
      return zrSuccess;
    case ZIP_ER_NOENT:
      return zrNotFound;
    case ZIP_ER_NOZIP:
      return zrNotAZip;
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
    case ZIP_ER_EOF:
      return zrCorrupted;
    case ZIP_ER_MEMORY:
      return zrMemory;
    case ZIP_ER_CANCELLED:
      return zrAborted;
    case ZIP_ER_TMPOPEN:
      return system != 0 && FromErrno(system) == zrDiskFull ? zrDiskFull : zrTempFile;
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_WRITE:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
      return system != 0 && system != ENOENT ? FromErrno(system) : zrAccess;
    default:
      return zrGeneric;
  }
}

int FromLibzip(zip_error_t* error) {
  const int system = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
  return FromLibzip(zip_error_code_zip(error), system);
}

// The text of an errno; strerror is not safe while other threads run.
std::string ErrorText(int error) { return std::generic_category().message(error); }

// The more serious of two results: the codes grow with their weight
// (success is 0), except that a time stamp that could not be set weighs
// less than any real error.
int Worse(int a, int b) {
  const auto weight = [](int code) { return code == zrMinorErrors ? zrEmptyZip + 1 : code; };
  return weight(a) >= weight(b) ? a : b;
}

int Ratio(std::uint64_t size, std::uint64_t packed) {
  if (size == 0) return 0;
  return 100 - static_cast<int>(std::llround(static_cast<double>(packed) * 100.0 / static_cast<double>(size)));
}

int Percent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 100;
  return static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
}

void Fire(const std::function<void(const ZipFileStats&)>& event, const ZipFileStats& stats) {
  if (event) event(stats);
}

struct ZipDiscard {
  void operator()(zip_t* z) const {
    if (z) zip_discard(z);
  }
};
using ZipHandle = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipFileClose {
  void operator()(zip_file_t* f) const {
    if (f) zip_fclose(f);
  }
};
using ZipFileHandle = std::unique_ptr<zip_file_t, ZipFileClose>;

// Extensions (".zip", "zip", "*.zip") from a list separated by ";", "," or
// blanks, compared without case.
bool HasStoredExtension(const std::string& name, const std::string& list) {
  const auto slash = name.rfind('/');
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  std::string item;
  const auto check = [&] {
    std::string e = item;
    item.clear();
    if (!e.empty() && e[0] == '*') e.erase(0, 1);
    if (!e.empty() && e[0] == '.') e.erase(0, 1);
    if (e.empty() || e.size() + 1 != ext.size()) return false;
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext.compare(1, std::string::npos, e) == 0;
  };
  for (const char c : list) {
    if (c == ';' || c == ',' || c == ' ' || c == '\t') {
      if (check()) return true;
    } else {
      item.push_back(c);
    }
  }
  return check();
}

// The archive, open and locked for one operation, and what it holds.
struct OpenedArchive {
  UniqueFd fd;
  ArchiveLayout layout;
  bool created = false;
  bool locked = false;
};

int OpenArchive(const std::string& path, bool write, bool create, OpenedArchive& archive) {
  if (path.empty()) return zrNotFound;
  const int mode = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
  archive.fd.Reset(::open(path.c_str(), mode));
  if (!archive.fd.Valid() && errno == ENOENT && create) {
    archive.fd.Reset(::open(path.c_str(), mode | O_CREAT | O_EXCL, 0666));
    if (archive.fd.Valid())
      archive.created = true;
    else if (errno == EEXIST)
      archive.fd.Reset(::open(path.c_str(), mode));
  }
  if (!archive.fd.Valid()) return errno == EISDIR ? zrNotAZip : FromErrno(errno);
  struct stat st {};
  if (::fstat(archive.fd.Get(), &st) != 0) return FromErrno(errno);
  if (!S_ISREG(st.st_mode)) return zrNotAZip;
  switch (hxzip::TryLock(archive.fd.Get(), write)) {
    case hxzip::LockResult::Locked:
      archive.locked = true;
      break;
    case hxzip::LockResult::Busy:
      return zrBusy;
    case hxzip::LockResult::Failed:
      return zrAccess;
  }
  if (const int error = hxzip::InspectArchive(archive.fd.Get(), archive.layout)) return FromErrno(error);
  return zrSuccess;
}

// What a read operation may work on: intact archives only.
int CheckReadable(ArchiveState state) {
  switch (state) {
    case ArchiveState::Intact:
    case ArchiveState::Zip64:
      return zrSuccess;
    case ArchiveState::Damaged:
      return zrCorrupted;
    case ArchiveState::Empty:
    case ArchiveState::NotZip:
      break;
  }
  return zrNotAZip;
}

// libzip on the very file that was checked and locked.
ZipHandle OpenForReading(int fd, int& result) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    result = FromErrno(errno);
    return nullptr;
  }
  int error = 0;
  zip_t* z = zip_fdopen(copy, 0, &error);
  if (!z) {
    const int system = errno;
    ::close(copy);
    result = FromLibzip(error, system);
    return nullptr;
  }
  result = zrSuccess;
  return ZipHandle(z);
}

// An intact archive opened for reading its entries: zrSuccess, or the code
// that ends the operation.
int OpenEntries(const std::string& path, OpenedArchive& archive, ZipHandle& z, zip_int64_t& count) {
  if (const int rc = OpenArchive(path, false, false, archive)) return rc;
  if (const int rc = CheckReadable(archive.layout.state)) return rc;
  int rc = zrSuccess;
  z = OpenForReading(archive.fd.Get(), rc);
  // The file is open: what libzip takes for a missing file is a directory
  // pointing where nothing is.
  if (!z) return rc == zrNotFound ? zrCorrupted : rc;
  count = zip_get_num_entries(z.get(), 0);
  return zrSuccess;
}

std::string EntryName(zip_t* z, zip_uint64_t index) {
  const char* name = zip_get_name(z, index, 0);
  return name ? name : "";
}

std::string EntryComment(zip_t* z, zip_uint64_t index) {
  zip_uint32_t length = 0;
  const char* comment = zip_file_get_comment(z, index, &length, 0);
  return comment ? std::string(comment, length) : std::string();
}

ZipFileStats StatsOf(zip_t* z, const zip_stat_t& st) {
  ZipFileStats stats;
  stats.Name = st.name ? st.name : "";
  stats.Size = st.size;
  stats.Packed = st.comp_size;
  stats.Ratio = Ratio(st.size, st.comp_size);
  stats.Modified = st.mtime;
  stats.Comment = EntryComment(z, st.index);
  return stats;
}

// Whether the local header of record index still names the entry the
// central directory names: libzip reads the data through the central
// directory alone and would not notice a damaged header.
bool LocalHeaderMatches(int fd, const ArchiveLayout& layout, std::size_t index) {
  if (layout.state != ArchiveState::Intact || index >= layout.records.size()) return true;
  const hxzip::CentralView& record = layout.records[index];
  const std::string_view name = record.Name(layout.directory);
  std::string header(hxzip::kLocalHeaderSize + name.size(), '\0');
  if (!hxzip::ReadExactAt(fd, header.data(), header.size(), record.localOffset)) return false;
  return hxzip::Get32(header.data()) == hxzip::kLocalSignature && hxzip::Get16(header.data() + 26) == name.size() &&
         std::string_view(header).substr(hxzip::kLocalHeaderSize) == name;
}

// A copy of the damaged archive, then the rebuilt central directory.
int RepairLocked(int fd, const std::string& path,
                 const std::function<void(const std::string&, const std::string&)>& onSkipping) {
  if (const int error = hxzip::CopyToFile(fd, path + ".damaged")) return FromErrno(error);
  hxzip::RepairReport report;
  if (const int error = hxzip::RebuildDirectory(fd, report)) return FromErrno(error);
  if (onSkipping)
    for (const auto& [name, reason] : report.dropped) onSkipping(name, "left out by the repair: " + reason);
  return zrSuccess;
}

}  // namespace

struct TZipComponent::Steps {
  TZipComponent& c;

  std::vector<std::string> TakeFiles() {
    std::vector<std::string> files = std::move(c.FilesToProcess);
    c.FilesToProcess.clear();
    c.abort_ = false;
    return files;
  }

  void Skip(const std::string& name, const std::string& reason) const {
    if (c.OnSkipping) c.OnSkipping(name, reason);
  }

  bool Aborted() const { return c.abort_; }

  // Progress of one file; false when an abort was asked for.
  bool Progress(ZipFileStats& stats, std::uint64_t done, std::uint64_t total) const {
    stats.Percent = Percent(done, total);
    Fire(c.OnStatus, stats);
    return !c.abort_;
  }

  bool Store(const std::string& name) const {
    return c.Compression <= 0 || HasStoredExtension(name, c.StoredExtensions);
  }

  // Freshen and Update take a file only when it is newer than its entry, in
  // the two-second steps of the entry's time stamp.
  static bool Wanted(ZipAddMode mode, bool exists, bool newer, bool& considered) {
    switch (mode) {
      case ZipAddMode::AddReplace:
        return true;
      case ZipAddMode::Freshen:
        considered = considered || exists;
        return exists && newer;
      case ZipAddMode::Update:
        considered = considered || exists;
        return !exists || newer;
    }
    return false;
  }

  static int NothingWritten(ZipAddMode mode, bool considered) {
    return mode != ZipAddMode::AddReplace && considered ? zrUpToDate : zrNothingToDo;
  }

  // Opens a file to add; invalid (and reported) when it cannot be read.
  UniqueFd OpenSource(const hxzip::SourceFile& file, struct stat& st) const {
    // O_NONBLOCK: a file that became a pipe since it was listed must not
    // hang the add; reads of regular files ignore the flag.
    UniqueFd source(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!source.Valid() || ::fstat(source.Get(), &st) != 0) {
      Skip(file.path, ErrorText(errno));
      return UniqueFd();
    }
    if (!S_ISREG(st.st_mode)) {
      Skip(file.path, "not a regular file");
      return UniqueFd();
    }
    return source;
  }

  std::string CommentFor(const std::string& path) const {
    return c.OnFileComment ? hxzip::CutComment(c.OnFileComment(path)) : std::string();
  }

  int AddInPlace(hxzip::InPlaceAppender& appender, ZipAddMode mode, const std::vector<hxzip::SourceFile>& files) {
    int result = zrSuccess;
    bool considered = false;
    for (const auto& file : files) {
      if (Aborted()) break;
      const hxzip::CentralView* existing = appender.Find(file.name);
      const bool newer = existing && hxzip::ToDos(file.modified).Ordered() > existing->stamp.Ordered();
      if (!Wanted(mode, existing != nullptr, newer, considered)) continue;
      struct stat st {};
      const UniqueFd source = OpenSource(file, st);
      if (!source.Valid()) {
        result = zrSkipped;
        continue;
      }
      hxzip::AppendItem item;
      item.name = file.name;
      item.comment = CommentFor(file.path);
      item.store = Store(file.name);
      item.level = c.Compression;
      item.modified = st.st_mtime;
      item.mode = st.st_mode;
      ZipFileStats stats;
      stats.Name = file.name;
      stats.Size = static_cast<std::uint64_t>(st.st_size);
      stats.Modified = st.st_mtime;
      stats.Comment = item.comment;
      Fire(existing ? c.OnUpdating : c.OnAdding, stats);
      hxzip::EntryRecord written;
      int error = 0;
      const auto progress = [&](std::uint64_t done, std::uint64_t total) { return Progress(stats, done, total); };
      const std::optional<hxzip::PackedData> ready =
          c.Packer ? c.Packer->Take(st, item.store ? 0 : item.level) : std::nullopt;
      const hxzip::AppendStatus status =
          ready ? appender.WritePacked(item, ready->method, ready->crc, ready->size, ready->data, written, error)
                : appender.Write(item, source.Get(), stats.Size, progress, written, error);
      switch (status) {
        case hxzip::AppendStatus::Written:
          stats.Size = written.size;
          stats.Packed = written.packed;
          stats.Ratio = Ratio(written.size, written.packed);
          stats.Percent = 100;
          stats.Done = true;
          Fire(c.OnStatus, stats);
          if (c.AfterEntryWritten) c.AfterEntryWritten(file.name);
          break;
        case hxzip::AppendStatus::Unreadable:
          Skip(file.path, ErrorText(error));
          result = zrSkipped;
          break;
        case hxzip::AppendStatus::TooLarge:
          Skip(file.path, "grew to 4 GiB or more while it was read");
          result = zrSkipped;
          break;
        case hxzip::AppendStatus::Aborted:
          break;
        case hxzip::AppendStatus::WriteFailed:
          appender.Rollback();
          return FromErrno(error);
      }
    }
    if (Aborted()) {
      if (appender.Touched()) appender.Rollback();
      return zrAborted;
    }
    if (appender.Added() == 0) {
      if (appender.Touched()) appender.Rollback();
      return result != zrSuccess ? result : NothingWritten(mode, considered);
    }
    if (const int error = appender.Commit()) {
      appender.Rollback();
      return FromErrno(error);
    }
    return result;
  }

  // The same add through libzip, for what the in-place writer does not do.
  // libzip writes the whole archive to a temp file and renames it; until
  // then the archive is untouched, so an abort just discards.
  int AddWithLibzip(OpenedArchive& archive, ZipAddMode mode, const std::vector<hxzip::SourceFile>& files) {
    struct stat before {};
    ::fstat(archive.fd.Get(), &before);
    int error = 0;
    const int flags = ZIP_CREATE | (archive.layout.state == ArchiveState::Empty ? ZIP_TRUNCATE : 0);
    ZipHandle z(zip_open(c.ZipFileName.c_str(), flags, &error));
    if (!z) return FromLibzip(error, errno);
    int result = zrSuccess;
    bool considered = false;
    std::vector<ZipFileStats> added;
    for (const auto& file : files) {
      if (Aborted()) return zrAborted;
      const zip_int64_t found = zip_name_locate(z.get(), file.name.c_str(), ZIP_FL_ENC_RAW);
      bool newer = false;
      zip_stat_t st;
      if (found >= 0 && zip_stat_index(z.get(), static_cast<zip_uint64_t>(found), 0, &st) == 0)
        newer = hxzip::ToDos(file.modified).Ordered() > hxzip::ToDos(st.mtime).Ordered();
      if (!Wanted(mode, found >= 0, newer, considered)) continue;
      struct stat fileStat {};
      if (!OpenSource(file, fileStat).Valid()) {
        result = zrSkipped;
        continue;
      }
      const std::string comment = CommentFor(file.path);
      ZipFileStats stats;
      stats.Name = file.name;
      stats.Size = static_cast<std::uint64_t>(fileStat.st_size);
      stats.Modified = fileStat.st_mtime;
      stats.Comment = comment;
      Fire(found >= 0 ? c.OnUpdating : c.OnAdding, stats);
      // The old entry goes and a new one takes its name: libzip 1.7.3 frees
      // the old comment twice when a comment is set on an entry replaced in
      // place (ZIP_FL_OVERWRITE).
      if (found >= 0 && zip_delete(z.get(), static_cast<zip_uint64_t>(found)) != 0)
        return FromLibzip(zip_get_error(z.get()));
      zip_source_t* source = zip_source_file(z.get(), file.path.c_str(), 0, -1);
      if (!source) return FromLibzip(zip_get_error(z.get()));
      const bool utf8 = hxzip::NameFlags(file.name, comment) != 0;
      const zip_int64_t index = zip_file_add(z.get(), file.name.c_str(), source, utf8 ? ZIP_FL_ENC_UTF_8 : 0);
      if (index < 0) {
        zip_source_free(source);
        return FromLibzip(zip_get_error(z.get()));
      }
      const auto i = static_cast<zip_uint64_t>(index);
      const bool store = Store(file.name);
      const std::uint32_t attributes = static_cast<std::uint32_t>(fileStat.st_mode) << 16;
      const std::string extra = hxzip::HarvixExtraPayload(attributes, comment);
      if (zip_set_file_compression(z.get(), i, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                   store ? 0 : static_cast<zip_uint32_t>(std::clamp(c.Compression, 1, 9))) != 0 ||
          zip_file_set_comment(z.get(), i, comment.empty() ? nullptr : comment.data(),
                               static_cast<zip_uint16_t>(comment.size()), utf8 ? ZIP_FL_ENC_UTF_8 : 0) != 0 ||
          zip_file_set_mtime(z.get(), i, fileStat.st_mtime, 0) != 0 ||
          zip_file_set_external_attributes(z.get(), i, 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
          zip_file_extra_field_set(z.get(), i, hxzip::kHarvixExtraId, ZIP_EXTRA_FIELD_NEW,
                                   reinterpret_cast<const zip_uint8_t*>(extra.data()),
                                   static_cast<zip_uint16_t>(extra.size()), ZIP_FL_LOCAL) != 0)
        return FromLibzip(zip_get_error(z.get()));
      added.push_back(stats);
    }
    if (added.empty()) return result != zrSuccess ? result : NothingWritten(mode, considered);
    if (Aborted()) return zrAborted;

    ZipFileStats overall;
    overall.Name = c.ZipFileName;
    const auto onProgress = [](zip_t*, double done, void* self) {
      auto* steps = static_cast<Steps*>(self);
      ZipFileStats stats;
      stats.Name = steps->c.ZipFileName;
      stats.Percent = static_cast<int>(done * 100.0);
      Fire(steps->c.OnStatus, stats);
    };
    const auto onCancel = [](zip_t*, void* self) -> int { return static_cast<Steps*>(self)->Aborted() ? 1 : 0; };
    zip_register_progress_callback_with_state(z.get(), 0.01, onProgress, nullptr, this);
    zip_register_cancel_callback_with_state(z.get(), onCancel, nullptr, this);
    if (zip_close(z.get()) != 0) return FromLibzip(zip_get_error(z.get()));
    z.release();
    // libzip's new file gets a mode of its own; the archive keeps the one it
    // had (or, when this add created it, the one the umask gave).
    ::chmod(c.ZipFileName.c_str(), before.st_mode & 07777);
    for (auto& stats : added) {
      stats.Percent = 100;
      stats.Done = true;
      Fire(c.OnStatus, stats);
    }
    return result;
  }

  // Add's work once the archive is open and locked: the repair of a damaged
  // archive, then the in-place writer or, beyond its limits, libzip.
  int AddToArchive(OpenedArchive& archive, ZipAddMode mode, const std::vector<hxzip::SourceFile>& files) {
    ArchiveLayout& layout = archive.layout;
    if (layout.state == ArchiveState::NotZip) return zrNotAZip;
    if (layout.state == ArchiveState::Damaged) {
      if (const int rc = RepairLocked(archive.fd.Get(), c.ZipFileName, c.OnSkipping)) return rc;
      if (const int error = hxzip::InspectArchive(archive.fd.Get(), layout)) return FromErrno(error);
      if (layout.state != ArchiveState::Intact && layout.state != ArchiveState::Zip64) return zrCorrupted;
    }
    if (layout.state != ArchiveState::Zip64) {
      hxzip::InPlaceAppender appender(archive.fd.Get(), std::move(layout));
      if (const int error = appender.Open()) return FromErrno(error);
      std::vector<std::pair<std::uint64_t, std::size_t>> sizes;
      sizes.reserve(files.size());
      for (const auto& f : files) sizes.emplace_back(f.size, f.name.size());
      if (appender.Fits(sizes)) return AddInPlace(appender, mode, files);
      if (const int error = hxzip::InspectArchive(archive.fd.Get(), layout)) return FromErrno(error);
    }
    return AddWithLibzip(archive, mode, files);
  }

  // Writes one entry into the folder behind dir under leaf.
  int ExtractEntry(zip_t* z, const zip_stat_t& st, int dir, const std::string& leaf, ZipFileStats& stats,
                   std::string& buffer) {
    ZipFileHandle file(zip_fopen_index(z, st.index, 0));
    if (!file) {
      const int code = zip_error_code_zip(zip_get_error(z));
      if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_ENCRNOTSUPP || code == ZIP_ER_WRONGPASSWD) {
        Skip(stats.Name, "encrypted");
        return zrSkipped;
      }
      return FromLibzip(zip_get_error(z));
    }
    hxzip::PendingFile out(dir, leaf);
    if (const int error = out.Create()) return FromErrno(error);
    std::uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
      // Asking for one byte beyond the declared size tells a header that
      // lies about it; a zero read lets libzip check the CRC.
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), st.size - total + 1));
      const zip_int64_t n = zip_fread(file.get(), buffer.data(), want);
      if (n < 0) {
        Skip(stats.Name, zip_file_strerror(file.get()));
        return Worse(zrCorrupted, FromLibzip(zip_file_get_error(file.get())));
      }
      if (n == 0) break;
      if (total + static_cast<std::uint64_t>(n) > st.size) {
        Skip(stats.Name, "more data than its header declares");
        return zrCorrupted;
      }
      if (!hxzip::WriteAll(out.Fd(), std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
        const int error = errno;
        Skip(stats.Name, ErrorText(error));
        return FromErrno(error);
      }
      crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
      total += static_cast<std::uint64_t>(n);
      if (!Progress(stats, total, st.size)) return zrAborted;
    }
    if (total != st.size || ((st.valid & ZIP_STAT_CRC) && crc != st.crc)) {
      Skip(stats.Name, "CRC or size error");
      return zrCorrupted;
    }
    bool timeSet = false;
    if (const int error = out.Finish(st.mtime, timeSet)) {
      Skip(stats.Name, ErrorText(error));
      return FromErrno(error);
    }
    stats.Percent = 100;
    stats.Done = true;
    Fire(c.OnStatus, stats);
    return timeSet ? zrSuccess : zrMinorErrors;
  }

  // Reads an entry to its end; empty when it reads back as written.
  std::string TestEntry(zip_t* z, const zip_stat_t& st, std::string& buffer, ZipFileStats& stats, bool& aborted) {
    ZipFileHandle file(zip_fopen_index(z, st.index, 0));
    if (!file) return zip_strerror(z);
    std::uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
      const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
      if (n < 0) return zip_file_strerror(file.get());
      if (n == 0) break;
      crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
      total += static_cast<std::uint64_t>(n);
      if (total > st.size) return "more data than its header declares";
      if (!Progress(stats, total, st.size)) {
        aborted = true;
        return "aborted";
      }
    }
    if (total != st.size) return "size error";
    if ((st.valid & ZIP_STAT_CRC) && crc != st.crc) return "CRC error";
    return "";
  }
};

int TZipComponent::Add(ZipAddMode mode) {
  Steps steps{*this};
  const std::vector<std::string> items = steps.TakeFiles();
  if (ZipFileName.empty()) return zrNotFound;
  hxzip::CollectedFiles collected = hxzip::CollectFiles(items, BaseFolder, UsePaths, Recurse);
  int result = zrSuccess;
  for (const auto& [file, reason] : collected.skipped) {
    steps.Skip(file, reason);
    result = zrSkipped;
  }
  // The archive never goes into itself.
  struct stat self {};
  if (::stat(ZipFileName.c_str(), &self) == 0) {
    std::erase_if(collected.files, [&](const hxzip::SourceFile& f) {
      return f.device == static_cast<std::uint64_t>(self.st_dev) && f.inode == static_cast<std::uint64_t>(self.st_ino);
    });
  }
  std::unordered_map<std::string, const hxzip::SourceFile*> names;
  bool repeated = false;
  for (const auto& f : collected.files) {
    const auto [it, added] = names.try_emplace(f.name, &f);
    if (!added) {
      steps.Skip(f.path, "gives the same entry name as " + it->second->path + ": " + f.name);
      repeated = true;
    }
  }
  if (repeated) return zrNamesRepeated;
  if (collected.files.empty()) return result != zrSuccess ? result : zrNothingToDo;

  OpenedArchive archive;
  int rc = OpenArchive(ZipFileName, true, true, archive);
  if (rc == zrSuccess) rc = steps.AddToArchive(archive, mode, collected.files);
  // An archive this add created stays only when something went into it.
  // Without the lock it is another writer's, which opened it first.
  if (archive.created && archive.locked) {
    struct stat now {};
    if (::stat(ZipFileName.c_str(), &now) == 0 && now.st_size == 0) ::unlink(ZipFileName.c_str());
  }
  return Worse(result, rc);
}

int TZipComponent::PackLevelFor(const std::string& name) const {
  return Compression <= 0 || HasStoredExtension(name, StoredExtensions) ? 0 : std::min(Compression, 9);
}

int TZipComponent::List() {
  Steps steps{*this};
  const hxzip::EntrySelector selector(steps.TakeFiles());
  OpenedArchive archive;
  ZipHandle z;
  zip_int64_t count = 0;
  if (const int rc = OpenEntries(ZipFileName, archive, z, count)) return rc;
  if (count <= 0) return zrEmptyZip;
  bool matched = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0) return FromLibzip(zip_get_error(z.get()));
    if (!st.name || !selector.Matches(st.name)) continue;
    matched = true;
    Fire(OnListing, StatsOf(z.get(), st));
    if (steps.Aborted()) return zrAborted;
  }
  return matched ? zrSuccess : zrNothingToDo;
}

int TZipComponent::Extract() {
  Steps steps{*this};
  const hxzip::EntrySelector selector(steps.TakeFiles());
  OpenedArchive archive;
  ZipHandle z;
  zip_int64_t count = 0;
  if (const int rc = OpenEntries(ZipFileName, archive, z, count)) return rc;
  if (count <= 0) return zrEmptyZip;
  hxzip::ExtractTarget target;
  const std::string folder = ExtractDirectory.empty() ? std::string(".") : ExtractDirectory;
  if (const int error = target.Open(folder)) return FromErrno(error);
  ZipOverwrite overwrite = Overwrite;
  std::string buffer(kChunk, '\0');
  int result = zrSuccess;
  bool matched = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    if (steps.Aborted()) return zrAborted;
    zip_stat_t st;
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0) {
      result = Worse(result, FromLibzip(zip_get_error(z.get())));
      continue;
    }
    const std::string name = st.name ? st.name : "";
    if (!selector.Matches(name)) continue;
    matched = true;
    if (UnsafeEntryName(name)) {
      steps.Skip(name, "unsafe name: it would be written outside the target folder");
      result = Worse(result, zrSkipped);
      continue;
    }
    std::vector<std::string> parts = hxzip::EntryParts(name);
    if (parts.empty()) continue;
    const bool isFolder = name.back() == '/' || name.back() == '\\';
    if (isFolder && !UsePaths) continue;
    const std::string leaf = parts.back();
    if (!isFolder) parts.pop_back();
    if (!UsePaths) parts.clear();
    int error = 0;
    const UniqueFd dir = target.OpenFolder(parts, error);
    if (!dir.Valid()) {
      if (error == ELOOP || error == ENOTDIR) {
        steps.Skip(name, "a folder on its way is a symbolic link or a file");
        result = Worse(result, zrSkipped);
      } else {
        steps.Skip(name, ErrorText(error));
        result = Worse(result, FromErrno(error));
      }
      continue;
    }
    if (isFolder) continue;

    if (st.size > BombLimit && (st.comp_size == 0 || st.size / st.comp_size > 100)) {
      steps.Skip(name, "larger than the size limit and packed more than 100 to 1");
      result = Worse(result, zrDiskFull);
      continue;
    }
    struct statvfs space {};
    if (::fstatvfs(dir.Get(), &space) == 0 &&
        st.size > static_cast<std::uint64_t>(space.f_bavail) * static_cast<std::uint64_t>(space.f_frsize)) {
      steps.Skip(name, "larger than the free space of the target folder");
      result = Worse(result, zrDiskFull);
      continue;
    }
    ZipFileStats stats = StatsOf(z.get(), st);
    struct stat existing {};
    if (::fstatat(dir.Get(), leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(existing.st_mode)) {
        steps.Skip(name, "a folder has its name");
        result = Worse(result, zrSkipped);
        continue;
      }
      if (overwrite == ZipOverwrite::xowNever) continue;
      if (overwrite == ZipOverwrite::xowAsk) {
        std::string path = folder;
        if (path.back() != '/') path += '/';
        for (const auto& part : parts) path += part + "/";
        path += leaf;
        const ZipReplaceReply reply = OnReplace ? OnReplace(path, name) : ZipReplaceReply::No;
        if (reply == ZipReplaceReply::Cancel) return zrAborted;
        if (reply == ZipReplaceReply::No) {
          steps.Skip(name, "not replaced");
          result = Worse(result, zrSkipped);
          continue;
        }
        if (reply == ZipReplaceReply::All) overwrite = ZipOverwrite::xowAlways;
      }
    }
    Fire(OnExtracting, stats);
    const int written = steps.ExtractEntry(z.get(), st, dir.Get(), leaf, stats, buffer);
    if (written == zrAborted) return zrAborted;
    result = Worse(result, written);
  }
  return matched ? result : zrNothingToDo;
}

int TZipComponent::Delete() {
  Steps steps{*this};
  const hxzip::EntrySelector selector(steps.TakeFiles());
  OpenedArchive archive;
  if (const int rc = OpenArchive(ZipFileName, true, false, archive)) return rc;
  if (const int rc = CheckReadable(archive.layout.state)) return rc;
  struct stat before {};
  ::fstat(archive.fd.Get(), &before);
  int error = 0;
  ZipHandle z(zip_open(ZipFileName.c_str(), 0, &error));
  if (!z) return FromLibzip(error, errno);
  const zip_int64_t count = zip_get_num_entries(z.get(), 0);
  std::vector<zip_uint64_t> doomed;
  for (zip_int64_t i = 0; i < count; ++i) {
    const std::string name = EntryName(z.get(), static_cast<zip_uint64_t>(i));
    if (!selector.Matches(name)) continue;
    doomed.push_back(static_cast<zip_uint64_t>(i));
    if (OnDeleting) OnDeleting(name);
    if (steps.Aborted()) return zrAborted;
  }
  if (doomed.empty()) return zrNothingToDo;

  if (static_cast<zip_int64_t>(doomed.size()) == count) {
    // libzip would remove the file; an empty archive keeps its place (and
    // its comment) for the windows that list it.
    const std::string empty = hxzip::EndRecords(0, 0, 0, archive.layout.comment);
    std::string temp = ZipFileName + ".tmp-XXXXXX";
    const UniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
    if (!out.Valid()) return FromErrno(errno);
    if (!hxzip::WriteAll(out.Get(), empty) || ::fchmod(out.Get(), before.st_mode & 07777) != 0 ||
        ::rename(temp.c_str(), ZipFileName.c_str()) != 0) {
      const int failed = errno;
      ::unlink(temp.c_str());
      return FromErrno(failed);
    }
    return zrSuccess;
  }
  for (const zip_uint64_t index : doomed)
    if (zip_delete(z.get(), index) != 0) return FromLibzip(zip_get_error(z.get()));
  const auto onCancel = [](zip_t*, void* self) -> int { return static_cast<Steps*>(self)->Aborted() ? 1 : 0; };
  zip_register_cancel_callback_with_state(z.get(), onCancel, nullptr, &steps);
  if (zip_close(z.get()) != 0) return FromLibzip(zip_get_error(z.get()));
  z.release();
  ::chmod(ZipFileName.c_str(), before.st_mode & 07777);
  return zrSuccess;
}

int TZipComponent::Test() {
  Steps steps{*this};
  const hxzip::EntrySelector selector(steps.TakeFiles());
  OpenedArchive archive;
  ZipHandle z;
  zip_int64_t count = 0;
  if (const int rc = OpenEntries(ZipFileName, archive, z, count)) return rc;
  std::string buffer(kChunk, '\0');
  bool tested = false;
  bool failed = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0) {
      steps.Skip(std::string("entry ").append(std::to_string(i)), zip_strerror(z.get()));
      failed = true;
      continue;
    }
    if (!st.name || !selector.Matches(st.name)) continue;
    tested = true;
    ZipFileStats stats = StatsOf(z.get(), st);
    bool aborted = false;
    std::string problem = steps.TestEntry(z.get(), st, buffer, stats, aborted);
    if (aborted) return zrAborted;
    if (problem.empty() && !LocalHeaderMatches(archive.fd.Get(), archive.layout, static_cast<std::size_t>(i)))
      problem = "local header does not match the central directory";
    if (!problem.empty()) {
      steps.Skip(stats.Name, problem);
      failed = true;
      continue;
    }
    stats.Percent = 100;
    stats.Done = true;
    Fire(OnStatus, stats);
  }
  if (failed) return zrTestFailed;
  return tested ? zrSuccess : zrNothingTested;
}

int TZipComponent::Fix() {
  // A directory that reads is not enough: entries whose data or headers do
  // not check are what the user asked to be rid of, so such an archive is
  // rebuilt from its good entries too.
  FilesToProcess.clear();
  const int test = Test();
  const bool entriesBad = test == zrTestFailed || test == zrCorrupted;
  Steps steps{*this};
  steps.TakeFiles();
  OpenedArchive archive;
  if (const int rc = OpenArchive(ZipFileName, true, false, archive)) return rc;
  switch (archive.layout.state) {
    case ArchiveState::Intact:
    case ArchiveState::Zip64:
      return entriesBad ? RepairLocked(archive.fd.Get(), ZipFileName, OnSkipping) : zrSuccess;
    case ArchiveState::Damaged:
      return RepairLocked(archive.fd.Get(), ZipFileName, OnSkipping);
    case ArchiveState::Empty:
    case ArchiveState::NotZip:
      break;
  }
  return zrNotAZip;
}

long long TZipComponent::EntryCount() {
  Steps steps{*this};
  steps.TakeFiles();
  OpenedArchive archive;
  if (OpenArchive(ZipFileName, false, false, archive) != zrSuccess) return -1;
  if (CheckReadable(archive.layout.state) != zrSuccess) return -1;
  return static_cast<long long>(archive.layout.entries);
}

bool UnsafeEntryName(const std::string& name) {
  if (name.empty()) return false;
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path[0] == '/') return true;
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') return true;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (path.compare(start, end - start, "..") == 0) return true;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return false;
}
