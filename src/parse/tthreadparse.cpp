#include "parse/tthreadparse.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <tuple>

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

int Pace() { return CurrentEnginePace(); }

bool Skipped(std::string_view value) {
  return value.empty() || value[0] == '#' || value.find('\'') != std::string::npos ||
         (value.find(':') != std::string::npos && ContainsText(value, "mailto:"));
}

bool Applies(const std::string& marker, bool page) {
  return marker.empty() || marker == "[AL]" || (marker == "[PL]" && page) || (marker == "[ML]" && !page);
}

// The tag names of the link table, in its order, as TagNameIndex takes them.
constexpr auto kRowTags = [] {
  std::array<std::string_view, std::size(kLinkTable)> tags{};
  for (std::size_t i = 0; i < tags.size(); ++i) tags[i] = kLinkTable[i].Tag;
  return tags;
}();

constexpr TagStartSet kRowStarts(kRowTags);

// A loop, not find_first_of, which searches its set once per character.
bool HasMarkup(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c == '<' || c == '>'; });
}

// True when no tag but the one at tagStart encloses position at: the only
// "<" between the last ">" before it and it is the tag's own. A conversion
// there can then change no other tag's name, attributes or link text.
bool OnlyInItsTag(std::string_view text, std::size_t tagStart, std::size_t at) {
  for (std::size_t p = at - 1; p >= 1; --p) {
    const char c = text[p - 1];
    if (c == '>') return true;
    if (c == '<' && p != tagStart) return false;
  }
  return true;
}

bool EditBefore(const TThreadParse::Edit& a, const TThreadParse::Edit& b) { return a.At < b.At; }

// The text with the conversions written in; they never overlap.
std::string Applied(std::string_view text, std::vector<TThreadParse::Edit>& edits, std::string_view pending) {
  if (!std::is_sorted(edits.begin(), edits.end(), EditBefore)) std::sort(edits.begin(), edits.end(), EditBefore);
  std::size_t size = text.size();
  for (const auto& e : edits) size = size - e.Size + e.Length;
  std::string out;
  out.reserve(size);
  std::size_t from = 0;
  for (const auto& e : edits) {
    out.append(text.substr(from, e.At - 1 - from)).append(pending.substr(e.From, e.Length));
    from = e.At - 1 + e.Size;
  }
  out.append(text.substr(from));
  return out;
}

// Where position p (from 1, after every edit) lies once they are written in.
std::size_t Moved(std::size_t p, const std::vector<TThreadParse::Edit>& edits) {
  if (p == 0) return 0;
  std::ptrdiff_t moved = static_cast<std::ptrdiff_t>(p);
  for (const auto& e : edits)
    if (e.At < p) moved += static_cast<std::ptrdiff_t>(e.Length) - static_cast<std::ptrdiff_t>(e.Size);
  return static_cast<std::size_t>(moved);
}

// Position (0-based) of the first match of an upper-case pattern starting
// with "<", ignoring case.
std::size_t FindTagText(std::string_view text, std::string_view pattern) {
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1))
    if (SameText(text.substr(at, pattern.size()), pattern)) return at;
  return std::string_view::npos;
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
  const std::string_view raw = std::string_view(bytes).substr(0, bytes.find('\0'));
  std::string text;
  text.reserve(raw.size() + raw.size() / 32 + 2);
  // The next CR and the next LF are each searched for only once passed, so
  // a page of LF lines costs one search for CR in all.
  const std::size_t n = raw.size();
  const auto next = [&](char c, std::size_t at) { return std::min(raw.find(c, at), n); };
  std::size_t from = 0, cr = next('\r', 0), lf = next('\n', 0);
  for (std::size_t i = std::min(cr, lf); i < n; i = std::min(cr, lf)) {
    text.append(raw.substr(from, i - from)).append("\r\n");
    from = i + 1;
    if (raw[i] == '\r' && from < n && raw[from] == '\n') ++from;
    if (cr < from) cr = next('\r', from);
    if (lf < from) lf = next('\n', from);
  }
  text.append(raw.substr(from));
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
  const auto bytes = ReadWholeFile(file, &pageStatus_);
  if (!bytes) {
    Item->SetState(isError);
    Item->Store();
    Item.reset();
    return;
  }
  PageText = ReadPageText(*bytes);
  indexFresh_ = false;
  if (!PageText.empty()) {
    RemoveBase();
    const auto open = FindTagText(PageText, "<TITLE>");
    const auto close = FindTagText(PageText, "</TITLE>");
    if (open != std::string::npos && close != std::string::npos && close > open + 7) {
      const std::string title = CleanText(std::string_view(PageText).substr(open + 7, close - open - 7));
      if (!title.empty()) Item->Title = title;
    }
    if (Item->Level == 0) Task->StartPageTitle = Item->Title;
    pageDir_ = URLDirectory(Item->Url);
    pageLinker_ = std::make_unique<LocalLinker>(pageDir_, Task->HomeHost());
    factsUsed_ = 0;
    std::fill(factSlots_.begin(), factSlots_.end(), 0);
    const THXProfile& rules = Task->Profile;
    const std::string& startDir = Task->StartFolderUrl();
    siteRoot_ = URLUp(startDir, 0);
    if (rules.AggressiveParser != 2) {
      if (RowByRow)
        for (const auto& row : kLinkTable) ParsePass(row.Tag, ">", 0, startDir, row.Attr);
      else
        ParseLinkTable(startDir);
    }
    if (rules.AggressiveParser != 0) {
      for (const char* quote : {"'", "\""}) {
        if (RowByRow)
          ParsePass(quote, quote, rules.AggressiveParser, startDir, "");
        else
          ParseQuoted(quote, rules.AggressiveParser, startDir);
      }
    }
  }
  // An empty page is parsed with nothing in it, so the run goes on.
  SavePage();
}

void TThreadParse::RemoveBase() {
  // Only the first BASE tag counts; finding it by name first spares a copy
  // of the page for the (usual) page without one.
  static constexpr std::string_view kBase[] = {"BASE"};
  static constexpr TagStartSet kBaseStarts(kBase);
  const CharIndex& index = PageIndex();
  std::size_t at = 0;
  for (std::size_t lt = index.Next('<', 0); lt != CharIndex::npos && at == 0; lt = index.Next('<', lt + 1))
    if (kBaseStarts.MayMatch(PageText, lt + 1) && TagNameIndex(PageText, lt + 1, kBase) == 0) at = lt + 1;
  if (at == 0) return;
  indexFresh_ = false;
  THXParser base;
  base.Text = std::move(PageText);
  base.TagName = "BASE";
  base.TagEnd = ">";
  base.AttrName = "HREF";
  base.Pos = at;
  const std::string href = base.NextTagValue();
  PageText = std::move(base.Text);
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
  do ScanStep(scanner, tag, attr, startDir);
  while (scanner.TagClose != 0 && scanner.Pos != 0);
  PageText = std::move(scanner.Text);
  indexFresh_ = false;
  ShowLinkCounts();
}

void TThreadParse::ScanStep(THXParser& scanner, const std::string& tag, const std::string& attr,
                            const std::string& startDir) {
  const std::string value = scanner.NextLink();
  if (Skipped(value)) return;
  std::string codebase;
  if (tag == "APPLET") {
    THXParser lookup;
    lookup.Text = scanner.Text;
    lookup.TagName = "APPLET";
    lookup.TagEnd = ">";
    lookup.AttrName = "CODEBASE";
    lookup.Pos = scanner.TagStart;
    codebase = lookup.NextTagValue();
    if (lookup.TagStart != scanner.TagStart) codebase.clear();
  }
  // Taken before the value is rewritten, which may move the tag's end.
  const std::string title = scanner.LinkText();
  const std::string* local = HandleLink(value, [&] { return title; }, codebase, tag, attr, startDir);
  if (local) scanner.ReplaceValue(*local);
}

// Every row's tags are found in one walk over the page as it was before the
// first conversion, then handled row by row in the order of the table, as
// the scans one row at a time would meet them. Those scans read the page
// with the earlier rows' conversions written in; a conversion with no "<"
// or ">" in it, inside no tag but its own, changes nothing any other row
// reads (tag names, attributes within a tag, link texts), so the walk's
// finds stand. Any other conversion is written in at once and the rest of
// the table scanned row by row over the rewritten page.
void TThreadParse::ParseLinkTable(const std::string& startDir) {
  struct Find {
    std::size_t TagStart, TagClose;
    TagValue Value;
  };
  constexpr std::size_t kRows = std::size(kLinkTable);
  std::array<std::vector<Find>, kRows> finds;
  std::array<std::size_t, kRows> nextFrom{};
  std::array<bool, kRows> ended{};
  const std::string_view text = PageText;
  const CharIndex& index = PageIndex();
  // A row's scan goes on after the ">" of each tag it took, so a tag
  // inside one it took is not its own; one without ">" ends it.
  std::size_t close = 0;
  for (std::size_t lt = index.Next('<', 0); lt != CharIndex::npos; lt = index.Next('<', lt + 1)) {
    const std::size_t at = lt + 1;
    if (!kRowStarts.MayMatch(text, at)) continue;
    const int row = TagNameIndex(text, at, kRowTags);
    if (row < 0 || ended[row] || at < nextFrom[row]) continue;
    if (close < at && close != std::string_view::npos) {
      const std::size_t gt = index.Next('>', lt);
      close = gt == std::string_view::npos ? gt : gt + 1;
    }
    if (close == std::string_view::npos) {
      ended[row] = true;
      continue;
    }
    nextFrom[row] = close + 1;
    const TagValue value = TagValueAt(text, at, close, kLinkTable[row].Attr);
    if (!value.Value.empty()) finds[row].push_back({at, close, value});
  }

  ClearEdits();
  for (std::size_t row = 0; row < kRows; ++row) {
    LinkCount = NewLinkCount = 0;
    // Each row's edits come in text order: merged row by row, they need no
    // sort when the page is written.
    const auto rowStart = static_cast<std::ptrdiff_t>(edits_.size());
    const std::string tag = kLinkTable[row].Tag, attr = kLinkTable[row].Attr;
    const bool applet = tag == "APPLET";
    for (const Find& find : finds[row]) {
      const std::string_view value = find.Value.Value;
      if (Skipped(value)) continue;
      std::string_view codebase;
      if (applet) codebase = TagValueAt(text, find.TagStart, find.TagClose, "CODEBASE").Value;
      const std::string* local =
          HandleLink(value, [&] { return TagLinkText(text, find.TagStart); }, codebase, tag, attr, startDir);
      if (!local) continue;
      AddEdit(find.Value.ValueStart, value.size(), *local);
      if (!HasMarkup(value) && !HasMarkup(*local) && OnlyInItsTag(text, find.TagStart, find.Value.ValueStart))
        continue;
      THXParser scanner;
      scanner.Text = Applied(text, edits_, editText_);
      scanner.TagName = tag;
      scanner.TagEnd = ">";
      scanner.AttrName = attr;
      scanner.Pos = 1;
      scanner.TagClose = Moved(find.TagClose, edits_);
      ClearEdits();
      while (scanner.TagClose != 0 && scanner.Pos != 0) ScanStep(scanner, tag, attr, startDir);
      PageText = std::move(scanner.Text);
      indexFresh_ = false;
      ShowLinkCounts();
      for (std::size_t later = row + 1; later < kRows; ++later)
        ParsePass(kLinkTable[later].Tag, ">", 0, startDir, kLinkTable[later].Attr);
      return;
    }
    std::inplace_merge(edits_.begin(), edits_.begin() + rowStart, edits_.end(), EditBefore);
    ShowLinkCounts();
  }
  if (!edits_.empty()) {
    PageText = Applied(PageText, edits_, editText_);
    indexFresh_ = false;
  }
  ClearEdits();
}

// The same walk as ParsePass, the conversions written in at the end. A scan
// for quoted strings reads back only to test for a SCRIPT element ("<script",
// its ">", "/script" and the "<" before it) and, for the link text, the text
// before the first tag; a conversion without "<", ">" or "/script" behind
// that first tag leaves all of it as it was.
void TThreadParse::ParseQuoted(const std::string& quote, int mode, const std::string& startDir) {
  LinkCount = NewLinkCount = 0;
  THXParser scanner;
  scanner.Index = &PageIndex();
  scanner.Text = std::move(PageText);
  scanner.TagName = quote;
  scanner.TagEnd = quote;
  scanner.Mode = static_cast<std::uint8_t>(mode);
  scanner.Pos = 1;
  scanner.TagClose = 0;
  const std::size_t firstTag = scanner.Index->Next('<', 0);
  std::optional<std::string> title;
  const auto linkText = [&] {
    if (!title) title = scanner.LinkText();
    return *title;
  };
  ClearEdits();
  do {
    const std::string value = scanner.NextLink();
    if (Skipped(value)) continue;
    const std::string* local = HandleLink(value, linkText, {}, quote, "", startDir);
    if (!local) continue;
    AddEdit(scanner.ValueStart, value.size(), *local);
    if (!HasMarkup(*local) && !ContainsText(value, "/script") && !ContainsText(*local, "/script") &&
        (firstTag == std::string::npos || scanner.ValueStart > firstTag + 1))
      continue;
    scanner.Text = Applied(scanner.Text, edits_, editText_);
    scanner.TagClose = Moved(scanner.TagClose, edits_);
    scanner.TextReplaced();
    ClearEdits();
    while (scanner.TagClose != 0 && scanner.Pos != 0) ScanStep(scanner, quote, "", startDir);
    break;
  } while (scanner.TagClose != 0 && scanner.Pos != 0);
  // The index stays fresh only for the text it was made of.
  indexFresh_ = edits_.empty() && scanner.Index != nullptr;
  PageText = edits_.empty() ? std::move(scanner.Text) : Applied(scanner.Text, edits_, editText_);
  ClearEdits();
  ShowLinkCounts();
}

const CharIndex& TThreadParse::PageIndex() {
  if (!indexFresh_) {
    index_.Build(PageText);
    indexFresh_ = true;
  }
  return index_;
}

void TThreadParse::AddEdit(std::size_t at, std::size_t size, std::string_view text) {
  edits_.push_back({at, size, editText_.size(), text.size()});
  editText_.append(text);
}

void TThreadParse::ClearEdits() {
  edits_.clear();
  editText_.clear();
}

void TThreadParse::ShowLinkCounts() {
  if (LinkCount > 0)
    UI().ShowStatus("Parsing... Links: " + std::to_string(LinkCount) + "  New Links: " + std::to_string(NewLinkCount));
}

std::pair<TThreadParse::LinkFacts*, bool> TThreadParse::FactsFor(std::string_view value) {
  const std::size_t hash = std::hash<std::string_view>{}(value);
  if (factSlots_.size() < 2 * (factsUsed_ + 1)) {
    factSlots_.assign(std::max<std::size_t>(64, 2 * factSlots_.size()), 0);
    for (std::size_t i = 0; i < factsUsed_; ++i) {
      std::size_t slot = facts_[i].Hash & (factSlots_.size() - 1);
      while (factSlots_[slot] != 0) slot = (slot + 1) & (factSlots_.size() - 1);
      factSlots_[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }
  std::size_t slot = hash & (factSlots_.size() - 1);
  for (; factSlots_[slot] != 0; slot = (slot + 1) & (factSlots_.size() - 1)) {
    LinkFacts& known = facts_[factSlots_[slot] - 1];
    if (known.Hash == hash && known.Value == value) return {&known, false};
  }
  if (factsUsed_ == facts_.size()) facts_.emplace_back();
  LinkFacts& facts = facts_[factsUsed_++];
  factSlots_[slot] = static_cast<std::uint32_t>(factsUsed_);
  facts.Value.assign(value);
  facts.Hash = hash;
  facts.Url.clear();
  facts.Target.clear();
  facts.Fragment.clear();
  facts.Type.clear();
  facts.Page = false;
  facts.Accepted[0].reset();
  facts.Accepted[1].reset();
  facts.Known = -1;
  facts.Converted = false;
  return {&facts, true};
}

template <class Title>
const std::string* TThreadParse::HandleLink(std::string_view value, const Title& title, std::string_view codebase,
                                            std::string_view tag, std::string_view attr,
                                            const std::string& startDir) {
  const std::string* base = &pageDir_;
  if (!BaseDir.empty() && !IsAbsoluteURL(std::string(value))) base = &BaseDir;
  // The folder a converted value is relative to: the page's own, or for an
  // applet's CODE the folder its CODEBASE names, which the saved page keeps.
  std::string appletBase, convertFrom;
  if (!codebase.empty()) {
    appletBase = ResolveURL(std::string(codebase), *base);
    convertFrom = ResolveURL(std::string(codebase), pageDir_);
    base = &appletBase;
  }
  // Within a page a value always resolves, and is judged, the same way (the
  // base and the rules stay); pages repeat their menus, images and scripts.
  // The reference works every occurrence out anew, so that the tests hold
  // the kept facts against it.
  LinkFacts single;
  LinkFacts* facts = &single;
  bool fresh = true;
  if (codebase.empty() && !RowByRow) std::tie(facts, fresh) = FactsFor(value);
  if (fresh) {
    // Cleaned in a buffer kept between values, resolved into the entry's
    // own string: a kept entry allocates nothing.
    cleaned_.assign(TrimView(value));
    std::replace(cleaned_.begin(), cleaned_.end(), '\\', '/');
    facts->TargetSplit = false;
    if (ResolveLinkInto(facts->Url, cleaned_, *base, &facts->Split)) {
      facts->Type = FileTypeOfParts(facts->Url, facts->Split);
      facts->Page = facts->Type == kPageType;
      const auto hash = facts->Url.find('#');
      facts->Target.assign(facts->Url, 0, hash);
      if (hash != std::string::npos) facts->Fragment.assign(facts->Url, hash);
      facts->TargetSplit = hash == std::string::npos;
    }
  }
  if (facts->Url.empty()) return nullptr;
  // A page reached through a source (a frame, a refresh) belongs to the page
  // that holds it, not one level further down.
  const bool source = attr == "SRC" || attr == "URL";
  const bool sameLevel = facts->Page && source;
  std::optional<bool>& accepted = facts->Accepted[sameLevel ? 0 : 1];
  if (!accepted) accepted = AcceptLink(facts->Url, startDir, sameLevel ? Item->Level : Item->Level + 1, facts->Type);
  const THXProfile& rules = Task->Profile;
  const auto place = [&] {
    if (facts->Known < 0) facts->Known = Task->Downloads.Find(facts->Target);
    return facts->Known;
  };
  const auto convert = [&](std::ptrdiff_t known) -> const std::string* {
    if (facts != &single) return &PageLink(*facts, known);
    scratchLink_.clear();
    ConvertLink(scratchLink_, *facts, known, codebase.empty() ? pageDir_ : convertFrom);
    return &scratchLink_;
  };
  const std::string* local = nullptr;
  if (*accepted) {
    // One look-up serves the conversion and the test for a new item: nothing
    // is stored between them.
    const auto known = place();
    if (rules.ConvertFollowedLinks == 1) local = convert(known);
    if (known < 0) {
      THXQItem link(Task);
      link.Url = facts->Target;
      link.BaseUrl = *base;
      link.Referrer = Item->Url;
      link.Type = facts->Type;
      link.Title = title();
      if (tag == "FRAME") link.FromFrame.push_back('Y');
      link.Level = Item->Level + 1;
      link.Mark = !facts->Page && Item->Mark == mkMap ? static_cast<std::uint8_t>(mkUnmarked) : Item->Mark;
      link.State = isNone;
      link.Store();
      ++NewLinkCount;
    }
    ++LinkCount;
  } else if ((rules.ConvertUnfollowedLinks == 1 && facts->Url.find(siteRoot_) != std::string::npos) ||
             rules.ConvertUnfollowedLinks == 2) {
    local = convert(place());
  }
  if (local && *local == value) local = nullptr;
  return local;
}

const std::string& TThreadParse::PageLink(LinkFacts& facts, std::ptrdiff_t known) {
  if (!facts.Converted || facts.ConvertedFor != known) {
    facts.Local.clear();
    ConvertLink(facts.Local, facts, known, pageDir_);
    facts.Converted = true;
    facts.ConvertedFor = known;
  }
  return facts.Local;
}

void TThreadParse::ConvertLink(std::string& out, const LinkFacts& facts, std::ptrdiff_t known,
                               const std::string& from) {
  // A URL known in other letter case is that item, saved under the name of
  // its first spelling; file names on Linux tell letter case apart.
  const std::string& target = known >= 0 ? Task->Downloads[static_cast<std::size_t>(known)] : facts.Target;
  // The stored spelling is mostly the link's own, byte for byte.
  const URLParts* split = facts.TargetSplit && target == facts.Url ? &facts.Split : nullptr;
  if (from != pageDir_) LocalLinker(from, Task->HomeHost()).AppendLink(out, target, split);
  else pageLinker_->AppendLink(out, target, split);
  out += facts.Fragment;
}

bool TThreadParse::AcceptLink(const std::string& url, const std::string& startDir, int level,
                              const std::string& type) const {
  const THXProfile& rules = Task->Profile;
  const bool page = type == kPageType;
  const std::string_view scheme = URLScheme(url);
  if (!SameText(scheme, "http") && !SameText(scheme, "https")) return false;
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
    case 1: return url.find(URLUpView(startDir, 0)) != std::string::npos;
    case 2: return true;
    default: return false;
  }
}

void TThreadParse::SavePage() {
  // The page's file as ParsePage read it.
  const std::string file = Item->LocalFile;
  UI().ShowStatus("Saving Changes: " + file);
  // Pages are saved by the thousand and can be fetched again: no fsync each.
  if (!WriteFileAtomic(file, PageText, false, &pageStatus_)) {
    // Left Saved, the page would be taken up again every second.
    UI().ShowStatus("Cannot save " + file);
    Item->SetState(isError);
    Item->Store();
  } else {
    Item->SetState(isParsed);
    Item->Store();
    if (!Task->IntranetMode) {
      Task->QueueForZip(file, std::move(Item));
    }
  }
  Item.reset();
  PageText.clear();
  UI().ShowStatus("");
}
