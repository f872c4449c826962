#include "archive/zipappend.h"

#include <errno.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "archive/zipio.h"

namespace hxzip {

namespace {

// Reads and progress reports come in steps of this size, well below the
// megabyte within which an abort request must be noticed.
constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kOutChunk = 64 * 1024;
// A file that grows while it is read still goes in steps of a useful size.
constexpr std::size_t kMinChunk = 16 * 1024;

}  // namespace

// One deflate state for all entries of an add: resetting it is much cheaper
// than setting up its window for each small file.
struct InPlaceAppender::Deflater {
  z_stream zs{};
  bool ready = false;
  int level = -1;

  ~Deflater() {
    if (ready) deflateEnd(&zs);
  }

  bool Start(int wanted) {
    if (ready && level == wanted) return deflateReset(&zs) == Z_OK;
    if (ready) deflateEnd(&zs);
    zs = z_stream{};
    ready = deflateInit2(&zs, wanted, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    level = wanted;
    return ready;
  }
};

InPlaceAppender::InPlaceAppender(int fd, ArchiveLayout layout)
    : fd_(fd), layout_(std::move(layout)), deflater_(std::make_unique<Deflater>()) {}

InPlaceAppender::~InPlaceAppender() = default;

int InPlaceAppender::Open() {
  if (layout_.state == ArchiveState::Empty) {
    writeAt_ = 0;
    oldEnd_.clear();
  } else {
    writeAt_ = layout_.directoryOffset;
    // The directory itself stays in the layout; only what follows it (the
    // end record and the archive comment) needs reading.
    const std::uint64_t rest = layout_.directoryOffset + layout_.directorySize;
    oldEnd_.resize(static_cast<std::size_t>(layout_.fileSize - rest));
    if (ReadAt(fd_, oldEnd_.data(), oldEnd_.size(), rest) != static_cast<long long>(oldEnd_.size()))
      return errno ? errno : EIO;
  }
  return 0;
}

const CentralView* InPlaceAppender::Find(std::string_view name) {
  const std::string_view directory = layout_.directory;
  // A pipeline adds one file per call: one pass over the names beats
  // hashing them all. Only a second question builds the index.
  if (++finds_ == 1) {
    const CentralView* found = nullptr;
    for (const CentralView& r : layout_.records)
      if (r.nameLength == name.size() && r.Name(directory) == name) found = &r;
    return found;
  }
  if (byName_.empty() && !layout_.records.empty()) {
    byName_.reserve(layout_.records.size());
    for (std::size_t i = 0; i < layout_.records.size(); ++i) byName_[layout_.records[i].Name(directory)] = i;
  }
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &layout_.records[it->second];
}

bool InPlaceAppender::Fits(const std::vector<std::pair<std::uint64_t, std::size_t>>& sizesAndNameLengths) const {
  std::uint64_t end = writeAt_ + layout_.directory.size() + kEndSize + layout_.comment.size();
  std::uint64_t entries = layout_.records.size();
  for (const auto& [size, nameLength] : sizesAndNameLengths) {
    // Deflate's worst case is a few bytes per 16 KB block over the input.
    const std::uint64_t packed = size + size / 1000 + 1024;
    if (packed >= kMax32) return false;
    end += kLocalHeaderSize + 2 * (nameLength + kMaxEntryComment) + 8 + packed + kCentralHeaderSize;
    ++entries;
  }
  return end < kMax32 && entries < kMaxEntries16;
}

AppendStatus InPlaceAppender::Stream(EntryRecord& entry, std::uint64_t dataStart, int source,
                                     std::uint64_t expectedSize, int level, const AppendProgress& progress,
                                     int& error) {
  z_stream* zs = nullptr;
  if (level > 0) {
    if (!deflater_->Start(level)) {
      error = ENOMEM;
      return AppendStatus::WriteFailed;
    }
    zs = &deflater_->zs;
  }
  // Buffers as large as a small file needs (one byte more shows its end
  // in one read), up to one read step; they serve the following entries.
  const auto wanted = static_cast<std::size_t>(std::clamp<std::uint64_t>(expectedSize + 1, kMinChunk, kChunk));
  if (in_.size() < wanted) in_.resize(wanted);
  if (zs && out_.size() < std::min(wanted, kOutChunk)) out_.resize(std::min(wanted, kOutChunk));
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t read = 0;
  std::uint64_t packed = 0;
  const auto emit = [&](const char* data, std::size_t size) {
    if (!WriteAt(fd_, std::string_view(data, size), dataStart + packed)) {
      error = errno;
      return false;
    }
    packed += size;
    return true;
  };
  for (;;) {
    const long long n = ReadAt(source, in_.data(), in_.size(), read);
    if (n < 0) {
      error = errno;
      return AppendStatus::Unreadable;
    }
    const bool last = static_cast<std::size_t>(n) < in_.size();
    read += static_cast<std::uint64_t>(n);
    if (read >= kMax32) return AppendStatus::TooLarge;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(in_.data()), static_cast<uInt>(n));
    if (!zs) {
      if (!emit(in_.data(), static_cast<std::size_t>(n))) return AppendStatus::WriteFailed;
    } else {
      zs->next_in = reinterpret_cast<Bytef*>(in_.data());
      zs->avail_in = static_cast<uInt>(n);
      const int flush = last ? Z_FINISH : Z_NO_FLUSH;
      do {
        zs->next_out = reinterpret_cast<Bytef*>(out_.data());
        zs->avail_out = static_cast<uInt>(out_.size());
        deflate(zs, flush);
        if (!emit(out_.data(), out_.size() - zs->avail_out)) return AppendStatus::WriteFailed;
      } while (zs->avail_out == 0);
    }
    if (dataStart + packed >= kMax32) return AppendStatus::TooLarge;
    if (progress && !progress(read, expectedSize)) return AppendStatus::Aborted;
    if (last) break;
  }
  entry.crc = static_cast<std::uint32_t>(crc);
  entry.size = read;
  entry.packed = packed;
  return AppendStatus::Written;
}

EntryRecord InPlaceAppender::NewRecord(const AppendItem& item) const {
  EntryRecord e;
  e.name = item.name;
  e.comment = item.comment.substr(0, kMaxEntryComment);
  e.flags = NameFlags(e.name, e.comment) | kFlagDescriptor;
  e.method = item.store || item.level <= 0 ? kMethodStore : kMethodDeflate;
  e.stamp = ToDos(item.modified);
  e.externalAttributes = item.mode << 16;
  e.localOffset = writeAt_;
  return e;
}

AppendStatus InPlaceAppender::Finish(EntryRecord& e, std::uint64_t dataStart, EntryRecord& written, int& error) {
  // Only now does the header carry sizes: until this write a repair sees an
  // entry still being written.
  e.flags = static_cast<std::uint16_t>(e.flags & ~kFlagDescriptor);
  if (!WriteAt(fd_, LocalHeader(e), writeAt_)) {
    error = errno;
    return AppendStatus::WriteFailed;
  }
  writeAt_ = dataStart + e.packed;
  replaced_.insert(e.name);
  std::erase_if(added_, [&](const EntryRecord& old) { return old.name == e.name; });
  added_.push_back(e);
  written = std::move(e);
  return AppendStatus::Written;
}

AppendStatus InPlaceAppender::Write(const AppendItem& item, int source, std::uint64_t expectedSize,
                                    const AppendProgress& progress, EntryRecord& written, int& error) {
  EntryRecord e = NewRecord(item);
  std::string header;
  std::uint64_t dataStart = 0;
  touched_ = true;
  for (;;) {
    header = LocalHeader(e);
    if (!WriteAt(fd_, header, writeAt_)) {
      error = errno;
      return AppendStatus::WriteFailed;
    }
    dataStart = writeAt_ + header.size();
    const int level = e.method == kMethodStore ? 0 : std::clamp(item.level, 1, 9);
    const AppendStatus status = Stream(e, dataStart, source, expectedSize, level, progress, error);
    if (status != AppendStatus::Written) return status;
    // Data that deflate cannot shrink is kept as it is: smaller, and
    // quicker to read back. The header is the same size either way.
    if (e.method == kMethodDeflate && e.packed >= e.size) {
      e.method = kMethodStore;
      continue;
    }
    break;
  }
  return Finish(e, dataStart, written, error);
}

AppendStatus InPlaceAppender::WritePacked(const AppendItem& item, std::uint16_t method, std::uint32_t crc,
                                          std::uint64_t size, std::string_view data, EntryRecord& written,
                                          int& error) {
  EntryRecord e = NewRecord(item);
  e.method = method;
  touched_ = true;
  const std::string header = LocalHeader(e);
  const std::uint64_t dataStart = writeAt_ + header.size();
  if (size >= kMax32 || dataStart + data.size() >= kMax32) return AppendStatus::TooLarge;
  if (!WriteAt(fd_, header, writeAt_) || !WriteAt(fd_, data, dataStart)) {
    error = errno;
    return AppendStatus::WriteFailed;
  }
  e.crc = crc;
  e.size = size;
  e.packed = data.size();
  return Finish(e, dataStart, written, error);
}

int InPlaceAppender::Commit() {
  // The kept records go out as the spans of the old directory they form
  // (one span unless a name was replaced), straight from its bytes.
  const std::string_view directory = layout_.directory;
  std::uint64_t at = writeAt_;
  std::uint64_t count = 0;
  std::size_t spanBegin = 0;
  std::size_t spanEnd = 0;
  const auto flush = [&] {
    if (spanEnd > spanBegin && !WriteAt(fd_, directory.substr(spanBegin, spanEnd - spanBegin), at)) return false;
    at += spanEnd - spanBegin;
    spanBegin = spanEnd;
    return true;
  };
  for (const CentralView& r : layout_.records) {
    if (!replaced_.empty() && replaced_.find(r.Name(directory)) != replaced_.end()) {
      if (!flush()) return errno;
      spanBegin = spanEnd = r.begin + r.length;
      continue;
    }
    if (r.begin != spanEnd) {
      if (!flush()) return errno;
      spanBegin = r.begin;
    }
    spanEnd = r.begin + r.length;
    ++count;
  }
  if (!flush()) return errno;
  std::string out;
  for (const EntryRecord& e : added_) {
    out += CentralRecord(e);
    ++count;
  }
  const std::uint64_t directorySize = at - writeAt_ + out.size();
  out += EndRecords(count, directorySize, writeAt_, layout_.comment);
  if (!WriteAt(fd_, out, at)) return errno;
  if (::ftruncate(fd_, static_cast<off_t>(at + out.size())) != 0) return errno;
  return 0;
}

int InPlaceAppender::Rollback() {
  const std::uint64_t at = layout_.state == ArchiveState::Empty ? 0 : layout_.directoryOffset;
  if (!WriteAt(fd_, layout_.directory, at) || !WriteAt(fd_, oldEnd_, at + layout_.directory.size())) return errno;
  if (::ftruncate(fd_, static_cast<off_t>(layout_.fileSize)) != 0) return errno;
  return 0;
}

}  // namespace hxzip
