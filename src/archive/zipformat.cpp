#include "archive/zipformat.h"

#include <errno.h>

#include <algorithm>

#include "archive/zipio.h"

namespace hxzip {

std::uint16_t Get16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(u[0] | (u[1] << 8));
}

std::uint32_t Get32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t{u[0]} | (std::uint32_t{u[1]} << 8) | (std::uint32_t{u[2]} << 16) | (std::uint32_t{u[3]} << 24);
}

std::uint64_t Get64(const char* p) { return std::uint64_t{Get32(p)} | (std::uint64_t{Get32(p + 4)} << 32); }

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

namespace {

void Put64(std::string& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t Clamp32(std::uint64_t v) { return v >= kMax32 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v); }

// Length of the UTF-8 sequence that starts with byte c, 0 for a byte that
// cannot start one.
int Utf8Length(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

}  // namespace

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const int len = Utf8Length(c);
    if (len == 0 || i + len > text.size()) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    const auto c1 = static_cast<unsigned char>(len > 1 ? text[i + 1] : 0);
    // Overlong forms, UTF-16 surrogates and code points above U+10FFFF.
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
      return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

std::string CutComment(std::string comment) {
  if (comment.size() <= kMaxEntryComment) return comment;
  std::size_t cut = kMaxEntryComment;
  // Step back over continuation bytes to the start of the cut character; it
  // stays only when it is complete within the limit.
  std::size_t start = cut;
  while (start > 0 && (static_cast<unsigned char>(comment[start]) & 0xC0) == 0x80 && cut - start < 4) --start;
  if (start < cut && (static_cast<unsigned char>(comment[start]) & 0xC0) == 0xC0) cut = start;
  comment.resize(cut);
  return comment;
}

std::uint16_t NameFlags(std::string_view name, std::string_view comment) {
  const bool plain = IsAscii(name) && IsAscii(comment);
  return !plain && IsValidUtf8(name) && IsValidUtf8(comment) ? kFlagUtf8 : 0;
}

DosStamp ToDos(std::time_t t) {
  struct tm tm {};
  if (!localtime_r(&t, &tm) || tm.tm_year < 80) return DosStamp{static_cast<std::uint16_t>((1 << 5) | 1), 0};
  if (tm.tm_year > 207) return DosStamp{static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31), 0xBF7D};
  DosStamp s;
  s.date = static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  s.time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return s;
}

std::time_t FromDos(DosStamp stamp) {
  struct tm tm {};
  tm.tm_year = ((stamp.date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((stamp.date >> 5) & 0x0F) - 1;
  tm.tm_mday = stamp.date & 0x1F;
  tm.tm_hour = (stamp.time >> 11) & 0x1F;
  tm.tm_min = (stamp.time >> 5) & 0x3F;
  tm.tm_sec = (stamp.time & 0x1F) * 2;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::string HarvixExtraPayload(std::uint32_t externalAttributes, std::string_view comment) {
  std::string payload;
  Put32(payload, externalAttributes);
  payload.append(comment.substr(0, kMaxEntryComment));
  return payload;
}

bool WellFormedExtra(std::string_view extra) {
  std::size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    const std::uint16_t length = Get16(extra.data() + pos + 2);
    if (pos + 4 + length > extra.size()) return false;
    pos += 4 + length;
  }
  return extra.substr(pos).find_first_not_of('\0') == std::string_view::npos;
}

bool FindExtraField(std::string_view extra, std::uint16_t id, std::string_view& payload) {
  std::size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    const std::uint16_t fieldId = Get16(extra.data() + pos);
    const std::uint16_t length = Get16(extra.data() + pos + 2);
    if (pos + 4 + length > extra.size()) return false;
    if (fieldId == id) {
      payload = extra.substr(pos + 4, length);
      return true;
    }
    pos += 4 + length;
  }
  return false;
}

bool ReadHarvixExtra(std::string_view extra, std::uint32_t& externalAttributes, std::string& comment) {
  std::string_view payload;
  if (!FindExtraField(extra, kHarvixExtraId, payload) || payload.size() < 4) return false;
  externalAttributes = Get32(payload.data());
  comment.assign(payload.substr(4, kMaxEntryComment));
  return true;
}

namespace {

// The fields a local header and a central record both hold, in the same
// order: flags, method, time, date, CRC and the two sizes (0xFFFFFFFF when
// the zip64 field holds them).
void PutSharedFields(std::string& out, const EntryRecord& entry) {
  Put16(out, entry.flags);
  Put16(out, entry.method);
  Put16(out, entry.stamp.time);
  Put16(out, entry.stamp.date);
  Put32(out, entry.crc);
  Put32(out, Clamp32(entry.packed));
  Put32(out, Clamp32(entry.size));
}

}  // namespace

std::string LocalHeader(const EntryRecord& entry) {
  const std::string extra = HarvixExtraPayload(entry.externalAttributes, entry.comment);
  std::string out;
  out.reserve(kLocalHeaderSize + entry.name.size() + 4 + extra.size());
  Put32(out, kLocalSignature);
  Put16(out, entry.versionNeeded);
  PutSharedFields(out, entry);
  Put16(out, static_cast<std::uint16_t>(entry.name.size()));
  Put16(out, static_cast<std::uint16_t>(4 + extra.size()));
  out += entry.name;
  Put16(out, kHarvixExtraId);
  Put16(out, static_cast<std::uint16_t>(extra.size()));
  out += extra;
  return out;
}

std::string CentralRecord(const EntryRecord& entry) {
  std::string zip64;
  if (entry.size >= kMax32) Put64(zip64, entry.size);
  if (entry.packed >= kMax32) Put64(zip64, entry.packed);
  if (entry.localOffset >= kMax32) Put64(zip64, entry.localOffset);
  std::string extra;
  if (!zip64.empty()) {
    Put16(extra, kZip64ExtraId);
    Put16(extra, static_cast<std::uint16_t>(zip64.size()));
    extra += zip64;
  }
  const std::string comment = entry.comment.substr(0, kMaxEntryComment);
  std::string out;
  out.reserve(kCentralHeaderSize + entry.name.size() + extra.size() + comment.size());
  Put32(out, kCentralSignature);
  Put16(out, entry.versionMadeBy);
  Put16(out, zip64.empty() ? entry.versionNeeded : std::max<std::uint16_t>(entry.versionNeeded, 45));
  PutSharedFields(out, entry);
  Put16(out, static_cast<std::uint16_t>(entry.name.size()));
  Put16(out, static_cast<std::uint16_t>(extra.size()));
  Put16(out, static_cast<std::uint16_t>(comment.size()));
  Put16(out, 0);  // disk
  Put16(out, 0);  // internal attributes
  Put32(out, entry.externalAttributes);
  Put32(out, Clamp32(entry.localOffset));
  out += entry.name;
  out += extra;
  out += comment;
  return out;
}

std::string EndRecords(std::uint64_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                       std::string_view comment) {
  comment = comment.substr(0, kMaxArchiveComment);
  std::string out;
  const bool zip64 = entries >= kMaxEntries16 || directorySize >= kMax32 || directoryOffset >= kMax32;
  if (zip64) {
    Put32(out, kZip64EndSignature);
    Put64(out, 44);  // the record's size after this field
    Put16(out, kMadeByUnix);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries);
    Put64(out, entries);
    Put64(out, directorySize);
    Put64(out, directoryOffset);
    Put32(out, kZip64LocatorSignature);
    Put32(out, 0);
    Put64(out, directoryOffset + directorySize);
    Put32(out, 1);
  }
  const auto entries16 = static_cast<std::uint16_t>(std::min<std::uint64_t>(entries, kMaxEntries16));
  Put32(out, kEndSignature);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, entries16);
  Put16(out, entries16);
  Put32(out, Clamp32(directorySize));
  Put32(out, Clamp32(directoryOffset));
  Put16(out, static_cast<std::uint16_t>(comment.size()));
  out += comment;
  return out;
}

namespace {

// Splits a central directory into records; false when it is not one.
bool ParseCentralDirectory(std::string_view directory, std::uint64_t entries, std::uint64_t directoryOffset,
                           std::vector<CentralView>& records) {
  records.clear();
  records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entries, directory.size() / kCentralHeaderSize)));
  std::size_t pos = 0;
  for (std::uint64_t n = 0; n < entries; ++n) {
    if (directory.size() - pos < kCentralHeaderSize) return false;
    const char* p = directory.data() + pos;
    if (Get32(p) != kCentralSignature) return false;
    const std::size_t nameLength = Get16(p + 28);
    const std::size_t length = kCentralHeaderSize + nameLength + Get16(p + 30) + Get16(p + 32);
    if (directory.size() - pos < length) return false;
    CentralView view;
    view.begin = pos;
    view.length = length;
    view.nameBegin = pos + kCentralHeaderSize;
    view.nameLength = nameLength;
    view.stamp = DosStamp{Get16(p + 14), Get16(p + 12)};
    view.localOffset = Get32(p + 42);
    view.zip64 = Get32(p + 20) == kMax32 || Get32(p + 24) == kMax32 || view.localOffset == kMax32;
    if (!view.zip64 && view.localOffset + kLocalHeaderSize > directoryOffset) return false;
    records.push_back(view);
    pos += length;
  }
  return pos == directory.size();
}

// Checks the end record found at tail[at] (file offset endOffset) and, when
// it describes a central directory that is there, fills the layout.
// Returns 1 when it does, 0 when it does not, -1 on a read error.
int CheckEnd(int fd, std::string_view tail, std::size_t at, std::uint64_t endOffset, ArchiveLayout& layout) {
  // 1 when all bytes were read, 0 when the file ends first, -1 on an error.
  const auto readAt = [fd](void* data, std::size_t size, std::uint64_t offset) {
    const long long n = ReadAt(fd, data, size, offset);
    return n < 0 ? -1 : (n == static_cast<long long>(size) ? 1 : 0);
  };
  const char* p = tail.data() + at;
  const std::size_t commentLength = Get16(p + 20);
  if (at + kEndSize + commentLength > tail.size()) return 0;
  if (Get16(p + 4) != 0 || Get16(p + 6) != 0 || Get16(p + 8) != Get16(p + 10)) return 0;
  std::uint64_t entries = Get16(p + 10);
  std::uint64_t size = Get32(p + 12);
  std::uint64_t offset = Get32(p + 16);
  std::uint64_t limit = endOffset;
  bool zip64 = false;
  if ((entries == kMaxEntries16 || size == kMax32 || offset == kMax32) && endOffset >= kZip64LocatorSize) {
    char locator[kZip64LocatorSize];
    if (const int r = readAt(locator, sizeof locator, endOffset - kZip64LocatorSize); r <= 0) return r;
    if (Get32(locator) == kZip64LocatorSignature) {
      const std::uint64_t recordOffset = Get64(locator + 8);
      char record[56];
      if (recordOffset + sizeof record > endOffset - kZip64LocatorSize) return 0;
      if (const int r = readAt(record, sizeof record, recordOffset); r <= 0) return r;
      if (Get32(record) != kZip64EndSignature) return 0;
      entries = Get64(record + 32);
      size = Get64(record + 40);
      offset = Get64(record + 48);
      limit = recordOffset;
      zip64 = true;
    }
  }
  if (offset > limit || size > limit - offset) return 0;
  if (entries == 0 ? size != 0 : size / kCentralHeaderSize < entries) return 0;
  std::string directory(static_cast<std::size_t>(size), '\0');
  if (const int r = readAt(directory.data(), directory.size(), offset); r <= 0) return r;
  std::vector<CentralView> records;
  if (!ParseCentralDirectory(directory, entries, offset, records)) return 0;
  const bool anyZip64 = zip64 || std::any_of(records.begin(), records.end(), [](const auto& r) { return r.zip64; });
  layout.state = anyZip64 ? ArchiveState::Zip64 : ArchiveState::Intact;
  layout.directoryOffset = offset;
  layout.directorySize = size;
  layout.entries = entries;
  layout.comment.assign(tail.substr(at + kEndSize, commentLength));
  layout.directory = std::move(directory);
  layout.records = std::move(records);
  return 1;
}

}  // namespace

int InspectArchive(int fd, ArchiveLayout& layout) {
  layout = ArchiveLayout{};
  const long long size = FileSize(fd);
  if (size < 0) return errno;
  layout.fileSize = static_cast<std::uint64_t>(size);
  if (size == 0) {
    layout.state = ArchiveState::Empty;
    return 0;
  }
  char head[4] = {};
  if (ReadAt(fd, head, sizeof head, 0) < 0) return errno;
  const bool startsWithEntry = size >= 4 && Get32(head) == kLocalSignature;

  // The end record is the last 22 bytes unless an archive comment follows
  // it; most archives have none, so one small read usually settles it.
  const auto fileSize = static_cast<std::uint64_t>(size);
  std::size_t tailLength = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize));
  for (int round = 0; round < 2; ++round) {
    std::string tail(tailLength, '\0');
    const std::uint64_t tailStart = fileSize - tailLength;
    if (ReadAt(fd, tail.data(), tail.size(), tailStart) != static_cast<long long>(tail.size()))
      return errno ? errno : EIO;
    if (tail.size() >= kEndSize) {
      // Search from the end: bytes left behind an interrupted write can
      // hold an older end record that no longer fits, so each candidate is
      // checked until one describes a real central directory.
      for (std::size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (Get32(tail.data() + at) != kEndSignature) continue;
        const int checked = CheckEnd(fd, tail, at, tailStart + at, layout);
        if (checked < 0) return errno;
        if (checked > 0) {
          layout.fileSize = fileSize;
          return 0;
        }
      }
    }
    const std::size_t wider =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + kMaxArchiveComment));
    if (wider == tailLength) break;
    tailLength = wider;
  }
  layout.state = startsWithEntry ? ArchiveState::Damaged : ArchiveState::NotZip;
  return 0;
}

}  // namespace hxzip
