#include "tasks/filetypes.h"

#include <gtest/gtest.h>

#include "app/settingsstore.h"
#include "support/tempdir.h"

namespace {

class FileTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileTypeGroup("HTML", ".htm;.html;.asp;.php;");
    WriteFileTypeGroup("Images", ".gif;.jpg;.png;");
    WriteFileTypeGroup("Archives", ".zip;.tar.gz;");
  }
  HarvixSandbox box;
};

TEST_F(FileTypesTest, UrlTypesFollowExtensionAndQueryRules) {
  struct Case { const char* url; const char* type; } cases[] = {
      {"http://h/a/", "HTML"},                      // no file name: .htm
      {"http://h/a/page.asp?id=3", "HTML"},         // query without image hints: .htm
      {"http://h/img.cgi?name=logo.gif", "Images"}, // the query names an image
      {"http://h/x.php?jpg=1", "HTML"},             // "=jpg" needs the "=" right before
      {"http://h/x.php?img=jpg", "Images"},
      {"http://h/Photo.JPG", "Images"},             // lower-cased
      {"http://h/a.tar.gz", "Archives"},
      {"http://h/movie.mp4", "Unknown"},
      {"http://h?x=1", "HTML"},                     // "?" in the host: .html, and no query part
      {"http://h/dir/?a.gif", "Images"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileTypeOfUrl(c.url), c.type) << c.url;
}

TEST_F(FileTypesTest, FileTypesUseThePlainExtension) {
  struct Case { const char* file; const char* type; } cases[] = {
      {"site/index.HTML", "HTML"}, {"a/b.gz", "Archives"},  // substring of .tar.gz;
      {"pic.png", "Images"},       {"README", "HTML"},      // ";" alone: the first group with any entry
      {"dir.v2/file", "HTML"},     {"x.mp3", "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileTypeOfFile(c.file), c.type) << c.file;
}

TEST_F(FileTypesTest, ChangesApplyToTheNextLookup) {
  EXPECT_EQ(FileTypeOfUrl("http://h/a.svg"), "Unknown");
  WriteFileTypeGroup("Images", ".gif;.jpg;.png;.svg");
  EXPECT_EQ(ReadSetting(kFileTypesKey, "Images", ""), ".gif;.jpg;.png;.svg;");
  EXPECT_EQ(FileTypeOfUrl("http://h/a.svg"), "Images");
  RemoveFileTypeExtension("Archives", ".gz");  // only a whole entry goes
  EXPECT_EQ(ReadSetting(kFileTypesKey, "Archives", ""), ".zip;.tar.gz;");
  RemoveFileTypeExtension("Images", ".jpg");
  EXPECT_EQ(ReadSetting(kFileTypesKey, "Images", ""), ".gif;.png;.svg;");
  DeleteFileTypeGroup("HTML");
  EXPECT_EQ(FileTypeOfUrl("http://h/a.html"), "Unknown");
  // Another store (a restart) is seen too.
  OpenRegistry(box.Dir().Path() + "other.reg");
  EXPECT_EQ(FileTypeOfUrl("http://h/a.gif"), "Unknown");
}

TEST_F(FileTypesTest, GroupsComeInStoreOrderAndTheFirstWins) {
  WriteFileTypeGroup("Pictures", ".gif;");
  const auto groups = ReadFileTypes();
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(groups[0].Name, "HTML");
  EXPECT_EQ(groups[3].Name, "Pictures");
  EXPECT_EQ(FileTypeOfUrl("http://h/a.gif"), "Images");
}

TEST(ShippedFileTypes, DefaultTableKnowsPagesAndCommonMedia) {
  HarvixSandbox box;
  const auto reg = ReadTextFile(std::string(HARVIX_RESOURCES) + "FTypes.reg");
  ASSERT_FALSE(reg.empty());
  EXPECT_TRUE(Registry().Import(reg).Problems.empty());
  struct Case { const char* url; const char* type; } cases[] = {
      {"http://h/", "HTML"}, {"http://h/a.shtml", "HTML"}, {"http://h/a.php", "HTML"},
      {"http://h/a.png", "Images"}, {"http://h/a.mp3", "Audio"}, {"http://h/a.mp4", "Video"},
      {"http://h/a.zip", "Archives"}, {"http://h/a.pdf", "Documents"}, {"http://h/a.js", "Scripts"},
      {"http://h/a.css", "Style Sheets"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileTypeOfUrl(c.url), c.type) << c.url;
}

}  // namespace
