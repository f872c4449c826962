#pragma once
// A task's downloads list: two text lines per item, the URL line (the key)
// and the data line of separator-ended fields, in the order the items were
// added. Besides the lines it keeps a case-insensitive hash index of the URL
// lines and the ordered set of saved pages waiting to be parsed, so look-ups
// and the parse queue stay fast at a million items. All changes go through
// Append and SetData, which keep both up to date. Main thread only.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kTabSeparator = '\t';
inline constexpr char kOldSeparator = '\xB6';

// Field n of a data line (0-based), or empty when the line has fewer fields.
std::string_view DataField(std::string_view line, int n, char separator);

class TDownloadList {
 public:
  // TAB for new lists; the byte 0xB6 for lists loaded from old files.
  char Separator = kTabSeparator;

  std::size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  void clear();
  void reserve(std::size_t lines) { lines_.reserve(lines); }

  // Adds an item; returns the index of its URL line.
  std::size_t Append(std::string url, std::string data);
  // Replaces the data line at the given index (always odd).
  void SetData(std::size_t dataLine, std::string data);
  // Adds a line as read from a file, keeping the pairs as they come.
  void AppendLine(std::string line);

  // Index of the URL line of the item with this URL ignoring letter case,
  // or -1. The first of several items that differ only in case wins.
  std::ptrdiff_t Find(std::string_view url) const;
  std::size_t ItemCount() const { return lines_.size() / 2; }
  // The first data line, in list order, of a saved page; -1 when none.
  std::ptrdiff_t FirstToParse() const;

 private:
  bool WaitsForParse(std::size_t dataLine) const;
  void TrackParse(std::size_t dataLine);
  void IndexUrl(std::size_t urlLine);
  void Grow();

  std::vector<std::string> lines_;
  // Open addressing; a slot holds the URL's 32-bit hash (high half) and its
  // item number + 1 (low half; 0 marks a free slot). The stored hash spares
  // most string compares and all re-hashing when the table grows.
  std::vector<std::uint64_t> slots_;
  std::size_t indexed_ = 0;
  std::set<std::uint32_t> toParse_;
};

std::uint64_t CaseInsensitiveHash(std::string_view text);
