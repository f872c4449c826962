#include "tasks/inifile.h"

#include <gtest/gtest.h>

#include "support/tempdir.h"

namespace {

TEST(IniFileTest, NamesIgnoreCaseAndTheFirstDuplicateWins) {
  const auto ini = IniFile::FromText(
      "[Task]\r\nTask Name = Site \r\ntask name=Second\r\n[task]\r\nURL=later\r\n[Other]\r\nURL=x\r\n");
  EXPECT_EQ(ini.ReadString("TASK", "TASK NAME", "d"), "Site");
  EXPECT_EQ(ini.ReadString("Task", "URL", "d"), "d");  // only the first [Task] counts
  EXPECT_EQ(ini.ReadString("other", "url", "d"), "x");
  EXPECT_EQ(ini.ReadString("Missing", "url", "d"), "d");
}

TEST(IniFileTest, IntegersAcceptHexAndRejectAnythingElse) {
  const auto ini = IniFile::FromText(
      "[S]\nDec=42\nHex=0x2\nHexUpper=0X1F\nNeg=-7\nWord=ten\nMixed=12abc\nEmpty=\n"
      "Big=99999999999\nHexAll=0xFFFFFFFF\n");
  struct Case { const char* key; int expected; } cases[] = {
      {"Dec", 42}, {"Hex", 2}, {"HexUpper", 31}, {"Neg", -7}, {"Word", -1},
      {"Mixed", -1}, {"Empty", -1}, {"Big", -1}, {"HexAll", -1}, {"Absent", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("S", c.key, -1), c.expected) << c.key;
  EXPECT_EQ(ini.ReadInt64("S", "Big", 0), 99999999999LL);
}

TEST(IniFileTest, ValuesAreCutTo2047Characters) {
  const std::string longValue(5000, 'a');
  auto ini = IniFile::FromText("[S]\nK=" + longValue + "\n");
  EXPECT_EQ(ini.ReadString("S", "K", "").size(), 2047u);
}

TEST(IniFileTest, RewriteKeepsPlacesOfKeysAndUnknownLines) {
  auto ini = IniFile::FromText(
      "; a comment\n[Task]\nStatus=1\nCustom=kept\nURL=old\n\n[Profile]\nDepth=2\n");
  ini.WriteString("Task", "url", "new");
  ini.WriteString("Task", "Added", "yes");
  ini.WriteString("Fresh", "Key", "v");
  EXPECT_EQ(ini.Text(),
            "; a comment\n[Task]\nStatus=1\nCustom=kept\nURL=new\nAdded=yes\n\n[Profile]\nDepth=2\n"
            "\n[Fresh]\nKey=v\n");
}

TEST(IniFileTest, LineBreaksInAValueCannotSplitTheFile) {
  auto ini = IniFile::FromText("");
  ini.WriteString("S", "K", "one\r\n[Evil]\nX=1");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  EXPECT_EQ(ini.ReadString("S", "K", ""), "one  [Evil] X=1");
}

TEST(IniFileTest, UnchangedFileIsNotRewritten) {
  TempDir dir;
  const std::string path = dir.File("t.ini");
  WriteTextFile(path, "[S]\r\nK=v\r\n");
  IniFile ini(path);
  ini.WriteString("S", "K", "v");
  EXPECT_FALSE(ini.Modified());
  EXPECT_TRUE(ini.UpdateFile());
  EXPECT_EQ(ReadTextFile(path), "[S]\r\nK=v\r\n");
  ini.WriteString("S", "K", "w");
  EXPECT_TRUE(ini.UpdateFile());
  EXPECT_EQ(IniFile(path).ReadString("S", "K", ""), "w");
}

}  // namespace
