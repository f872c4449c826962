#include "tasks/downloadlist.h"

#include "url/textutil.h"

#include <cstring>

namespace {

std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

}  // namespace

std::uint64_t CaseInsensitiveHash(std::string_view text) {
  // Eight lower-cased bytes at a time, each word mixed in by a multiply;
  // the final mix makes the low bits, the slot number, depend on every
  // byte. Every URL of every page is looked up here.
  std::uint64_t h = 1469598103934665603ull ^ text.size();
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    h = (h ^ LowerAsciiWord(word)) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  if (i < text.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, text.size() - i);
    h = (h ^ LowerAsciiWord(word)) * 0x9e3779b97f4a7c15ull;
  }
  return Mix(h);
}

namespace {

// The next separator at or after start. In old lists the separator byte also
// occurs inside UTF-8 characters such as "ö"; those do not count.
std::size_t NextSeparator(std::string_view line, std::size_t start, char separator) {
  for (auto at = line.find(separator, start); at != std::string_view::npos; at = line.find(separator, at + 1))
    if (separator != kOldSeparator || IsSeparatorByteAt(line, at)) return at;
  return std::string_view::npos;
}

}  // namespace

std::string_view DataField(std::string_view line, int n, char separator) {
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const auto sep = NextSeparator(line, start, separator);
    if (sep == std::string_view::npos) return {};
    start = sep + 1;
  }
  const auto end = NextSeparator(line, start, separator);
  if (end == std::string_view::npos) return line.substr(start);
  return line.substr(start, end - start);
}

void TDownloadList::clear() {
  lines_.clear();
  slots_.clear();
  indexed_ = 0;
  toParse_.clear();
}

void TDownloadList::Grow() {
  std::vector<std::uint64_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint64_t entry : old) {
    if (entry == 0) continue;
    std::size_t slot = (entry >> 32) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = entry;
  }
}

void TDownloadList::IndexUrl(std::size_t urlLine) {
  if ((indexed_ + 1) * 2 > slots_.size()) Grow();
  const std::size_t mask = slots_.size() - 1;
  const auto hash = static_cast<std::uint32_t>(CaseInsensitiveHash(lines_[urlLine]));
  std::size_t slot = hash & mask;
  while (slots_[slot] != 0) slot = (slot + 1) & mask;
  slots_[slot] = (static_cast<std::uint64_t>(hash) << 32) | (urlLine / 2 + 1);
  ++indexed_;
}

std::ptrdiff_t TDownloadList::Find(std::string_view url) const {
  if (slots_.empty()) return -1;
  const std::size_t mask = slots_.size() - 1;
  const auto hash = static_cast<std::uint32_t>(CaseInsensitiveHash(url));
  // A loaded file may hold URLs that differ only in case; the first in list
  // order is the item, wherever the probing meets it.
  std::ptrdiff_t found = -1;
  for (std::size_t slot = hash & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    if (static_cast<std::uint32_t>(slots_[slot] >> 32) != hash) continue;
    const auto line = static_cast<std::ptrdiff_t>(((slots_[slot] & 0xffffffffu) - 1) * 2);
    if ((found < 0 || line < found) && SameText(lines_[static_cast<std::size_t>(line)], url)) found = line;
  }
  return found;
}

bool TDownloadList::WaitsForParse(std::size_t dataLine) const {
  const std::string& line = lines_[dataLine];
  return !line.empty() && line[0] == '5' && DataField(line, 2, Separator) == "HTML";
}

void TDownloadList::TrackParse(std::size_t dataLine) {
  if (WaitsForParse(dataLine)) toParse_.insert(static_cast<std::uint32_t>(dataLine));
  else toParse_.erase(static_cast<std::uint32_t>(dataLine));
}

std::size_t TDownloadList::Append(std::string url, std::string data) {
  if (lines_.size() % 2) lines_.emplace_back();  // a dangling URL line gets its empty data line
  lines_.push_back(std::move(url));
  lines_.push_back(std::move(data));
  const std::size_t urlLine = lines_.size() - 2;
  IndexUrl(urlLine);
  TrackParse(urlLine + 1);
  return urlLine;
}

void TDownloadList::AppendLine(std::string line) {
  lines_.push_back(std::move(line));
  const std::size_t at = lines_.size() - 1;
  if (at % 2 == 0) {
    IndexUrl(at);
  } else {
    TrackParse(at);
  }
}

void TDownloadList::SetData(std::size_t dataLine, std::string data) {
  lines_[dataLine] = std::move(data);
  TrackParse(dataLine);
}

std::ptrdiff_t TDownloadList::FirstToParse() const {
  return toParse_.empty() ? -1 : static_cast<std::ptrdiff_t>(*toParse_.begin());
}
