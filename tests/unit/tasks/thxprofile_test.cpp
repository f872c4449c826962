#include "tasks/thxprofile.h"

#include <gtest/gtest.h>

#include "support/tempdir.h"
#include "tasks/commatext.h"
#include "tasks/inifile.h"

namespace {

using List = std::vector<std::string>;

TEST(CommaTextTest, WritesQuotesOnlyWhereNeeded) {
  struct Case { List items; const char* text; } cases[] = {
      {{".htm", ".gif"}, ".htm,.gif"},
      {{"a b"}, "\"a b\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"x,y", "z"}, "\"x,y\",z"},
      {{"a", "", "b"}, "a,,b"},
      {{""}, "\"\""},
      {{}, ""},
      {{"[AL]*tab\there"}, "\"[AL]*tab\there\""},
  };
  for (const auto& c : cases) EXPECT_EQ(ToCommaText(c.items), c.text) << c.text;
}

TEST(CommaTextTest, ReadsItemsAsStoredListsAreSplit) {
  struct Case { const char* text; List items; } cases[] = {
      {"\"a b\"", {"a b"}},
      {"a b", {"a", "b"}},
      {"  .htm , .gif,", {".htm", ".gif"}},
      {"a,,b", {"a", "", "b"}},
      {"\"\"", {""}},
      {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
      {"\"unclosed", {"unclosed"}},
      {"\"a\"b", {"a", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(FromCommaText(c.text), c.items) << c.text;
}

class ProfileFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = dir.File("profiles/Mine.hxp");
};

TEST_F(ProfileFileTest, AbsentKeysTakeTheReadDefaults) {
  WriteTextFile(file, "[Profile]\nProfile Name=Mine\n");
  THXProfile p;
  p.FileName = file;
  p.LoadFromFile();
  EXPECT_EQ(p.Name, "Mine");
  EXPECT_EQ(p.PageLocation, 1);
  EXPECT_EQ(p.ResourceLocation, 2);
  EXPECT_EQ(p.Depth, -1);
  EXPECT_EQ(p.AggressiveParser, 1);
  EXPECT_EQ(p.ConvertFollowedLinks, 1);
  EXPECT_EQ(p.ConvertUnfollowedLinks, 1);
  EXPECT_TRUE(p.UseStartPageTitle);
  EXPECT_TRUE(p.FileTypes.empty());
}

TEST_F(ProfileFileTest, SaveAndLoadRoundTripEveryMember) {
  THXProfile p;
  p.FileName = file;
  p.Name = "Images only";
  p.FileTypes = {".htm", ".gif"};
  p.PageLocation = 0;
  p.ResourceLocation = 1;
  p.Depth = 3;
  p.AggressiveParser = 2;
  p.ConvertFollowedLinks = 0;
  p.ConvertUnfollowedLinks = 2;
  p.UseStartPageTitle = false;
  p.UrlFiltersExclude = {"[AL]a b", "[PL]*.cgi"};
  p.UrlFiltersInclude = {"[ML]img"};
  p.PageFileSizeMax = 100;
  p.ResourceFileSizeMin = 7;
  ASSERT_TRUE(p.SaveToFile());
  EXPECT_NE(ReadTextFile(file).find("URL Filters Exclude=\"[AL]a b\",[PL]*.cgi"), std::string::npos);

  THXProfile q;
  q.FileName = file;
  q.LoadFromFile();
  EXPECT_EQ(q.Name, p.Name);
  EXPECT_EQ(q.FileTypes, p.FileTypes);
  EXPECT_EQ(q.PageLocation, 0);
  EXPECT_EQ(q.ResourceLocation, 1);
  EXPECT_EQ(q.Depth, 3);
  EXPECT_EQ(q.AggressiveParser, 2);
  EXPECT_EQ(q.ConvertFollowedLinks, 0);
  EXPECT_EQ(q.ConvertUnfollowedLinks, 2);
  EXPECT_FALSE(q.UseStartPageTitle);
  EXPECT_EQ(q.UrlFiltersExclude, p.UrlFiltersExclude);
  EXPECT_EQ(q.UrlFiltersInclude, p.UrlFiltersInclude);
  EXPECT_EQ(q.PageFileSizeMax, 100);
  EXPECT_EQ(q.ResourceFileSizeMin, 7);
}

TEST_F(ProfileFileTest, KeysAreWrittenInTheirOrder) {
  THXProfile p;
  p.FileName = file;
  ASSERT_TRUE(p.SaveToFile());
  const std::string text = ReadTextFile(file);
  const char* order[] = {"Profile Name=", "File Types=", "Page Location=", "Resource Location=", "Depth=",
                         "Aggressive Parser=", "Convert Followed Links=", "Convert Unfollowed Links=",
                         "Use Start Page Title=", "URL Filters Exclude=", "URL Filters Include=",
                         "Page File Size Min=", "Page File Size Max=", "Resource File Size Min=",
                         "Resource File Size Max="};
  std::size_t last = 0;
  for (const char* key : order) {
    const auto at = text.find(std::string("\n") + key);
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at + 1, last) << key;
    last = at + 1;
  }
}

TEST_F(ProfileFileTest, DamagedValuesLoadWithDefaults) {
  WriteTextFile(file, "[Profile]\nDepth=deep\nPage Location=0x0\nFile Types=\n" + std::string("\0\xff\n", 3) +
                          "Resource Location=300\n");
  THXProfile p;
  p.FileName = file;
  p.LoadFromFile();
  EXPECT_EQ(p.Depth, -1);
  EXPECT_EQ(p.PageLocation, 0);
  EXPECT_EQ(p.ResourceLocation, static_cast<std::uint8_t>(300));  // kept as a byte
  EXPECT_TRUE(p.FileTypes.empty());
}

TEST(ProfileDescriptionTest, DescribesTheRulesInSixQuotedFields) {
  THXProfile p;
  p.Name = "Site";
  struct Case { List types; int page, media, depth, aggressive; const char* line; } cases[] = {
      {{}, 1, 2, -1, 1, "\"Site\",\"All\",\"within the selected site\",\"anywhere\",\"all levels\",\"SCRIPT tags only\""},
      {{".htm", ".gif"}, 0, 9, 0, 0,
       "\"Site\",\".htm  .gif  \",\"within the selected directory\",\"\",\"current page\",\"off\""},
      {{}, 2, 1, 3, 2, "\"Site\",\"All\",\"anywhere\",\"within the selected site\",\"current page + 3\",\"entire page\""},
  };
  for (const auto& c : cases) {
    p.FileTypes = c.types;
    p.PageLocation = static_cast<std::uint8_t>(c.page);
    p.ResourceLocation = static_cast<std::uint8_t>(c.media);
    p.Depth = c.depth;
    p.AggressiveParser = static_cast<std::uint8_t>(c.aggressive);
    EXPECT_EQ(p.DescriptionLine(), c.line);
  }
  EXPECT_EQ(ProfileCsvHeader(),
            "Profile Name,File Types,Retrieve Page Location,Retrieve Media Location,Depth,Aggressive Parser");
}

TEST(ProfileNamesTest, ListsHxpFilesByName) {
  TempDir dir;
  for (const char* f : {"b.hxp", "A.HXP", "notes.txt", "sub/c.hxp"}) WriteTextFile(dir.File(f), "[Profile]\n");
  EXPECT_EQ(ProfileNames(dir.Path()), (List{"A", "b"}));
  EXPECT_TRUE(ProfileNames(dir.File("missing")).empty());
}

}  // namespace
