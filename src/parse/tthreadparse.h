#pragma once
// The parse pass: every page the engine saved is read back, its links found
// with the tag scanner, each link resolved, classified and accepted or
// refused by the task's rules; accepted new links become queue items, links
// in the page are rewritten to local relative links and the page is written
// back. The thread only paces; every page is parsed on the main thread, in
// one go (no window messages are processed inside a page, so nothing can
// free or replace the task or the page under a running pass).
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

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
  // reference that the one walk must match link for link (tests).
  bool RowByRow = false;

  THXTask* Task = nullptr;
  std::unique_ptr<THXQItem> Item;
  std::string PageText;
  std::string BaseDir;
  int LinkCount = 0, NewLinkCount = 0;

  // A conversion not yet written into the page: Size characters from At
  // (from 1) become Text.
  struct Edit {
    std::size_t At = 0;
    std::size_t Size = 0;
    std::string Text;
  };

 private:
  void Run(std::stop_token stop);
  void ParseLinkTable(const std::string& startDir);
  void ParseQuoted(const std::string& quote, int mode, const std::string& startDir);
  // One value of a scan over the page as it stands, converted in place.
  void ScanStep(THXParser& scanner, const std::string& tag, const std::string& attr, const std::string& startDir);
  // The value's conversion when it changes the text; the title is asked for
  // only when the link becomes a new item.
  std::optional<std::string> HandleLink(const std::string& value, const std::function<std::string()>& title,
                                        std::string_view codebase, const std::string& tag, const std::string& attr,
                                        const std::string& startDir);
  // What a written value comes to on this page, worked out once.
  struct LinkFacts {
    std::string Url, Target, Fragment, Type;
    bool Page = false;
    std::optional<bool> Accepted[2];  // reached through a source page or not
  };
  // The local link to the target's file; known: its place in the downloads
  // list, or -1.
  std::string ConvertLink(const LinkFacts& facts, std::ptrdiff_t known, const std::string& from);
  void ShowLinkCounts();
  void RemoveBase();
  void SavePage();

  // Links of one page mostly start from the page's own folder.
  std::string pageDir_;
  std::unique_ptr<LocalLinker> pageLinker_;
  std::string siteRoot_;
  std::unordered_map<std::string, LinkFacts> linkFacts_;
  std::unordered_map<std::string, std::string> localLinks_;
  // Conversions waiting for the page to be written out, and where the text
  // rewritten so far is taken from when a scan has to read it.
  std::vector<Edit> edits_;
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
