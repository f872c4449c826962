// The downloads list of a task: loading, saving, the queue walks and the
// starts of a run.
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/language.h"
#include "app/thxapp.h"
#include "tasks/filetypes.h"
#include "tasks/inifile.h"
#include "tasks/thxtask.h"
#include "url/textutil.h"

namespace {

// A field read as a number, or the default when it is empty or not one.
std::int64_t NumberField(std::string_view field, std::int64_t def) {
  std::int64_t v = 0;
  return ParseIniInteger(std::string(field), v) ? v : def;
}

std::string CutAfterLastSlash(const std::string& url) {
  const auto slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(0, slash + 1);
}

constexpr std::size_t kProgressEvery = 50;

}  // namespace

std::unique_ptr<THXQItem> THXTask::GetItem(std::size_t urlLine) {
  if (Downloads.empty()) LoadDownloads();
  if (urlLine + 1 >= Downloads.size()) return nullptr;
  auto item = std::make_unique<THXQItem>(this);
  const std::string& data = Downloads[urlLine + 1];
  const char sep = Downloads.Separator;
  item->Url = Downloads[urlLine];
  item->State = static_cast<std::uint8_t>(NumberField(DataField(data, 0, sep), 0));
  item->Result = DataField(data, 1, sep);
  item->Type = DataField(data, 2, sep);
  item->Level = static_cast<std::int32_t>(NumberField(DataField(data, 4, sep), 0));
  item->Referrer = DataField(data, 5, sep);
  item->LastModified = DataField(data, 6, sep);
  item->Mark = static_cast<std::uint8_t>(NumberField(DataField(data, 7, sep), 1));
  item->Title = DataField(data, 8, sep);
  item->Size = NumberField(DataField(data, 9, sep), 0);
  item->FromFrame = DataField(data, 10, sep);
  return item;
}

void THXTask::LoadDownloads() {
  Downloads.Separator = kTabSeparator;
  const std::string& path = DownloadsFileName();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  UI().ShowStatus("Loading downloads file...");
  Downloads.clear();
  char* buffer = nullptr;
  std::size_t capacity = 0;
  ssize_t n;
  std::size_t lineNo = 0;
  while ((n = getline(&buffer, &capacity, f)) >= 0) {
    std::string line(buffer, static_cast<std::size_t>(n));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1) {
      // Old files separate fields by the byte 0xB6; one inside a UTF-8
      // character (as in "ö") is text, not a separator.
      for (std::size_t i = 0; i < line.size(); ++i)
        if (IsSeparatorByteAt(line, i)) {
          Downloads.Separator = kOldSeparator;
          break;
        }
    }
    Downloads.AppendLine(std::move(line));
    ++lineNo;
  }
  std::free(buffer);
  std::fclose(f);
  // A URL line without its data line keeps the read defaults.
  if (Downloads.size() % 2) Downloads.AppendLine("");
  UI().ShowStatus("");
}

bool THXTask::SaveDownloads() {
  AtomicFileWriter writer(DownloadsFileName());
  for (std::size_t i = 0; i < Downloads.size(); ++i) {
    writer.Write(Downloads[i]);
    writer.Write("\r\n");
  }
  const bool written = writer.Commit();
  SaveToFile();
  if (written) Modified = false;
  SaveTicks = 0;
  return written;
}

void THXTask::SaveDownloadsTick() {
  const std::int32_t interval = HXApp ? HXApp->SaveInterval : 10;
  if (SaveTicks < interval) ++SaveTicks;
  else SaveDownloads();
}

void THXTask::ReportProgress(const std::string& message, std::size_t position) {
  if (OnProgress && !Downloads.empty())
    OnProgress(*this, message, static_cast<int>(position), static_cast<int>(Downloads.size() - 1));
}

void THXTask::BuildUrlIndex() {
  // The index is kept by the list itself; what remains of building it is
  // loading the list and telling the user how far that got.
  if (Downloads.empty()) LoadDownloads();
  const std::size_t items = Downloads.ItemCount();
  for (std::size_t item = 0; item < items; item += kProgressEvery) ReportProgress("Opening task...", item * 2 + 1);
  if (items) ReportProgress("Opening task...", Downloads.size() - 1);
}

void THXTask::AddStartUrls() {
  const std::vector<std::string> starts = Urls.empty() ? std::vector<std::string>{Url} : Urls;
  for (const auto& url : starts) {
    if (Downloads.Find(url) >= 0) continue;
    THXQItem item(this);
    item.Url = url;
    item.BaseUrl = CutAfterLastSlash(url);
    item.Type = FileTypeOfUrl(url);
    item.State = isNone;
    item.Level = 0;
    item.Mark = mkDownload;
    if (RunMethod == rmMap) {
      item.Mark = mkMap;
      RunMethod = rmRestart;
    }
    item.Store();
  }
  SaveDownloads();
}

std::unique_ptr<THXQItem> THXTask::NextItem(std::int32_t& cursor, bool pages) {
  const char sep = Downloads.Separator;
  for (auto i = static_cast<std::size_t>(std::max(cursor, 1)); i < Downloads.size(); i += 2) {
    const std::string& line = Downloads[i];
    const auto state = DataField(line, 0, sep);
    if (state != "0" && state != "1") continue;
    if ((DataField(line, 2, sep) == kPageType) != pages) continue;
    if (NumberField(DataField(line, 7, sep), 1) == 0) continue;
    cursor = static_cast<std::int32_t>(i + 2);
    return GetItem(i - 1);
  }
  cursor = static_cast<std::int32_t>(Downloads.size() | 1);
  return nullptr;
}

std::unique_ptr<THXQItem> THXTask::NextPage() { return NextItem(PageCursor, true); }
std::unique_ptr<THXQItem> THXTask::NextMedia() { return NextItem(MediaCursor, false); }

std::unique_ptr<THXQItem> THXTask::NextPageToParse() {
  const auto line = Downloads.FirstToParse();
  return line < 0 ? nullptr : GetItem(static_cast<std::size_t>(line) - 1);
}

void THXTask::ResetInProgressItems() {
  const char sep = Downloads.Separator;
  for (std::size_t i = 1; i < Downloads.size(); i += 2) {
    const std::string& line = Downloads[i];
    const auto state = NumberField(DataField(line, 0, sep), 0);
    if (state != isDownloading && state != isUpdating) continue;
    const auto field = DataField(line, 0, sep);
    const auto end = field.size() < line.size() ? field.size() : std::string::npos;
    std::string updated(1, '0');
    if (end != std::string::npos) updated.append(line, end, std::string::npos);
    Downloads.SetData(i, std::move(updated));
  }
}

void THXTask::BeginRun() {
  switch (RunMethod) {
    case rmResume:
      UI().ShowStatus(LanguageString(692));
      BeginResume();
      break;
    case rmSmartUpdate: BeginSmartUpdate(); break;
    case rmSmartRecovery: BeginSmartRecovery(); break;
    case rmRestart:
    case rmMap:
      UI().ShowStatus(LanguageString(691));
      ResetRun();
      UI().RefreshTaskCounters(*this);
      BeginRestart();
      break;
    default: break;
  }
  Status = tsDownloading;
  SaveToFile();
}

void THXTask::BeginRestart() {
  LastRun = StartTime = Now();
  ElapsedTime = 0;
  PagesHanded = MediaHanded = 0;
  SaveTicks = 0;
  PageCursor = MediaCursor = 1;
  AddStartUrls();
}

void THXTask::BeginResume() {
  LastRun = Now();
  StartTime = Now() - ElapsedTime;
  PagesHanded = MediaHanded = 0;
  PageCursor = MediaCursor = 1;
  if (Downloads.empty()) BuildUrlIndex();
  RecountItems();
}

void THXTask::RecountItems() {
  std::int32_t items[2] = {}, saved[2] = {}, errors[2] = {};  // [0] resources, [1] pages
  const char sep = Downloads.Separator;
  for (std::size_t i = 1; i < Downloads.size(); i += 2) {
    const std::string_view line = Downloads[i];
    const int page = DataField(line, 2, sep) == kPageType ? 1 : 0;
    int state = isNone;
    const std::string_view field = DataField(line, 0, sep);
    std::from_chars(field.data(), field.data() + field.size(), state);
    ++items[page];
    if (state >= isSaved) ++saved[page];
    else if (state == isError) ++errors[page];
  }
  TotalResources = items[0];
  TotalPages = items[1];
  ResourcesSaved = saved[0];
  PagesSaved = saved[1];
  ResourceErrors = errors[0];
  PageErrors = errors[1];
}

void THXTask::BeginSmartUpdate() {
  if (Downloads.empty()) BuildUrlIndex();
  for (std::size_t i = 0; i + 1 < Downloads.size(); i += 2) {
    auto item = GetItem(i);
    if (item->State > isDownloaded) {
      item->SetState(isNone);
      item->Mark = mkUpdate;
      item->Result.clear();
      item->Store();
    }
    if (i / 2 % kProgressEvery == 0) ReportProgress("Preparing update...", i + 1);
  }
  SaveDownloads();
  BeginResume();
}

void THXTask::BeginSmartRecovery() {
  if (Downloads.empty()) BuildUrlIndex();
  for (std::size_t i = 0; i + 1 < Downloads.size(); i += 2) {
    auto item = GetItem(i);
    if (item->State == isError) {
      item->SetState(isNone);
      item->Size = 0;
      item->Result.clear();
      item->Store();
    }
    if (i / 2 % kProgressEvery == 0) ReportProgress("Preparing recovery...", i + 1);
  }
  SaveDownloads();
  BeginResume();
}
