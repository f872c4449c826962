#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

TEST(WindowBoundsTest, StoredBoundsAreCorrected) {
  HarvixSandbox box;
  struct Case { const char *left, *top, *width, *height; WindowBounds expected; } cases[] = {
      {nullptr, nullptr, nullptr, nullptr, {0, 0, 640, 480}},
      {"-20", "-1", "599", "399", {0, 0, 640, 480}},
      {"10", "20", "600", "400", {10, 20, 600, 400}},
      {"15", "25", "1024", "768", {15, 25, 1024, 768}},
      {"abc", "12x", "", " 700", {0, 0, 640, 480}},
  };
  for (const auto& c : cases) {
    Registry().DeleteKey(kFormHarvixKey);
    const char* names[] = {"Left", "Top", "Width", "Height"};
    const char* values[] = {c.left, c.top, c.width, c.height};
    for (int i = 0; i < 4; ++i)
      if (values[i]) WriteSetting(kFormHarvixKey, names[i], std::string(values[i]));
    const WindowBounds b = ReadWindowBounds();
    const std::string row = c.width ? c.width : "absent";
    EXPECT_EQ(b.Left, c.expected.Left) << row;
    EXPECT_EQ(b.Top, c.expected.Top) << row;
    EXPECT_EQ(b.Width, c.expected.Width) << row;
    EXPECT_EQ(b.Height, c.expected.Height) << row;
  }
}

TEST(WindowBoundsTest, WrittenAsDecimalStrings) {
  HarvixSandbox box;
  WriteWindowBounds({12, 34, 800, 600});
  const auto v = Registry().Get(kFormHarvixKey, "Width");
  ASSERT_TRUE(v);
  EXPECT_FALSE(v->IsInteger);
  EXPECT_EQ(v->Str, "800");
  EXPECT_EQ(ReadWindowBounds().Top, 34);
}

TEST(ClassifyArgumentTest, OnlyPlainHttpStartsATask) {
  struct Case { const char* arg; ArgumentKind kind; } cases[] = {
      {"http://example.org/", ArgumentKind::Url},
      {"HTTP://EXAMPLE.ORG/", ArgumentKind::Url},
      {"https://example.org/", ArgumentKind::None},
      {"/home/u/Tasks/Site.HXT", ArgumentKind::TaskFile},
      {"archive.Zip", ArgumentKind::ZipFile},
      {"notes.txt", ArgumentKind::None},
      {"", ArgumentKind::None},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyArgument(c.arg), c.kind) << c.arg;
}

TEST(FirstRunSetupTest, InstallsResourcesImportsTypesAndMovesStrayTasks) {
  HarvixSandbox box;
  const std::string resources = box.Dir().Path() + "resources/";
  WriteTextFile(resources + "FTypes.reg",
                "Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\Brindlewood\\Harvix\\File Types]\n"
                "\"HTML\"=\".htm;.html;\"\n\"Images\"=\".gif;\"\n");
  WriteTextFile(resources + "Native.lng", "[Strings]\n726=x\n");
  WriteTextFile(resources + "Skins/Default/skin.ini", "[Skin]\n");
  setenv("HARVIX_RESOURCES", resources.c_str(), 1);
  const std::string tasks = HXApp->TasksFolder;
  WriteTextFile(tasks + "stray.hxt", "[Task]\n");
  WriteTextFile(tasks + "stray.dwn", "x");
  WriteTextFile(tasks + "clash.hxt", "new");
  WriteTextFile(tasks + "General/clash.hxt", "old");

  FirstRunSetup();
  unsetenv("HARVIX_RESOURCES");

  EXPECT_EQ(ReadSetting(kHarvixKey, "Version", ""), "3.07");
  EXPECT_EQ(ReadSetting(kFileTypesKey, "HTML", ""), ".htm;.html;");
  EXPECT_EQ(ReadSetting(kFileTypesKey, "Images", ""), ".gif;");
  EXPECT_TRUE(fs::exists(box.ProgramDir() + "Skins/Default/skin.ini"));
  EXPECT_TRUE(fs::exists(box.ProgramDir() + "Native.lng"));
  EXPECT_TRUE(fs::is_directory(box.ProgramDir() + "Downloads"));
  EXPECT_TRUE(fs::exists(tasks + "General/stray.hxt"));
  EXPECT_TRUE(fs::exists(tasks + "General/stray.dwn"));
  EXPECT_FALSE(fs::exists(tasks + "stray.hxt"));
  EXPECT_EQ(ReadTextFile(tasks + "clash.hxt"), "new");  // the target existed: stays put
  EXPECT_EQ(ReadTextFile(tasks + "General/clash.hxt"), "old");
}

TEST(FirstRunSetupTest, RunsAgainWhileTheSkinsFolderIsMissing) {
  HarvixSandbox box;
  setenv("HARVIX_RESOURCES", (box.Dir().Path() + "no-resources/").c_str(), 1);
  WriteSetting(kHarvixKey, "Version", std::string("3.07"));
  WriteSetting(kFileTypesKey, "HTML", std::string(".htm;"));
  FirstRunSetup();
  // It ran: the downloads folder was made, and the skins folder now exists.
  EXPECT_TRUE(fs::is_directory(box.ProgramDir() + "Downloads"));
  EXPECT_TRUE(fs::is_directory(box.ProgramDir() + "Skins"));
  fs::remove_all(box.ProgramDir() + "Downloads");
  FirstRunSetup();
  EXPECT_FALSE(fs::exists(box.ProgramDir() + "Downloads"));  // version and skins in place: skipped
  unsetenv("HARVIX_RESOURCES");
}

TEST(TaskRunLockTest, OnlyOneProcessHoldsTheTasksFolder) {
  TempDir dir;
  ASSERT_TRUE(AcquireTaskRunLock(dir.Path()));
  EXPECT_TRUE(HoldsTaskRunLock());
  auto otherProcessGetsIt = [&] {
    const pid_t pid = fork();
    if (pid == 0) {
      ReleaseTaskRunLock();  // drops the inherited copy only
      _exit(AcquireTaskRunLock(dir.Path()) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  EXPECT_FALSE(otherProcessGetsIt());
  ReleaseTaskRunLock();
  EXPECT_FALSE(HoldsTaskRunLock());
  EXPECT_TRUE(otherProcessGetsIt());
}

}  // namespace
