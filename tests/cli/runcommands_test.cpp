// harvix-cli get, run, schedule, tasks and daemon end to end against a
// loopback server, each in a sandbox of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/clirun.h"
#include "support/loopbackserver.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class RunCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As fast as the engine goes: the tests wait on transfers, not on pace.
    ASSERT_EQ(Cli({"settings", "Engine Pace", "0"}).Code, 0);
    ScriptedResponse page;
    page.Body = "<html>home</html>";
    server.Route("/index.html", page);
  }
  CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, env); }
  std::string TaskFile() const { return dir.Path() + "program/Tasks/General/127_0.hxt"; }
  bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  TempDir dir;
  LoopbackServer server;
  std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "config", "HARVIX_HOME=" + dir.Path() + "program",
                               "HOME=" + dir.Path() + "home", "http_proxy=", "https_proxy=", "HTTP_PROXY=",
                               "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="};
};

TEST_F(RunCommandsTest, GetCreatesTheTaskRunsItAndListsIt) {
  const auto r = Cli({"get", server.BaseUrl() + "/index.html", "--pace", "0", "--levels", "2", "--exclude",
                      "[AL]*.cgi", "--save-profile", "Shallow"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  // Parsed and written back: line breaks made CR LF.
  EXPECT_EQ(ReadTextFile(dir.Path() + "home/My Intranet/127.0.0.1/index.html"), "<html>home</html>\r\n");
  const auto shown = Cli({"task", "show", TaskFile()});
  EXPECT_NE(shown.Out.find("Status: 7 Task Complete\n"), std::string::npos) << shown.Out;
  EXPECT_NE(shown.Out.find("Depth: 2\n"), std::string::npos);
  EXPECT_NE(shown.Out.find("Profile Name: Shallow\n"), std::string::npos);
  EXPECT_NE(shown.Out.find("URL Filters Exclude: [AL]*.cgi\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.Path() + "program/Profiles/Shallow.hxp"));
  const auto listed = Cli({"tasks"});
  EXPECT_EQ(listed.Out, "General\t127_0\tTask Complete\t\t\t1/1\t0/0\t0\n");
  // A named profile is taken as it is.
  const auto again = Cli({"get", server.BaseUrl() + "/index.html", "--profile", "Shallow", "--pace", "0"});
  EXPECT_EQ(again.Code, 0) << again.Err;
  EXPECT_TRUE(fs::exists(dir.Path() + "program/Tasks/General/127_0(0).hxt"));
}

TEST_F(RunCommandsTest, ExitCodesTellHowARunEnded) {
  ScriptedResponse missing;
  missing.StatusLine = "HTTP/1.1 404 Not Found";
  server.Route("/gone.html", missing);
  EXPECT_EQ(Cli({"get", server.BaseUrl() + "/gone.html", "--pace", "0"}).Code, 1);
  const std::vector<std::vector<std::string>> bad = {
      {"get"}, {"get", "ftp://127.0.0.1/"}, {"get", server.BaseUrl() + "/", "--profile", "Nope"},
      {"get", server.BaseUrl() + "/", "--pages-within", "planet"}, {"run", "General/none"},
      {"schedule", "General/none", "--now"}, {"run"}, {"get", server.BaseUrl() + "/", "--add-to"}};
  for (const auto& args : bad) EXPECT_EQ(Cli(args).Code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
}

TEST_F(RunCommandsTest, InterruptStopsTheTaskAndRunResumesIt) {
  ScriptedResponse slow;
  slow.Body = "GIF89a";
  slow.DelayBeforeHeaders = 400ms;
  for (int i = 0; i < 6; ++i) server.Route("/s" + std::to_string(i) + ".gif", slow);
  ScriptedResponse index;
  index.Body = "x";
  server.Route("/slow.html", index);
  // The first run: the page and then media one by one, stopped midway.
  ASSERT_EQ(Cli({"get", server.BaseUrl() + "/slow.html", "--pace", "0"}).Code, 0);
  // Add media to the task's list as found links would be.
  const std::string dwn = dir.Path() + "program/Tasks/General/127_0.dwn";
  std::string list = ReadTextFile(dwn);
  for (int i = 0; i < 6; ++i)
    list += server.BaseUrl() + "/s" + std::to_string(i) + ".gif\r\n0\t\tImages\t\t1\t\t\t1\t\t0\t\t\r\n";
  WriteTextFile(dwn, list);
  CliProcess run({"run", "General/127_0", "--resume"}, env);
  ASSERT_TRUE(WaitFor([&] { return server.RequestCount("/s1.gif") > 0; }));
  run.Signal(SIGINT);
  const auto stopped = run.Wait();
  EXPECT_EQ(stopped.Code, 3) << stopped.Err;
  EXPECT_NE(Cli({"task", "show", TaskFile()}).Out.find("Status: 3 Download Stopped\n"), std::string::npos);
  const auto resumed = Cli({"run", "General/127_0", "--resume"});
  EXPECT_EQ(resumed.Code, 0) << resumed.Err;
  const auto shown = Cli({"task", "show", TaskFile()}).Out;
  EXPECT_NE(shown.find("Resources Saved: 6\n"), std::string::npos) << shown;
  for (int i = 0; i < 6; ++i) EXPECT_LE(server.RequestCount("/s" + std::to_string(i) + ".gif"), 2) << i;
}

TEST_F(RunCommandsTest, ScheduleSetsWhenATaskRuns) {
  ASSERT_EQ(Cli({"get", server.BaseUrl() + "/index.html", "--pace", "0"}).Code, 0);
  struct Case { std::vector<std::string> when; const char* schedule; } cases[] = {
      {{"--every", "2:30"}, "Every 2 hours, 30 mins"},
      {{"--daily", "08:00:00"}, "Daily at 08:00:00"},
      {{"--off"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"schedule", "General/127_0"};
    args.insert(args.end(), c.when.begin(), c.when.end());
    const auto r = Cli(args);
    EXPECT_EQ(r.Code, 0) << c.when[0] << ": " << r.Err;
    const auto shown = Cli({"task", "show", TaskFile()}).Out;
    EXPECT_NE(shown.find(std::string("Schedule: ") + c.schedule + "\n"), std::string::npos) << shown;
  }
  EXPECT_EQ(Cli({"schedule", "General/127_0", "--every", "30:00"}).Code, 2);
  EXPECT_EQ(Cli({"schedule", "General/127_0", "--weekly", "Funday", "08:00:00"}).Code, 2);
}

TEST_F(RunCommandsTest, TheDaemonRunsDueTasksAndASecondFrontEndIsRefused) {
  ASSERT_EQ(Cli({"get", server.BaseUrl() + "/index.html", "--pace", "0"}).Code, 0);
  CliProcess daemon({"daemon"}, env);
  ASSERT_TRUE(WaitFor([&] { return daemon.ErrSoFar().find("running scheduled tasks") != std::string::npos; }));
  // Asked from another terminal while the daemon runs.
  ASSERT_EQ(Cli({"schedule", "General/127_0", "--now"}).Code, 0);
  ASSERT_TRUE(WaitFor([&] { return daemon.ErrSoFar().find("ended 127_0") != std::string::npos; }));
  const auto refused = Cli({"run", "General/127_0"});
  EXPECT_EQ(refused.Code, 2);
  EXPECT_NE(refused.Err.find("another Harvix is running tasks"), std::string::npos);
  daemon.Signal(SIGTERM);
  const auto ended = daemon.Wait();
  EXPECT_EQ(ended.Code, 0);
  EXPECT_NE(ended.Err.find("started 127_0"), std::string::npos);
  EXPECT_EQ(server.RequestCount("/index.html"), 2);
}

TEST_F(RunCommandsTest, AKilledRunLosesNothing) {
  ScriptedResponse slow;
  slow.Body = "GIF89a";
  slow.DelayBeforeHeaders = 450ms;
  ScriptedResponse index;
  index.Body = "x";
  server.Route("/k.html", index);
  ASSERT_EQ(Cli({"get", server.BaseUrl() + "/k.html", "--pace", "0"}).Code, 0);
  const std::string dwn = dir.Path() + "program/Tasks/General/127_0.dwn";
  std::string list = ReadTextFile(dwn);
  ASSERT_EQ(Cli({"settings", "Connections", "2"}).Code, 0);
  for (int i = 0; i < 60; ++i) {
    server.Route("/k" + std::to_string(i) + ".gif", slow);
    list += server.BaseUrl() + "/k" + std::to_string(i) + ".gif\r\n0\t\tImages\t\t1\t\t\t1\t\t0\t\t\r\n";
  }
  WriteTextFile(dwn, list);
  CliProcess run({"run", "General/127_0", "--resume", }, env);
  // Long enough for a periodic save (every eleventh second).
  ASSERT_TRUE(WaitFor([&] { return ReadTextFile(dwn).find("\r\n5\tok") != std::string::npos ||
                                   ReadTextFile(dwn).find("200 OK\tImages") != std::string::npos; }, 30s));
  run.Signal(SIGKILL);
  EXPECT_EQ(run.Wait().Code, -SIGKILL);
  const std::string saved = ReadTextFile(dwn);
  EXPECT_NE(saved.find("/k59.gif"), std::string::npos);  // every item is still listed
  // The next start finds the task as it was left and resumes it to the end.
  const auto resumed = Cli({"run", "General/127_0", "--resume"});
  EXPECT_EQ(resumed.Code, 0) << resumed.Err;
  const auto shown = Cli({"task", "show", TaskFile()}).Out;
  EXPECT_NE(shown.find("Resources Saved: 60\n"), std::string::npos) << shown << "\n" << ReadTextFile(dwn);
}

}  // namespace
