#include "archive/ziprepair.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <unordered_map>

#include "archive/zipformat.h"
#include "archive/zipio.h"

namespace hxzip {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

struct DataCheck {
  bool complete = false;  // the data ended where it should and nothing failed
  std::uint64_t consumed = 0;
  std::uint64_t produced = 0;
  std::uint32_t crc = 0;
};

// Inflates raw deflate data at offset, reading at most maxInput bytes and
// stopping once more than maxOutput bytes came out (a lying header).
// Returns -1 with errno set on a read error.
int InflateAt(int fd, std::uint64_t offset, std::uint64_t maxInput, std::uint64_t maxOutput, DataCheck& check) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
    errno = ENOMEM;
    return -1;
  }
  std::string in(kChunk, '\0');
  std::string out(kChunk, '\0');
  std::uint64_t read = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  int status = Z_OK;
  int result = 0;
  while (status == Z_OK) {
    if (zs.avail_in == 0) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, maxInput - read));
      if (want == 0) break;
      const long long n = ReadAt(fd, in.data(), want, offset + read);
      if (n < 0) {
        result = -1;
        break;
      }
      if (n == 0) break;
      read += static_cast<std::uint64_t>(n);
      zs.next_in = reinterpret_cast<Bytef*>(in.data());
      zs.avail_in = static_cast<uInt>(n);
    }
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    status = inflate(&zs, Z_NO_FLUSH);
    const std::size_t produced = out.size() - zs.avail_out;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(produced));
    if (status == Z_BUF_ERROR && produced == 0 && zs.avail_in > 0) break;
    if (status == Z_BUF_ERROR) status = Z_OK;
    if (zs.total_out > maxOutput) break;
  }
  check.complete = status == Z_STREAM_END && result == 0;
  check.consumed = zs.total_in;
  check.produced = zs.total_out;
  check.crc = static_cast<std::uint32_t>(crc);
  inflateEnd(&zs);
  return result;
}

// CRC of size stored bytes at offset; -1 with errno set on a read error.
int CrcAt(int fd, std::uint64_t offset, std::uint64_t size, DataCheck& check) {
  std::string buffer(kChunk, '\0');
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t done = 0;
  while (done < size) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
    const long long n = ReadAt(fd, buffer.data(), want, offset + done);
    if (n < 0) return -1;
    if (n == 0) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
    done += static_cast<std::uint64_t>(n);
  }
  check.complete = done == size;
  check.consumed = check.produced = done;
  check.crc = static_cast<std::uint32_t>(crc);
  return 0;
}

std::uint32_t DefaultAttributes(const std::string& name) {
  const bool folder = !name.empty() && name.back() == '/';
  return folder ? ((S_IFDIR | 0755u) << 16) | 0x10u : (S_IFREG | 0644u) << 16;
}

struct Found {
  EntryRecord record;
  std::uint64_t end = 0;  // first byte after the entry (data descriptor included)
  bool superseded = false;
};

// Reads the entry whose local header is at pos. Returns 1 when the entry is
// kept, 0 when it is dropped but the chain goes on at next, 2 when the chain
// ends here, -1 with errno set on a read error.
int ReadEntry(int fd, std::uint64_t fileSize, std::uint64_t pos, Found& found, std::uint64_t& next,
              std::string& reason) {
  char header[kLocalHeaderSize];
  if (fileSize - pos < kLocalHeaderSize) return 2;
  if (!ReadExactAt(fd, header, sizeof header, pos)) return errno ? -1 : 2;
  if (Get32(header) != kLocalSignature) return 2;
  EntryRecord& e = found.record;
  e.versionNeeded = Get16(header + 4);
  e.flags = Get16(header + 6);
  e.method = Get16(header + 8);
  e.stamp = DosStamp{Get16(header + 12), Get16(header + 10)};
  e.crc = Get32(header + 14);
  e.packed = Get32(header + 18);
  e.size = Get32(header + 22);
  const std::size_t nameLength = Get16(header + 26);
  const std::size_t extraLength = Get16(header + 28);
  e.localOffset = pos;
  const std::uint64_t dataStart = pos + kLocalHeaderSize + nameLength + extraLength;
  if (dataStart > fileSize) {
    reason = "incomplete header";
    return 2;
  }
  std::string nameAndExtra(nameLength + extraLength, '\0');
  if (!ReadExactAt(fd, nameAndExtra.data(), nameAndExtra.size(), pos + kLocalHeaderSize)) return -1;
  e.name = nameAndExtra.substr(0, nameLength);
  const std::string_view extra = std::string_view(nameAndExtra).substr(nameLength);
  // Readers refuse an entry whose extra fields do not tile their space, and
  // an entry without a name cannot be listed or extracted: a repair keeps
  // neither.
  const bool extraOk = WellFormedExtra(extra) && !e.name.empty() && e.name.find('\0') == std::string::npos;
  if (!ReadHarvixExtra(extra, e.externalAttributes, e.comment)) e.externalAttributes = DefaultAttributes(e.name);
  bool zip64 = false;
  if (e.packed == kMax32 || e.size == kMax32) {
    std::string_view payload;
    if (!FindExtraField(extra, kZip64ExtraId, payload) || payload.size() < 16) {
      reason = "sizes missing";
      return 2;
    }
    e.size = Get64(payload.data());
    e.packed = Get64(payload.data() + 8);
    zip64 = true;
  }

  DataCheck check;
  if (e.flags & kFlagDescriptor) {
    // The sizes follow the data: only deflated data shows where it ends.
    // An entry that was being written when the process died looks like
    // this (its header is completed last) and ends the chain.
    if (e.method != kMethodDeflate) {
      reason = "incomplete";
      return 2;
    }
    if (InflateAt(fd, dataStart, fileSize - dataStart, ~std::uint64_t{0}, check) < 0) return -1;
    if (!check.complete) {
      reason = "incomplete";
      return 2;
    }
    std::uint64_t at = dataStart + check.consumed;
    char descriptor[24] = {};
    const long long n = ReadAt(fd, descriptor, sizeof descriptor, at);
    if (n < 0) return -1;
    std::size_t skip = n >= 4 && Get32(descriptor) == kDescriptorSignature ? 4 : 0;
    const std::size_t fields = zip64 ? 20 : 12;
    if (static_cast<std::size_t>(n) < skip + fields) {
      reason = "incomplete";
      return 2;
    }
    const char* d = descriptor + skip;
    e.crc = Get32(d);
    e.packed = zip64 ? Get64(d + 4) : Get32(d + 4);
    e.size = zip64 ? Get64(d + 12) : Get32(d + 8);
    if (e.crc != check.crc || e.packed != check.consumed || e.size != check.produced) {
      reason = "incomplete";
      return 2;
    }
    found.end = next = at + skip + fields;
    if (!extraOk) {
      reason = "damaged name or extra field";
      return 0;
    }
    return 1;
  }

  if (e.packed > fileSize - dataStart) {
    reason = "incomplete";
    return 2;
  }
  next = found.end = dataStart + e.packed;
  if (e.flags & kFlagEncrypted) {
    reason = "encrypted, cannot be checked";
    return 0;
  }
  if (e.method == kMethodStore) {
    if (CrcAt(fd, dataStart, e.packed, check) < 0) return -1;
    check.complete = check.complete && e.packed == e.size;
  } else if (e.method == kMethodDeflate) {
    if (InflateAt(fd, dataStart, e.packed, e.size, check) < 0) return -1;
    check.complete = check.complete && check.consumed == e.packed;
  } else {
    reason = "compression method cannot be checked";
    return 0;
  }
  if (!check.complete || check.produced != e.size || check.crc != e.crc) {
    reason = "CRC or size error";
    return 0;
  }
  if (!extraOk) {
    reason = "damaged name or extra field";
    return 0;
  }
  return 1;
}

}  // namespace

int RebuildDirectory(int fd, RepairReport& report) {
  report = RepairReport{};
  const long long size = FileSize(fd);
  if (size < 0) return errno;
  const auto fileSize = static_cast<std::uint64_t>(size);

  std::vector<Found> entries;
  std::unordered_map<std::string, std::size_t> byName;
  std::uint64_t pos = 0;
  std::uint64_t directoryOffset = 0;
  for (;;) {
    Found found;
    std::uint64_t next = pos;
    std::string reason;
    errno = 0;
    const int r = ReadEntry(fd, fileSize, pos, found, next, reason);
    if (r < 0) return errno ? errno : EIO;
    if (r != 1) {
      if (!reason.empty()) report.dropped.emplace_back(found.record.name, reason);
      if (r == 2) break;
      pos = next;
      continue;
    }
    const auto [it, added] = byName.try_emplace(found.record.name, entries.size());
    if (!added) {
      entries[it->second].superseded = true;
      it->second = entries.size();
    }
    directoryOffset = found.end;
    entries.push_back(std::move(found));
    pos = next;
  }

  std::string directory;
  std::uint64_t count = 0;
  for (const Found& f : entries) {
    if (f.superseded) continue;
    directory += CentralRecord(f.record);
    ++count;
  }
  const std::string tail = directory + EndRecords(count, directory.size(), directoryOffset, "");
  if (!WriteAt(fd, tail, directoryOffset)) return errno;
  if (::ftruncate(fd, static_cast<off_t>(directoryOffset + tail.size())) != 0) return errno;
  report.kept = count;
  return 0;
}

}  // namespace hxzip
