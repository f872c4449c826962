#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "app/thxapp.h"
#include "support/tempdir.h"
#include "tasks/downloadlist.h"
#include "tasks/filetypes.h"
#include "tasks/thxtask.h"

namespace fs = std::filesystem;

namespace {

class DownloadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileTypeGroup("HTML", ".htm;.html;");
    WriteFileTypeGroup("Images", ".gif;.jpg;");
    task.Name = "Site";
    task.FileName = HXApp->TasksFolder + "General/Site.hxt";
    task.Url = "http://h/index.html";
  }
  // Adds an item as the parse pass would.
  THXQItem& Add(const std::string& url, std::uint8_t state = isNone, std::int64_t size = 0, std::uint8_t mark = mkDownload) {
    items.push_back(std::make_unique<THXQItem>(&task));
    THXQItem& item = *items.back();
    item.Url = url;
    item.Type = FileTypeOfUrl(url);
    item.State = state;
    item.Size = size;
    item.Mark = mark;
    item.Store();
    return item;
  }
  std::string Urls(std::unique_ptr<THXQItem> (THXTask::*next)()) {
    std::string out;
    while (auto item = (task.*next)()) out += item->Url + " ";
    return out;
  }
  HarvixSandbox box;
  THXTask task;
  std::vector<std::unique_ptr<THXQItem>> items;
};

TEST(ItemStateTest, NamesOfEveryState) {
  const char* names[] = {"None",    "Downloading", "Updating", "Error",  "Downloaded", "Saved",
                         "Updated", "Mapping",     "Parsing",  "Mapped", "Parsed",     "Zipped"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ItemStateName(i), names[i]);
  EXPECT_EQ(ItemStateName(12), "Unknown");
}

// The URL index hashes eight bytes at a time: letter case must fold for
// "A" to "Z" only, at every place of a word and in the short tail.
TEST(UrlHashTest, FoldsAsciiLettersOnly) {
  const std::string base = "http://www.example.com/Path/To/Page_01.HTML?x=Y";
  for (std::size_t length = 0; length <= base.size(); ++length) {
    const std::string text = base.substr(0, length);
    std::string upper = text, lower = text;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(CaseInsensitiveHash(upper), CaseInsensitiveHash(lower)) << length;
  }
  // Pairs 32 apart that are not letters, and bytes above 127, stay apart.
  const std::pair<std::string, std::string> apart[] = {
      {"@", "`"}, {"[", "{"}, {"http://h/a@b", "http://h/a`b"}, {"\xC0\xC9", "\xE0\xE9"}, {"http://h/Z]", "http://h/Z}"},
      {"page", "page "}, {"12345678", "123456789"},
  };
  for (const auto& [a, b] : apart) EXPECT_NE(CaseInsensitiveHash(a), CaseInsensitiveHash(b)) << a;
}

TEST_F(DownloadsTest, StoreAppendsCountsAndReplacesIgnoringCase) {
  Add("http://h/a.html");
  Add("http://h/b.gif");
  THXQItem& again = Add("HTTP://H/A.HTML", isSaved, 10);
  EXPECT_EQ(task.Downloads.size(), 4u);
  EXPECT_EQ(task.TotalPages, 1);
  EXPECT_EQ(task.TotalResources, 1);
  EXPECT_TRUE(task.Modified);
  EXPECT_EQ(task.Downloads[0], "http://h/a.html");  // the first spelling stays the key
  EXPECT_EQ(task.Downloads[1], "5\t\tHTML\t\t0\t\t\t1\t\t10\t\t");
  EXPECT_EQ(again.Url, "HTTP://H/A.HTML");
}

TEST_F(DownloadsTest, DataLineKeepsItsStructureWhateverTheFieldsHold) {
  THXQItem& item = Add("http://h/a.html");
  item.Result = " \t200\r\n OK\xB6 ";
  item.Title = "Tab\there\nand line";
  item.Referrer = "http://h/ref";
  item.LastModified = "Tue, 01 Dec 2026 10:00:00 GMT";
  item.Level = 3;
  item.FromFrame = "Y";
  item.Store();
  EXPECT_EQ(task.Downloads[1],
            "0\t200 OK\tHTML\t\t3\thttp://h/ref\tTue, 01 Dec 2026 10:00:00 GMT\t1\tTab here and line\t0\tY\t");
  auto back = task.GetItem(0);
  EXPECT_EQ(back->Result, "200 OK");
  EXPECT_EQ(back->Title, "Tab here and line");
  EXPECT_EQ(back->Level, 3);
  EXPECT_EQ(back->FromFrame, "Y");
  EXPECT_EQ(back->LastModified, item.LastModified);
}

TEST_F(DownloadsTest, SetStateKeepsTheCountersRight) {
  task.TotalBytes = 1000;
  task.PagesSaved = 2;
  task.ResourcesSaved = 1;
  task.PageErrors = 1;
  THXQItem page(&task), media(&task);
  page.Type = "HTML";
  media.Type = "Images";
  struct Case { THXQItem* item; int from, to; int pagesSaved, resourcesSaved, pageErrors, resourceErrors; std::int64_t bytes; } cases[] = {
      {&page, isError, isNone, 2, 1, 0, 0, 1000},
      {&page, isSaved, isNone, 1, 1, 0, 0, 900},     // re-marking a saved page
      {&page, isParsed, isError, 0, 1, 1, 0, 900},
      {&media, isZipped, isError, 0, 0, 1, 1, 900},
      {&media, isNone, isDownloading, 0, 0, 1, 1, 900},  // counted by the engine, not here
  };
  page.Size = 100;
  for (const auto& c : cases) {
    c.item->State = static_cast<std::uint8_t>(c.from);
    c.item->SetState(static_cast<std::uint8_t>(c.to));
    EXPECT_EQ(c.item->State, c.to);
    EXPECT_EQ(task.PagesSaved, c.pagesSaved) << c.from << "->" << c.to;
    EXPECT_EQ(task.ResourcesSaved, c.resourcesSaved) << c.from << "->" << c.to;
    EXPECT_EQ(task.PageErrors, c.pageErrors) << c.from << "->" << c.to;
    EXPECT_EQ(task.ResourceErrors, c.resourceErrors) << c.from << "->" << c.to;
    EXPECT_EQ(task.TotalBytes, c.bytes) << c.from << "->" << c.to;
  }
}

TEST_F(DownloadsTest, QueuesHandOutMarkedNewItemsOnceEachInListOrder) {
  Add("http://h/1.html");
  Add("http://h/a.gif");
  Add("http://h/2.html", isDownloading);  // left so by an abrupt end
  Add("http://h/3.html", isSaved);
  Add("http://h/4.html", isNone, 0, mkUnmarked);
  Add("http://h/b.jpg", isError);
  Add("http://h/c.gif", isNone, 0, mkUpdate);
  EXPECT_EQ(Urls(&THXTask::NextPage), "http://h/1.html http://h/2.html ");
  EXPECT_EQ(Urls(&THXTask::NextMedia), "http://h/a.gif http://h/c.gif ");
  // Items found later in the run lie behind the cursors and are handed out.
  Add("http://h/5.html");
  Add("http://h/d.gif");
  EXPECT_EQ(Urls(&THXTask::NextPage), "http://h/5.html ");
  EXPECT_EQ(Urls(&THXTask::NextMedia), "http://h/d.gif ");
  // An item that goes back to None waits for the next run.
  task.Downloads.SetData(1, "0\t\tHTML\t\t0\t\t\t1\t\t0\t\t");
  EXPECT_EQ(Urls(&THXTask::NextPage), "");
  task.PageCursor = 1;
  EXPECT_EQ(Urls(&THXTask::NextPage), "http://h/1.html http://h/2.html http://h/5.html ");
}

TEST_F(DownloadsTest, ParseQueueIsTheFirstSavedPageInListOrder) {
  Add("http://h/1.html", isParsed);
  Add("http://h/a.gif", isSaved);
  Add("http://h/2.html", isSaved);
  Add("http://h/3.html", isSaved);
  EXPECT_EQ(task.NextPageToParse()->Url, "http://h/2.html");
  auto item = task.NextPageToParse();
  item->State = isParsed;
  item->Store();
  EXPECT_EQ(task.NextPageToParse()->Url, "http://h/3.html");
  auto first = task.GetItem(0);
  first->State = isSaved;  // re-saved by an update
  first->Store();
  EXPECT_EQ(task.NextPageToParse()->Url, "http://h/1.html");
  task.Downloads.clear();
  EXPECT_FALSE(task.NextPageToParse());
}

TEST_F(DownloadsTest, ResetInProgressTouchesOnlyTheStateField) {
  Add("http://h/1.html", isDownloading, 7);
  Add("http://h/2.html", isUpdating);
  Add("http://h/3.html", isSaved, 5);
  task.TotalBytes = 12;
  const std::string third = task.Downloads[5];
  task.ResetInProgressItems();
  EXPECT_EQ(task.Downloads[1], "0\t\tHTML\t\t0\t\t\t1\t\t7\t\t");
  EXPECT_EQ(task.GetItem(2)->State, isNone);
  EXPECT_EQ(task.Downloads[5], third);
  EXPECT_EQ(task.TotalBytes, 12);
}

TEST_F(DownloadsTest, SaveAndLoadKeepEveryLineAndTheTaskFile) {
  Add("http://h/1.html", isSaved, 100);
  Add("http://h/a.gif");
  task.TotalBytes = 100;
  ASSERT_TRUE(task.SaveDownloads());
  EXPECT_FALSE(task.Modified);
  EXPECT_EQ(task.SaveTicks, 0);
  EXPECT_EQ(ReadTextFile(HXApp->TasksFolder + "General/Site.dwn"),
            "http://h/1.html\r\n5\t\tHTML\t\t0\t\t\t1\t\t100\t\t\r\n"
            "http://h/a.gif\r\n0\t\tImages\t\t0\t\t\t1\t\t0\t\t\r\n");
  EXPECT_EQ(THXTask::LoadTask(task.FileName)->TotalBytes, 100);  // the task file was saved too

  THXTask loaded;
  loaded.Name = "Site";
  loaded.FileName = task.FileName;
  loaded.BuildUrlIndex();
  EXPECT_EQ(loaded.Downloads.size(), 4u);
  EXPECT_EQ(loaded.Downloads.Find("HTTP://h/A.GIF"), 2);
  EXPECT_EQ(loaded.NextPageToParse()->Url, "http://h/1.html");
}

TEST_F(DownloadsTest, AFailedSaveKeepsTheListModifiedAndTheOldFile) {
  Add("http://h/1.html");
  ASSERT_TRUE(task.SaveDownloads());
  const std::string before = ReadTextFile(task.DownloadsFileName());
  Add("http://h/2.html");
  // A folder in the way of the temp file's rename.
  const std::string dwn = task.DownloadsFileName();
  fs::remove(dwn);
  fs::create_directories(dwn + "/blocker");
  EXPECT_FALSE(task.SaveDownloads());
  EXPECT_TRUE(task.Modified);
  fs::remove_all(dwn);
  EXPECT_TRUE(task.SaveDownloads());
  EXPECT_FALSE(task.Modified);
  EXPECT_NE(ReadTextFile(dwn), before);
}

TEST_F(DownloadsTest, SaveTickSavesOnEveryEleventhTick) {
  Add("http://h/1.html");
  for (int tick = 1; tick <= 10; ++tick) {
    task.SaveDownloadsTick();
    EXPECT_TRUE(task.Modified) << tick;
  }
  task.SaveDownloadsTick();
  EXPECT_FALSE(task.Modified);
  EXPECT_TRUE(fs::exists(task.DownloadsFileName()));
}

TEST_F(DownloadsTest, OldFilesKeepTheirSeparator) {
  WriteTextFile(task.DownloadsFileName(),
                "http://h/sch\xC3\xB6n.html\r\n5\xB6\xB6HTML\xB6\xB6\x30\xB6\xB6\xB6\x31\xB6T\xC3\xB6n\xB6\x39\xB6\xB6\r\n");
  task.LoadDownloads();
  EXPECT_EQ(task.Downloads.Separator, kOldSeparator);
  auto item = task.GetItem(0);
  EXPECT_EQ(item->State, isSaved);
  EXPECT_EQ(item->Title, "T\xC3\xB6n");  // the 0xB6 inside "ö" is text
  EXPECT_EQ(item->Size, 9);
  EXPECT_EQ(task.NextPageToParse()->Url, "http://h/sch\xC3\xB6n.html");
  item->Result = "200 OK";
  item->Store();
  EXPECT_EQ(task.Downloads[1], "5\xB6" "200 OK\xB6HTML\xB6\xB6" "0\xB6\xB6\xB6" "1\xB6T\xC3\xB6n\xB6" "9\xB6\xB6");

  // A UTF-8 title alone does not make a TAB file look old.
  WriteTextFile(task.DownloadsFileName(), "http://h/a.html\r\n0\t\tHTML\t\t0\t\t\t1\tSch\xC3\xB6n\t0\t\t\r\n");
  task.LoadDownloads();
  EXPECT_EQ(task.Downloads.Separator, kTabSeparator);
}

TEST_F(DownloadsTest, DamagedFilesLoadWhatTheyCan) {
  const std::string longLine(1 << 20, 'x');
  struct Case { std::string text; std::size_t lines; int state, mark; std::int64_t size; } cases[] = {
      {"http://h/a.html\r\n", 2, 0, 1, 0},                         // odd line count
      {"http://h/a.html\r\n5\tok\r\n", 2, 5, 1, 0},                 // missing fields
      {"http://h/a.html\r\nfive\t\tHTML\t\t\t\t\tnone\t\tbig\t\t\r\n", 2, 0, 1, 0},
      {"http://h/a.html\r\n3\t" + longLine + "\tHTML\t\t0\t\t\t0\t\t12\t\t\r\n", 2, 3, 0, 12},
      {std::string("\0\xff\xfe\r\n\x01\x02\t\x03", 10), 2, 0, 1, 0},
      {"", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    WriteTextFile(task.DownloadsFileName(), c.text);
    task.Downloads.clear();
    task.LoadDownloads();
    ASSERT_EQ(task.Downloads.size(), c.lines) << c.text.substr(0, 40);
    if (!c.lines) continue;
    auto item = task.GetItem(0);
    EXPECT_EQ(item->State, c.state) << c.text.substr(0, 40);
    EXPECT_EQ(item->Mark, c.mark) << c.text.substr(0, 40);
    EXPECT_EQ(item->Size, c.size) << c.text.substr(0, 40);
  }
}

TEST_F(DownloadsTest, LoadedCaseTwinsResolveToTheFirstInListOrder) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "http://h/p" + std::to_string(i) + ".html\r\n0\t\tHTML\t\r\n";
  text += "http://h/Twin.html\r\n0\t\r\nhttp://h/TWIN.html\r\n0\t\r\n";
  WriteTextFile(task.DownloadsFileName(), text);
  task.LoadDownloads();
  EXPECT_EQ(task.Downloads.Find("http://h/twin.HTML"), 6000);
  EXPECT_EQ(task.Downloads.Find("http://h/p2999.html"), 5998);
  EXPECT_EQ(task.Downloads.Find("http://h/none.html"), -1);
}

TEST_F(DownloadsTest, StartUrlsBecomeStartItemsOnce) {
  task.Urls = {"http://h/a.html", "http://h/b.gif", "http://H/A.HTML"};
  task.RunMethod = rmMap;
  task.AddStartUrls();
  EXPECT_EQ(task.Downloads.size(), 4u);
  auto first = task.GetItem(0), second = task.GetItem(2);
  EXPECT_EQ(first->Mark, mkMap);  // only the first start item of a map run
  EXPECT_EQ(second->Mark, mkDownload);
  EXPECT_EQ(second->Type, "Images");
  EXPECT_EQ(task.RunMethod, rmRestart);
  EXPECT_EQ(THXTask::LoadTask(task.FileName)->RunMethod, rmRestart);
  EXPECT_TRUE(fs::exists(task.DownloadsFileName()));
  task.AddStartUrls();
  EXPECT_EQ(task.Downloads.size(), 4u);
}

// A run killed after saving its list but before its task file leaves the
// task's counters behind the list; a resume takes them from the list.
TEST_F(DownloadsTest, AResumeTakesTheCountersFromTheList) {
  Add("http://h/index.html", isParsed);
  Add("http://h/p.html", isError);
  Add("http://h/q.html", isNone);
  Add("http://h/a.gif", isSaved);
  Add("http://h/b.gif", isZipped);
  Add("http://h/c.gif", isError);
  Add("http://h/d.gif", isDownloading);
  task.PagesSaved = task.ResourcesSaved = task.PageErrors = task.ResourceErrors = 0;
  task.TotalPages = 1;
  task.TotalResources = 0;
  task.SaveDownloads();
  task.Downloads.clear();
  task.BeginResume();
  EXPECT_EQ(task.TotalPages, 3);
  EXPECT_EQ(task.TotalResources, 4);
  EXPECT_EQ(task.PagesSaved, 1);
  EXPECT_EQ(task.ResourcesSaved, 2);
  EXPECT_EQ(task.PageErrors, 1);
  EXPECT_EQ(task.ResourceErrors, 1);
}

TEST_F(DownloadsTest, RunMethodsPrepareTheList) {
  Add("http://h/index.html", isParsed, 100);
  Add("http://h/a.gif", isError, 40);
  Add("http://h/b.gif", isSaved, 50);
  task.PagesSaved = 1;
  task.ResourcesSaved = 1;
  task.ResourceErrors = 1;
  task.TotalBytes = 150;
  task.ElapsedTime = 0.5;
  task.SaveDownloads();

  task.Downloads.clear();
  task.BeginSmartRecovery();
  auto failed = task.GetItem(2);
  EXPECT_EQ(failed->State, isNone);
  EXPECT_EQ(failed->Size, 0);
  EXPECT_EQ(task.ResourceErrors, 0);
  EXPECT_EQ(task.TotalBytes, 150);
  EXPECT_NEAR(Now() - task.StartTime, 0.5, 1e-3);  // resume continues the elapsed time

  task.BeginSmartUpdate();
  for (std::size_t i : {0u, 4u}) {
    auto item = task.GetItem(i);
    EXPECT_EQ(item->State, isNone);
    EXPECT_EQ(item->Mark, mkUpdate);
  }
  EXPECT_EQ(task.PagesSaved + task.ResourcesSaved, 0);
  EXPECT_EQ(task.TotalBytes, 0);
  EXPECT_FALSE(task.Modified);

  task.RunMethod = rmRestart;
  task.BeginRun();
  EXPECT_EQ(task.Downloads.size(), 2u);  // only the start URL again
  EXPECT_EQ(task.Status, tsDownloading);
  EXPECT_EQ(task.ElapsedTime, 0);
  EXPECT_EQ(THXTask::LoadTask(task.FileName)->Status, tsDownloading);
  EXPECT_EQ(HXApp->ActiveTasks, std::vector<std::string>{task.FileName});
}

TEST_F(DownloadsTest, BuildUrlIndexReportsProgress) {
  for (int i = 0; i < 120; ++i) Add("http://h/p" + std::to_string(i) + ".html");
  task.SaveDownloads();
  THXTask loaded;
  loaded.Name = "Site";
  loaded.FileName = task.FileName;
  std::vector<int> positions;
  loaded.OnProgress = [&](THXTask&, const std::string& message, int position, int maximum) {
    EXPECT_EQ(message, "Opening task...");
    EXPECT_EQ(maximum, 239);
    positions.push_back(position);
  };
  loaded.BuildUrlIndex();
  EXPECT_EQ(positions, (std::vector<int>{1, 101, 201, 239}));
}

}  // namespace
