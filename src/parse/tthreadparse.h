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
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
  void ParsePass(const std::string& tag, const std::string& close, int mode, const std::string& startDir,
                 const std::string& attr);
  bool AcceptLink(const std::string& url, const std::string& startDir, int level, const std::string& type) const;

  THXTask* Task = nullptr;
  std::unique_ptr<THXQItem> Item;
  std::string PageText;
  std::string BaseDir;
  int LinkCount = 0, NewLinkCount = 0;

 private:
  void Run(std::stop_token stop);
  void HandleLink(THXParser& scanner, const std::string& value, const std::string& tag, const std::string& attr,
                  const std::string& startDir);
  void ConvertLink(THXParser& scanner, const std::string& url, const std::string& from);
  void RemoveBase();
  void SavePage();

  // Links of one page mostly start from the page's own folder.
  std::string pageDir_;
  std::unique_ptr<LocalLinker> pageLinker_;
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
