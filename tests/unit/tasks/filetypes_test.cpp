#include "tasks/filetypes.h"

#include <gtest/gtest.h>

#include "app/settingsstore.h"
#include "support/tempdir.h"
#include "unit/url/url_reference.h"

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

// The group the table walk finds for the extension the plain split gives.
std::string PlainTypeOf(const std::string& url) {
  const std::string entry = before::TypeExtension(url) + ";";
  for (const auto& g : ReadFileTypes())
    if (g.Extensions.find(entry) != std::string::npos) return g.Name;
  return kUnknownType;
}

TEST(FileTypesDifferentialTest, UrlTypesMatchThePlainSplit) {
  HarvixSandbox box;
  ASSERT_TRUE(Registry().Import(ReadTextFile(std::string(HARVIX_RESOURCES) + "FTypes.reg")).Problems.empty());
  WriteFileTypeGroup("Odd", ".y:z;.tar.gz;.JPG;");
  before::OddUrls gen(31);
  std::vector<std::string> urls = {"", "?", "http://h/", "http://h/a.HTML", "http://h/x.php?img=jpg",
                                   "http://h/x.php?a.gif", "http://h?x", "http://h/x.y:z", "http://h/a#b.gif",
                                   "http://h/a.tar.gz", "http://h/a.b/c", "http:\\\\h\\x.PNG"};
  for (int i = 0; i < 20000; ++i) urls.push_back(gen.Any());
  // Twice: the second round meets every extension already looked up.
  for (int round = 0; round < 2; ++round)
    for (const auto& url : urls) ASSERT_EQ(FileTypeOfUrl(url), PlainTypeOf(url)) << url;
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
