#include "app/thxapp.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/frontend.h"
#include "app/settingsstore.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

class THXAppTest : public ::testing::Test {
 protected:
  HarvixSandbox box;
  THXApp& app = *HXApp;

  std::string TaskPath(const std::string& name) { return app.TasksFolder + "General/" + name + ".hxt"; }
  void SaveTask(const std::string& name, int status, const std::string& schedule, TDateTime nextRun = 0) {
    THXTask t;
    t.Name = name;
    t.FileName = TaskPath(name);
    t.Status = status;
    t.Schedule = schedule;
    t.NextRun = nextRun;
    t.SaveToFile();
  }
};

TEST_F(THXAppTest, FreshSettingsTakeTheirDefaults) {
  EXPECT_EQ(app.Connections, 5);
  EXPECT_EQ(app.Priority, 5);
  EXPECT_EQ(app.Language, "Native");
  EXPECT_EQ(app.Skin, "Default");
  EXPECT_EQ(app.LastCategory, "General");
  EXPECT_EQ(app.LastTask, "General");
  EXPECT_EQ(app.MaxUrlHistory, 20);
  EXPECT_EQ(app.MaxFileHistory, 10);
  EXPECT_EQ(app.MaxItemsToDisplay, 500);
  EXPECT_EQ(app.SaveInterval, 10);
  EXPECT_EQ(app.EnginePace, 1000);
  EXPECT_TRUE(app.ShowSummaryOnCompletion);
  EXPECT_TRUE(app.BeepOnCompletion);
  EXPECT_FALSE(app.ZipLast);
  EXPECT_FALSE(app.UseProxy);
  EXPECT_EQ(app.SaveMode(), 1);
  EXPECT_EQ(app.UserAgent, std::string("Harvix/3.07 (") + kProductHomePage + ")");
  EXPECT_EQ(app.TasksFolder, box.ProgramDir() + "Tasks/");
  EXPECT_EQ(app.ProfilesFolder, box.ProgramDir() + "Profiles/");
  EXPECT_EQ(app.DefaultSkinFolder, box.ProgramDir() + "Skins/Default/");
  EXPECT_EQ(app.SkinFolder(), box.ProgramDir() + "Skins/Default/");
  EXPECT_TRUE(app.BrandingUrl.empty());
  // Reading the defaults stored nothing.
  EXPECT_FALSE(Registry().KeyExists(kSettingsKey));
}

TEST_F(THXAppTest, UserAgentTableIsExactAndCaseSensitive) {
  struct Case { const char* stored; std::string header; } cases[] = {
      {"", std::string("Harvix/3.07 (") + kProductHomePage + ")"},
      {"Harvix", std::string("Harvix/3.07 (") + kProductHomePage + ")"},
      {"Internet Explorer 4.01", "Mozilla/4.0 (compatible; MSIE 4.01; Windows 95)"},
      {"Netscape Navigator 4.05", "Mozilla/4.05 [en] (Win95; I)"},
      {"Anonymous", ""},
      {"anonymous", "anonymous"},
      {"MyBot/1.0", "MyBot/1.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(TranslateUserAgent(c.stored), c.header) << c.stored;
}

TEST_F(THXAppTest, AnonymousUserAgentHoldsAfterARestart) {
  app.SetUserAgent("Anonymous");
  EXPECT_EQ(app.UserAgent, "");
  box.Restart();
  EXPECT_EQ(HXApp->UserAgent, "");
  EXPECT_EQ(ReadSetting(kSettingsKey, "User Agent", "x"), "Anonymous");
}

TEST_F(THXAppTest, TempFolderSetterKeepsTheProductWordInTheFolderName) {
  const std::string root = box.Dir().Path();
  struct Case { std::string given, stored; } cases[] = {
      {root + "Work", root + "Work/Harvix/"},
      {root + "Harvix-tmp", root + "Harvix-tmp/"},
      {root + "harvix/sub", root + "harvix/sub/Harvix/"},
      {"/", "/Harvix/"},
      {box.HomeDir(), box.HomeDir() + "Harvix/"},
  };
  for (const auto& c : cases) {
    app.SetTempFolder(c.given);
    EXPECT_EQ(ReadSetting(kSettingsKey, "Temp Folder", ""), c.stored) << c.given;
  }
  app.SetTempFolder("");
  EXPECT_EQ(ReadSetting(kSettingsKey, "Temp Folder", ""), box.HomeDir() + "Harvix/");
}

TEST_F(THXAppTest, DefaultTempFolderIsPrivateAndCreated) {
  const std::string t = app.TempFolder();
  EXPECT_NE(t.find("Harvix-"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(t));
  EXPECT_FALSE(Registry().Get(kSettingsKey, "Temp Folder"));  // not stored
}

TEST_F(THXAppTest, EmptyFolderSettersFallBackToTheirDefaults) {
  app.SetDownloadsFolder("");
  EXPECT_EQ(ReadSetting(kSettingsKey, "Downloads Folder", ""), box.ProgramDir() + "Downloads/");
  app.SetDownloadsFolder(box.Dir().Path() + "zips");
  EXPECT_EQ(app.DownloadsFolder(), box.Dir().Path() + "zips/");
  EXPECT_TRUE(fs::is_directory(box.Dir().Path() + "zips"));
  EXPECT_EQ(app.IntranetFolder(), box.HomeDir() + "My Intranet/");
  EXPECT_EQ(ReadSetting(kSettingsKey, "Local Intranet Folder", ""), box.HomeDir() + "My Intranet/");
}

TEST_F(THXAppTest, EmptyLastCategoryIsGeneralNowButEmptyAfterRestart) {
  app.SetLastCategory("");
  EXPECT_EQ(app.LastCategory, "General");
  box.Restart();
  EXPECT_EQ(HXApp->LastCategory, "");
}

TEST_F(THXAppTest, SettersWriteAtOnce) {
  app.SetConnections(9);
  app.SetBeepOnCompletion(false);
  app.SetProxyAddress("proxy.local");
  app.SetSaveMode(0);
  box.Restart();
  EXPECT_EQ(HXApp->Connections, 9);
  EXPECT_FALSE(HXApp->BeepOnCompletion);
  EXPECT_EQ(HXApp->ProxyAddress, "proxy.local");
  EXPECT_EQ(HXApp->SaveMode(), 0);
}

TEST_F(THXAppTest, PriorityChangeRestartsTheBalance) {
  auto task = std::make_unique<THXTask>();
  task->PagesHanded = 4;
  task->MediaHanded = 9;
  app.SetCurrentTask(std::move(task));
  app.SetPriority(8);
  EXPECT_EQ(app.CurrentTask->PagesHanded, 0);
  EXPECT_EQ(app.CurrentTask->MediaHanded, 0);
  EXPECT_EQ(ReadSetting(kSettingsKey, "Priority", 0), 8);
}

TEST_F(THXAppTest, BrandingUrlComesFromTheShortcutFile) {
  WriteTextFile(box.ProgramDir() + "branding.url", "[InternetShortcut]\nURL=https://example.org/brand\n");
  box.Restart();
  EXPECT_EQ(HXApp->BrandingUrl, "https://example.org/brand");
  WriteTextFile(box.ProgramDir() + "branding.url", "[InternetShortcut]\n");
  box.Restart();
  EXPECT_EQ(HXApp->BrandingUrl, kProductHomePage);
}

struct RecordingFrontend : Frontend {
  std::vector<THXTask*> bound;
  void CurrentTaskChanged(THXTask* t) override { bound.push_back(t); }
};

TEST_F(THXAppTest, CurrentTaskReplacementTellsTheFrontEnd) {
  RecordingFrontend ui;
  SetFrontend(&ui);
  auto first = std::make_unique<THXTask>();
  THXTask* firstPtr = first.get();
  app.SetCurrentTask(std::move(first));
  app.SetCurrentTask(std::make_unique<THXTask>());
  auto dropped = app.DropCurrentTask();
  SetFrontend(nullptr);
  ASSERT_EQ(ui.bound.size(), 3u);
  EXPECT_EQ(ui.bound[0], firstPtr);
  EXPECT_EQ(ui.bound[1], dropped.get());
  EXPECT_EQ(ui.bound[2], nullptr);
  EXPECT_FALSE(app.CurrentTask);
}

TEST_F(THXAppTest, ResetActiveTasksExaminesEveryListedTaskOnce) {
  const TDateTime future = Now() + 2;
  SaveTask("first", tsScheduled, "Daily", future);
  SaveTask("second", tsScheduled, "Daily", future);
  SaveTask("third", tsScheduled, "Daily", future);
  // The first was left downloading when the program ended.
  {
    auto t = THXTask::LoadTask(TaskPath("first"));
    t->Status = tsDownloading;
    t->SaveToFile();
  }
  SaveTask("now", tsScheduled, "Now");
  ASSERT_EQ(app.ActiveTasks.size(), 4u);
  box.Restart();
  HXApp->ResetActiveTasks();
  EXPECT_EQ(HXApp->ActiveTasks, (std::vector<std::string>{TaskPath("second"), TaskPath("third")}));
  EXPECT_EQ(THXTask::LoadTask(TaskPath("first"))->Status, tsUnscheduled);
  EXPECT_EQ(THXTask::LoadTask(TaskPath("now"))->Status, tsUnscheduled);
  EXPECT_EQ(THXTask::LoadTask(TaskPath("now"))->Schedule, "");
  EXPECT_EQ(THXTask::LoadTask(TaskPath("second"))->Status, tsScheduled);
  EXPECT_EQ(THXTask::LoadTask(TaskPath("third"))->Schedule, "Daily");
  EXPECT_EQ(ReadTextFile(HXApp->ActiveTasksFileName()), TaskPath("second") + "\r\n" + TaskPath("third") + "\r\n");
}

TEST_F(THXAppTest, MissingTaskFilesLeaveTheListAndAreNotRecreated) {
  SaveTask("gone", tsScheduled, "Now");
  SaveTask("due", tsScheduled, "Now");
  fs::remove_all(app.TasksFolder + "General/gone.hxt");
  auto due = app.FindDueTask();
  ASSERT_TRUE(due);
  EXPECT_EQ(due->Name, "due");
  EXPECT_EQ(app.ActiveTasks, std::vector<std::string>{TaskPath("due")});
  EXPECT_FALSE(fs::exists(TaskPath("gone")));
  fs::remove(TaskPath("due"));
  app.ResetActiveTasks();
  EXPECT_TRUE(app.ActiveTasks.empty());
  EXPECT_FALSE(fs::exists(TaskPath("due")));
  EXPECT_EQ(ReadTextFile(app.ActiveTasksFileName()), "");
}

TEST_F(THXAppTest, FindDueTaskSkipsFutureRunsAndTakesZeroAsDue) {
  SaveTask("later", tsScheduled, "Daily", Now() + 1);
  EXPECT_FALSE(app.FindDueTask());
  SaveTask("never-set", tsScheduled, "Once", 0);
  auto due = app.FindDueTask();
  ASSERT_TRUE(due);
  EXPECT_EQ(due->Name, "never-set");
}

}  // namespace
