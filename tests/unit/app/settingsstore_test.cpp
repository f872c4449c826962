#include "app/settingsstore.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/tempdir.h"

namespace {

constexpr const char* kKey = "\\Software\\Brindlewood\\Harvix\\Settings";

class SettingsStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = dir.File("registry.reg");
};

TEST_F(SettingsStoreTest, ValuesSurviveARestartWithTheirTypes) {
  {
    SettingsStore s(file);
    s.Put(kKey, {"Connections", true, 7, {}});
    s.Put(kKey, {"Language", false, 0, "Native \"quoted\" \\ back"});
    s.Put(kKey, {"Negative", true, -3, {}});
  }
  SettingsStore again(file);
  EXPECT_EQ(again.Get(kKey, "connections")->Int, 7);
  EXPECT_TRUE(again.Get(kKey, "Connections")->IsInteger);
  EXPECT_EQ(again.Get(kKey, "LANGUAGE")->Str, "Native \"quoted\" \\ back");
  EXPECT_EQ(again.Get(kKey, "Negative")->Int, -3);
  EXPECT_EQ(ReadTextFile(file).rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
}

TEST_F(SettingsStoreTest, ValuesKeepTheirCreationOrderAndReplaceInPlace) {
  SettingsStore s(file);
  for (const char* n : {"F0", "F1", "F2"}) s.Put(kKey, {n, false, 0, n});
  s.Put(kKey, {"f1", false, 0, "changed"});
  const auto values = SettingsStore(file).Values(kKey);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].Name, "F0");
  EXPECT_EQ(values[1].Name, "F1");
  EXPECT_EQ(values[1].Str, "changed");
  EXPECT_EQ(values[2].Name, "F2");
}

TEST_F(SettingsStoreTest, DeletingAKeyTakesItsSubkeys) {
  SettingsStore s(file);
  s.Put("\\Software\\A\\Recent", {"F0", false, 0, "x"});
  s.Put("\\Software\\A\\Recent\\Deeper", {"F0", false, 0, "y"});
  s.Put("\\Software\\A\\RecentOther", {"F0", false, 0, "z"});
  s.DeleteKey("\\software\\a\\recent");
  EXPECT_FALSE(s.KeyExists("\\Software\\A\\Recent"));
  EXPECT_FALSE(s.KeyExists("\\Software\\A\\Recent\\Deeper"));
  EXPECT_TRUE(s.KeyExists("\\Software\\A\\RecentOther"));
}

TEST_F(SettingsStoreTest, ImportMergesDeletesAndIgnoresOtherHives) {
  SettingsStore s(file);
  s.Put("\\Software\\T", {"Keep", false, 0, "old"});
  s.Put("\\Software\\T", {"Drop", false, 0, "old"});
  s.Put("\\Software\\Gone", {"X", false, 0, "old"});
  const auto r = s.Import(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\T]\r\n"
      "\"Keep\"=\"new\"\r\n"
      "\"Drop\"=-\r\n"
      "\"Count\"=dword:0000000a\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
      "\"Elsewhere\"=\"1\"\r\n");
  EXPECT_EQ(s.Get("\\Software\\T", "Keep")->Str, "new");
  EXPECT_FALSE(s.Get("\\Software\\T", "Drop"));
  EXPECT_EQ(s.Get("\\Software\\T", "Count")->Int, 10);
  EXPECT_FALSE(s.KeyExists("\\Software\\Gone"));
  EXPECT_FALSE(s.Get("\\Software\\T", "Elsewhere"));
  EXPECT_FALSE(r.Problems.empty());  // the other hive is reported, not applied
}

TEST_F(SettingsStoreTest, DamagedFileLoadsWhatItCanAndIsKeptAside) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Brindlewood\\Harvix\\Settings]\n"
      "\"Connections\"=dword:00000009\n"
      "\"Broken\"=dword:zz\n"
      "\x01\x02\xff garbage\n"
      "\"Skin\"=\"Blue\"\n"
      "\"Unclosed\"=\"abc\n";
  WriteTextFile(file, damaged);
  SettingsStore s(file);
  EXPECT_EQ(s.Get(kKey, "Connections")->Int, 9);
  EXPECT_EQ(s.Get(kKey, "Skin")->Str, "Blue");
  EXPECT_FALSE(s.Warning().empty());
  EXPECT_EQ(ReadTextFile(file + ".bad"), damaged);
  // Loading alone never rewrote the file.
  EXPECT_EQ(ReadTextFile(file), damaged);
}

TEST_F(SettingsStoreTest, TruncatedOrBinaryFilesNeverCrash) {
  const std::string cases[] = {
      "", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Soft",
      std::string("\0\0\0\xff\xfe", 5), "[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n",
      "Windows Registry Editor Version 5.00\n\"orphan\"=\"value\"\n"};
  for (const auto& text : cases) {
    WriteTextFile(file, text);
    SettingsStore s(file);
    EXPECT_FALSE(s.Get(kKey, "Connections")) << text;
  }
}

TEST_F(SettingsStoreTest, TypedReadsFallBackToTheDefault) {
  OpenRegistry(file);
  EXPECT_EQ(ReadSetting(kKey, "Missing", 42), 42);
  EXPECT_EQ(ReadSetting(kKey, "Missing", "text"), "text");
  WriteSetting(kKey, "Number", std::string("12"));
  WriteSetting(kKey, "Word", std::string("twelve"));
  WriteSetting(kKey, "Int", 5);
  WriteSetting(kKey, "Flag", true);
  EXPECT_EQ(ReadSetting(kKey, "Number", 0), 12);   // a decimal string reads as a number
  EXPECT_EQ(ReadSetting(kKey, "Word", 3), 3);      // any other string does not
  EXPECT_EQ(ReadSetting(kKey, "Int", ""), "5");    // a number reads as its text
  EXPECT_TRUE(ReadSetting(kKey, "Flag", false));
  OpenRegistry("");
}

}  // namespace
