// The Fix option on archives whose directory reads but whose entries do
// not, and on entries a repair must not keep (found by fuzzing).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/zipcomponent.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

class FixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteTextFile(dir.File("a.html"), std::string(3000, 'a'));
    WriteTextFile(dir.File("b.html"), std::string(3000, 'b'));
    TZipComponent zip;
    zip.ZipFileName = Archive();
    zip.BaseFolder = dir.Path();
    zip.FilesToProcess = {"a.html", "b.html"};
    ASSERT_EQ(zip.Add(), 0);
    bytes = ReadTextFile(Archive());
  }
  std::string Archive() const { return dir.File("t.zip"); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    TZipComponent zip;
    zip.ZipFileName = Archive();
    zip.OnListing = [&](const ZipFileStats& s) { names.push_back(s.Name); };
    zip.FilesToProcess = {"*.*"};
    EXPECT_EQ(zip.List(), 0);
    return names;
  }
  int Fix() {
    TZipComponent zip;
    zip.ZipFileName = Archive();
    return zip.Fix();
  }
  // The second local header (b.html).
  std::size_t SecondLocal() const { return bytes.find("PK\x03\x04", 4); }

  TempDir dir;
  std::string bytes;
};

TEST_F(FixTest, ADamagedEntryBehindAGoodDirectoryIsLeftOut) {
  std::string damaged = bytes;
  const std::size_t local = SecondLocal();
  const auto extraLength = static_cast<unsigned char>(damaged[local + 28]) | static_cast<unsigned char>(damaged[local + 29]) << 8;
  const std::size_t data = local + 30 + 6 + extraLength;  // b.html's packed bytes
  damaged[data + 2] = static_cast<char>(damaged[data + 2] ^ 0x5a);
  WriteTextFile(Archive(), damaged);
  TZipComponent test;
  test.ZipFileName = Archive();
  ASSERT_GT(test.Test(), 0);
  EXPECT_EQ(Fix(), 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.html"});
  EXPECT_EQ(ReadTextFile(Archive() + ".damaged"), damaged) << "the original is kept";
  TZipComponent again;
  again.ZipFileName = Archive();
  EXPECT_EQ(again.Test(), 0);
}

TEST_F(FixTest, AnIntactArchiveIsLeftAsItIs) {
  EXPECT_EQ(Fix(), 0);
  EXPECT_EQ(ReadTextFile(Archive()), bytes);
  EXPECT_FALSE(fs::exists(Archive() + ".damaged"));
}

TEST_F(FixTest, EntriesWithoutANameOrWithBrokenExtraFieldsAreNotKept) {
  struct Case {
    const char* what;
    std::size_t offset;  // within the second local header
    std::string value;   // little-endian bytes written there
  };
  const Case cases[] = {
      {"no name", 26, std::string("\0\0", 2)},
      {"an extra field longer than its space", 30 + 6 + 2, std::string("\xff\x00", 2)},
  };
  for (const Case& c : cases) {
    std::string damaged = bytes;
    const std::size_t local = SecondLocal();
    damaged.replace(local + c.offset, c.value.size(), c.value);
    // And the end lost, as a crash leaves it: only a repair can read it.
    damaged.resize(damaged.find("PK\x01\x02"));
    WriteTextFile(Archive(), damaged);
    EXPECT_EQ(Fix(), 0) << c.what;
    EXPECT_EQ(Names(), std::vector<std::string>{"a.html"}) << c.what;
    TZipComponent count;
    count.ZipFileName = Archive();
    EXPECT_EQ(count.EntryCount(), 1) << c.what;
    fs::remove(Archive() + ".damaged");
  }
}

}  // namespace
