#pragma once
// The parse pass: every page the engine saved is read back, its links found
// with the tag scanner, each link resolved, classified and accepted or
// refused by the task's rules; accepted new links become queue items, links
// in the page are rewritten to local relative links and the page is written
// back. The thread only paces; every page is parsed on the main thread, in
// one go (no window messages are processed inside a page, so nothing can
// free or replace the task or the page under a running pass).
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "parse/charindex.h"
#include "url/tbwurl.h"

class THXParser;
class THXQItem;
class THXTask;
class LocalLinker;

class TThreadParse {
 public:
  TThreadParse();
  ~TThreadParse();

  // Main thread: a run starts (the task is the current one) or ends.
  void Start(THXTask* task);
  void Pause();
  bool Paused() const { return paused_.load(); }
  // Any thread: a page was saved. At pace 0 the next turn runs at once.
  void Wake();

  // Main-thread steps.
  // Parses the waiting pages: one, or at pace 0 all of them. True when any.
  bool ParseWaiting();
  void ParsePage(std::unique_ptr<THXQItem> item);
  // One row of the link table, or one quoted-string mode, scanned over the
  // page as it stands, each conversion written into it at once.
  void ParsePass(const std::string& tag, const std::string& close, int mode, const std::string& startDir,
                 const std::string& attr);
  bool AcceptLink(const std::string& url, const std::string& startDir, int level, const std::string& type) const;

  // Scans the page once per row of the link table and per quoted-string
  // mode, as ParsePass does, instead of one walk for all rows: the slower
  // reference that the one walk must match link for link (tests). It also
  // resolves, judges, looks up and converts every link anew instead of
  // keeping what a value came to on the page.
  bool RowByRow = false;

  THXTask* Task = nullptr;
  std::unique_ptr<THXQItem> Item;
  std::string PageText;
  std::string BaseDir;
  int LinkCount = 0, NewLinkCount = 0;

  // A conversion not yet written into the page: Size characters from At
  // (from 1) become the Length characters at From of the pending text.
  struct Edit {
    std::size_t At = 0;
    std::size_t Size = 0;
    std::size_t From = 0;
    std::size_t Length = 0;
  };

 private:
  void Run(std::stop_token stop);
  void ParseLinkTable(const std::string& startDir);
  void ParseQuoted(const std::string& quote, int mode, const std::string& startDir);
  // One value of a scan over the page as it stands, converted in place.
  void ScanStep(THXParser& scanner, const std::string& tag, const std::string& attr, const std::string& startDir);
  // The value's conversion when it changes the text (valid until the next
  // call), or null; the title is asked for only when the link becomes a new
  // item.
  template <class Title>
  const std::string* HandleLink(std::string_view value, const Title& title, std::string_view codebase,
                                std::string_view tag, std::string_view attr, const std::string& startDir);
  // What a written value comes to on this page, worked out once.
  struct LinkFacts {
    std::string Value;
    std::size_t Hash = 0;
    std::string Url, Target, Fragment, Type;
    // Url's split, when Url is the target (it has no "#"): the local link
    // is made from it instead of splitting the URL again.
    URLParts Split;
    bool TargetSplit = false;
    bool Page = false;
    std::optional<bool> Accepted[2];  // reached through a source page or not
    // Target's place in the downloads list once found: the list only grows
    // while a page is parsed, so a place found stays right.
    std::ptrdiff_t Known = -1;
    // The local link from the page's folder, for the place it was made with.
    bool Converted = false;
    std::ptrdiff_t ConvertedFor = -1;
    std::string Local;
  };
  // The page's entry for a value, added when new (second: true).
  std::pair<LinkFacts*, bool> FactsFor(std::string_view value);
  // The local link to the target's file, appended to out; known: its place
  // in the downloads list, or -1.
  void ConvertLink(std::string& out, const LinkFacts& facts, std::ptrdiff_t known, const std::string& from);
  const std::string& PageLink(LinkFacts& facts, std::ptrdiff_t known);
  void ShowLinkCounts();
  void RemoveBase();
  void SavePage();

  // The page's file as it was read: its permissions go to the new file.
  struct stat pageStatus_ {};
  // Links of one page mostly start from the page's own folder.
  std::string pageDir_;
  std::unique_ptr<LocalLinker> pageLinker_;
  std::string siteRoot_;
  // The page's link facts: entries past factsUsed_ are left from earlier
  // pages and reused, strings and all, so a page allocates little and frees
  // nothing. factSlots_ holds entry + 1 (0: free), open addressing.
  // A deque: adding an entry moves no other, so an entry's Split keeps
  // pointing into its own Url.
  std::deque<LinkFacts> facts_;
  std::size_t factsUsed_ = 0;
  std::vector<std::uint32_t> factSlots_;
  // The marks of PageText's tag and quote characters, while fresh (kept
  // between pages for its memory).
  CharIndex index_;
  bool indexFresh_ = false;
  const CharIndex& PageIndex();
  // The value being resolved, trimmed and with "/" for "\\".
  std::string cleaned_;
  // The conversion of a value with an applet's CODEBASE, which is not kept.
  std::string scratchLink_;
  // Conversions waiting for the page to be written out, and where the text
  // rewritten so far is taken from when a scan has to read it.
  std::vector<Edit> edits_;
  // The texts of all edits back to back: one buffer, kept from page to page,
  // instead of a string per conversion.
  std::string editText_;
  void AddEdit(std::size_t at, std::size_t size, std::string_view text);
  void ClearEdits();
  std::atomic<bool> paused_{true};
  std::atomic<bool> woken_{false};
  std::mutex mutex_;
  std::condition_variable_any cv_;
  std::jthread thread_;
};

// The parse thread of this process, while the front end has one.
extern TThreadParse* ThreadParse;

// "[AL]", "[PL]", "[ML]" (also for "[RL]") or empty, and the pattern.
std::string FilterMarker(const std::string& entry, std::string* pattern = nullptr);
// The text of a saved page as the pass reads it: line breaks made CR LF, a
// final CR LF added, cut at the first NUL byte.
std::string ReadPageText(const std::string& bytes);
