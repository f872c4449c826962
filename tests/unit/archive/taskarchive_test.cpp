// The archive side of a zip-mode run, tick by tick: what the zip timer adds
// and when, "Zipped!", the rename after the start page's title, failed adds
// and the queue left at a stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "app/runcontrol.h"
#include "app/thxapp.h"
#include "archive/taskarchive.h"
#include "archive/zipmanager.h"
#include "support/tempdir.h"
#include "tasks/filetypes.h"
#include "tasks/thxtask.h"

namespace fs = std::filesystem;

namespace {

struct Recorder : Frontend {
  std::vector<std::string> Status, Errors;
  int Beeps = 0;
  void ShowStatus(const std::string& text, int) override { Status.push_back(text); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  void Beep() override { ++Beeps; }
};

class TaskArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFrontend(&ui);
    WriteFileTypeGroup("HTML", ".htm;.html;");
    WriteFileTypeGroup("Images", ".gif;");
    HXApp->SetTempFolder(box.Dir().Path() + "harvix-temp");
    HXApp->SetDownloadsFolder(box.Dir().Path() + "Downloads");
    HXApp->EnginePace = 1000;
    auto task = std::make_unique<THXTask>();
    task->Name = "Site";
    task->FileName = HXApp->TasksFolder + "General/Site.hxt";
    task->Url = "http://example.test/";
    task->IntranetMode = false;
    task->Destination = HXApp->DownloadsFolder() + "Site.zip";
    task->Profile.UseStartPageTitle = true;
    task->Status = tsDownloading;
    HXApp->SetCurrentTask(std::move(task));
    StartZipRun(Task());
  }
  void TearDown() override {
    SetZipTimerEnabled(false);
    EndZipRun();
    HXApp->DropCurrentTask();
    FreeZipManager();
    HXApp->ZipLast = false;
    SetFrontend(nullptr);
  }

  THXTask& Task() { return *HXApp->CurrentTask; }

  // A finished file of the run: its item stored as saved (or parsed, for a
  // page), its file below the temp folder, and queued for the archive.
  std::string Finish(const std::string& path, const std::string& title, const std::string& body, bool write = true) {
    auto item = std::make_unique<THXQItem>(&Task());
    item->Url = "http://example.test/" + path;
    item->Type = path.ends_with(".gif") ? "Images" : "HTML";
    item->Title = title;
    item->Size = static_cast<std::int64_t>(body.size());
    item->State = item->IsPage() ? isParsed : isSaved;
    ++(item->IsPage() ? Task().PagesSaved : Task().ResourcesSaved);
    ++(item->IsPage() ? Task().TotalPages : Task().TotalResources);
    Task().TotalBytes += item->Size;
    item->Store();
    const std::string file = item->GetLocalFile();
    if (write) {
      fs::create_directories(fs::path(file).parent_path());
      WriteTextFile(file, body);
    }
    Task().QueueForZip(file, std::move(item));
    return file;
  }

  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    TZipComponent zip;
    zip.ZipFileName = Task().Destination;
    zip.OnListing = [&](const ZipFileStats& s) { names.push_back(s.Name + "|" + s.Comment); };
    zip.FilesToProcess = {"*.*"};
    zip.List();
    std::sort(names.begin(), names.end());
    return names;
  }

  HarvixSandbox box;
  Recorder ui;
};

TEST_F(TaskArchiveTest, FilesGoInOneATickWhileTheDownloadRunsAndTheRunEndsZipped) {
  Finish("index.html", "Home: Page", "<title>Home: Page</title>");
  Finish("img/a.gif", "", "GIF89a");
  Task().StartPageTitle = "Home: Page";
  ZipTimerTick();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"index.html|Home: Page"}));
  EXPECT_EQ(Task().ZipQueue.size(), 1u);
  ZipTimerTick();
  EXPECT_EQ(Entries().size(), 2u);
  ZipTimerTick();
  EXPECT_EQ(Task().Status, tsDownloading) << "nothing more happens before the download completes";

  Task().SetDownloadComplete();
  ZipTimerTick();
  EXPECT_EQ(Task().Status, tsZipped);
  EXPECT_FALSE(ZipTimerEnabled());
  EXPECT_EQ(Task().Destination, HXApp->DownloadsFolder() + "Home  Page.zip");
  EXPECT_TRUE(fs::exists(Task().Destination));
  EXPECT_FALSE(fs::exists(HXApp->DownloadsFolder() + "Site.zip"));
  EXPECT_EQ(THXTask::LoadTask(Task().FileName)->Destination, Task().Destination) << "saved with the task";
  EXPECT_NE(std::find(ui.Status.begin(), ui.Status.end(), "Download finished (Site)"), ui.Status.end());
  EXPECT_EQ(ui.Beeps, 1);
}

TEST_F(TaskArchiveTest, WithZipLastNothingIsAddedBeforeTheDownloadCompletes) {
  HXApp->ZipLast = true;
  Finish("a.html", "A", "a");
  Finish("b.html", "B", "b");
  for (int i = 0; i < 3; ++i) ZipTimerTick();
  EXPECT_FALSE(fs::exists(Task().Destination));
  EXPECT_EQ(Task().ZipQueue.size(), 2u);
  Task().SetDownloadComplete();
  ZipTimerTick();
  EXPECT_EQ(Entries().size(), 1u) << "one file a tick";
  ZipTimerTick();
  EXPECT_EQ(Entries().size(), 2u);
  EXPECT_EQ(Task().Status, tsDownloadComplete);
  ZipTimerTick();
  EXPECT_EQ(Task().Status, tsZipped);
}

TEST_F(TaskArchiveTest, ARunWithNothingQueuedIsZippedOnTheFirstTick) {
  Task().SetDownloadComplete();
  ZipTimerTick();
  EXPECT_EQ(Task().Status, tsZipped);
  EXPECT_TRUE(ui.Errors.empty()) << "no archive to rename is no error";
}

TEST_F(TaskArchiveTest, ABusyZipManagerOrADisabledTimerSkipsTheTick) {
  Finish("a.html", "A", "a");
  ZipManager().ZipOperation = zoExtracting;
  ZipTimerTick();
  ZipManager().ZipOperation = zoIdle;
  ZipManager().ListingMode = lmFolder;
  ZipTimerTick();
  ZipManager().ListingMode = lmNone;
  SetZipTimerEnabled(false);
  ZipTimerTick();
  EXPECT_EQ(Task().ZipQueue.size(), 1u);
  SetZipTimerEnabled(true);
  ZipTimerTick();
  EXPECT_TRUE(Task().ZipQueue.empty());
}

TEST_F(TaskArchiveTest, AFailedAddDropsTheFileAndItsItemIsFetchedAgainNextTime) {
  Finish("gone.html", "Gone", "", false);
  Finish("b.html", "B", "b");
  const int saved = Task().PagesSaved;
  ZipTimerTick();
  EXPECT_EQ(Task().ZipQueue.size(), 1u) << "dropped, not retried";
  EXPECT_EQ(Task().PagesSaved, saved - 1);
  ZipTimerTick();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"b.html|B"})) << "the run goes on";
  const auto index = Task().Downloads.Find("http://example.test/gone.html");
  ASSERT_GE(index, 0);
  EXPECT_EQ(Task().GetItem(static_cast<std::size_t>(index))->State, isNone);
}

TEST_F(TaskArchiveTest, AStopPutsEverythingQueuedIntoTheArchive) {
  Finish("a.html", "A", "a");
  Finish("b/c.html", "C", "c");
  Finish("missing.gif", "", "", false);
  const int media = Task().ResourcesSaved;
  StopCurrentTask();
  EXPECT_EQ(Task().Status, tsStopped);
  EXPECT_TRUE(Task().ZipQueue.empty());
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html|A", "b/c.html|C"}));
  EXPECT_EQ(Task().ResourcesSaved, media - 1) << "the file that did not get in counts as not fetched";
  // The stop saved the list: the item is None on disk as well.
  auto reloaded = THXTask::LoadTask(Task().FileName);
  reloaded->LoadDownloads();
  const auto index = reloaded->Downloads.Find("http://example.test/missing.gif");
  ASSERT_GE(index, 0);
  EXPECT_EQ(reloaded->GetItem(static_cast<std::size_t>(index))->State, isNone);
}

TEST_F(TaskArchiveTest, APipelineAddGoesIntoTheTasksArchiveWhateverIsSelected) {
  const std::string other = box.Dir().Path() + "other.zip";
  {
    TZipComponent zip;
    zip.ZipFileName = other;
    zip.BaseFolder = box.Dir().Path();
    WriteTextFile(box.Dir().Path() + "x.txt", "x");
    zip.FilesToProcess = {"x.txt"};
    ASSERT_LE(zip.Add(), 0);
  }
  ZipTreeNode* otherNode = ZipManager().OpenArchive(other);
  ASSERT_EQ(ZipManager().Selected(), otherNode);
  Finish("a.html", "A", "a");
  ZipTimerTick();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html|A"}));
  EXPECT_EQ(otherNode->Data->Entries.Count(), 1u);
  EXPECT_TRUE(RunZipNode()->Data->Entries.Contains("a.html"));
  EXPECT_EQ(ZipManager().Zip.ZipFileName, other) << "the user's archive is current again";
}

TEST_F(TaskArchiveTest, AnUpdatedFileReplacesItsEntryAndKeepsOneNode) {
  Finish("a.html", "A", "old");
  ZipTimerTick();
  Finish("a.html", "A2", "new text");
  ZipTimerTick();
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html|A2"}));
  EXPECT_EQ(RunZipNode()->Data->Entries.Count(), 1u);
  TZipComponent zip;
  zip.ZipFileName = Task().Destination;
  zip.ExtractDirectory = box.Dir().Path() + "out/";
  zip.FilesToProcess = {"*.*"};
  ASSERT_LE(zip.Extract(), 0);
  EXPECT_EQ(ReadTextFile(box.Dir().Path() + "out/a.html"), "new text");
}

}  // namespace

namespace {

TEST_F(TaskArchiveTest, AtPaceZeroATickAddsEverythingThatWaits) {
  HXApp->EnginePace = 0;
  Finish("a.html", "A", "a");
  Finish("gone.gif", "", "", false);
  Finish("b/c.html", "C", "c");
  const int media = Task().ResourcesSaved;
  ZipTimerTick();
  EXPECT_TRUE(Task().ZipQueue.empty());
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.html|A", "b/c.html|C"}));
  EXPECT_EQ(Task().ResourcesSaved, media - 1) << "the one that did not get in is fetched again";
  EXPECT_EQ(RunZipNode()->Data->Entries.Count(), 2u);
  EXPECT_EQ(RunZipNode()->Data->Entries.Find("b/c.html")->Text, "c.html   (C)");
}

}  // namespace
