// The engine against a hostile server: thousands of answers of every kind a
// broken or malicious site gives, drawn with a fixed seed, and a run stopped
// while transfers are in flight. What must hold whatever the server does:
// the run ends, every item is accounted for once, the counters agree with
// the list, and no failed or stopped attempt touches an earlier copy.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "app/frontend.h"
#include "enginefixture.h"
#include "tasks/thxqitem.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

enum class Answer {
  Normal,
  NoLength,
  SlowHeaders,
  SlowBody,
  NotFound,
  ServerError,
  Dropped,
  CutMidBody,
  LongerLength,
  GarbageStatus,
  StatusWithoutCode,
  Stall,
};

// What each kind of answer must come to. result: the item's Result, or null
// where the client library decides what it makes of the garbage.
struct AnswerRule {
  Answer kind;
  const char* name;
  int weight;  // in the random draw; stalls are placed, not drawn
  bool saved;
  const char* result;
};

const AnswerRule kRules[] = {
    {Answer::Normal, "normal", 30, true, "200 OK"},
    {Answer::NoLength, "no length", 8, true, "200 OK"},
    {Answer::SlowHeaders, "slow headers", 3, true, "200 OK"},
    {Answer::SlowBody, "slow body", 3, true, "200 OK"},
    {Answer::NotFound, "404", 10, false, "404 Not Found"},
    {Answer::ServerError, "500", 6, false, "500 Internal Server Error"},
    {Answer::Dropped, "dropped", 6, false, ""},
    {Answer::CutMidBody, "cut mid body", 6, false, "200 OK"},
    {Answer::LongerLength, "length beyond body", 6, false, "200 OK"},
    {Answer::GarbageStatus, "garbage status", 4, false, ""},
    {Answer::StatusWithoutCode, "status without code", 3, false, nullptr},
    {Answer::Stall, "stall", 0, false, "200 OK"},
};

const AnswerRule& RuleOf(Answer kind) {
  return *std::find_if(std::begin(kRules), std::end(kRules), [&](const AnswerRule& r) { return r.kind == kind; });
}

// One URL of the site: how the server answers it and what lies on disk
// before the run.
struct Planned {
  std::string Path, Url, Body, LocalFile;
  Answer Kind = Answer::Normal;
  std::optional<std::string> EarlierCopy;
};

// mt19937's output is fixed by the standard (its distributions are not),
// so the same seed gives the same site everywhere.
class Draw {
 public:
  explicit Draw(std::uint32_t seed) : rng_(seed) {}
  std::uint32_t Below(std::uint32_t n) { return rng_() % n; }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }
  std::string Bytes(std::size_t n, bool binary) {
    std::string s(n, '\0');
    for (auto& c : s) c = binary ? static_cast<char>(Below(256)) : static_cast<char>('a' + Below(26));
    return s;
  }

 private:
  std::mt19937 rng_;
};

Answer DrawKind(Draw& draw) {
  int total = 0;
  for (const auto& r : kRules) total += r.weight;
  int at = static_cast<int>(draw.Below(static_cast<std::uint32_t>(total)));
  for (const auto& r : kRules) {
    if (at < r.weight) return r.kind;
    at -= r.weight;
  }
  return Answer::Normal;
}

ScriptedResponse Script(const Planned& p, Draw& draw) {
  ScriptedResponse r;
  r.Body = p.Body;
  switch (p.Kind) {
    case Answer::Normal: break;
    case Answer::NoLength: r.AddContentLength = false; break;
    case Answer::SlowHeaders: r.DelayBeforeHeaders = std::chrono::milliseconds(10 + draw.Below(30)); break;
    case Answer::SlowBody: r.DelayMidBody = std::chrono::milliseconds(10 + draw.Below(30)); break;
    case Answer::NotFound: r.StatusLine = "HTTP/1.1 404 Not Found"; break;
    case Answer::ServerError: r.StatusLine = "HTTP/1.1 500 Internal Server Error"; break;
    case Answer::Dropped: r.DropWithoutAnswer = true; break;
    case Answer::CutMidBody: r.CloseMidBody = true; break;
    case Answer::LongerLength: r.ContentLengthOverride = std::to_string(p.Body.size() + 1 + draw.Below(5000)); break;
    case Answer::GarbageStatus: r.StatusLine = "BLAH"; break;
    case Answer::StatusWithoutCode: r.StatusLine = "HTTP/1.1"; break;
    case Answer::Stall: r.StallMidBodyForever = true; break;
  }
  return r;
}

// The list's own account of the run, item by item.
struct Tally {
  int PagesSaved = 0, ResourcesSaved = 0, PageErrors = 0, ResourceErrors = 0;
  int Pages = 0, Resources = 0, Downloading = 0, None = 0;
  std::int64_t SavedBytes = 0;
};

Tally Recount(THXTask& task) {
  Tally t;
  for (std::size_t i = 0; i + 1 < task.Downloads.size(); i += 2) {
    const auto item = task.GetItem(i);
    const bool page = item->IsPage();
    ++(page ? t.Pages : t.Resources);
    if (item->State >= isSaved) {
      ++(page ? t.PagesSaved : t.ResourcesSaved);
      t.SavedBytes += item->Size;
    } else if (item->State == isError) {
      ++(page ? t.PageErrors : t.ResourceErrors);
    } else if (item->State == isDownloading) {
      ++t.Downloading;
    } else if (item->State == isNone) {
      ++t.None;
    }
  }
  return t;
}

// Counts the notices the engine shows; ShowMessage runs on the main thread.
class NoticeCounter : public Frontend {
 public:
  void ShowMessage(const std::string& text) override { ++Notices[text]; }
  std::map<std::string, int> Notices;
};

class ReliabilityTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    // Stalls end in seconds instead of a minute. (curl judges the speed over
    // its last few seconds, so a stall after a burst of bytes takes about
    // five seconds longer than this.)
    TThreadSocket::Settings().StallSeconds = 1;
    SetFrontend(&ui);
  }
  void TearDown() override {
    EngineFixture::TearDown();
    SetFrontend(nullptr);
  }

  // A site of n URLs, pages and images in a few folders, with stalls at
  // fixed places and earlier copies beside about a third of the URLs.
  std::vector<Planned> PlanSite(std::uint32_t seed, std::size_t n, std::size_t stalls,
                                const std::function<Answer(Draw&)>& kindOf) {
    Draw draw(seed);
    std::vector<Planned> site(n);
    for (std::size_t i = 0; i < n; ++i) {
      Planned& p = site[i];
      const bool page = draw.Chance(45);
      p.Path = "/d" + std::to_string(draw.Below(7)) + "/f" + std::to_string(i) + (page ? ".html" : ".gif");
      p.Url = Url(p.Path);
      p.Kind = kindOf(draw);
      const std::size_t size = draw.Chance(10) ? 1 + draw.Below(8) : 16 + draw.Below(12000);
      p.Body = page ? "<html>" + draw.Bytes(size, false) + "</html>" : "GIF89a" + draw.Bytes(size, true);
      if (draw.Chance(35)) p.EarlierCopy = "earlier copy of " + p.Path + "\n" + draw.Bytes(draw.Below(3000), true);
    }
    for (std::size_t s = 0; s < stalls; ++s) site[(s * 2 + 1) * n / (stalls * 2 + 1)].Kind = Answer::Stall;
    for (auto& p : site) server.Route(p.Path, Script(p, draw));
    return site;
  }

  // Lays the earlier copies down where the run will write; the start URLs
  // become the task's items.
  void Prepare(std::vector<Planned>& site) {
    Task().Urls.clear();
    for (const auto& p : site) Task().Urls.push_back(p.Url);
    THXQItem probe(&Task());
    for (auto& p : site) {
      probe.Url = p.Url;
      p.LocalFile = probe.GetLocalFile();
      if (p.EarlierCopy) WriteTextFile(p.LocalFile, *p.EarlierCopy);
    }
  }

  void Start(std::size_t slots) {
    Task().RunMethod = rmRestart;
    Task().BeginRun();
    SocketList().SetSlotCount(slots);
    dispatcher = std::make_unique<TThreadDownload>(SocketList());
    dispatcher->Resume();
  }

  // Saved pages are taken as parsed, as no parse pass runs here.
  void ParseSavedPages() {
    while (auto page = Task().NextPageToParse()) {
      page->State = isParsed;
      page->Store();
    }
  }

  // The limit only guards against a hang; a run takes seconds.
  bool PumpToCompletion() {
    return PumpUntil(
        [&] {
          ParseSavedPages();
          return Task().Status == tsDownloadComplete && dispatcher->Stopped();
        },
        std::chrono::seconds(120));
  }

  void ExpectCountersMatchTheList(const char* when) {
    const Tally t = Recount(Task());
    EXPECT_EQ(Task().PagesSaved, t.PagesSaved) << when;
    EXPECT_EQ(Task().ResourcesSaved, t.ResourcesSaved) << when;
    EXPECT_EQ(Task().PageErrors, t.PageErrors) << when;
    EXPECT_EQ(Task().ResourceErrors, t.ResourceErrors) << when;
    EXPECT_EQ(Task().TotalPages, t.Pages) << when;
    EXPECT_EQ(Task().TotalResources, t.Resources) << when;
    // Only saved transfers count: a failed or stopped attempt's bytes are
    // not on disk.
    EXPECT_EQ(Task().TotalBytes, t.SavedBytes) << when;
  }

  // What lies on disk for one URL: the served body once saved, otherwise
  // the earlier copy untouched, or nothing at all.
  void ExpectFileOf(const Planned& p, bool saved, const char* when) {
    if (saved) {
      EXPECT_TRUE(ReadTextFile(p.LocalFile) == p.Body) << when << ": " << p.Path << " (" << RuleOf(p.Kind).name << ")";
    } else if (p.EarlierCopy) {
      EXPECT_TRUE(ReadTextFile(p.LocalFile) == *p.EarlierCopy)
          << when << ": earlier copy damaged at " << p.Path << " (" << RuleOf(p.Kind).name << ")";
    } else {
      EXPECT_FALSE(fs::exists(p.LocalFile)) << when << ": " << p.Path << " (" << RuleOf(p.Kind).name << ")";
    }
  }

  void ExpectNoTempFiles(const char* when) {
    for (const auto& e : fs::recursive_directory_iterator(Task().OutputFolder()))
      EXPECT_EQ(e.path().string().find(".hxpart"), std::string::npos) << when << ": " << e.path();
  }

  // Every item has the outcome its answer calls for, and its file shows it.
  // Returns how many items each kind of answer had.
  std::map<std::string, int> ExpectOutcomes(const std::vector<Planned>& site) {
    std::map<std::string, int> seen;
    for (const auto& p : site) {
      const AnswerRule& rule = RuleOf(p.Kind);
      ++seen[rule.name];
      const auto item = ItemOf(p.Url);
      if (!item) {
        ADD_FAILURE() << "no item for " << p.Path;
        continue;
      }
      const std::uint8_t expected = !rule.saved ? isError : item->IsPage() ? isParsed : isSaved;
      EXPECT_EQ(item->State, expected) << p.Path << " (" << rule.name << ") " << item->Result;
      if (rule.result) {
        EXPECT_EQ(item->Result, rule.result) << p.Path << " (" << rule.name << ")";
      }
      if (rule.saved) {
        EXPECT_EQ(item->Size, static_cast<std::int64_t>(p.Body.size())) << p.Path << " (" << rule.name << ")";
      }
      ExpectFileOf(p, rule.saved, "after the run");
    }
    return seen;
  }

  NoticeCounter ui;
};

TEST_F(ReliabilityTest, AHostileSiteEndsWithEveryItemAccountedAndNoCopyDamaged) {
  auto site = PlanSite(20260611, 2500, 4, DrawKind);
  Prepare(site);
  Start(5);
  ASSERT_TRUE(PumpToCompletion()) << "saved " << Task().PagesSaved + Task().ResourcesSaved << ", errors "
                                  << Task().PageErrors + Task().ResourceErrors;

  EXPECT_EQ(Task().Status, tsDownloadComplete);
  EXPECT_TRUE(dispatcher->Stopped());
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  const Tally t = Recount(Task());
  EXPECT_EQ(t.Pages + t.Resources, static_cast<int>(site.size()));
  // Retries end a run: nothing may stay waiting or in transfer.
  EXPECT_EQ(t.None, 0);
  EXPECT_EQ(t.Downloading, 0);
  ExpectCountersMatchTheList("after the run");
  const auto seen = ExpectOutcomes(site);
  // The draw must have produced every kind, or the run proved less.
  for (const auto& r : kRules) EXPECT_GT(seen.count(r.name), 0u) << r.name;
  // The user hears of every connection closed without an answer, and of
  // nothing else.
  const std::map<std::string, int> notices = {
      {"Successfully closed: the server closed the connection without answering", seen.at("dropped")}};
  EXPECT_EQ(ui.Notices, notices);
  ExpectNoTempFiles("after the run");
  // The list written on completion tells the same story as the one in memory.
  const auto saved = THXTask::LoadTask(Task().FileName);
  saved->LoadDownloads();
  const Tally onDisk = Recount(*saved);
  EXPECT_EQ(onDisk.PagesSaved, t.PagesSaved);
  EXPECT_EQ(onDisk.ResourcesSaved, t.ResourcesSaved);
  EXPECT_EQ(onDisk.PageErrors, t.PageErrors);
  EXPECT_EQ(onDisk.ResourceErrors, t.ResourceErrors);
  EXPECT_EQ(onDisk.None + onDisk.Downloading, 0);
  EXPECT_EQ(saved->TotalBytes, Task().TotalBytes);
  EXPECT_EQ(saved->Status, tsDownloadComplete);
}

TEST_F(ReliabilityTest, StoppingMidRunKeepsEarlierCopiesAndResumeFinishesTheRest) {
  // Mostly slow answers, so that the slots are inside transfers with bytes
  // already counted when the run is stopped. It stops right after a pass of
  // the main-thread queue, when the dispatcher has often queued its next step.
  auto kindOf = [](Draw& draw) {
    const Answer mix[] = {Answer::SlowBody, Answer::SlowBody,   Answer::SlowBody,   Answer::SlowHeaders,
                          Answer::Normal,   Answer::NotFound,   Answer::CutMidBody, Answer::Dropped,
                          Answer::SlowBody, Answer::LongerLength};
    return mix[draw.Below(std::size(mix))];
  };
  auto site = PlanSite(777, 400, 0, kindOf);
  Prepare(site);
  Start(5);
  ASSERT_TRUE(PumpUntil([&] {
    ParseSavedPages();
    const int done = Task().PagesSaved + Task().ResourcesSaved + Task().PageErrors + Task().ResourceErrors;
    return done >= static_cast<int>(site.size()) / 3 && SocketList().CountBusySlots() >= 4;
  }, std::chrono::seconds(60)));

  // As ending a run does.
  dispatcher->Stop();
  SocketList().StopAllSlots();
  Task().ResetInProgressItems();
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  // A dispatch step the dispatcher queued just before the stop runs after
  // it (StopAllSlots itself serves the queue between slots).
  dispatcher->Dispatch();
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  const Tally atStop = Recount(Task());
  // The stopped workers wind down while the main thread goes on serving
  // whatever they and the dispatcher had queued; none of it may start or
  // record anything.
  PumpUntil([] { return false; }, 1500ms);
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  EXPECT_NE(Task().Status, tsDownloadComplete);
  Tally t = Recount(Task());
  EXPECT_EQ(t.PagesSaved + t.ResourcesSaved, atStop.PagesSaved + atStop.ResourcesSaved);
  EXPECT_EQ(t.PageErrors + t.ResourceErrors, atStop.PageErrors + atStop.ResourceErrors);
  EXPECT_EQ(t.Downloading, 0);
  EXPECT_GT(t.None, 0);
  ExpectCountersMatchTheList("after the stop");
  for (const auto& p : site) {
    const auto item = ItemOf(p.Url);
    ASSERT_TRUE(item) << p.Path;
    ExpectFileOf(p, item->State >= isSaved, "after the stop");
  }
  ExpectNoTempFiles("after the stop");

  Task().RunMethod = rmResume;
  Task().BeginRun();
  dispatcher->Resume();
  ASSERT_TRUE(PumpToCompletion());
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  t = Recount(Task());
  EXPECT_EQ(t.None, 0);
  EXPECT_EQ(t.Downloading, 0);
  ExpectCountersMatchTheList("after the resumed run");
  ExpectOutcomes(site);
  ExpectNoTempFiles("after the resumed run");
}

}  // namespace
