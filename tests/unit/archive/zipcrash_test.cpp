// A process killed (SIGKILL) in the middle of an add, and the repair that
// gives back every entry that was complete: through Fix, and by itself on
// the next Add.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/zipcomponent.h"
#include "support/tempdir.h"
#include "ziptestkit.h"

namespace fs = std::filesystem;
using namespace ziptest;

namespace {

enum class KillAt {
  AfterEntryWritten,  // the entry's data and header are complete, the central directory is not
  HalfwayThroughData,
};

struct CrashCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> adds;  // file, content: one Add call each, in order
  KillAt killAt;
  std::map<std::string, std::string> survivors;  // entry -> content after the repair
};

std::string CommentFor(const std::string& file) {
  return "comment of " + fs::path(file).filename().string() + " " + std::string(60, '~');
}

const std::string kBig = PageText(4 << 20, 9);

const CrashCase kCrashes[] = {
    // The new entry is smaller than the old central directory, so the old
    // end record is still at the end of the file, pointing at the new entry.
    {"after a small entry",
     {{"one.html", "1"}, {"two.html", "2"}, {"three.html", "3"}},
     KillAt::AfterEntryWritten,
     {{"one.html", "1"}, {"two.html", "2"}, {"three.html", "3"}}},
    {"after a large entry",
     {{"one.html", "1"}, {"two.html", "2"}, {"three.html", kBig}},
     KillAt::AfterEntryWritten,
     {{"one.html", "1"}, {"two.html", "2"}, {"three.html", kBig}}},
    {"halfway through the data",
     {{"one.html", "1"}, {"two.html", "2"}, {"three.html", kBig}},
     KillAt::HalfwayThroughData,
     {{"one.html", "1"}, {"two.html", "2"}}},
    {"replacing an entry",
     {{"one.html", "1"}, {"two.html", "2"}, {"one.html", "one again"}},
     KillAt::AfterEntryWritten,
     {{"one.html", "one again"}, {"two.html", "2"}}},
    // Stored data: its header must not pass for an empty entry.
    {"halfway through stored data",
     {{"one.html", "1"}, {"two.html", "2"}, {"three.zip", NoiseBytes(4 << 20, 3)}},
     KillAt::HalfwayThroughData,
     {{"one.html", "1"}, {"two.html", "2"}}},
    {"the first entry of a new archive", {{"one.html", kBig}}, KillAt::HalfwayThroughData, {}},
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.what; }

class CrashTest : public ::testing::TestWithParam<CrashCase> {
 protected:
  void Prepare(TZipComponent& zip) const {
    zip.ZipFileName = archive;
    zip.BaseFolder = dir.Path() + "src";
    zip.OnFileComment = CommentFor;
  }

  // In a child process: the adds, the last one killed where the case says.
  void AddAndDie(const CrashCase& c) {
    TZipComponent zip;
    Prepare(zip);
    for (std::size_t i = 0; i < c.adds.size(); ++i) {
      const auto& [file, content] = c.adds[i];
      WriteFile(dir.Path() + "src/" + file, content);
      if (i + 1 == c.adds.size()) {
        if (c.killAt == KillAt::AfterEntryWritten)
          zip.AfterEntryWritten = [](const std::string&) { ::raise(SIGKILL); };
        else
          zip.OnStatus = [](const ZipFileStats& s) {
            if (s.Percent >= 50 && !s.Done) ::raise(SIGKILL);
          };
      }
      zip.FilesToProcess = {file};
      zip.Add();
    }
  }

  // Crashes a child as the case says; the damaged archive's bytes.
  std::string Crash(const CrashCase& c) {
    EXPECT_EXIT(AddAndDie(c), ::testing::KilledBySignal(SIGKILL), "");
    return ReadFile(archive);
  }

  std::map<std::string, std::string> Contents() {
    const std::string folder = dir.Path() + "contents/";
    fs::remove_all(folder);
    TZipComponent zip;
    Prepare(zip);
    zip.ExtractDirectory = folder;
    std::map<std::string, std::string> result;
    zip.Extract();
    for (const auto& rel : Tree(folder)) result[rel] = ReadFile(folder + rel);
    return result;
  }

  // The repaired archive holds the survivors with their comments, and other
  // readers accept it.
  void ExpectSurvivors(const std::map<std::string, std::string>& survivors) {
    EXPECT_EQ(Contents(), survivors);
    const auto listing = Listing(archive);
    for (const auto& [name, content] : survivors) {
      ASSERT_TRUE(listing.count(name)) << name;
      EXPECT_EQ(listing.at(name).Comment, CommentFor(name));
    }
    TZipComponent zip;
    Prepare(zip);
    EXPECT_EQ(zip.Test(), survivors.empty() ? zrNothingTested : zrSuccess);
    if (!survivors.empty() && HaveProgram("unzip")) {
      std::string text;
      EXPECT_EQ(RunCommand("unzip -t " + Quote(archive) + " 2>&1", &text), 0) << text;
    }
    if (HaveProgram("python3")) {
      std::string expected;
      for (const auto& [name, content] : survivors) {
        const int method = content.size() > 100 ? 8 : 0;
        expected += PythonLine(name, content.size(), method, CommentFor(name)) + "\n";
      }
      EXPECT_EQ(SortedPythonListing(archive), expected);
    }
  }

  TempDir dir;
  const std::string archive = dir.Path() + "site.zip";
};

TEST_P(CrashTest, ReadersLeaveTheDamagedArchiveAloneAndFixRepairsIt) {
  const CrashCase& c = GetParam();
  const std::string crashed = Crash(c);
  ASSERT_FALSE(crashed.empty());
  if (std::string(c.what) == "after a small entry") {
    EXPECT_EQ(crashed.substr(crashed.size() - 22, 4), "PK\x05\x06") << "the old end record is still there";
  }

  TZipComponent zip;
  Prepare(zip);
  zip.ExtractDirectory = dir.Path() + "out";
  EXPECT_EQ(zip.Test(), zrCorrupted);
  EXPECT_EQ(zip.List(), zrCorrupted);
  EXPECT_EQ(zip.Extract(), zrCorrupted);
  EXPECT_EQ(zip.Delete(), zrCorrupted);
  EXPECT_EQ(zip.EntryCount(), -1);
  EXPECT_EQ(ReadFile(archive), crashed);
  EXPECT_FALSE(fs::exists(dir.Path() + "out"));

  std::vector<std::string> dropped;
  zip.OnSkipping = [&](const std::string& name, const std::string&) { dropped.push_back(name); };
  EXPECT_EQ(zip.Fix(), zrSuccess);
  EXPECT_EQ(ReadFile(archive + ".damaged"), crashed);
  const bool partial = c.killAt == KillAt::HalfwayThroughData;
  EXPECT_EQ(dropped, partial ? std::vector<std::string>{c.adds.back().first} : std::vector<std::string>{});
  ExpectSurvivors(c.survivors);

  const std::string fixed = ReadFile(archive);
  EXPECT_EQ(zip.Fix(), zrSuccess) << "an intact archive needs no repair";
  EXPECT_EQ(ReadFile(archive), fixed);
}

TEST_P(CrashTest, TheNextAddRepairsByItself) {
  const CrashCase& c = GetParam();
  const std::string crashed = Crash(c);
  WriteFile(dir.Path() + "src/four.html", "4");
  TZipComponent zip;
  Prepare(zip);
  zip.FilesToProcess = {"four.html"};
  EXPECT_EQ(zip.Add(), zrSuccess);
  EXPECT_EQ(ReadFile(archive + ".damaged"), crashed);
  auto survivors = c.survivors;
  survivors["four.html"] = "4";
  ExpectSurvivors(survivors);
}

INSTANTIATE_TEST_SUITE_P(Kills, CrashTest, ::testing::ValuesIn(kCrashes), [](const auto& info) {
  std::string name = info.param.what;
  for (auto& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});

TEST(RepairTest, AnEntryThatFailsItsCheckIsLeftOutAndTheChainGoesOn) {
  TempDir dir;
  const std::string archive = dir.Path() + "site.zip";
  TZipComponent zip;
  zip.ZipFileName = archive;
  zip.BaseFolder = dir.Path() + "src";
  for (const char* name : {"one.html", "two.html", "three.html"}) {
    WriteFile(dir.Path() + "src/" + name, PageText(5000, name[1]));
    zip.FilesToProcess = {name};
    ASSERT_EQ(zip.Add(), zrSuccess);
  }
  std::string bytes = ReadFile(archive);
  const std::uint64_t flip = DataOffset(archive, "two.html") + 50;
  bytes[flip] = static_cast<char>(bytes[flip] ^ 0x55);
  // The central directory is lost.
  WriteFile(archive, bytes.substr(0, CentralOffset(archive, "one.html")));
  std::vector<std::string> dropped;
  zip.OnSkipping = [&](const std::string& name, const std::string&) { dropped.push_back(name); };
  EXPECT_EQ(zip.Fix(), zrSuccess);
  EXPECT_EQ(dropped, std::vector<std::string>{"two.html"});
  const auto listing = Listing(archive);
  EXPECT_EQ(listing.size(), 2u);
  EXPECT_TRUE(listing.count("one.html") && listing.count("three.html"));
  zip.OnSkipping = nullptr;
  EXPECT_EQ(zip.Test(), zrSuccess);
}

TEST(RepairTest, CommentsSurviveTheRewriteOfADelete) {
  TempDir dir;
  TZipComponent zip;
  zip.ZipFileName = dir.Path() + "site.zip";
  zip.BaseFolder = dir.Path() + "src";
  zip.OnFileComment = CommentFor;
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) WriteFile(dir.Path() + "src/" + name, name);
  zip.FilesToProcess = {"a.txt", "b.txt", "c.txt"};
  ASSERT_EQ(zip.Add(), zrSuccess);
  zip.FilesToProcess = {"b.txt"};
  ASSERT_EQ(zip.Delete(), zrSuccess);
  // libzip rewrote the archive; the Hx fields of the local headers must
  // still be there for a repair once the central directory is lost.
  const std::string bytes = ReadFile(zip.ZipFileName);
  WriteFile(zip.ZipFileName, bytes.substr(0, CentralOffset(zip.ZipFileName, "a.txt")));
  EXPECT_EQ(zip.Fix(), zrSuccess);
  const auto listing = Listing(zip.ZipFileName);
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_EQ(listing.at("a.txt").Comment, CommentFor("a.txt"));
  EXPECT_EQ(listing.at("c.txt").Comment, CommentFor("c.txt"));
}

}  // namespace
