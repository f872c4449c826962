// The dispatcher over real slots: hand-out order, outcomes in the task's
// counters, completion, saving, credentials and cookies across slots.
#include <filesystem>

#include "enginefixture.h"
#include "tasks/thxqitem.h"

namespace fs = std::filesystem;

namespace {

class DispatcherTest : public EngineFixture {
 protected:
  void Add(const std::string& url, std::uint8_t state = isNone) {
    THXQItem item(&Task());
    item.Url = url;
    item.Type = FileTypeOfUrl(url);
    item.State = state;
    item.Store();
  }
  ScriptedResponse Body(std::string body) {
    ScriptedResponse r;
    r.Body = std::move(body);
    return r;
  }
};

TEST_F(DispatcherTest, PriorityDecidesTheHandOutOrder) {
  struct Case { int priority; const char* order; } cases[] = {
      {0, "PPPPMMMM"},
      {5, "PMPMPMPM"},
      {10, "PMMMMPPP"},
  };
  for (const auto& c : cases) {
    Task().Downloads.clear();
    for (int i = 0; i < 4; ++i) {
      Add("http://h/p" + std::to_string(i) + ".html");
      Add("http://h/m" + std::to_string(i) + ".gif");
    }
    Task().PageCursor = Task().MediaCursor = 1;
    HXApp->SetPriority(c.priority);
    TThreadDownload d(SocketList());
    std::string order;
    while (auto item = d.PickNextItem()) order += item->IsPage() ? 'P' : 'M';
    EXPECT_EQ(order, c.order) << "priority " << c.priority;
  }
}

TEST_F(DispatcherTest, ARunSavesEverythingAndCompletes) {
  server.Route("/index.html", Body("<html>start</html>"));
  Task().Urls = {Url("/index.html"), Url("/a.gif"), Url("/b.gif"), Url("/missing.html")};
  server.Route("/a.gif", Body("GIF89a-a"));
  server.Route("/b.gif", Body("GIF89a-b"));
  ASSERT_TRUE(RunTask(2));
  EXPECT_EQ(Task().PagesSaved, 1);
  EXPECT_EQ(Task().ResourcesSaved, 2);
  EXPECT_EQ(Task().PageErrors, 1);
  EXPECT_EQ(Task().TotalBytes, 18 + 8 + 8);
  EXPECT_EQ(ItemOf(Url("/missing.html"))->Result, "404 Not Found");
  EXPECT_EQ(ItemOf(Url("/a.gif"))->Size, 8);
  EXPECT_EQ(SocketList().CountBusySlots(), 0);
  // Saved on completion: the files on disk agree with the counters.
  auto saved = THXTask::LoadTask(Task().FileName);
  EXPECT_EQ(saved->Status, tsDownloadComplete);
  EXPECT_EQ(saved->ResourcesSaved, 2);
  EXPECT_NE(ReadTextFile(Task().DownloadsFileName()).find("404 Not Found"), std::string::npos);
  EXPECT_EQ(ReadTextFile(Task().OutputFolder() + "a.gif"), "GIF89a-a");
}

TEST_F(DispatcherTest, CompletionWaitsForASavedPageToBeParsed) {
  server.Route("/only.html", Body("page"));
  Task().Url = Url("/only.html");
  Task().BeginRun();
  SocketList().SetSlotCount(1);
  dispatcher = std::make_unique<TThreadDownload>(SocketList());
  dispatcher->Resume();
  ASSERT_TRUE(PumpUntil([&] { return Task().PagesSaved == 1; }));
  // All counters match, nothing is busy, but the page waits for parsing.
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(Task().Status, tsDownloading);
  EXPECT_TRUE(Task().AllAccounted());
  auto page = Task().NextPageToParse();
  page->State = isParsed;
  page->Store();
  dispatcher->Wake();
  EXPECT_TRUE(PumpUntil([&] { return Task().Status == tsDownloadComplete && dispatcher->Stopped(); }));
}

TEST_F(DispatcherTest, IncompleteItemsAreRetriedTwiceThenFail) {
  // An attempt that is reported while still under way ("Connecting...",
  // no result code) is incomplete: the item goes back to None.
  ScriptedResponse slow = Body("late");
  slow.DelayBeforeHeaders = std::chrono::seconds(3);
  server.Route("/flaky.gif", slow);
  Task().Url = Url("/flaky.gif");
  Task().BeginRun();
  SocketList().SetSlotCount(3);
  // Not resumed: the test hands the items out itself, no dispatch step may.
  TThreadDownload d(SocketList());
  for (std::size_t attempt = 0; attempt < 3; ++attempt) {
    auto item = d.PickNextItem();
    ASSERT_TRUE(item) << attempt;
    TThreadSocket& slot = SocketList()[attempt];
    d.StartTransfer(slot, std::move(item));
    ASSERT_TRUE(PumpUntil([&] { return slot.StatusText().rfind("Connecting", 0) == 0; })) << attempt;
    d.RecordOutcome(slot);
    EXPECT_FALSE(slot.Busy());
    if (attempt < 2) {
      EXPECT_EQ(ItemOf(Url("/flaky.gif"))->State, isNone) << attempt;
    }
  }
  EXPECT_FALSE(d.PickNextItem());
  const auto item = ItemOf(Url("/flaky.gif"));
  EXPECT_EQ(item->State, isError);
  EXPECT_EQ(item->Result, "Transfer Incomplete");
  EXPECT_EQ(Task().ResourceErrors, 1);
  EXPECT_TRUE(Task().AllAccounted());
}

TEST_F(DispatcherTest, PeriodicSaveWritesOnTheEleventhTick) {
  Add("http://h/a.html");
  TThreadDownload d(SocketList());
  for (int tick = 1; tick <= 10; ++tick) d.PeriodicSave();
  EXPECT_FALSE(fs::exists(Task().DownloadsFileName()));
  d.PeriodicSave();
  EXPECT_TRUE(fs::exists(Task().DownloadsFileName()));
  EXPECT_FALSE(Task().Modified);
}

TEST_F(DispatcherTest, CredentialsGoOnlyToTheStartHosts) {
  // Both hosts ask for the same credentials; only the start host gets them.
  LoopbackServer other;
  other.Route("/pic.gif", Body("other host"));
  other.RequireBasicAuth("/", "anna", "s3cret");
  server.Route("/index.html", Body("home"));
  server.RequireBasicAuth("/", "anna", "s3cret");
  Task().Url = Url("/index.html");
  Task().UserName = "anna";
  Task().Password = "s3cret";
  Task().BeginRun();
  // A link of the start page to another site ("localhost" is another host
  // than 127.0.0.1, though the same machine).
  std::string link = other.BaseUrl() + "/pic.gif";
  link.replace(link.find("127.0.0.1"), 9, "localhost");
  Add(link);
  SocketList().SetSlotCount(2);
  dispatcher = std::make_unique<TThreadDownload>(SocketList());
  dispatcher->Resume();
  ASSERT_TRUE(PumpUntil([&] {
    while (auto page = Task().NextPageToParse()) {
      page->State = isParsed;
      page->Store();
    }
    return Task().Status == tsDownloadComplete;
  }));
  EXPECT_EQ(ItemOf(Url("/index.html"))->State, isParsed);
  EXPECT_EQ(ItemOf(link)->Result.substr(0, 3), "401");
  for (const auto& req : other.Requests()) EXPECT_EQ(req.Header("Authorization"), "") << req.Target;
  bool sent = false;
  for (const auto& req : server.Requests()) sent |= !req.Header("Authorization").empty();
  EXPECT_TRUE(sent);
}

TEST_F(DispatcherTest, CookiesSetOnOneSlotAreSentByAnother) {
  ScriptedResponse setter = Body("set");
  setter.Headers = {{"Set-Cookie", "session=abc123; Path=/"}};
  server.Route("/login.html", setter);
  server.Route("/page.html", Body("page"));
  SocketList().SetSlotCount(2);
  // First slot gets the cookie.
  bool done = false;
  auto arm = [&](std::size_t slot, const std::string& path) {
    done = false;
    TThreadSocket::Arming a;
    a.URL = Url(path);
    a.LocalFile = box.Dir().Path() + "c" + path;
    a.OnDone = [&](TThreadSocket& s) {
      done = true;
      s.ClearSlot();
    };
    SocketList()[slot].Arm(std::move(a));
    ASSERT_TRUE(PumpUntil([&] { return done; }));
  };
  arm(0, "/login.html");
  arm(1, "/page.html");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Header("Cookie"), "session=abc123");
}

TEST_F(DispatcherTest, ZipModeQueuesFinishedMediaForTheArchive) {
  server.Route("/index.html", Body("home"));
  server.Route("/a.gif", Body("GIF"));
  Task().IntranetMode = false;
  Task().Urls = {Url("/index.html"), Url("/a.gif")};
  ASSERT_TRUE(RunTask(2));
  ASSERT_EQ(Task().ZipQueue.size(), 1u);
  EXPECT_EQ(Task().ZipQueue[0].second->Url, Url("/a.gif"));
  EXPECT_EQ(ReadTextFile(Task().ZipQueue[0].first), "GIF");
}

}  // namespace
