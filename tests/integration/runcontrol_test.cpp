// Runs from end to end through the real schedule thread: creating a task,
// starting it when due, stopping, resuming, updating, recovering, and the
// next run of a repeating schedule, with a clock the test moves.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <algorithm>

#include "app/frontend.h"
#include "app/mainqueue.h"
#include "app/runcontrol.h"
#include "app/thxapp.h"
#include "engine/socketlist.h"
#include "engine/tthreaddownload.h"
#include "schedule/schedule.h"
#include "schedule/tthreadschedule.h"
#include "support/loopbackserver.h"
#include "support/tempdir.h"
#include "tasks/filetypes.h"

namespace fs = std::filesystem;

namespace {

struct RunDialog : Frontend {
  std::optional<int> Method = 1;
  bool EditNewTask(THXTask&) override { return false; }
  std::optional<int> ChooseRunMethod(const THXTask&) override { return Method; }
};

class RunControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    MainThread().setMainThread();
    SetFrontend(&dialog);
    WriteFileTypeGroup("HTML", ".htm;.html;");
    WriteFileTypeGroup("Images", ".gif;");
    HXApp->EnginePace = 0;
    HXApp->SetIntranetFolder(box.Dir().Path() + "intranet");
    TThreadSocket::Settings() = SlotSettings{};
    TThreadSocket::Settings().PaceMs = 0;
    SocketList().SetSlotCount(2);
    dispatcher = std::make_unique<TThreadDownload>(SocketList());
    ThreadDownload = dispatcher.get();
    THXProfile profile;
    profile.FileName = HXApp->ProfilesFolder + "All.hxp";
    profile.Name = "All";
    profile.SaveToFile();
  }
  void TearDown() override {
    schedule.reset();
    if (HXApp->CurrentTask && HXApp->CurrentTask->IsActive()) StopCurrentTask();
    ThreadDownload = nullptr;
    dispatcher.reset();
    SocketList().StopAllSlots();
    SocketList().SetSlotCount(0);
    HXApp->DropCurrentTask();
    SetFrontend(nullptr);
  }
  void StartSchedule() {
    schedule = std::make_unique<TThreadSchedule>([this] { return clock; }, 20);
  }
  // Pumps, taking saved pages as parsed (no parse pass runs here).
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MainThread().waitForWork(std::chrono::milliseconds(5));
      MainThread().processPending();
      if (THXTask* t = HXApp->CurrentTask.get(); t && t->Status == tsDownloading) {
        while (auto page = t->NextPageToParse()) {
          page->State = isParsed;
          page->Store();
        }
        if (ThreadDownload) ThreadDownload->Wake();
      }
    }
    return true;
  }
  bool RunEnds(const std::string& file) {
    bool started = false;
    return Pump([&] {
      THXTask* t = HXApp->CurrentTask.get();
      if (!t || t->FileName != file) return false;
      started |= t->IsActive();
      return started && !t->IsActive();
    });
  }
  std::unique_ptr<THXTask> Load(const std::string& file) { return THXTask::LoadTask(file); }
  ScriptedResponse Body(std::string body) {
    ScriptedResponse r;
    r.Body = std::move(body);
    return r;
  }

  HarvixSandbox box;
  LoopbackServer server;
  RunDialog dialog;
  TDateTime clock = EncodeDateTime({2026, 12, 7, 10, 0, 0, 0}).value();  // a Monday
  std::unique_ptr<TThreadDownload> dispatcher;
  std::unique_ptr<TThreadSchedule> schedule;
};

TEST(ShortTaskNameTest, NamesFollowTheHost) {
  struct Case { const char* url; const char* name; } cases[] = {
      {"http://www.example.com/a.html", "example"},
      {"http://docs.example.com/", "docs_example"},
      {"http://localhost:8080/", "localhost"},
      {"http://www.localhost/", "www.localhost"},  // nothing after "www." but no dot: the host
      {"http://127.0.0.1/", "127_0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortTaskName(c.url), c.name) << c.url;
}

TEST_F(RunControlTest, NewTasksOfOneHostGetDistinctNames) {
  const std::string url = server.BaseUrl() + "/";
  EXPECT_EQ(fs::path(NewTask(url, "All", false, true)).filename(), "127_0.hxt");
  EXPECT_EQ(fs::path(NewTask(url, "All", false, true)).filename(), "127_0(0).hxt");
  EXPECT_EQ(fs::path(NewTask(url, "All", false, true)).filename(), "127_0(1).hxt");
  EXPECT_EQ(NewTask("ftp://127.0.0.1/", "All", false, true), "");
  EXPECT_EQ(NewTask(url, "", false, true), "");  // the editor was cancelled: nothing saved
  EXPECT_EQ(HXApp->ActiveTasks.size(), 3u);
}

TEST_F(RunControlTest, ANewTaskRunsByItselfAndCompletes) {
  server.Route("/index.html", Body("<html>home</html>"));
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  ASSERT_FALSE(file.empty());
  StartSchedule();
  ASSERT_TRUE(RunEnds(file));
  const auto t = Load(file);
  EXPECT_EQ(t->Status, tsTaskComplete);
  EXPECT_EQ(t->Schedule, "");  // "Now" is cleared after the run
  EXPECT_EQ(t->PagesSaved, 1);
  EXPECT_TRUE(HXApp->ActiveTasks.empty());
  EXPECT_EQ(ReadTextFile(box.Dir().Path() + "intranet/127.0.0.1/index.html"), "<html>home</html>");
}

TEST_F(RunControlTest, AStoppedTaskResumesWithExactlyWhatWasLeft) {
  ScriptedResponse slow = Body("GIF89a");
  slow.DelayBeforeHeaders = std::chrono::milliseconds(150);
  std::vector<std::string> urls;
  for (int i = 0; i < 8; ++i) {
    const std::string path = "/m" + std::to_string(i) + ".gif";
    server.Route(path, slow);
    urls.push_back(server.BaseUrl() + path);
  }
  SocketList().SetSlotCount(1);
  const std::string file = NewTask(urls[0], "All", false, true);
  auto task = Load(file);
  task->Url.clear();
  task->Urls = urls;
  task->SaveToFile();
  StartSchedule();
  ASSERT_TRUE(Pump([&] { return HXApp->CurrentTask && HXApp->CurrentTask->ResourcesSaved >= 3; }));
  StopCurrentTask();
  auto stopped = Load(file);
  EXPECT_EQ(stopped->Status, tsStopped);
  ASSERT_LT(stopped->ResourcesSaved, 8);
  std::vector<std::string> savedBefore;
  for (std::size_t i = 0; i < HXApp->CurrentTask->Downloads.size(); i += 2) {
    auto item = HXApp->CurrentTask->GetItem(i);
    EXPECT_NE(item->State, isDownloading) << item->Url;  // in-flight items went back to None
    if (item->State == isSaved) savedBefore.push_back(item->Url.substr(server.BaseUrl().size()));
  }
  // The request the stopped run had just sent may reach the server's log a
  // moment later, under load; the count before the resume is taken once it
  // has stayed the same for a while, or that request would count as asked
  // again after the resume.
  auto requestsBefore = server.Requests().size();
  for (int quiet = 0; quiet < 3;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto now = server.Requests().size();
    quiet = now == requestsBefore ? quiet + 1 : 0;
    requestsBefore = now;
  }
  dialog.Method = rmResume;
  ASSERT_TRUE(stopped->RequestRun());
  ASSERT_TRUE(RunEnds(file));
  const auto done = Load(file);
  EXPECT_EQ(done->ResourcesSaved, 8);
  EXPECT_EQ(done->Status, tsTaskComplete);
  // What was saved before the stop is not fetched again; the rest once each.
  const auto requests = server.Requests();
  std::set<std::string> askedAfter;
  for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
    EXPECT_TRUE(askedAfter.insert(requests[i].Target).second) << requests[i].Target << " asked twice";
    EXPECT_EQ(std::count(savedBefore.begin(), savedBefore.end(), requests[i].Target), 0) << requests[i].Target;
  }
  EXPECT_EQ(askedAfter.size(), 8 - savedBefore.size());
}

TEST_F(RunControlTest, UpdateChecksEverySavedItemAndRecoverRefetchesTheFailedOnes) {
  server.Route("/index.html", LoopbackServer::Handler([](const RecordedRequest& req) {
    ScriptedResponse r;
    if (!req.Header("If-Modified-Since").empty()) r.StatusLine = "HTTP/1.1 304 Not Modified";
    else r.Body = "home";
    return r;
  }));
  ScriptedResponse broken = Body("down");
  broken.StatusLine = "HTTP/1.1 503 Service Unavailable";
  server.Route("/a.gif", broken);
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  auto task = Load(file);
  task->Url.clear();
  task->Urls = {server.BaseUrl() + "/index.html", server.BaseUrl() + "/a.gif"};
  task->SaveToFile();
  StartSchedule();
  ASSERT_TRUE(RunEnds(file));
  EXPECT_EQ(Load(file)->ResourceErrors, 1);

  dialog.Method = rmSmartUpdate;
  ASSERT_TRUE(Load(file)->RequestRun());
  ASSERT_TRUE(RunEnds(file));
  EXPECT_EQ(server.RequestCount("/index.html"), 2);
  bool conditional = false;
  for (const auto& r : server.Requests())
    conditional |= r.Target == "/index.html" && !r.Header("If-Modified-Since").empty();
  EXPECT_TRUE(conditional);

  server.Route("/a.gif", Body("GIF89a"));
  const int indexAsked = server.RequestCount("/index.html");
  dialog.Method = rmSmartRecovery;
  ASSERT_TRUE(Load(file)->RequestRun());
  ASSERT_TRUE(RunEnds(file));
  const auto recovered = Load(file);
  EXPECT_EQ(recovered->ResourceErrors, 0);
  EXPECT_EQ(recovered->ResourcesSaved, 1);
  EXPECT_EQ(server.RequestCount("/index.html"), indexAsked);  // only the failed item
}

TEST_F(RunControlTest, ARepeatingTaskRunsAgainWhenItsTimeComes) {
  server.Route("/index.html", Body("home"));
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  auto task = Load(file);
  ASSERT_TRUE(ApplyScheduleRequest(*task, ScheduleFromOptions({"--every", "0:1"}, clock)));
  StartSchedule();
  // Not due yet: the first run is a minute away.
  Pump([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(server.RequestCount("/index.html"), 0);
  clock += 61.0 / 86400;
  ASSERT_TRUE(RunEnds(file));
  EXPECT_EQ(server.RequestCount("/index.html"), 1);
  const auto after = Load(file);
  EXPECT_EQ(after->Status, tsScheduled);
  EXPECT_GT(after->NextRun, clock);
  Pump([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(server.RequestCount("/index.html"), 1);
  clock = after->NextRun + 1.0 / 86400;
  ASSERT_TRUE(Pump([&] { return server.RequestCount("/index.html") == 2 && !HXApp->CurrentTask->IsActive(); }));
}

TEST_F(RunControlTest, DueTasksStartOneAfterAnotherInListOrder) {
  server.Route("/a.html", Body("a"));
  server.Route("/b.html", Body("b"));
  const std::string first = NewTask(server.BaseUrl() + "/a.html", "All", false, true);
  const std::string second = NewTask(server.BaseUrl() + "/b.html", "All", false, true);
  std::vector<std::string> started;
  StartSchedule();
  ASSERT_TRUE(Pump([&] {
    THXTask* t = HXApp->CurrentTask.get();
    if (t && t->IsActive() && (started.empty() || started.back() != t->FileName)) started.push_back(t->FileName);
    return Load(second)->Status == tsTaskComplete && Load(first)->Status == tsTaskComplete;
  }));
  EXPECT_EQ(started, (std::vector<std::string>{first, second}));
}

TEST_F(RunControlTest, RunningTheCurrentTaskFileHonoursTheChosenMethod) {
  server.Route("/index.html", Body("home"));
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  StartSchedule();
  ASSERT_TRUE(RunEnds(file));
  const int asked = server.RequestCount("/index.html");
  // The file is the current task; Resume must not restart (and refetch).
  dialog.Method = rmResume;
  ASSERT_TRUE(Load(file)->RequestRun());
  ASSERT_TRUE(RunEnds(file));
  EXPECT_EQ(server.RequestCount("/index.html"), asked);
  EXPECT_EQ(Load(file)->PagesSaved, 1);
}

TEST_F(RunControlTest, StopDoesNothingWithoutAnActiveTask) {
  server.Route("/index.html", Body("home"));
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  StopCurrentTask();  // none current
  StartSchedule();
  ASSERT_TRUE(RunEnds(file));
  StopCurrentTask();  // finished: stays finished
  EXPECT_EQ(Load(file)->Status, tsTaskComplete);
}

TEST_F(RunControlTest, UnmarkedItemsDoNotHoldARunOpen) {
  server.Route("/index.html", Body("home"));
  const std::string file = NewTask(server.BaseUrl() + "/index.html", "All", false, true);
  auto task = Load(file);
  task->RunMethod = rmMap;
  task->SaveToFile();
  StartSchedule();
  ASSERT_TRUE(Pump([&] { return HXApp->CurrentTask && HXApp->CurrentTask->FileName == file; }));
  // Media found by a mapping run carry mark 0: counted, never fetched.
  THXQItem media(HXApp->CurrentTask.get());
  media.Url = server.BaseUrl() + "/never.gif";
  media.Type = "Images";
  media.Mark = mkUnmarked;
  media.Store();
  ASSERT_TRUE(RunEnds(file));
  EXPECT_EQ(Load(file)->Status, tsTaskComplete);
  EXPECT_EQ(server.RequestCount("/never.gif"), 0);
}

}  // namespace
