#include "tasks/thxqitem.h"

#include <charconv>

#include "tasks/filetypes.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

namespace {

bool Structural(const std::string& text, std::size_t i, char separator) {
  const char c = text[i];
  return c == '\t' || c == '\r' || c == '\n' || (separator == kOldSeparator && IsSeparatorByteAt(text, i));
}

// Appends a field and its separator. The result text is cleaned; other
// fields are not, but none may carry the line's own structure characters.
void AppendField(std::string& line, const std::string& text, char separator) {
  bool clean = true;
  for (char c : text)
    if (c == '\t' || c == '\r' || c == '\n' || c == kOldSeparator) clean = false;
  if (clean) {
    line += text;
  } else {
    for (std::size_t i = 0; i < text.size(); ++i) line += Structural(text, i, separator) ? ' ' : text[i];
  }
  line += separator;
}

void AppendNumber(std::string& line, std::int64_t value, char separator) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  line.append(buf, end);
  line += separator;
}

}  // namespace

std::string ItemStateName(int state) {
  static const char* const names[] = {"None",    "Downloading", "Updating", "Error",  "Downloaded", "Saved",
                                      "Updated", "Mapping",     "Parsing",  "Mapped", "Parsed",     "Zipped"};
  return state >= 0 && state <= 11 ? names[state] : "Unknown";
}

bool THXQItem::IsPage() const { return Type == kPageType; }

const std::string& THXQItem::GetStateName() {
  StateName = ItemStateName(State);
  return StateName;
}

void THXQItem::SetState(std::uint8_t state) {
  THXTask& t = *Task;
  const bool page = IsPage();
  if (State == isError && state == isNone) {
    --(page ? t.PageErrors : t.ResourceErrors);
  } else if (State >= isSaved && state == isNone) {
    --(page ? t.PagesSaved : t.ResourcesSaved);
    t.TotalBytes -= Size;
  } else if (State >= isSaved && state == isError) {
    ++(page ? t.PageErrors : t.ResourceErrors);
    --(page ? t.PagesSaved : t.ResourcesSaved);
  }
  State = state;
}

const std::string& THXQItem::GetLocalFile() {
  LocalFile = LocalFileName(Task->OutputFolder(), URLDirectory(Url), Url, Task->HomeHost());
  return LocalFile;
}

std::string THXQItem::DataLine(char sep) const {
  std::string line;
  line.reserve(48 + Result.size() + Type.size() + Referrer.size() + LastModified.size() + Title.size());
  AppendNumber(line, State, sep);
  AppendField(line, Result.empty() ? Result : CleanText(Result), sep);
  AppendField(line, Type, sep);
  line += sep;
  AppendNumber(line, Level, sep);
  AppendField(line, Referrer, sep);
  AppendField(line, LastModified, sep);
  AppendNumber(line, Mark, sep);
  AppendField(line, Title, sep);
  AppendNumber(line, Size, sep);
  AppendField(line, FromFrame, sep);
  return line;
}

void THXQItem::Store() {
  THXTask& t = *Task;
  // A line break in the key would split the item in two on disk.
  std::string cleaned;
  if (Url.find('\r') != std::string::npos || Url.find('\n') != std::string::npos) {
    cleaned = Url;
    std::erase_if(cleaned, [](char c) { return c == '\r' || c == '\n'; });
  }
  const std::string& url = cleaned.empty() ? Url : cleaned;
  const auto at = t.Downloads.Find(url);
  if (at < 0) {
    t.Downloads.Append(url, DataLine(t.Downloads.Separator));
    ++(IsPage() ? t.TotalPages : t.TotalResources);
  } else {
    t.Downloads.SetData(static_cast<std::size_t>(at) + 1, DataLine(t.Downloads.Separator));
  }
  t.Modified = true;
}
