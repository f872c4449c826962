#include <gtest/gtest.h>

#include <filesystem>

#include "cli/clirun.h"
#include "support/loopbackserver.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

class FetchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedResponse page;
    page.Body = "<html>index</html>";
    server.Route("/index.html", page);
    ScriptedResponse image;
    image.Body = "GIF89a";
    server.Route("/img/logo.gif", image);
  }
  CliResult Fetch(std::vector<std::string> args) {
    args.insert(args.begin(), "fetch");
    return RunCli(args, env);
  }
  TempDir dir;
  LoopbackServer server;
  std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "config", "HARVIX_HOME=" + dir.Path() + "program",
                               "HOME=" + dir.Path() + "home", "http_proxy=", "https_proxy=", "HTTP_PROXY=",
                               "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="};
};

TEST_F(FetchCommandTest, SavesEveryUrlAndKeepsTheTask) {
  const std::string out = dir.Path() + "out/";
  const auto r = Fetch({server.BaseUrl() + "/index.html", server.BaseUrl() + "/img/logo.gif", "--out", out,
                        "--pace", "0", "--connections", "2"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadTextFile(out + "index.html"), "<html>index</html>");
  EXPECT_EQ(ReadTextFile(out + "img/logo.gif"), "GIF89a");
  const std::string tasks = dir.Path() + "program/Tasks/General/";
  EXPECT_TRUE(fs::exists(tasks + "127.0.0.1.dwn"));
  const auto shown = RunCli({"task", "show", tasks + "127.0.0.1.hxt"}, env);
  EXPECT_NE(shown.Out.find("Status: 5 Download Complete\n"), std::string::npos) << shown.Out;
  EXPECT_NE(shown.Out.find("Pages Saved: 1\n"), std::string::npos);
  EXPECT_NE(shown.Out.find("Resources Saved: 1\n"), std::string::npos);
  EXPECT_NE(shown.Out.find("Total Bytes: 24\n"), std::string::npos);
}

TEST_F(FetchCommandTest, ASingleUrlGoesBelowItsHostFolder) {
  const std::string out = dir.Path() + "single/";
  const auto r = Fetch({server.BaseUrl() + "/index.html", "--out", out, "--pace", "0"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadTextFile(out + "127.0.0.1/index.html"), "<html>index</html>");
}

TEST_F(FetchCommandTest, AnyFailureMeansExitOne) {
  const auto r = Fetch({server.BaseUrl() + "/index.html", server.BaseUrl() + "/missing.html", "ftp://127.0.0.1/x",
                        "--out", dir.Path() + "out/", "--pace", "0"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("2 failed"), std::string::npos) << r.Err;
  EXPECT_NE(ReadTextFile(dir.Path() + "program/Tasks/General/127.0.0.1.dwn").find("404 Not Found"), std::string::npos);
}

TEST_F(FetchCommandTest, BadUsageExitsTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"--connections", "0", "http://h/"}, {"--pace", "-5", "http://h/"}, {"http:///nohost"}, {"--bogus", "http://h/"}};
  for (const auto& args : cases) {
    const auto r = Fetch(args);
    EXPECT_EQ(r.Code, 2) << (args.empty() ? "no arguments" : args[0]);
    EXPECT_NE(r.Err.find("harvix-cli fetch:"), std::string::npos);
  }
}

}  // namespace
