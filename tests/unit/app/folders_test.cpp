#include "app/folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* h = getenv("HOME")) oldHome = h;
    home = dir.Path() + "home/user/";
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
  }
  void TearDown() override { setenv("HOME", oldHome.c_str(), 1); }
  TempDir dir;
  std::string home, oldHome;
};

TEST_F(FoldersTest, OnlyAFolderNamedForUsIsRemovable) {
  struct Case { std::string path; bool removable; } cases[] = {
      {dir.Path() + "Harvix/", true},
      {dir.Path() + "work/my-HARVIX-tmp", true},
      {dir.Path() + "harvix/data/", false},  // the word is in a parent, not in the folder's name
      {"/", false},
      {"", false},
      {home, false},
      {dir.Path() + "home/", false},  // holds the home folder
      {home + "Harvix/", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemovableTempFolder(c.path), c.removable) << c.path;
}

TEST_F(FoldersTest, HomeNamedLikeUsIsNeverRemoved) {
  const std::string harvixHome = dir.Path() + "harvix/";
  fs::create_directories(harvixHome + "keep");
  setenv("HOME", harvixHome.c_str(), 1);
  EXPECT_FALSE(RemoveTempFolder(harvixHome));
  EXPECT_TRUE(fs::exists(harvixHome + "keep"));
}

TEST_F(FoldersTest, RemovalDoesNotFollowSymbolicLinks) {
  const std::string precious = dir.Path() + "precious/";
  WriteTextFile(precious + "data.txt", "keep me");
  const std::string temp = dir.Path() + "Harvix-tmp/";
  WriteTextFile(temp + "file.htm", "x");
  fs::create_directory_symlink(precious, temp + "link");
  // A link that itself carries our name is removed as a link.
  fs::create_directory_symlink(precious, dir.Path() + "Harvix-link");

  EXPECT_TRUE(RemoveTempFolder(temp));
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_TRUE(RemoveTempFolder(dir.Path() + "Harvix-link"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() + "Harvix-link")));
  EXPECT_EQ(ReadTextFile(precious + "data.txt"), "keep me");
}

// Durable writes sync and rename; the others swap the new file in and
// remove the old one by its temp name. Either way: the whole new text, the
// old file's permissions, no temp file left.
TEST_F(FoldersTest, AtomicWriteReplacesWholeAndKeepsNoTempFiles) {
  for (const bool durable : {true, false}) {
    const std::string sub = dir.Path() + (durable ? "durable/" : "swapped/");
    const std::string file = sub + "out.txt";
    ASSERT_TRUE(WriteFileAtomic(file, "first", durable));
    chmod(file.c_str(), 0640);
    ASSERT_TRUE(WriteFileAtomic(file, "second", durable));
    EXPECT_EQ(ReadTextFile(file), "second") << durable;
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << durable;
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(sub)) ++entries;
    EXPECT_EQ(entries, 1) << durable;
    // A folder in the file's place is never swapped away.
    WriteTextFile(sub + "folder/kept.txt", "kept");
    EXPECT_FALSE(WriteFileAtomic(sub + "folder", "page", durable)) << durable;
    EXPECT_EQ(ReadTextFile(sub + "folder/kept.txt"), "kept") << durable;
  }
}

TEST_F(FoldersTest, ReadWholeFileReadsEveryByteOrNothing) {
  std::string big(300000, 'x');
  big[0] = '\0';
  big.back() = 'y';
  WriteTextFile(dir.Path() + "big.bin", big);
  WriteTextFile(dir.Path() + "empty.txt", "");
  EXPECT_EQ(ReadWholeFile(dir.Path() + "big.bin"), big);
  EXPECT_EQ(ReadWholeFile(dir.Path() + "empty.txt"), std::string());
  // Files that report no size still have content.
  const auto status = ReadWholeFile("/proc/self/status");
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(status->find("Name:"), std::string::npos);
  EXPECT_FALSE(ReadWholeFile(dir.Path() + "missing.txt").has_value());
  EXPECT_FALSE(ReadWholeFile(dir.Path()).has_value());
}

TEST_F(FoldersTest, AtomicWriteIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const std::string sub = dir.Path() + "ro/";
  const std::string file = sub + "f.txt";
  ASSERT_TRUE(WriteFileAtomic(file, "old"));
  chmod(sub.c_str(), 0500);
  EXPECT_FALSE(WriteFileAtomic(file, "new"));
  chmod(sub.c_str(), 0700);
  EXPECT_EQ(ReadTextFile(file), "old");
}

TEST_F(FoldersTest, OwnTempFolderIsPrivateAndRefusesALink) {
  const std::string own = dir.Path() + "Harvix-me/";
  ASSERT_TRUE(PrepareOwnTempFolder(own));
  struct stat st{};
  ASSERT_EQ(stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::string planted = dir.Path() + "Harvix-planted";
  fs::create_directory_symlink(dir.Path(), planted);
  EXPECT_FALSE(PrepareOwnTempFolder(planted + "/"));
}

}  // namespace
