// The zip manager's model: the tree of archives, folders and entries, the
// result classes and their messages, renaming, extraction for browsing and
// the guards of the selection.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/frontend.h"
#include "app/thxapp.h"
#include "archive/taskarchive.h"
#include "archive/zipmanager.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

struct Recorder : Frontend {
  std::vector<std::string> Status, Messages, Errors;
  void ShowStatus(const std::string& text, int) override { Status.push_back(text); }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
};

class ZipManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFrontend(&ui);
    HXApp->SetTempFolder(box.Dir().Path() + "harvix-temp");
    temp = HXApp->TempFolder();
    fs::create_directories(temp);
  }
  void TearDown() override { SetFrontend(nullptr); }

  // An archive with the given entries (name -> content), built through the
  // component as a user's add would.
  std::string MakeArchive(const std::string& name, const std::vector<std::pair<std::string, std::string>>& entries,
                          const std::string& comment = "") {
    const std::string src = box.Dir().Path() + "src-" + name + "/";
    TZipComponent zip;
    zip.ZipFileName = box.Dir().Path() + name;
    zip.BaseFolder = src;
    zip.OnFileComment = [&](const std::string&) { return comment; };
    for (const auto& [entry, text] : entries) {
      fs::create_directories(fs::path(src + entry).parent_path());
      WriteTextFile(src + entry, text);
      zip.FilesToProcess = {entry};
      EXPECT_LE(zip.Add(), 0) << entry;
    }
    return zip.ZipFileName;
  }

  std::vector<std::string> Texts(const ZipTreeNode* node) {
    std::vector<std::string> out;
    for (const auto& c : node->Children) out.push_back(c->Text);
    return out;
  }

  HarvixSandbox box;
  Recorder ui;
  std::string temp;
};

TEST_F(ZipManagerTest, OpeningListsFoldersAndEntriesWithTheirComments) {
  const std::string path = MakeArchive("site.zip", {{"index.htm", "a"}, {"a/b/page.htm", "b"}, {"a/c.gif", "c"}}, "Welcome");
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(path);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Text, "site.zip");
  EXPECT_EQ(zip.ZipOperation, zoIdle);
  TZipObj& obj = *root->Data;
  EXPECT_EQ(obj.Entries.Count(), 3u);
  ASSERT_TRUE(obj.Folders.Contains("a/"));
  ASSERT_TRUE(obj.Folders.Contains("A/B/")) << "lookups ignore letter case";
  EXPECT_EQ(obj.Folders.Find("a/b/")->Parent, obj.Folders.Find("a/"));
  EXPECT_EQ(obj.Entries.Find("index.htm")->Text, "index.htm   (Welcome)");
  EXPECT_EQ(Texts(obj.Folders.Find("a/b/")), std::vector<std::string>{"page.htm   (Welcome)"});
  EXPECT_EQ(TZipManager::NodeMask(root), "*.*");
  EXPECT_EQ(TZipManager::NodeMask(obj.Folders.Find("a/b/")), "a/b/*.*");
  EXPECT_EQ(TZipManager::NodeMask(obj.Entries.Find("a/b/page.htm")), "a/b/page.htm");
  EXPECT_EQ(RecentZipFiles().front(), path);
  // Opening it again selects the node it has; another spelling is another archive.
  EXPECT_EQ(zip.OpenArchive(path), root);
  std::string upper = path;
  upper.replace(upper.rfind("site.zip"), 8, "SITE.zip");
  EXPECT_NE(zip.OpenArchive(upper), root);
  EXPECT_EQ(zip.Archives().size(), 2u);
}

TEST_F(ZipManagerTest, PruningStopsAtAFolderWithChildrenAndNeverTakesTheArchive) {
  const std::string path = MakeArchive("p.zip", {{"a/b/c/x.htm", "x"}, {"a/y.htm", "y"}, {"z.htm", "z"}});
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(path);
  TZipObj& obj = *root->Data;
  zip.PruneNode(obj.Entries.Find("a/b/c/x.htm"));
  EXPECT_FALSE(obj.Folders.Contains("a/b/c/"));
  EXPECT_FALSE(obj.Folders.Contains("a/b/"));
  EXPECT_TRUE(obj.Folders.Contains("a/")) << "a/ still holds y.htm";
  EXPECT_FALSE(obj.Entries.Contains("a/b/c/x.htm"));
  zip.PruneNode(obj.Entries.Find("z.htm"));
  zip.PruneNode(obj.Entries.Find("a/y.htm"));
  EXPECT_EQ(zip.Archives().size(), 1u);
  EXPECT_TRUE(root->Children.empty());
  EXPECT_EQ(obj.Folders.Count(), 1u) << "only the archive's own key is left";
}

TEST_F(ZipManagerTest, DeletingEntriesRemovesThemFromTheFileAndTheTree) {
  const std::string path = MakeArchive("d.zip", {{"a/x.htm", "x"}, {"b.htm", "b"}});
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(path);
  ZipTreeNode* x = root->Data->Entries.Find("a/x.htm");
  EXPECT_EQ(zip.DeleteEntries(TZipManager::NodeMask(x), x), 0);
  EXPECT_FALSE(root->Data->Folders.Contains("a/"));
  EXPECT_EQ(zip.Zip.EntryCount(), 1);
}

TEST_F(ZipManagerTest, ResultClassesAndTheirMessages) {
  struct Case {
    int Code, Result;
    std::string Message, Error;
  };
  const Case cases[] = {
      {0, 0, "", ""},
      {-3, 0, "", ""},
      {10, 1, "", ""},
      {30, 1, "", ""},
      {140, 1, "", ""},
      {40, 1, "Some files were skipped while extracting.", ""},
      {50, 1, "The Zip file is empty.", ""},
      {100, 2, "", "Could not find the archive file."},
      {110, 2, "", "The archive file is corrupted. Try using the Fix option on it."},
      {160, 2, "", "The archive file is corrupted. Try using the Fix option on it."},
      {120, 2, "", "Ran out of memory while extracting."},
      {150, 2, "", "Disk full while extracting."},
      {180, 2, "",
       "Another application is currently performing a similar task. Wait until the other application has "
       "completed its operation."},
      {190, 2, "", ""},
      {200, 2, "", "Test failed - Errors in the archive."},
      {210, 2, "", "No files ended up being tested in the archive."},
      {240, 2, "", "The XCDZIP32.DLL or the XCDUNZ32.DLL file could not be found."},
      {280, 2, "", "Problem with the temporary file."},
      {350, 2, "", "Attempt to remove parent directory."},
      {370, 2, "", "Names repeated in archive after discarding pathnames."},
      {380, 2, "", "Could not update the Zip archive date. Archive only contains directories or is empty."},
      {400, 2, "", "Could not access the Zip file or one of the files to process."},
      {410, 2, "", "Attempt to work with a multiple-disk Zip archive, but not in multidisk mode."},
      {420, 2, "", "Wrong disk was inserted too many times."},
      {77, 2, "", "An error occured while extracting the specified files."},
  };
  TZipManager zip;
  for (const Case& c : cases) {
    ui.Messages.clear();
    ui.Errors.clear();
    zip.ZipOperation = zoExtracting;
    EXPECT_EQ(zip.CheckZipResult(c.Code, "extracting"), c.Result) << c.Code;
    EXPECT_EQ(zip.ZipOperation, zoIdle);
    EXPECT_EQ(ui.Messages, c.Message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Message})
        << c.Code;
    EXPECT_EQ(ui.Errors, c.Error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Error}) << c.Code;
  }
}

TEST_F(ZipManagerTest, RenamingFindsAFreeNameAndReportsAFailure) {
  const std::string path = MakeArchive("old.zip", {{"x.htm", "x"}});
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(path);
  const std::string folder = box.Dir().Path();
  WriteTextFile(folder + "Home  Page.zip", "taken");

  ASSERT_TRUE(zip.RenameArchive(root, ArchiveNameFromTitle("Home: Page") + ".zip"));
  EXPECT_EQ(root->Text, "Home  Page(0).zip") << "':' is one blank, and the taken name gets (0)";
  EXPECT_EQ(root->Data->FileName, folder + "Home  Page(0).zip");
  EXPECT_EQ(zip.Zip.ZipFileName, root->Data->FileName);
  EXPECT_TRUE(fs::exists(root->Data->FileName));
  EXPECT_FALSE(fs::exists(path));
  const std::vector<std::string> recent = RecentZipFiles();
  ASSERT_FALSE(recent.empty());
  EXPECT_EQ(recent.front(), root->Data->FileName);
  EXPECT_EQ(std::count(recent.begin(), recent.end(), path), 0) << "the old name leaves the list";

  // The archive's own name counts as taken.
  ASSERT_TRUE(zip.RenameArchive(root, "Home  Page(0).zip"));
  EXPECT_EQ(root->Text, "Home  Page(0)(0).zip");

  const std::string before = root->Data->FileName;
  EXPECT_FALSE(zip.RenameArchive(root, "sub/dir.zip"));
  ASSERT_EQ(ui.Errors.size(), 1u);
  EXPECT_EQ(ui.Errors[0], "Unable to rename file to: " + folder + "sub/dir.zip\nA file may not contain any of the "
                          "following characters: \n\\/:*?\"<>|");
  EXPECT_EQ(root->Data->FileName, before);
  EXPECT_EQ(root->Text, "Home  Page(0)(0).zip");
  EXPECT_TRUE(fs::exists(before));

  EXPECT_EQ(ArchiveNameFromTitle("a\\b/c:d*e?f\"g<h>i|j"), "a b c d e f g h i j");
}

TEST_F(ZipManagerTest, ExtractingForBrowsingHappensOnceAndNotAfterAnError) {
  const std::string good = MakeArchive("good.zip", {{"index.htm", "<p>hi</p>"}, {"img/a.gif", "GIF89a"}});
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(good);
  zip.EnsureExtracted();
  EXPECT_TRUE(root->Data->Extracted);
  EXPECT_EQ(ReadTextFile(temp + "img/a.gif"), "GIF89a");
  EXPECT_EQ(ui.Status.back(), "All files extracted successfully.");
  fs::remove(temp + "img/a.gif");
  zip.EnsureExtracted();
  EXPECT_FALSE(fs::exists(temp + "img/a.gif")) << "extracted once only";

  // A damaged archive: the error is shown, the success text is not, and the
  // next browse tries again.
  const std::string bad = MakeArchive("bad.zip", {{"x.htm", std::string(5000, 'x')}});
  std::string bytes = ReadTextFile(bad);
  bytes.resize(bytes.size() - 30);
  WriteTextFile(bad, bytes);
  ZipTreeNode* badRoot = zip.OpenArchive(bad);
  ui.Status.clear();
  ui.Errors.clear();
  zip.EnsureExtracted();
  EXPECT_FALSE(badRoot->Data->Extracted);
  EXPECT_FALSE(ui.Errors.empty());
  EXPECT_EQ(std::count(ui.Status.begin(), ui.Status.end(), "All files extracted successfully."), 0);
}

TEST_F(ZipManagerTest, WhileAZipRunWritesTheTempFolderOtherArchivesExtractElsewhere) {
  const std::string other = MakeArchive("other.zip", {{"index.htm", "other copy"}});
  WriteTextFile(temp + "index.htm", "the running task's page");
  TZipManager zip;
  TZipObj running;
  zip.RunningArchive = [&] { return &running; };
  ZipTreeNode* root = zip.OpenArchive(other);
  zip.EnsureExtracted();
  ASSERT_TRUE(root->Data->Extracted);
  EXPECT_EQ(ReadTextFile(temp + "index.htm"), "the running task's page");
  EXPECT_NE(root->Data->ExtractFolder, temp);
  EXPECT_EQ(root->Data->ExtractFolder.rfind(temp, 0), 0u) << "still below the temp folder";
  EXPECT_EQ(ReadTextFile(root->Data->ExtractFolder + "index.htm"), "other copy");
}

TEST_F(ZipManagerTest, SelectionGuards) {
  const std::string a = MakeArchive("a.zip", {{"x.htm", "x"}});
  const std::string b = MakeArchive("b.zip", {{"y.htm", "y"}});
  TZipManager zip;
  ZipTreeNode* ra = zip.OpenArchive(a);
  ZipTreeNode* rb = zip.OpenArchive(b);
  EXPECT_EQ(zip.Selected(), rb);

  zip.ListingMode = lmFolder;
  EXPECT_FALSE(zip.Select(ra)) << "no change while a listing runs";
  zip.ListingMode = lmNone;
  zip.ZipOperation = zoAdding;
  EXPECT_FALSE(zip.Select(ra)) << "no change during an operation";
  zip.ZipOperation = zoIdle;

  zip.SelectionLocked = true;
  EXPECT_FALSE(zip.Select(ra)) << "no other archive while locked";
  EXPECT_TRUE(zip.Select(rb->Data->Entries.Find("y.htm"))) << "the same archive is fine";
  zip.SelectionLocked = false;
  EXPECT_TRUE(zip.Select(ra));
  EXPECT_EQ(zip.Zip.ZipFileName, a) << "selecting makes the archive current";
}

TEST_F(ZipManagerTest, ClosingReleasesTheArchiveButNotTheRunningOne) {
  const std::string a = MakeArchive("a.zip", {{"x.htm", "x"}});
  TZipManager zip;
  ZipTreeNode* root = zip.OpenArchive(a);
  const TZipObj* obj = root->Data;
  zip.RunningArchive = [&] { return obj; };
  zip.CloseArchive();
  EXPECT_EQ(zip.Archives().size(), 1u) << "a running task adds to its nodes";
  zip.RunningArchive = nullptr;
  zip.CloseArchive();
  EXPECT_TRUE(zip.Archives().empty());
  EXPECT_EQ(zip.Selected(), nullptr);
  EXPECT_TRUE(zip.Zip.ZipFileName.empty());
}

TEST_F(ZipManagerTest, EntryNamesAreRelativeToTheTempFolder) {
  struct Case {
    std::string Folder, Path, Entry;
  };
  const Case cases[] = {
      {"/tmp/Harvix/", "/tmp/Harvix/site/a.htm", "site/a.htm"},
      {"/tmp/Harvix", "/tmp/harvix/site/a.htm", "site/a.htm"},
      {"/tmp/Harvix/", "/tmp/Harvix", ""},
      {"/tmp/Harvix/", "/tmp/HarvixOther/a.htm", "/tmp/HarvixOther/a.htm"},
      {"/tmp/Harvix/", "/elsewhere/a.htm", "/elsewhere/a.htm"},
  };
  for (const Case& c : cases) EXPECT_EQ(TZipManager::EntryNameBelow(c.Folder, c.Path), c.Entry) << c.Path;
}

}  // namespace
