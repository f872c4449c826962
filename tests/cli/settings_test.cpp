#include <gtest/gtest.h>

#include "cli/clirun.h"
#include "support/tempdir.h"

namespace {

class SettingsCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "config", "HARVIX_HOME=" + dir.Path() + "program",
                               "HOME=" + dir.Path() + "home"};
  CliResult Run(const std::vector<std::string>& args) { return RunCli(args, env); }
};

TEST_F(SettingsCommandTest, FreshConfigListsTheDefaults) {
  const auto r = Run({"settings"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  for (const std::string line :
       {"Connections=5", "Priority=5", "Use Proxy=0", "Language=Native", "Skin=Default", "Max URL History=20",
        "Max File History=10", "Max Items To Display=500", "Last Category=General", "Last Task=General",
        "User Agent=", "Zip Last=0", "Show Summary On Completion=1", "Beep On Completion=1", "Save Mode=1",
        "Engine Pace=1000"})
    EXPECT_NE(r.Out.find(line + "\n"), std::string::npos) << line;
  EXPECT_NE(r.Out.find("Downloads Folder=" + dir.Path() + "program/Downloads/\n"), std::string::npos);
  EXPECT_NE(r.Out.find("Local Intranet Folder=" + dir.Path() + "home/My Intranet/\n"), std::string::npos);
}

TEST_F(SettingsCommandTest, SettingGoesThroughTheSetterRules) {
  struct Case { std::vector<std::string> set; std::string shown; } cases[] = {
      {{"temp folder", dir.Path() + "work"}, dir.Path() + "work/Harvix/"},
      {{"Temp Folder", dir.Path() + "Harvix-tmp"}, dir.Path() + "Harvix-tmp/"},
      {{"User Agent", "Anonymous"}, "Anonymous"},
      {{"Connections", "12"}, "12"},
      {{"Downloads Folder", ""}, dir.Path() + "program/Downloads/"},
      {{"Last Category", ""}, ""},
      {{"Proxy Address", "proxy.example.org"}, "proxy.example.org"},
  };
  for (const auto& c : cases) {
    auto args = std::vector<std::string>{"settings"};
    args.insert(args.end(), c.set.begin(), c.set.end());
    const auto set = Run(args);
    EXPECT_EQ(set.Code, 0) << c.set[0] << ": " << set.Err;
    const auto shown = Run({"settings", c.set[0]});
    EXPECT_EQ(shown.Out, c.shown + "\n") << c.set[0];
  }
}

TEST_F(SettingsCommandTest, BadNamesAndValuesExitWith2AndChangeNothing) {
  struct Case { std::vector<std::string> args; const char* message; } cases[] = {
      {{"settings", "Colour"}, "unknown setting"},
      {{"settings", "Connections", "lots"}, "not a whole number"},
      {{"settings", "Connections", "0"}, "from 1 to 16"},
      {{"settings", "Priority", "11"}, "from 0 to 10"},
      {{"settings", "Use Proxy", "2"}, "from 0 to 1"},
      {{"settings", "Temp Folder", ""}, "cannot be empty"},
      {{"settings", "Max", "URL", "History"}, "too many arguments"},
      {{"frobnicate"}, "unknown command"},
  };
  for (const auto& c : cases) {
    const auto r = Run(c.args);
    EXPECT_EQ(r.Code, 2) << c.message;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << r.Err;
  }
  EXPECT_EQ(Run({"settings", "Connections"}).Out, "5\n");
  EXPECT_EQ(Run({"settings", "Priority"}).Out, "5\n");
}

TEST_F(SettingsCommandTest, EveryCommandHasHelp) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"settings", "--help"}, {"task", "--help"}}) {
    const auto r = Run(args);
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("Usage: harvix-cli"), std::string::npos);
  }
}

}  // namespace
