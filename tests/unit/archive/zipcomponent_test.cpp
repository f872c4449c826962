// The compression component on real files: adding (names, modes, comments,
// methods), listing, extracting (overwrite rules and every guard against
// hostile archives), testing, deleting, aborting and locking, and other
// readers accepting what it writes.
#include "archive/zipcomponent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "ziptestkit.h"

namespace fs = std::filesystem;
using namespace ziptest;

namespace {

constexpr std::time_t kT0 = 1700000000;  // an even second: DOS times keep it exactly
const std::string kUe = "\xC3\xBC";      // u with diaeresis, two bytes in UTF-8

class ZipTest : public ::testing::Test {
 protected:
  std::string Src(const std::string& rel) const { return dir.Path() + "src/" + rel; }

  std::string Put(const std::string& rel, const std::string& data, std::time_t when = kT0) {
    WriteFile(Src(rel), data);
    SetModified(Src(rel), when);
    return Src(rel);
  }

  void Prepare(TZipComponent& zip) const {
    zip.ZipFileName = archive;
    zip.BaseFolder = dir.Path() + "src";
    zip.ExtractDirectory = out;
  }

  int Add(std::vector<std::string> files, ZipAddMode mode = ZipAddMode::AddReplace) {
    TZipComponent zip;
    Prepare(zip);
    zip.FilesToProcess = std::move(files);
    return zip.Add(mode);
  }

  // Entry name -> content, read back through Extract into a fresh folder.
  std::map<std::string, std::string> Contents() {
    const std::string folder = dir.Path() + "contents/";
    fs::remove_all(folder);
    TZipComponent zip;
    Prepare(zip);
    zip.ExtractDirectory = folder;
    zip.Overwrite = ZipOverwrite::xowAlways;
    std::map<std::string, std::string> result;
    if (zip.Extract() != zrSuccess) return result;
    for (const auto& rel : Tree(folder))
      if (rel.back() != '/') result[rel] = ReadFile(folder + rel);
    return result;
  }

  std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& [name, stats] : Listing(archive)) names.insert(name);
    return names;
  }

  TempDir dir;
  const std::string archive = dir.Path() + "site.zip";
  const std::string out = dir.Path() + "out/";
};

TEST_F(ZipTest, RoundTripKeepsBytesCommentsTimesAndMethods) {
  const std::string longComment = "Long: " + std::string(300, 'c');
  struct Case {
    std::string name, data, comment;
    int method;  // as the central directory must say
  } cases[] = {
      {"index.html", PageText(20000, 1), "Home page", 8},
      {"img/photo.zip", PageText(5000, 2), "", 0},  // stored extension
      {"docs/Old.LzH", PageText(3000, 3), "x", 0},  // stored extension, any letter case
      {"empty.txt", "", "nothing inside", 0},       // nothing to deflate
      {"big/noise.bin", NoiseBytes(3 << 20, 4), "3 MB that deflate cannot shrink", 0},
      {"big/text.html", PageText(5 << 20, 5), longComment, 8},  // many read steps
      {"sub/" + kUe + "ber.html", PageText(1000, 6), kUe + "mlaut", 8},
  };
  std::map<std::string, std::string> commentOf;
  std::vector<std::string> files;
  for (const auto& c : cases) {
    commentOf[Put(c.name, c.data)] = c.comment;
    files.push_back(c.name);
  }
  TZipComponent zip;
  Prepare(zip);
  zip.FilesToProcess = files;
  std::vector<std::string> asked, added;
  std::map<std::string, int> done;
  zip.OnFileComment = [&](const std::string& file) {
    asked.push_back(file);
    return commentOf.at(file);
  };
  zip.OnAdding = [&](const ZipFileStats& s) { added.push_back(s.Name); };
  zip.OnStatus = [&](const ZipFileStats& s) { done[s.Name] += s.Done ? 1 : 0; };
  ASSERT_EQ(zip.Add(), zrSuccess);
  EXPECT_TRUE(zip.FilesToProcess.empty());
  EXPECT_EQ(asked.size(), std::size(cases)) << "one comment question per entry";
  EXPECT_EQ(added, files);

  const auto listing = Listing(archive);
  const auto methods = Methods(archive);
  const auto contents = Contents();
  ASSERT_EQ(listing.size(), std::size(cases));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(done[c.name], 1);
    const ZipFileStats& s = listing.at(c.name);
    EXPECT_EQ(s.Size, c.data.size());
    EXPECT_EQ(s.Comment, c.comment.substr(0, 255));
    EXPECT_EQ(s.Modified, kT0);
    EXPECT_EQ(methods.at(c.name), c.method);
    if (c.method == 0) {
      EXPECT_EQ(s.Packed, s.Size);
    }
    if (c.method == 8) {
      EXPECT_LT(s.Packed, s.Size);
    }
    const int ratio = s.Size ? 100 - static_cast<int>((s.Packed * 200 + s.Size) / (2 * s.Size)) : 0;
    EXPECT_EQ(s.Ratio, ratio);
    EXPECT_TRUE(contents.count(c.name) && contents.at(c.name) == c.data) << "extracted bytes differ";
    EXPECT_EQ(Modified(dir.Path() + "contents/" + c.name), kT0);
  }
  EXPECT_EQ(listing.at("big/text.html").Comment.size(), 255u);
}

TEST_F(ZipTest, CompressionZeroStoresEverything) {
  Put("a.html", PageText(10000, 1));
  Put("b.html", PageText(10000, 2));
  TZipComponent zip;
  Prepare(zip);
  zip.Compression = 0;
  zip.FilesToProcess = {"a.html", "b.html"};
  ASSERT_EQ(zip.Add(), zrSuccess);
  EXPECT_EQ(Methods(archive), (std::map<std::string, int>{{"a.html", 0}, {"b.html", 0}}));
  EXPECT_EQ(Contents().at("b.html"), PageText(10000, 2));
}

TEST_F(ZipTest, OtherReadersAcceptTheArchiveAndSeeTheComments) {
  if (!HaveProgram("unzip") || !HaveProgram("python3")) GTEST_SKIP() << "unzip or python3 missing";
  const std::string utf8Name = "sub/\xC3\xA9t\xC3\xA9.html";
  const std::map<std::string, std::pair<std::string, std::string>> entries = {
      {"index.html", {PageText(30000, 1), "Home"}},
      {"pic.zip", {PageText(2000, 2), ""}},
      {utf8Name, {PageText(500, 3), "caf\xC3\xA9"}},
      {"long.html", {PageText(100, 4), std::string(400, 'L')}},
  };
  std::map<std::string, std::string> commentOf;
  for (const auto& [name, e] : entries) commentOf[Put(name, e.first)] = e.second;
  TZipComponent zip;
  Prepare(zip);
  zip.OnFileComment = [&](const std::string& file) { return commentOf.at(file); };
  // One add per file, as the pipeline does.
  for (const auto& [name, e] : entries) {
    zip.FilesToProcess = {name};
    ASSERT_EQ(zip.Add(), zrSuccess) << name;
  }
  std::string text;
  EXPECT_EQ(RunCommand("unzip -t " + Quote(archive) + " 2>&1", &text), 0) << text;
  EXPECT_EQ(RunCommand("unzip -l " + Quote(archive) + " 2>&1", &text), 0) << text;
  for (const auto& [name, e] : entries) EXPECT_NE(text.find(name), std::string::npos) << name;

  std::string expected;
  const auto methods = Methods(archive);
  for (const auto& [name, e] : entries)
    expected += PythonLine(name, e.first.size(), methods.at(name), e.second.substr(0, 255)) + "\n";
  EXPECT_EQ(SortedPythonListing(archive), expected);
}

TEST_F(ZipTest, EntryNamesFollowUsePathsRecurseAndMasks) {
  Put("a/x.txt", "x");
  Put("a/sub/w.txt", "w");
  Put("a/sub/v.html", "v");
  Put("b/y.txt", "y");
  const std::string outside = dir.Path() + "elsewhere/z.txt";
  WriteFile(outside, "z");
  const std::string outsideName = outside.substr(1);
  struct Case {
    std::vector<std::string> items;
    bool usePaths, recurse;
    std::set<std::string> names;
  } cases[] = {
      {{"a/x.txt", "b/y.txt", outside}, true, false, {"a/x.txt", "b/y.txt", outsideName}},
      {{"a/x.txt", "b/y.txt", outside}, false, false, {"x.txt", "y.txt", "z.txt"}},
      {{Src("a/x.txt")}, true, false, {"a/x.txt"}},  // absolute, below the base
      {{"a"}, true, false, {"a/x.txt"}},
      {{"a"}, true, true, {"a/x.txt", "a/sub/w.txt", "a/sub/v.html"}},
      {{"a/*.txt"}, true, true, {"a/x.txt", "a/sub/w.txt"}},
      {{"a/*.TXT"}, true, false, {"a/x.txt"}},
      {{"*.html"}, true, true, {"a/sub/v.html"}},
      {{"a/sub/*.*", "a/x.txt", "a/x.txt"}, false, false, {"w.txt", "v.html", "x.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items.front() + (c.usePaths ? " paths" : " no paths") + (c.recurse ? " recurse" : ""));
    fs::remove(archive);
    TZipComponent zip;
    Prepare(zip);
    zip.UsePaths = c.usePaths;
    zip.Recurse = c.recurse;
    zip.FilesToProcess = c.items;
    EXPECT_EQ(zip.Add(), zrSuccess);
    EXPECT_EQ(Names(), c.names);
  }
}

TEST_F(ZipTest, TwoFilesWithOneNameWriteNothing) {
  Put("a/x.txt", "from a");
  Put("b/x.txt", "from b");
  Put("c.txt", "c");
  std::vector<std::string> skipped;
  const auto attempt = [&] {
    TZipComponent zip;
    Prepare(zip);
    zip.UsePaths = false;
    zip.OnSkipping = [&](const std::string& name, const std::string&) { skipped.push_back(name); };
    zip.FilesToProcess = {"c.txt", "a/x.txt", "b/x.txt"};
    return zip.Add();
  };
  EXPECT_EQ(attempt(), zrNamesRepeated);
  EXPECT_FALSE(Exists(archive)) << "no archive is created";
  EXPECT_EQ(skipped, std::vector<std::string>{Src("b/x.txt")});

  ASSERT_EQ(Add({"c.txt"}), zrSuccess);
  const std::string before = ReadFile(archive);
  EXPECT_EQ(attempt(), zrNamesRepeated);
  EXPECT_EQ(ReadFile(archive), before);
}

TEST_F(ZipTest, AddModesReplaceFreshenAndUpdate) {
  struct Case {
    ZipAddMode mode;
    std::map<std::string, std::string> contents;
    std::vector<std::string> added, updated;
  } cases[] = {
      {ZipAddMode::AddReplace,
       {{"a.txt", "a-new"}, {"b.txt", "b-new"}, {"c.txt", "c-new"}},
       {"c.txt"},
       {"a.txt", "b.txt"}},
      {ZipAddMode::Freshen, {{"a.txt", "a-new"}, {"b.txt", "b-old"}}, {}, {"a.txt"}},
      {ZipAddMode::Update, {{"a.txt", "a-new"}, {"b.txt", "b-old"}, {"c.txt", "c-new"}}, {"c.txt"}, {"a.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    fs::remove(archive);
    Put("a.txt", "a-old");
    Put("b.txt", "b-old");
    ASSERT_EQ(Add({"a.txt", "b.txt"}), zrSuccess);
    Put("a.txt", "a-new", kT0 + 10);  // newer than its entry
    Put("b.txt", "b-new", kT0 - 10);  // older than its entry
    Put("c.txt", "c-new");            // not in the archive
    TZipComponent zip;
    Prepare(zip);
    std::vector<std::string> added, updated;
    zip.OnAdding = [&](const ZipFileStats& s) { added.push_back(s.Name); };
    zip.OnUpdating = [&](const ZipFileStats& s) { updated.push_back(s.Name); };
    zip.FilesToProcess = {"a.txt", "b.txt", "c.txt"};
    EXPECT_EQ(zip.Add(c.mode), zrSuccess);
    EXPECT_EQ(added, c.added);
    EXPECT_EQ(updated, c.updated);
    EXPECT_EQ(Contents(), c.contents);
    EXPECT_EQ(zip.EntryCount(), static_cast<long long>(c.contents.size())) << "one record per name";
    EXPECT_EQ(zip.Test(), zrSuccess);
  }
}

TEST_F(ZipTest, NothingNewerLeavesTheArchiveAlone) {
  Put("a.txt", "a");
  Put("b.txt", "b");
  ASSERT_EQ(Add({"a.txt", "b.txt"}), zrSuccess);
  const std::string before = ReadFile(archive);
  Put("c.txt", "c");
  struct Case {
    ZipAddMode mode;
    std::vector<std::string> files;
    std::time_t touch;  // new time of a.txt
    int result;
  } cases[] = {
      {ZipAddMode::Freshen, {"a.txt", "b.txt"}, kT0, zrUpToDate},
      {ZipAddMode::Update, {"a.txt", "b.txt"}, kT0, zrUpToDate},
      {ZipAddMode::Update, {"a.txt"}, kT0 + 1, zrUpToDate},  // within the two seconds of a DOS time
      {ZipAddMode::Freshen, {"c.txt"}, kT0, zrNothingToDo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files.front());
    SetModified(Src("a.txt"), c.touch);
    EXPECT_EQ(Add(c.files, c.mode), c.result);
    EXPECT_EQ(ReadFile(archive), before);
  }
}

TEST_F(ZipTest, ReplacingAgainAndAgainKeepsOneRecord) {
  Put("before.txt", "before");
  Put("after.txt", "after");
  TZipComponent zip;
  Prepare(zip);
  zip.FilesToProcess = {"before.txt", "page.html", "after.txt"};
  Put("page.html", "first");
  ASSERT_EQ(zip.Add(), zrSuccess);
  for (int round = 0; round < 5; ++round) {
    Put("page.html", PageText(4000 + round * 100, round));
    zip.FilesToProcess = {"page.html"};
    ASSERT_EQ(zip.Add(), zrSuccess);
  }
  EXPECT_EQ(zip.EntryCount(), 3);
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{
                            {"before.txt", "before"}, {"page.html", PageText(4400, 4)}, {"after.txt", "after"}}));
  EXPECT_EQ(zip.Test(), zrSuccess);
  if (HaveProgram("python3")) {
    EXPECT_EQ(PythonListing(archive), PythonLine("before.txt", 6, 0, "") + "\n" + PythonLine("after.txt", 5, 0, "") +
                                          "\n" + PythonLine("page.html", 4400, 8, "") + "\n");
  }
}

TEST_F(ZipTest, DeleteRemovesTheMatchingEntries) {
  for (const char* name : {"a/x.html", "a/b/y.gif", "c.txt", "d.txt"}) Put(name, PageText(3000, name[0]));
  ASSERT_EQ(Add({"a/x.html", "a/b/y.gif", "c.txt", "d.txt"}), zrSuccess);
  const std::string full = ReadFile(archive);
  struct Case {
    std::vector<std::string> masks;
    int result;
    std::vector<std::string> deleted;
    std::set<std::string> left;
  } cases[] = {
      {{"a/*.*"}, zrSuccess, {"a/x.html", "a/b/y.gif"}, {"c.txt", "d.txt"}},
      {{"C.TXT"}, zrSuccess, {"c.txt"}, {"a/x.html", "a/b/y.gif", "d.txt"}},
      {{"none.txt"}, zrNothingToDo, {}, {"a/x.html", "a/b/y.gif", "c.txt", "d.txt"}},
      {{}, zrSuccess, {"a/x.html", "a/b/y.gif", "c.txt", "d.txt"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.masks.empty() ? "all" : c.masks.front());
    WriteFile(archive, full);
    TZipComponent zip;
    Prepare(zip);
    std::vector<std::string> deleted;
    zip.OnDeleting = [&](const std::string& name) { deleted.push_back(name); };
    zip.FilesToProcess = c.masks;
    EXPECT_EQ(zip.Delete(), c.result);
    EXPECT_TRUE(zip.FilesToProcess.empty());
    EXPECT_EQ(deleted, c.deleted);
    EXPECT_EQ(Names(), c.left);
    if (c.result != zrSuccess) {
      EXPECT_EQ(ReadFile(archive), full);
    }
    if (c.left.empty()) {
      EXPECT_EQ(fs::file_size(archive), 22u) << "an empty archive stays";
      EXPECT_EQ(zip.EntryCount(), 0);
      EXPECT_EQ(zip.List(), zrEmptyZip);
    } else {
      EXPECT_EQ(zip.Test(), zrSuccess);
      if (!c.deleted.empty()) {
        EXPECT_LT(fs::file_size(archive), full.size());
      }
    }
  }
}

TEST_F(ZipTest, TestFindsAFlippedByte) {
  Put("page.html", PageText(30000, 1));
  Put("data.zip", PageText(3000, 2));
  ASSERT_EQ(Add({"page.html", "data.zip"}), zrSuccess);
  const std::string good = ReadFile(archive);
  TZipComponent zip;
  Prepare(zip);
  EXPECT_EQ(zip.Test(), zrSuccess);
  struct Case {
    const char* where;
    std::string entry;
    std::uint64_t offset;
  } cases[] = {
      {"deflated data", "page.html", DataOffset(archive, "page.html") + 100},
      {"stored data", "data.zip", DataOffset(archive, "data.zip") + 10},
      {"name in the local header", "data.zip", LocalOffset(archive, "data.zip") + 30 + 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    std::string bad = good;
    bad[c.offset] = static_cast<char>(bad[c.offset] ^ 0x55);
    WriteFile(archive, bad);
    std::vector<std::string> failed;
    zip.OnSkipping = [&](const std::string& name, const std::string&) { failed.push_back(name); };
    EXPECT_EQ(zip.Test(), zrTestFailed);
    EXPECT_EQ(failed, std::vector<std::string>{c.entry});
    EXPECT_EQ(ReadFile(archive), bad);
  }
}

TEST_F(ZipTest, BrokenInputGetsItsCodeAndStaysUntouched) {
  Put("a.html", PageText(20000, 1));
  Put("b.html", PageText(20000, 2));
  ASSERT_EQ(Add({"a.html", "b.html"}), zrSuccess);
  const std::string good = ReadFile(archive);
  Put("new.txt", "new");
  struct Case {
    const char* what;
    bool exists;
    std::string bytes;
    int list, extract, test, del, fix, add;
    long long count;
  } cases[] = {
      {"truncated", true, good.substr(0, good.size() / 2), zrCorrupted, zrCorrupted, zrCorrupted, zrCorrupted, -1, -1,
       -1},
      {"text", true, "This is a text file, no archive.\n", zrNotAZip, zrNotAZip, zrNotAZip, zrNotAZip, zrNotAZip,
       zrNotAZip, -1},
      {"missing", false, "", zrNotFound, zrNotFound, zrNotFound, zrNotFound, zrNotFound, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto reset = [&] {
      fs::remove(archive);
      if (c.exists) WriteFile(archive, c.bytes);
    };
    const auto untouched = [&] {
      EXPECT_EQ(Exists(archive), c.exists);
      if (c.exists) {
        EXPECT_EQ(ReadFile(archive), c.bytes);
      }
      EXPECT_FALSE(Exists(archive + ".damaged"));
      EXPECT_TRUE(Tree(out).empty());
    };
    TZipComponent zip;
    Prepare(zip);
    zip.Overwrite = ZipOverwrite::xowAlways;
    reset();
    EXPECT_EQ(zip.List(), c.list);
    untouched();
    EXPECT_EQ(zip.Extract(), c.extract);
    untouched();
    EXPECT_EQ(zip.Test(), c.test);
    untouched();
    zip.FilesToProcess = {"a.html"};
    EXPECT_EQ(zip.Delete(), c.del);
    untouched();
    EXPECT_EQ(zip.EntryCount(), c.count);
    untouched();
    if (c.fix >= 0) {
      EXPECT_EQ(zip.Fix(), c.fix);
      untouched();
    }
    if (c.add >= 0) {
      zip.FilesToProcess = {"new.txt"};
      EXPECT_EQ(zip.Add(), c.add);
      untouched();
    }
  }
}

TEST_F(ZipTest, UnsafeNamesAreNeverWrittenAndSafeOnesAre) {
  const std::string target = out + "target/";
  const std::string absolute = out + "absolute.txt";  // inside the test folder, outside the target
  WriteFile(archive, RawArchive({{"ok.txt", "fine", ""},
                                 {"../up.txt", "bad", ""},
                                 {absolute, "bad", ""},
                                 {"a/../../up2.txt", "bad", ""},
                                 {"..\\up3.txt", "bad", ""},
                                 {"C:drive.txt", "bad", ""},
                                 {"sub/ok2.txt", "fine2", ""}}));
  const std::string before = ReadFile(archive);
  for (const bool usePaths : {true, false}) {
    SCOPED_TRACE(usePaths ? "with paths" : "without paths");
    fs::remove_all(out);
    TZipComponent zip;
    Prepare(zip);
    zip.ExtractDirectory = target;
    zip.UsePaths = usePaths;
    std::vector<std::string> skipped;
    zip.OnSkipping = [&](const std::string& name, const std::string&) { skipped.push_back(name); };
    EXPECT_EQ(zip.Extract(), zrSkipped);
    EXPECT_EQ(skipped,
              (std::vector<std::string>{"../up.txt", absolute, "a/../../up2.txt", "..\\up3.txt", "C:drive.txt"}));
    const std::vector<std::string> expected =
        usePaths ? std::vector<std::string>{"target/", "target/ok.txt", "target/sub/", "target/sub/ok2.txt"}
                 : std::vector<std::string>{"target/", "target/ok.txt", "target/ok2.txt"};
    EXPECT_EQ(Tree(out), expected);
    EXPECT_FALSE(Exists(dir.Path() + "up.txt"));
    EXPECT_EQ(ReadFile(target + "ok.txt"), "fine");
  }
  EXPECT_EQ(ReadFile(archive), before);
}

TEST_F(ZipTest, ABombIsRefusedAndNothingIsWritten) {
  Put("zeros.bin", std::string(16 << 20, '\0'));
  TZipComponent zip;
  Prepare(zip);
  zip.Compression = 9;
  zip.FilesToProcess = {"zeros.bin"};
  ASSERT_EQ(zip.Add(), zrSuccess);
  std::vector<std::string> skipped;
  zip.OnSkipping = [&](const std::string& name, const std::string& reason) {
    skipped.push_back(name);
    EXPECT_FALSE(reason.empty());
  };
  zip.BombLimit = 1 << 20;
  EXPECT_EQ(zip.Extract(), zrDiskFull);
  EXPECT_EQ(skipped, std::vector<std::string>{"zeros.bin"});
  EXPECT_TRUE(Tree(out).empty()) << "no file, no temp file";

  zip.BombLimit = std::uint64_t{1} << 30;
  EXPECT_EQ(zip.Extract(), zrSuccess);
  EXPECT_EQ(fs::file_size(out + "zeros.bin"), 16u << 20);
}

TEST_F(ZipTest, PlantedSymbolicLinksAreNotFollowed) {
  const std::string outside = dir.Path() + "outside/";
  WriteFile(outside + "secret.txt", "secret");
  fs::create_directories(outside + "folder");
  fs::create_directories(out);
  fs::create_symlink(outside + "secret.txt", out + "evil.txt");
  fs::create_symlink(outside + "folder", out + "linked");
  WriteFile(archive,
            RawArchive({{"evil.txt", "payload", ""}, {"linked/x.txt", "payload", ""}, {"plain.txt", "ok", ""}}));
  TZipComponent zip;
  Prepare(zip);
  zip.Overwrite = ZipOverwrite::xowAlways;
  std::vector<std::string> skipped;
  zip.OnSkipping = [&](const std::string& name, const std::string&) { skipped.push_back(name); };
  EXPECT_EQ(zip.Extract(), zrSkipped);
  EXPECT_EQ(skipped, std::vector<std::string>{"linked/x.txt"});
  EXPECT_EQ(ReadFile(outside + "secret.txt"), "secret");
  EXPECT_TRUE(Tree(outside + "folder").empty());
  EXPECT_FALSE(IsSymlink(out + "evil.txt")) << "the link itself was replaced";
  EXPECT_EQ(ReadFile(out + "evil.txt"), "payload");
  EXPECT_TRUE(IsSymlink(out + "linked"));
  EXPECT_EQ(ReadFile(out + "plain.txt"), "ok");
}

TEST_F(ZipTest, OverwriteRulesWhenExtracting) {
  using R = ZipReplaceReply;
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) Put(name, "new");
  ASSERT_EQ(Add({"a.txt", "b.txt", "c.txt", "d.txt"}), zrSuccess);
  struct Case {
    const char* what;
    ZipOverwrite overwrite;
    std::vector<R> replies;  // empty with Ask: OnReplace unset
    int result;
    std::string a, b, c, d;  // afterwards; "" when absent
    std::size_t asked;
  } cases[] = {
      {"always", ZipOverwrite::xowAlways, {}, zrSuccess, "new", "new", "new", "new", 0},
      {"never", ZipOverwrite::xowNever, {}, zrSuccess, "old", "old", "old", "new", 0},
      {"yes no yes", ZipOverwrite::xowAsk, {R::Yes, R::No, R::Yes}, zrSkipped, "new", "old", "new", "new", 3},
      {"all", ZipOverwrite::xowAsk, {R::All}, zrSuccess, "new", "new", "new", "new", 1},
      {"no cancel", ZipOverwrite::xowAsk, {R::No, R::Cancel}, zrAborted, "old", "old", "old", "", 2},
      {"no callback", ZipOverwrite::xowAsk, {}, zrSkipped, "old", "old", "old", "new", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(out);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(out + name, "old");
    TZipComponent zip;
    Prepare(zip);
    zip.Overwrite = c.overwrite;
    std::size_t asked = 0;
    if (!c.replies.empty()) {
      zip.OnReplace = [&](const std::string& existing, const std::string& incoming) {
        EXPECT_EQ(existing, out + incoming);
        return c.replies.at(asked++);
      };
    }
    EXPECT_EQ(zip.Extract(), c.result);
    EXPECT_EQ(asked, c.asked);
    const auto content = [&](const char* name) { return Exists(out + name) ? ReadFile(out + name) : ""; };
    EXPECT_EQ(content("a.txt"), c.a);
    EXPECT_EQ(content("b.txt"), c.b);
    EXPECT_EQ(content("c.txt"), c.c);
    EXPECT_EQ(content("d.txt"), c.d);
  }
}

TEST_F(ZipTest, ExtractRefusesBadDataAndKeepsTheOldFile) {
  Put("page.html", PageText(50000, 1));
  ASSERT_EQ(Add({"page.html"}), zrSuccess);
  const std::string good = ReadFile(archive);
  struct Case {
    const char* what;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> patches;  // offset, 32-bit value
  } cases[] = {
      // The header claims 1,000 bytes; the data inflates to 50,000.
      {"lying size",
       {{CentralOffset(archive, "page.html") + 24, 1000}, {LocalOffset(archive, "page.html") + 22, 1000}}},
      {"CRC",
       {{CentralOffset(archive, "page.html") + 16, 0x12345678}, {LocalOffset(archive, "page.html") + 14, 0x12345678}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bad = good;
    for (const auto& [offset, value] : c.patches)
      for (int i = 0; i < 4; ++i) bad[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    WriteFile(archive, bad);
    fs::remove_all(out);
    WriteFile(out + "page.html", "old");
    TZipComponent zip;
    Prepare(zip);
    zip.Overwrite = ZipOverwrite::xowAlways;
    EXPECT_EQ(zip.Extract(), zrCorrupted);
    EXPECT_EQ(Tree(out), std::vector<std::string>{"page.html"}) << "no temp file left";
    EXPECT_EQ(ReadFile(out + "page.html"), "old");
  }
}

TEST_F(ZipTest, ListAndExtractSelectByMask) {
  for (const char* name : {"index.html", "a/x.html", "a/b/y.gif", "a/b/z.HTML", "c/a/w.txt"}) Put(name, name);
  TZipComponent zip;
  Prepare(zip);
  zip.Recurse = true;
  zip.FilesToProcess = {"*.*"};
  ASSERT_EQ(zip.Add(), zrSuccess);
  const std::set<std::string> all = {"index.html", "a/x.html", "a/b/y.gif", "a/b/z.HTML", "c/a/w.txt"};
  ASSERT_EQ(Names(), all);
  struct Case {
    std::vector<std::string> masks;
    std::set<std::string> names;
  } cases[] = {
      {{}, all},
      {{"*.*"}, all},
      {{"a/*.*"}, {"a/x.html", "a/b/y.gif", "a/b/z.HTML"}},
      {{"*.html"}, {"index.html", "a/x.html", "a/b/z.HTML"}},
      {{"A/X.HTML"}, {"a/x.html"}},
      {{"a/b/*.gif", "index.html"}, {"a/b/y.gif", "index.html"}},
      {{"*/a/*.txt"}, {"c/a/w.txt"}},
      {{"nothing.txt"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.masks.empty() ? "none" : c.masks.front());
    std::set<std::string> listed;
    zip.OnListing = [&](const ZipFileStats& s) { listed.insert(s.Name); };
    zip.FilesToProcess = c.masks;
    EXPECT_EQ(zip.List(), c.names.empty() ? zrNothingToDo : zrSuccess);
    EXPECT_EQ(listed, c.names);
  }
  zip.UsePaths = false;
  zip.FilesToProcess = {"a/*.*"};
  EXPECT_EQ(zip.Extract(), zrSuccess);
  EXPECT_EQ(Tree(out), (std::vector<std::string>{"x.html", "y.gif", "z.HTML"}));
}

TEST_F(ZipTest, FilesThatCannotBeReadAreSkipped) {
  Put("a.txt", "a");
  ASSERT_EQ(::mkfifo(Src("pipe").c_str(), 0644), 0);
  struct Case {
    std::vector<std::string> files;
    int result;
    std::vector<std::string> skipped;
    std::set<std::string> names;
  } cases[] = {
      {{"a.txt", "missing.txt", "pipe"}, zrSkipped, {"missing.txt", "pipe"}, {"a.txt"}},
      {{"missing.txt"}, zrSkipped, {"missing.txt"}, {}},
      {{}, zrNothingToDo, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files.size());
    fs::remove(archive);
    TZipComponent zip;
    Prepare(zip);
    std::vector<std::string> skipped;
    zip.OnSkipping = [&](const std::string& name, const std::string&) { skipped.push_back(name); };
    zip.FilesToProcess = c.files;
    EXPECT_EQ(zip.Add(), c.result);
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(Exists(archive), !c.names.empty()) << "an archive only when something went in";
    if (!c.names.empty()) {
      EXPECT_EQ(Names(), c.names);
    }
  }
}

TEST_F(ZipTest, TheArchiveNeverGoesIntoItself) {
  Put("a.txt", "a");
  TZipComponent zip;
  Prepare(zip);
  zip.ZipFileName = Src("inside.zip");
  zip.FilesToProcess = {"a.txt"};
  ASSERT_EQ(zip.Add(), zrSuccess);
  zip.FilesToProcess = {"*.*"};
  EXPECT_EQ(zip.Add(), zrSuccess);
  EXPECT_EQ(zip.EntryCount(), 1);
}

TEST_F(ZipTest, AnAbortPutsTheArchiveBackAsItWas) {
  Put("big.bin", PageText(6 << 20, 7));
  Put("small.txt", "small");
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "existing archive" : "new archive");
    fs::remove(archive);
    if (existing) {
      Put("a.txt", "a");
      ASSERT_EQ(Add({"a.txt"}), zrSuccess);
    }
    const std::string before = existing ? ReadFile(archive) : "";
    TZipComponent zip;
    Prepare(zip);
    int reports = 0;
    zip.OnStatus = [&](const ZipFileStats& s) {
      if (s.Name == "big.bin" && !s.Done && s.Percent >= 30) {
        ++reports;
        zip.Abort();
      }
    };
    zip.FilesToProcess = {"small.txt", "big.bin"};
    EXPECT_EQ(zip.Add(), zrAborted);
    EXPECT_EQ(reports, 1) << "the abort is noticed at the next progress report";
    EXPECT_EQ(Exists(archive), existing);
    if (existing) {
      EXPECT_EQ(ReadFile(archive), before);
    }

    zip.OnStatus = nullptr;
    zip.FilesToProcess = {"small.txt"};
    EXPECT_EQ(zip.Add(), zrSuccess) << "the next operation starts without the abort";
    EXPECT_EQ(zip.Test(), zrSuccess);
  }
}

TEST_F(ZipTest, AnotherWriterMakesOperationsBusy) {
  Put("a.txt", "a");
  Put("b.txt", "b");
  ASSERT_EQ(Add({"a.txt"}), zrSuccess);
  const std::string before = ReadFile(archive);
  struct Case {
    int lock;
    int add, list;
  } cases[] = {
      {LOCK_EX, zrBusy, zrBusy}, {LOCK_SH, zrBusy, zrSuccess},  // readers share
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lock);
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, c.lock), 0);
    EXPECT_EQ(Add({"b.txt"}), c.add);
    TZipComponent zip;
    Prepare(zip);
    EXPECT_EQ(zip.List(), c.list);
    EXPECT_EQ(ReadFile(archive), before);
    ::close(fd);
  }
  EXPECT_EQ(Add({"b.txt"}), zrSuccess);
}

TEST_F(ZipTest, Zip64ArchivesAreExtendedThroughLibzip) {
  WriteFile(archive, RawArchive({{"old.txt", "old data", "old comment"}, {"keep.txt", "keep", "kept"}}, true));
  EXPECT_EQ(Listing(archive).at("old.txt").Comment, "old comment");
  Put("old.txt", "replaced data", kT0 + 100);
  Put("new.txt", PageText(5000, 1));
  TZipComponent zip;
  Prepare(zip);
  std::vector<std::string> added, updated;
  zip.OnAdding = [&](const ZipFileStats& s) { added.push_back(s.Name); };
  zip.OnUpdating = [&](const ZipFileStats& s) { updated.push_back(s.Name); };
  zip.OnFileComment = [](const std::string& file) { return "for " + fs::path(file).filename().string(); };
  zip.FilesToProcess = {"old.txt", "new.txt"};
  ASSERT_EQ(zip.Add(ZipAddMode::Update), zrSuccess);
  EXPECT_EQ(added, std::vector<std::string>{"new.txt"});
  EXPECT_EQ(updated, std::vector<std::string>{"old.txt"});
  EXPECT_EQ(zip.EntryCount(), 3);
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{
                            {"old.txt", "replaced data"}, {"keep.txt", "keep"}, {"new.txt", PageText(5000, 1)}}));
  const auto listing = Listing(archive);
  EXPECT_EQ(listing.at("old.txt").Comment, "for old.txt");
  EXPECT_EQ(listing.at("new.txt").Comment, "for new.txt");
  EXPECT_EQ(listing.at("keep.txt").Comment, "kept");
  EXPECT_EQ(listing.at("new.txt").Modified, kT0);
  if (HaveProgram("unzip")) {
    EXPECT_EQ(RunCommand("unzip -tq " + Quote(archive) + " >/dev/null 2>&1"), 0);
  }

  // libzip's entries carry the comment in their local headers too: a repair
  // after losing the central directory finds it there.
  const std::string bytes = ReadFile(archive);
  WriteFile(archive, bytes.substr(0, LocalOffset(archive, "new.txt") + 30));
  zip.OnSkipping = nullptr;
  EXPECT_EQ(zip.Fix(), zrSuccess);
  EXPECT_EQ(Listing(archive).at("old.txt").Comment, "for old.txt");
}

TEST(UnsafeEntryNameTest, NamesThatLeaveTheTarget) {
  struct Case {
    const char* name;
    bool unsafe;
  } cases[] = {
      {"/etc/x", true}, {"../x", true},     {"a/../../x", true}, {"a/..", true},
      {"C:x", true},    {"c:/x", true},     {"..\\x", true},     {"a\\..\\..\\x", true},
      {"\\x", true},    {"a/b.txt", false}, {"a/..b/c", false},  {"...", false},
      {"a/./b", false}, {"x:", true},       {"1:x", false},      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(UnsafeEntryName(c.name), c.unsafe) << c.name;
}

}  // namespace
