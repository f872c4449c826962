#include "tasks/thxtask.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/frontend.h"
#include "app/thxapp.h"
#include "support/tempdir.h"
#include "tasks/inifile.h"

namespace fs = std::filesystem;

namespace {

class TaskFileTest : public ::testing::Test {
 protected:
  HarvixSandbox box;
  std::string file = HXApp->TasksFolder + "General/Site.hxt";

  std::unique_ptr<THXTask> Load() { return THXTask::LoadTask(file); }
  std::unique_ptr<THXTask> LoadText(const std::string& text) {
    WriteTextFile(file, text);
    return Load();
  }
};

TEST(TaskStatusTest, NamesOfEveryStatus) {
  const char* names[] = {"Unscheduled", "Scheduled", "Downloading...", "Download Stopped", "Incomplete",
                         "Download Complete", "Zipped!", "Task Complete", "Deleted"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(TaskStatusName(i), names[i]);
  EXPECT_EQ(TaskStatusName(9), "Unknown");
  EXPECT_EQ(TaskStatusName(-1), "Unknown");
}

TEST(TaskTest, CountersDecideActivityAndAccounting) {
  THXTask t;
  for (int s = 0; s <= 8; ++s) {
    t.Status = s;
    EXPECT_EQ(t.IsActive(), s == tsDownloading || s == tsDownloadComplete) << s;
  }
  t.TotalPages = 3;
  t.TotalResources = 2;
  t.PagesSaved = 2;
  t.PageErrors = 1;
  t.ResourcesSaved = 1;
  EXPECT_FALSE(t.AllAccounted());
  t.ResourceErrors = 1;
  EXPECT_TRUE(t.AllAccounted());
  t.TotalBytes = 5'000'000'000LL;
  t.Downloads.Append("u", "d");
  t.ResetRun();
  EXPECT_EQ(t.TotalBytes, 0);
  EXPECT_EQ(t.TotalPages + t.PagesSaved + t.PageErrors + t.ResourceErrors, 0);
  EXPECT_TRUE(t.Downloads.empty());
  EXPECT_EQ(t.ElapsedTime, 0);
}

TEST_F(TaskFileTest, EveryMemberSurvivesSaveAndLoad) {
  THXTask t;
  t.FileName = file;
  t.Name = "Site";
  t.Url = "http://example.org/index.html";
  t.StartPageTitle = "Welcome";
  t.Server = "srv";
  t.CanUpdate = true;
  t.UserName = "me";
  t.Password = "secret";
  t.Comment = "note";
  t.Destination = box.Dir().Path() + "My Intranet/";
  t.IntranetMode = true;
  t.Status = tsStopped;
  t.Schedule = "Daily";
  t.RunMethod = rmSmartRecovery;
  t.TotalBytes = 6'000'000'000LL;  // more than 32 bits hold
  t.TotalPages = 10;
  t.TotalResources = 20;
  t.PagesSaved = 9;
  t.ResourcesSaved = 18;
  t.PageErrors = 1;
  t.ResourceErrors = 2;
  t.ElapsedTime = 26.0 / 24;
  t.LastRun = EncodeDateTime({1999, 12, 17, 9, 5, 0, 0}).value();
  t.NextRun = EncodeDateTime({2030, 1, 2, 3, 4, 5, 0}).value();
  t.Profile.Name = "Mine";
  t.Profile.Depth = 4;
  ASSERT_TRUE(t.SaveToFile());

  const auto text = ReadTextFile(file);
  EXPECT_NE(text.find("Elapsed Time=12/31/1899 02:00:00"), std::string::npos);
  EXPECT_NE(text.find("Total Bytes=6000000000"), std::string::npos);
  EXPECT_EQ(text.find("Category="), std::string::npos);  // the folder says it

  const auto l = Load();
  EXPECT_EQ(l->Name, "Site");
  EXPECT_EQ(l->Url, t.Url);
  EXPECT_EQ(l->StartPageTitle, "Welcome");
  EXPECT_EQ(l->Server, "srv");
  EXPECT_TRUE(l->CanUpdate);
  EXPECT_EQ(l->UserName, "me");
  EXPECT_EQ(l->Password, "secret");
  EXPECT_EQ(l->Comment, "note");
  EXPECT_EQ(l->Destination, t.Destination);
  EXPECT_TRUE(l->IntranetMode);
  EXPECT_EQ(l->Status, tsStopped);
  EXPECT_EQ(l->Schedule, "Daily");
  EXPECT_EQ(l->RunMethod, rmSmartRecovery);
  EXPECT_EQ(l->TotalBytes, 6'000'000'000LL);
  EXPECT_EQ(l->TotalPages, 10);
  EXPECT_EQ(l->TotalResources, 20);
  EXPECT_EQ(l->PagesSaved, 9);
  EXPECT_EQ(l->ResourcesSaved, 18);
  EXPECT_EQ(l->PageErrors, 1);
  EXPECT_EQ(l->ResourceErrors, 2);
  EXPECT_NEAR(l->ElapsedTime, 26.0 / 24, 1e-8);
  EXPECT_NEAR(l->LastRun, t.LastRun, 1e-8);
  EXPECT_NEAR(l->NextRun, t.NextRun, 1e-8);
  EXPECT_EQ(l->Profile.Name, "Mine");
  EXPECT_EQ(l->Profile.Depth, 4);
  EXPECT_EQ(l->Profile.FileName, file);
}

TEST_F(TaskFileTest, UrlListShrinksWithoutLeftovers) {
  THXTask t;
  t.FileName = file;
  t.Urls = {"http://a/1", "http://a/2", "http://a/3", "http://a/4", "http://a/5"};
  t.SaveToFile();
  t.Urls = {"http://b/1", "http://b/2", "http://b/3"};
  t.SaveToFile();
  EXPECT_EQ(Load()->Urls, t.Urls);
  EXPECT_EQ(ReadTextFile(file).find("URL3="), std::string::npos);
  t.Urls.clear();
  t.Url = "http://single/";
  t.SaveToFile();
  EXPECT_TRUE(Load()->Urls.empty());
  EXPECT_EQ(Load()->Url, "http://single/");
  EXPECT_TRUE(IniFile(file).KeyNames("URLs").empty());
}

TEST_F(TaskFileTest, UrlListStopsAtTheFirstEmptyKey) {
  const auto t = LoadText("[URLs]\nURL0=http://a/\nURL1=http://b/\nURL2=\nURL3=http://lost/\n");
  EXPECT_EQ(t->Urls, (std::vector<std::string>{"http://a/", "http://b/"}));
}

TEST_F(TaskFileTest, FileValuesReadAsTheTaskFileRulesSay) {
  const auto t = LoadText(
      "[task]\nSTATUS=0x2\nLast Run=12-17-1999 09:05:00\nNext Run=12-17-1999 09:05:00\n"
      "Elapsed Time=12-31-1899 02:00:00\nCategory=Mine\nDestination=C:\\Web\\Out\\\n");
  EXPECT_EQ(t->Name, "Site");  // no "Task Name": the file's name
  EXPECT_EQ(t->Status, tsDownloading);
  EXPECT_NEAR(t->LastRun, EncodeDateTime({1999, 12, 17, 9, 5, 0, 0}).value(), 1e-8);
  EXPECT_EQ(t->NextRun, 0);  // dashes are accepted for Last Run and Elapsed Time only
  EXPECT_NEAR(t->ElapsedTime, 26.0 / 24, 1e-8);
  EXPECT_EQ(t->Category, "Mine");
  EXPECT_EQ(t->Destination, "C:/Web/Out/");
}

TEST_F(TaskFileTest, DamagedFilesLoadWhatTheyCan) {
  const std::string cases[] = {
      "",
      "[Task]\nStatus=banana\nTotal Bytes=12x\nLast Run=13/45/2000\nURL=http://ok/\n",
      "[Task]\nURL=http://ok/\n" + std::string("\0\0\xff\xfe", 4) + "[Profile\nDepth=",
      "[Task]\nRun Method=9999\nPage Errors=99999999999999999999\nURL=http://ok/",
  };
  for (const auto& text : cases) {
    const auto t = LoadText(text);
    EXPECT_EQ(t->Name, "Site");
    EXPECT_EQ(t->Url, text.empty() ? "" : "http://ok/");
    EXPECT_EQ(t->TotalBytes, 0);
    EXPECT_EQ(t->LastRun, 0);
    EXPECT_EQ(t->PageErrors, 0);
    EXPECT_EQ(t->Profile.Depth, -1);
    // Loading never rewrote it.
    EXPECT_EQ(ReadTextFile(file), text);
  }
}

TEST_F(TaskFileTest, SavingKeepsKeysItDoesNotKnow) {
  WriteTextFile(file, "[Task]\nTask Name=Site\nMy Own Key=kept\nStatus=0\n[Extra]\nA=b\n");
  auto t = Load();
  t->Status = tsStopped;
  t->SaveToFile();
  const std::string text = ReadTextFile(file);
  EXPECT_NE(text.find("[Task]\nTask Name=Site\nMy Own Key=kept\nStatus=3\n"), std::string::npos);
  EXPECT_NE(text.find("[Extra]\nA=b\n"), std::string::npos);
}

TEST_F(TaskFileTest, ActiveTaskListFollowsTheSavedStatus) {
  THXTask t;
  t.FileName = file;
  t.Status = tsScheduled;
  t.SaveToFile();
  t.SaveToFile();
  EXPECT_EQ(HXApp->ActiveTasks, std::vector<std::string>{file});
  EXPECT_EQ(ReadTextFile(HXApp->ActiveTasksFileName()), file + "\r\n");
  t.Status = tsDownloading;
  t.SaveToFile();
  EXPECT_EQ(HXApp->ActiveTasks.size(), 1u);
  t.Status = tsZipped;
  t.SaveToFile();
  EXPECT_TRUE(HXApp->ActiveTasks.empty());
  EXPECT_EQ(ReadTextFile(HXApp->ActiveTasksFileName()), "");
  // The list is matched ignoring case.
  HXApp->UpdateActiveTask(file, true);
  t.FileName = file.substr(0, file.size() - 8) + "SITE.HXT";
  t.Status = tsUnscheduled;
  t.SaveToFile();
  EXPECT_TRUE(HXApp->ActiveTasks.empty());
}

TEST_F(TaskFileTest, OutputFolderFollowsTheMode) {
  THXTask t;
  t.IntranetMode = true;
  t.Destination = "/srv/intranet/";
  t.Url = "http://www.example.org:8080/a/b.html";
  EXPECT_EQ(t.OutputFolder(), "/srv/intranet/www.example.org/");
  t.Url.clear();
  EXPECT_EQ(t.OutputFolder(), "/srv/intranet/");
  t.IntranetMode = false;
  EXPECT_EQ(t.OutputFolder(), HXApp->TempFolder());
  t.FileName = file;
  t.Name = "Site";
  EXPECT_EQ(t.DownloadsFileName(), HXApp->TasksFolder + "General/Site.dwn");
}

struct RunDialog : Frontend {
  std::optional<int> answer;
  int asked = 0;
  std::optional<int> ChooseRunMethod(const THXTask&) override {
    ++asked;
    return answer;
  }
};

TEST_F(TaskFileTest, RequestRunAsksOnlyForATaskThatRanBefore) {
  RunDialog dialog;
  SetFrontend(&dialog);
  THXTask t;
  t.FileName = file;
  t.RunMethod = rmResume;
  EXPECT_TRUE(t.RequestRun());
  EXPECT_EQ(dialog.asked, 0);
  EXPECT_EQ(t.RunMethod, rmRestart);
  EXPECT_EQ(Load()->Status, tsScheduled);
  EXPECT_EQ(Load()->Schedule, "Now");
  EXPECT_EQ(HXApp->ActiveTasks, std::vector<std::string>{file});

  t.Status = tsTaskComplete;
  t.Schedule.clear();
  t.TotalBytes = 10;
  t.SaveToFile();
  dialog.answer = rmSmartUpdate;
  EXPECT_TRUE(t.RequestRun());
  EXPECT_EQ(dialog.asked, 1);
  EXPECT_EQ(Load()->RunMethod, rmSmartUpdate);

  t.Status = tsTaskComplete;
  t.Schedule.clear();
  t.SaveToFile();
  dialog.answer.reset();  // Cancel
  EXPECT_FALSE(t.RequestRun());
  EXPECT_EQ(Load()->Status, tsTaskComplete);
  EXPECT_TRUE(HXApp->ActiveTasks.empty());
  SetFrontend(nullptr);
}

}  // namespace
