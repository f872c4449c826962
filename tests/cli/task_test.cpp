#include <gtest/gtest.h>

#include "cli/clirun.h"
#include "support/tempdir.h"

namespace {

TEST(TaskShowTest, PrintsTheTaskAndItsProfile) {
  TempDir dir;
  const std::string file = dir.File("My Site.hxt");
  WriteTextFile(file,
                "[Task]\nURL=http://example.org/\nStatus=0x7\nTotal Bytes=6000000000\n"
                "Elapsed Time=12/31/1899 02:00:00\n[URLs]\nURL0=http://a/\nURL1=http://b/\n"
                "[Profile]\nProfile Name=Mine\nURL Filters Exclude=\"[AL]a b\",x\n");
  const auto r = RunCli({"task", "show", file}, {"HARVIX_CONFIG_DIR=" + dir.Path() + "c", "HARVIX_HOME=" + dir.Path() + "p"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  for (const char* line :
       {"Name: My Site\n", "URL: http://example.org/\n", "URL0: http://a/\n", "URL1: http://b/\n",
        "Status: 7 Task Complete\n", "Total Bytes: 6000000000\n", "Elapsed Time: 12/31/1899 02:00:00\n",
        "Profile Name: Mine\n", "Depth: -1\n", "URL Filters Exclude: \"[AL]a b\",x\n",
        "Page Location: 1 within the selected site\n", "Aggressive Parser: 1 SCRIPT tags only\n"})
    EXPECT_NE(r.Out.find(line), std::string::npos) << line;
}

TEST(TaskShowTest, MissingFileOrBadUsageFails) {
  TempDir dir;
  const std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "c", "HARVIX_HOME=" + dir.Path() + "p"};
  EXPECT_EQ(RunCli({"task", "show", dir.File("none.hxt")}, env).Code, 1);
  EXPECT_EQ(RunCli({"task", "delete", "x"}, env).Code, 2);
  EXPECT_EQ(RunCli({"task"}, env).Code, 2);
}

}  // namespace
