// harvix-cli zip end to end: each command on real archives, its output and
// its exit code by result class (0 success, 1 warning, 2 error), and bad
// archives that must get a clear error and stay as they were.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "cli/clirun.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

class ZipCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Src() + "docs");
    WriteTextFile(Src() + "index.html", "<html><title>Home</title>" + std::string(4000, 'a') + "</html>");
    WriteTextFile(Src() + "docs/guide.html", "<p>guide</p>");
    WriteTextFile(Src() + "pic.zip", std::string(3000, 'z'));
  }
  std::string Src() const { return dir.Path() + "src/"; }
  std::string Archive() const { return dir.Path() + "site.zip"; }
  CliResult Zip(std::vector<std::string> args) {
    args.insert(args.begin(), "zip");
    return RunCli(args, env);
  }
  // Adds the three source files from inside the source folder.
  void MakeArchive() {
    const std::string cmd = "cd '" + Src() + "' && HARVIX_CONFIG_DIR='" + dir.Path() + "config' HOME='" + dir.Path() +
                            "' '" HARVIX_CLI "' zip add '" + Archive() + "' index.html docs/guide.html pic.zip";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  TempDir dir;
  std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "config", "HARVIX_HOME=" + dir.Path() + "program",
                               "HOME=" + dir.Path()};
};

TEST_F(ZipCliTest, AddListTestExtractDelete) {
  MakeArchive();
  const auto list = Zip({"list", Archive()});
  ASSERT_EQ(list.Code, 0) << list.Err;
  EXPECT_NE(list.Out.find("Size"), std::string::npos);
  EXPECT_NE(list.Out.find("docs/guide.html"), std::string::npos) << list.Out;
  EXPECT_NE(list.Out.find("Total: 3 files"), std::string::npos) << list.Out;
  // The zip is stored, the page packed well.
  EXPECT_TRUE(std::regex_search(list.Out, std::regex(R"(\n\s*3000\s+3000\s+0%\s+\S+ \S+\s+pic\.zip\n)"))) << list.Out;
  EXPECT_TRUE(std::regex_search(list.Out, std::regex(R"(\n\s*4032\s+\d{2}\s+9\d%\s+\S+ \S+\s+index\.html\n)"))) << list.Out;

  const auto test = Zip({"test", Archive()});
  EXPECT_EQ(test.Code, 0) << test.Err;
  EXPECT_NE(test.Out.find("No errors"), std::string::npos);

  const std::string out = dir.Path() + "out/";
  ASSERT_EQ(Zip({"extract", Archive(), out}).Code, 0);
  EXPECT_EQ(ReadTextFile(out + "docs/guide.html"), "<p>guide</p>");
  // Existing files are kept unless told otherwise.
  WriteTextFile(out + "docs/guide.html", "mine");
  EXPECT_LE(Zip({"extract", Archive(), out}).Code, 1);
  EXPECT_EQ(ReadTextFile(out + "docs/guide.html"), "mine");
  ASSERT_EQ(Zip({"extract", Archive(), out, "--overwrite"}).Code, 0);
  EXPECT_EQ(ReadTextFile(out + "docs/guide.html"), "<p>guide</p>");
  const std::string flat = dir.Path() + "flat/";
  ASSERT_EQ(Zip({"extract", Archive(), flat, "--no-paths"}).Code, 0);
  EXPECT_TRUE(fs::exists(flat + "guide.html"));

  EXPECT_EQ(Zip({"delete", Archive(), "docs/*.*"}).Code, 0);
  const auto after = Zip({"list", Archive()});
  EXPECT_EQ(after.Out.find("guide.html"), std::string::npos) << after.Out;
  EXPECT_NE(after.Out.find("Total: 2 files"), std::string::npos) << after.Out;
}

TEST_F(ZipCliTest, RenameKeepsTheFolderAndRefusesASlash) {
  MakeArchive();
  const auto r = Zip({"rename", Archive(), "renamed.zip"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, dir.Path() + "renamed.zip\n");
  EXPECT_TRUE(fs::exists(dir.Path() + "renamed.zip"));
  const auto bad = Zip({"rename", dir.Path() + "renamed.zip", "a/b.zip"});
  EXPECT_EQ(bad.Code, 2);
  EXPECT_NE(bad.Err.find("Unable to rename file to: "), std::string::npos) << bad.Err;
  EXPECT_TRUE(fs::exists(dir.Path() + "renamed.zip"));
}

TEST_F(ZipCliTest, BadArchivesGetAClearErrorAndStayAsTheyWere) {
  MakeArchive();
  const std::string good = ReadTextFile(Archive());
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  std::string flipped = good;
  const std::size_t stored = flipped.find(std::string(100, 'z'));  // the stored zip's bytes
  ASSERT_NE(stored, std::string::npos);
  flipped[stored + 50] = 'y';
  const Case cases[] = {
      {"truncated.zip", good.substr(0, good.size() / 2), "The archive file is corrupted"},
      {"text.zip", "just some text, not an archive\n", "The archive file is corrupted"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Path() + c.name;
    WriteTextFile(path, c.bytes);
    for (const char* command : {"list", "test", "extract"}) {
      std::vector<std::string> args{command, path};
      if (std::string(command) == "extract") args.push_back(dir.Path() + "x-" + c.name);
      const auto r = Zip(args);
      EXPECT_EQ(r.Code, 2) << c.name << " " << command;
      EXPECT_NE(r.Err.find(c.message), std::string::npos) << c.name << " " << command << ": " << r.Err;
    }
    EXPECT_EQ(ReadTextFile(path), c.bytes) << c.name;
    EXPECT_TRUE(!fs::exists(dir.Path() + std::string("x-") + c.name) ||
                fs::is_empty(dir.Path() + std::string("x-") + c.name));
  }
  WriteTextFile(Archive(), flipped);
  const auto test = Zip({"test", Archive()});
  EXPECT_EQ(test.Code, 2);
  EXPECT_NE(test.Err.find("Test failed - Errors in the archive."), std::string::npos) << test.Err;
  const auto missing = Zip({"list", dir.Path() + "nothing.zip"});
  EXPECT_EQ(missing.Code, 2);
  EXPECT_NE(missing.Err.find("Could not find the archive file."), std::string::npos) << missing.Err;
}

TEST_F(ZipCliTest, ALostEndIsFixedWithEveryCompleteEntry) {
  MakeArchive();
  std::string bytes = ReadTextFile(Archive());
  // What a crash in the middle of the next add leaves: the central
  // directory overwritten by the start of a new entry.
  const std::size_t cd = bytes.find("PK\x01\x02");
  ASSERT_NE(cd, std::string::npos);
  WriteTextFile(Archive(), bytes.substr(0, cd) + "PK\x03\x04" + std::string(20, '\0'));
  EXPECT_EQ(Zip({"list", Archive()}).Code, 2);
  const auto fix = Zip({"fix", Archive()});
  EXPECT_EQ(fix.Code, 0) << fix.Err;
  EXPECT_TRUE(fs::exists(Archive() + ".damaged"));
  const auto list = Zip({"list", Archive()});
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_NE(list.Out.find("Total: 3 files"), std::string::npos) << list.Out;
  EXPECT_EQ(Zip({"test", Archive()}).Code, 0);
}

TEST_F(ZipCliTest, UsageErrors) {
  EXPECT_EQ(Zip({}).Code, 2);
  EXPECT_EQ(Zip({"--help"}).Code, 0);
  EXPECT_EQ(Zip({"list"}).Code, 2);
  EXPECT_EQ(Zip({"frobnicate", Archive()}).Code, 2);
  EXPECT_EQ(Zip({"add", Archive(), "x", "--level", "12"}).Code, 2);
  EXPECT_EQ(Zip({"add", Archive()}).Code, 2);
}

}  // namespace
