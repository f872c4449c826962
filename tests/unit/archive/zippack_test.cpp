// Files deflated ahead of their add: the add writes the prepared data only
// while the file is unchanged and the level is the one asked for, and the
// archive reads back byte for byte either way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>

#include <map>
#include <random>
#include <string>

#include "archive/zipcomponent.h"
#include "archive/zippack.h"
#include "support/tempdir.h"

namespace {

struct Listed {
  std::uint64_t Size = 0, Packed = 0;
};

class PackerTest : public ::testing::Test {
 protected:
  std::string Page() const {
    std::string text;
    for (int i = 0; i < 300; ++i) text += "<p>line " + std::to_string(i) + " of a page that packs well</p>\n";
    return text;
  }
  std::string Noise(std::size_t size) const {
    std::mt19937 rng(7);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng());
    return bytes;
  }
  int Add(const std::string& name, hxzip::FilePacker* packer) {
    TZipComponent zip;
    zip.ZipFileName = dir.File("a.zip");
    zip.BaseFolder = dir.Path();
    zip.Packer = packer;
    zip.FilesToProcess = {name};
    return zip.Add();
  }
  std::map<std::string, Listed> List() {
    std::map<std::string, Listed> out;
    TZipComponent zip;
    zip.ZipFileName = dir.File("a.zip");
    zip.OnListing = [&](const ZipFileStats& s) { out[s.Name] = {s.Size, s.Packed}; };
    zip.FilesToProcess = {"*.*"};
    EXPECT_EQ(zip.List(), 0);
    return out;
  }
  std::string Extracted(const std::string& name) {
    TZipComponent zip;
    zip.ZipFileName = dir.File("a.zip");
    zip.ExtractDirectory = dir.File("out");
    zip.Overwrite = ZipOverwrite::xowAlways;
    zip.FilesToProcess = {name};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(zip.Test(), 0);
    return ReadTextFile(dir.File("out/" + name));
  }
  void Prepare(hxzip::FilePacker& packer, const std::string& name, int level) {
    packer.Prepare(dir.File(name), level);
    packer.Drain();
  }

  TempDir dir;
};

TEST_F(PackerTest, PreparedDataReadsBackAndIncompressibleFilesAreStored) {
  WriteTextFile(dir.File("page.html"), Page());
  WriteTextFile(dir.File("photo.jpg"), Noise(20000));
  hxzip::FilePacker packer;
  Prepare(packer, "page.html", 6);
  Prepare(packer, "photo.jpg", 6);
  ASSERT_EQ(Add("page.html", &packer), 0);
  ASSERT_EQ(Add("photo.jpg", &packer), 0);
  auto listed = List();
  EXPECT_LT(listed["page.html"].Packed * 4, listed["page.html"].Size);
  EXPECT_EQ(listed["photo.jpg"].Packed, listed["photo.jpg"].Size) << "deflate could not shrink it: stored";
  EXPECT_EQ(Extracted("page.html"), Page());
  EXPECT_EQ(Extracted("photo.jpg"), Noise(20000));
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("page.html").c_str(), &st), 0);
  EXPECT_FALSE(packer.Take(st, 6).has_value()) << "the add took it";
}

TEST_F(PackerTest, OnlyAnUnchangedFileAtTheAskedLevelUsesItsPreparedData) {
  hxzip::FilePacker packer;
  const std::string first = Page(), second = std::string(first.size(), 'x');
  struct stat st {};

  // Same size and time, other bytes: the prepared data is what goes in,
  // which shows the add used it (and why the time must match too).
  WriteTextFile(dir.File("same.html"), first);
  Prepare(packer, "same.html", 6);
  ASSERT_EQ(::stat(dir.File("same.html").c_str(), &st), 0);
  WriteTextFile(dir.File("same.html"), second);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.File("same.html").c_str(), times, 0), 0);
  ASSERT_EQ(Add("same.html", &packer), 0);
  EXPECT_EQ(Extracted("same.html"), first);

  // A newer file is packed afresh.
  WriteTextFile(dir.File("newer.html"), first);
  Prepare(packer, "newer.html", 6);
  const struct timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 10, 0}};
  WriteTextFile(dir.File("newer.html"), second);
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.File("newer.html").c_str(), later, 0), 0);
  ASSERT_EQ(Add("newer.html", &packer), 0);
  EXPECT_EQ(Extracted("newer.html"), second);

  // Prepared as stored, added deflated: packed again.
  WriteTextFile(dir.File("level.html"), first);
  Prepare(packer, "level.html", 0);
  ASSERT_EQ(Add("level.html", &packer), 0);
  EXPECT_LT(List()["level.html"].Packed, first.size());
  EXPECT_EQ(Extracted("level.html"), first);
}

TEST_F(PackerTest, FilesBeyondTheLimitsAreLeftToTheAdd) {
  WriteTextFile(dir.File("big.html"), Page());
  WriteTextFile(dir.File("small.html"), "<p>small</p>");
  hxzip::FilePacker packer(/*largest=*/100, /*budget=*/1u << 20);
  Prepare(packer, "big.html", 6);
  Prepare(packer, "small.html", 6);
  struct stat big {}, small {};
  ASSERT_EQ(::stat(dir.File("big.html").c_str(), &big), 0);
  ASSERT_EQ(::stat(dir.File("small.html").c_str(), &small), 0);
  EXPECT_FALSE(packer.Take(big, 6).has_value());
  EXPECT_TRUE(packer.Take(small, 6).has_value());

  hxzip::FilePacker tight(/*largest=*/1u << 20, /*budget=*/1);
  Prepare(tight, "small.html", 6);
  Prepare(tight, "big.html", 6);
  EXPECT_TRUE(tight.Take(small, 6).has_value());
  EXPECT_FALSE(tight.Take(big, 6).has_value()) << "the budget was spent";
  tight.Prepare(dir.File("small.html"), 6);
  tight.Clear();
  tight.Drain();
  EXPECT_FALSE(tight.Take(small, 6).has_value());
}

}  // namespace
