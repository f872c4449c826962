#include "parse/tthreadparse.h"

#include <chrono>

#include "app/folders.h"
#include "app/frontend.h"
#include "app/mainqueue.h"
#include "app/thxapp.h"
#include "engine/tthreaddownload.h"
#include "parse/thxparser.h"
#include "tasks/filetypes.h"
#include "tasks/thxqitem.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"
#include "url/tbwurl.h"
#include "url/textutil.h"

TThreadParse* ThreadParse = nullptr;

namespace {

struct LinkRow {
  const char* Tag;
  const char* Attr;
};

// The order matters: each scan runs over the text the previous one left.
constexpr LinkRow kLinkTable[] = {
    {"SCRIPT", "SRC"},   {"LINK", "HREF"},      {"FRAME", "SRC"},  {"A", "HREF"},     {"IMG", "SRC"},
    {"INPUT", "SRC"},    {"META", "URL"},       {"BODY", "BACKGROUND"}, {"BGSOUND", "SRC"}, {"AREA", "HREF"},
    {"APPLET", "CODE"},  {"EMBED", "SRC"},      {"PARAM", "NAME=\"MOVIE\" VALUE"},
};

int Pace() { return HXApp ? HXApp->EnginePace : 1000; }

bool Skipped(const std::string& value) {
  return value.empty() || value[0] == '#' || ContainsText(value, "mailto:") || value.find('\'') != std::string::npos;
}

bool Applies(const std::string& marker, bool page) {
  return marker.empty() || marker == "[AL]" || (marker == "[PL]" && page) || (marker == "[ML]" && !page);
}

}  // namespace

std::string FilterMarker(const std::string& entry, std::string* pattern) {
  std::string marker;
  if (entry.find("[AL]") != std::string::npos) marker = "[AL]";
  else if (entry.find("[PL]") != std::string::npos) marker = "[PL]";
  else if (entry.find("[RL]") != std::string::npos || entry.find("[ML]") != std::string::npos) marker = "[ML]";
  if (pattern) *pattern = marker.empty() ? entry : entry.substr(std::min<std::size_t>(4, entry.size()));
  return marker;
}

std::string ReadPageText(const std::string& bytes) {
  const std::string raw = bytes.substr(0, bytes.find('\0'));
  std::string text;
  text.reserve(raw.size() + raw.size() / 32 + 2);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r') {
      text += "\r\n";
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      text += "\r\n";
    } else {
      text += c;
    }
  }
  // Read as lines and joined again: the last line gets its line break too.
  if (!raw.empty() && raw.back() != '\n' && raw.back() != '\r') text += "\r\n";
  return text;
}

TThreadParse::TThreadParse() : thread_([this](std::stop_token stop) { Run(stop); }) {}

TThreadParse::~TThreadParse() {
  thread_.request_stop();
  cv_.notify_all();
}

void TThreadParse::Start(THXTask* task) {
  Task = task;
  paused_.store(false);
  cv_.notify_all();
}

void TThreadParse::Pause() {
  paused_.store(true);
  cv_.notify_all();
}

void TThreadParse::Wake() {
  woken_.store(true);
  cv_.notify_all();
}

void TThreadParse::Run(std::stop_token stop) {
  while (!stop.stop_requested()) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, stop, [&] { return !paused_.load(); });
    }
    if (stop.stop_requested()) break;
    woken_.store(false);
    MainThread().sync([&] {
      // New links may wait for idle slots, or the run may now be complete.
      if (ParseWaiting() && ThreadDownload) ThreadDownload->Dispatch();
    }, stop);
    const int pace = Pace();
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, stop, std::chrono::milliseconds(pace > 0 ? pace : 100),
                 [&] { return paused_.load() || (pace == 0 && woken_.load()); });
  }
}

bool TThreadParse::ParseWaiting() {
  // The run may have ended (or another task become current) since this turn
  // was queued.
  if (paused_.load() || !HXApp || !HXApp->CurrentTask || HXApp->CurrentTask.get() != Task) return false;
  bool any = false;
  while (auto item = Task->NextPageToParse()) {
    ParsePage(std::move(item));
    any = true;
    if (Pace() > 0) break;
  }
  return any;
}

void TThreadParse::ParsePage(std::unique_ptr<THXQItem> item) {
  Item = std::move(item);
  BaseDir.clear();
  const std::string file = Item->GetLocalFile();
  UI().ShowStatus("Loading Page: " + file);
  const auto bytes = ReadWholeFile(file);
  if (!bytes) {
    Item->SetState(isError);
    Item->Store();
    Item.reset();
    return;
  }
  PageText = ReadPageText(*bytes);
  if (!PageText.empty()) {
    RemoveBase();
    const std::string upper = UpperCase(PageText);
    const auto open = upper.find("<TITLE>");
    const auto close = upper.find("</TITLE>");
    if (open != std::string::npos && close != std::string::npos && close > open + 7) {
      const std::string title = CleanText(PageText.substr(open + 7, close - open - 7));
      if (!title.empty()) Item->Title = title;
    }
    if (Item->Level == 0) Task->StartPageTitle = Item->Title;
    pageDir_ = URLDirectory(Item->Url);
    pageLinker_ = std::make_unique<LocalLinker>(pageDir_, Task->HomeHost());
    const THXProfile& rules = Task->Profile;
    const std::string& startDir = Task->StartFolderUrl();
    if (rules.AggressiveParser != 2)
      for (const auto& row : kLinkTable) ParsePass(row.Tag, ">", 0, startDir, row.Attr);
    if (rules.AggressiveParser != 0) {
      ParsePass("'", "'", rules.AggressiveParser, startDir, "");
      ParsePass("\"", "\"", rules.AggressiveParser, startDir, "");
    }
  }
  // An empty page is parsed with nothing in it, so the run goes on.
  SavePage();
}

void TThreadParse::RemoveBase() {
  THXParser base;
  base.Text = PageText;
  base.TagName = "BASE";
  base.TagEnd = ">";
  base.AttrName = "HREF";
  const std::string href = base.NextTagValue();
  if (href.empty() || base.TagStart == 0 || base.TagLimit < base.TagStart) return;
  PageText.erase(base.TagStart - 1, base.TagLimit - base.TagStart + 1);
  BaseDir = URLDirectory(ResolveURL(href, URLDirectory(Item->Url)));
}

void TThreadParse::ParsePass(const std::string& tag, const std::string& close, int mode, const std::string& startDir,
                             const std::string& attr) {
  LinkCount = NewLinkCount = 0;
  THXParser scanner;
  scanner.Text = std::move(PageText);
  scanner.TagName = tag;
  scanner.TagEnd = close;
  scanner.AttrName = attr;
  scanner.Mode = static_cast<std::uint8_t>(mode);
  scanner.Pos = 1;
  scanner.TagClose = 0;
  do {
    const std::string value = scanner.NextLink();
    if (!Skipped(value)) HandleLink(scanner, value, tag, attr, startDir);
  } while (scanner.TagClose != 0 && scanner.Pos != 0);
  PageText = std::move(scanner.Text);
  if (LinkCount > 0)
    UI().ShowStatus("Parsing... Links: " + std::to_string(LinkCount) + "  New Links: " + std::to_string(NewLinkCount));
}

void TThreadParse::HandleLink(THXParser& scanner, const std::string& value, const std::string& tag,
                              const std::string& attr, const std::string& startDir) {
  THXQItem link(Task);
  link.Title = scanner.LinkText();
  link.Referrer = Item->Url;
  link.FromFrame = tag == "FRAME" ? "Y" : "";
  link.Level = Item->Level + 1;
  link.Mark = Item->Mark;
  link.State = isNone;
  std::string base = BaseDir.empty() || IsAbsoluteURL(value) ? URLDirectory(Item->Url) : BaseDir;
  // The folder a converted value is relative to: the page's own, or for an
  // applet's CODE the folder its CODEBASE names, which the saved page keeps.
  std::string convertFrom = URLDirectory(Item->Url);
  if (tag == "APPLET") {
    THXParser codebase;
    codebase.Text = scanner.Text;
    codebase.TagName = "APPLET";
    codebase.TagEnd = ">";
    codebase.AttrName = "CODEBASE";
    codebase.Pos = scanner.TagStart;
    const std::string cb = codebase.NextTagValue();
    if (!cb.empty() && codebase.TagStart == scanner.TagStart) {
      base = ResolveURL(cb, base);
      convertFrom = ResolveURL(cb, convertFrom);
    }
  }
  const std::string written = Trim(BackslashesToSlashes(value));
  link.Url = ResolveLink(written, base);
  link.BaseUrl = base;
  link.Type = FileTypeOfUrl(link.Url);
  const bool page = link.Type == kPageType;
  if (!page && link.Mark == mkMap) link.Mark = mkUnmarked;
  // A page reached through a source (a frame, a refresh) belongs to the page
  // that holds it, not one level further down.
  const bool source = attr == "SRC" || attr == "URL";
  const int level = page && source ? Item->Level : link.Level;
  const THXProfile& rules = Task->Profile;
  if (!link.Url.empty() && AcceptLink(link.Url, startDir, level, link.Type)) {
    if (rules.ConvertFollowedLinks == 1) ConvertLink(scanner, link.Url, convertFrom);
    link.Url = StripAnchor(link.Url);
    if (Task->Downloads.Find(link.Url) < 0) {
      link.Store();
      ++NewLinkCount;
    }
    ++LinkCount;
    return;
  }
  if (link.Url.empty()) return;
  const std::string siteRoot = URLUp(startDir, 0);
  if ((rules.ConvertUnfollowedLinks == 1 && link.Url.find(siteRoot) != std::string::npos) ||
      rules.ConvertUnfollowedLinks == 2)
    ConvertLink(scanner, link.Url, convertFrom);
}

void TThreadParse::ConvertLink(THXParser& scanner, const std::string& url, const std::string& from) {
  const auto hash = url.find('#');
  const std::string fragment = hash == std::string::npos ? std::string() : url.substr(hash);
  std::string target = StripAnchor(url);
  // A URL known in other letter case is that item, saved under the name of
  // its first spelling; file names on Linux tell letter case apart.
  if (const auto known = Task->Downloads.Find(target); known >= 0)
    target = Task->Downloads[static_cast<std::size_t>(known)];
  const std::string local =
      (from == pageDir_ ? pageLinker_->Link(target) : LocalLinker(from, Task->HomeHost()).Link(target)) + fragment;
  if (local != scanner.LastValue) scanner.ReplaceValue(local);
}

bool TThreadParse::AcceptLink(const std::string& url, const std::string& startDir, int level,
                              const std::string& type) const {
  const THXProfile& rules = Task->Profile;
  const bool page = type == kPageType;
  const std::string protocol = LowerCase(URLProtocol(url));
  if (protocol != "http://" && protocol != "https://") return false;
  if (!rules.FileTypes.empty()) {
    const std::string ext = URLExtension(url);
    if (!ext.empty()) {
      bool listed = false;
      for (const auto& t : rules.FileTypes) listed |= SameText(t, ext);
      if (!listed) return false;
      // A selected script or style sheet is fetched wherever it lies.
      if (ext == ".js" || ext == ".css") return true;
    }
  }
  if (page && rules.Depth >= 0 && rules.Depth < level) return false;
  std::string pattern;
  for (const auto& entry : rules.UrlFiltersExclude) {
    const std::string marker = FilterMarker(entry, &pattern);
    if (Applies(marker, page) && ContainsText(url, pattern)) return false;
  }
  if (!rules.UrlFiltersInclude.empty()) {
    bool restricts = false;
    for (const auto& entry : rules.UrlFiltersInclude) {
      const std::string marker = FilterMarker(entry);
      restricts |= marker == "[AL]" || marker == (page ? "[PL]" : "[ML]");
    }
    if (restricts) {
      bool matched = false;
      for (const auto& entry : rules.UrlFiltersInclude) {
        const std::string marker = FilterMarker(entry, &pattern);
        matched |= Applies(marker, page) && ContainsText(url, pattern);
      }
      if (!matched) return false;
    }
  }
  switch (page ? rules.PageLocation : rules.ResourceLocation) {
    case 0: return url.rfind(startDir, 0) == 0;
    case 1: return url.find(URLUp(startDir, 0)) != std::string::npos;
    case 2: return true;
    default: return false;
  }
}

void TThreadParse::SavePage() {
  const std::string file = Item->GetLocalFile();
  UI().ShowStatus("Saving Changes: " + file);
  // Pages are saved by the thousand and can be fetched again: no fsync each.
  if (!WriteFileAtomic(file, PageText, false)) {
    // Left Saved, the page would be taken up again every second.
    UI().ShowStatus("Cannot save " + file);
    Item->SetState(isError);
    Item->Store();
  } else {
    Item->SetState(isParsed);
    Item->Store();
    if (!Task->IntranetMode) {
      Task->ZipQueue.emplace_back(file, std::move(Item));
    }
  }
  Item.reset();
  PageText.clear();
  UI().ShowStatus("");
}
