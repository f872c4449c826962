#pragma once
// The bytes of a ZIP archive as the archive code reads and writes them
// itself: local headers, central directory records, the end record, DOS
// times, and the check that tells an intact archive from a damaged one.
//
// Harvix's private extra field, ID 0x4878 ("Hx"), travels in the local
// header of every entry Harvix writes. Its payload is the entry's external
// attributes (4 bytes, little-endian) followed by the entry comment (0 to
// 255 bytes). The central directory holds both too; the copy in the local
// header lets a repair rebuild a lost central directory with comments and
// file modes intact. Other programs skip extra fields they do not know.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace hxzip {

inline constexpr std::uint32_t kLocalSignature = 0x04034b50;
inline constexpr std::uint32_t kCentralSignature = 0x02014b50;
inline constexpr std::uint32_t kEndSignature = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
inline constexpr std::uint32_t kDescriptorSignature = 0x08074b50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndSize = 22;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kMaxArchiveComment = 0xFFFF;

inline constexpr std::uint16_t kHarvixExtraId = 0x4878;
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

inline constexpr std::uint16_t kMethodStore = 0;
inline constexpr std::uint16_t kMethodDeflate = 8;
inline constexpr std::uint16_t kMadeByUnix = (3 << 8) | 20;
inline constexpr std::uint16_t kVersionNeeded = 20;

// What fits the 16- and 32-bit fields of an archive without Zip64 records.
inline constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
inline constexpr std::uint64_t kMaxEntries16 = 0xFFFFu;

inline constexpr std::size_t kMaxEntryComment = 255;

std::uint16_t Get16(const char* p);
std::uint32_t Get32(const char* p);
std::uint64_t Get64(const char* p);
void Put16(std::string& out, std::uint16_t v);
void Put32(std::string& out, std::uint32_t v);

bool IsAscii(std::string_view text);
bool IsValidUtf8(std::string_view text);
// At most kMaxEntryComment bytes, never ending in half a UTF-8 character.
std::string CutComment(std::string comment);
// The UTF-8 flag (bit 11) is set only for text that needs it and is UTF-8.
std::uint16_t NameFlags(std::string_view name, std::string_view comment);

struct DosStamp {
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  // One number that orders stamps in time: date in the high half.
  std::uint32_t Ordered() const { return (std::uint32_t{date} << 16) | time; }
};
// Local time, seconds cut to the even second below; before 1980 gives
// 1980-01-01 00:00.
DosStamp ToDos(std::time_t t);
std::time_t FromDos(DosStamp stamp);

// One entry, as written to its local header and central record.
struct EntryRecord {
  std::string name;
  std::string comment;
  std::uint16_t versionMadeBy = kMadeByUnix;
  std::uint16_t versionNeeded = kVersionNeeded;
  std::uint16_t flags = 0;
  std::uint16_t method = kMethodStore;
  DosStamp stamp;
  std::uint32_t crc = 0;
  std::uint64_t packed = 0;
  std::uint64_t size = 0;
  std::uint32_t externalAttributes = 0;
  std::uint64_t localOffset = 0;
};

std::string HarvixExtraPayload(std::uint32_t externalAttributes, std::string_view comment);
// Finds the Hx field among extra fields; false when absent or malformed.
bool ReadHarvixExtra(std::string_view extra, std::uint32_t& externalAttributes, std::string& comment);
// True when the extra fields exactly fill their space (trailing zero bytes
// of padding allowed), as readers require.
bool WellFormedExtra(std::string_view extra);
// Finds one extra field's payload by ID.
bool FindExtraField(std::string_view extra, std::uint16_t id, std::string_view& payload);

// The local header with the Hx field; sizes and offsets must fit 32 bits.
std::string LocalHeader(const EntryRecord& entry);
// The central record; writes a Zip64 extra field for values that do not
// fit 32 bits.
std::string CentralRecord(const EntryRecord& entry);
// The end record, preceded by Zip64 end record and locator when the counts
// or offsets need them.
std::string EndRecords(std::uint64_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                       std::string_view comment);

// One record of a central directory, as positions in the directory's bytes
// (the bytes may move, the positions stay right).
struct CentralView {
  std::size_t begin = 0;
  std::size_t length = 0;
  std::size_t nameBegin = 0;
  std::size_t nameLength = 0;
  DosStamp stamp;
  std::uint64_t localOffset = 0;
  bool zip64 = false;  // some size or the offset lives in a Zip64 field
  std::string_view Name(std::string_view directory) const { return directory.substr(nameBegin, nameLength); }
  std::string_view Bytes(std::string_view directory) const { return directory.substr(begin, length); }
};

enum class ArchiveState {
  Empty,    // a file of 0 bytes: a new archive
  Intact,   // a valid end record and central directory that the in-place writer can extend
  Zip64,    // valid, but with Zip64 records: only libzip extends it
  Damaged,  // starts with a local header, its end is missing or points to no central directory
  NotZip,   // anything else
};

struct ArchiveLayout {
  ArchiveState state = ArchiveState::NotZip;
  std::uint64_t fileSize = 0;
  std::uint64_t directoryOffset = 0;
  std::uint64_t directorySize = 0;
  std::uint64_t entries = 0;
  std::string comment;
  // For Intact archives: the central directory and its records.
  std::string directory;
  std::vector<CentralView> records;
};

// Reads the end of the archive behind fd and checks its central directory.
// Returns 0, or an errno when the file cannot be read.
int InspectArchive(int fd, ArchiveLayout& layout);

}  // namespace hxzip
