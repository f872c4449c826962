#pragma once
// One queue item, made from a downloads-list entry for one use, changed, and
// written back with Store. The caller that asked for it owns it.
#include <cstdint>
#include <string>

class THXTask;

enum ItemState : std::uint8_t {
  isNone = 0,
  isDownloading = 1,
  isUpdating = 2,
  isError = 3,
  isDownloaded = 4,
  isSaved = 5,
  isUpdated = 6,
  isMapping = 7,
  isParsing = 8,
  isMapped = 9,
  isParsed = 10,
  isZipped = 11,
};

enum ItemMark : std::uint8_t { mkUnmarked = 0, mkDownload = 1, mkMap = 2, mkUpdate = 3 };

std::string ItemStateName(int state);

class THXQItem {
 public:
  explicit THXQItem(THXTask* task) : Task(task) {}

  THXTask* Task;
  std::string Url;
  std::string BaseUrl;
  std::string Referrer;
  std::string LastModified;
  std::string LocalFile;
  std::string Type;
  std::string Title;
  std::uint8_t State = isNone;
  std::string StateName;
  std::string Result;
  std::int32_t Level = 0;
  std::uint8_t Mark = mkDownload;
  std::int64_t Size = 0;
  std::int64_t BytesReceived = 0;
  std::int64_t LastReported = 0;
  std::string FromFrame;

  bool IsPage() const;
  const std::string& GetStateName();
  // Changes the state and keeps the task's counters right.
  void SetState(std::uint8_t state);
  const std::string& GetLocalFile();
  // Writes the item back into its task's downloads list: a new URL is
  // appended and counted, a known one gets its data line replaced.
  void Store();
  // The data line of this item, fields ended by the separator.
  std::string DataLine(char separator) const;
};
