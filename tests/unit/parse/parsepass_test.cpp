// The parse pass over page texts: which links it follows, what it queues
// and how it rewrites the page.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "app/thxapp.h"
#include "parse/tthreadparse.h"
#include "support/tempdir.h"
#include "tasks/filetypes.h"
#include "tasks/thxtask.h"
#include "url/localfile.h"
#include "url/tbwurl.h"

namespace {

class PageParseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileTypeGroup("HTML", ".htm;.html;.php;.asp;");
    WriteFileTypeGroup("Images", ".gif;.jpg;");
    WriteFileTypeGroup("Scripts", ".js;");
    WriteFileTypeGroup("Applets", ".class;");
    // Tag scans only, unless a test says otherwise.
    UseSiteTask([](THXProfile& rules) { rules.AggressiveParser = 0; });
    parser.Start(HXApp->CurrentTask.get());
    parser.Pause();  // driven by the test, not by its thread
  }
  THXTask& Task() { return *HXApp->CurrentTask; }

  // A fresh task for the site at http://h/a/, made current and the parser's.
  template <class Rules>
  void UseSiteTask(const Rules& rules) {
    auto task = std::make_unique<THXTask>();
    task->Name = "Site";
    task->FileName = HXApp->TasksFolder + "General/Site.hxt";
    task->Url = "http://h/a/index.html";
    task->IntranetMode = true;
    task->Destination = box.Dir().Path() + "out/";
    task->Profile.SetReadDefaults();
    rules(task->Profile);
    HXApp->SetCurrentTask(std::move(task));
    parser.Task = HXApp->CurrentTask.get();
  }

  // Saves the page as the engine would and runs the pass over it; returns
  // the text written back.
  std::string Parse(const std::string& url, const std::string& html, int level = 0, std::uint8_t mark = mkDownload) {
    auto item = std::make_unique<THXQItem>(&Task());
    item->Url = url;
    item->Type = "HTML";
    item->State = isSaved;
    item->Level = level;
    item->Mark = mark;
    item->Store();
    const std::string file = item->GetLocalFile();
    WriteTextFile(file, html);
    parser.ParsePage(std::move(item));
    return ReadTextFile(file);
  }
  std::vector<std::string> Queued() {
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < Task().Downloads.size(); i += 2)
      if (Task().GetItem(i)->State == isNone) urls.push_back(Task().Downloads[i]);
    return urls;
  }
  std::unique_ptr<THXQItem> ItemOf(const std::string& url) {
    const auto at = Task().Downloads.Find(url);
    return at < 0 ? nullptr : Task().GetItem(static_cast<std::size_t>(at));
  }

  HarvixSandbox box;
  TThreadParse parser;
};

TEST_F(PageParseTest, LinksOfEveryRowAreQueuedAndConverted) {
  const std::string page =
      "<html><head><title> The\r\n Start </title><script src=\"js/app.js\"></script>"
      "<link rel=stylesheet href=\"/style.css\"></head>"
      "<body background=\"bg.gif\"><frame src=\"frame.html\">"
      "<a href=\"b/page.html#part\">Page B</a> <img src=\"http://h/img/logo.gif\">"
      "<meta http-equiv=refresh content=\"5; URL=next.html\">"
      "<area href=\"map.html\"><embed src=\"movie.swf\"><input type=image src=\"btn.gif\">"
      "<applet code=\"App.class\" codebase=\"classes/\"></applet>"
      "<param name=\"movie\" value=\"film.swf\"><bgsound src=\"tune.mid\"></body></html>";
  const std::string saved = Parse("http://h/a/index.html", page);
  for (const char* url : {"http://h/a/js/app.js", "http://h/style.css", "http://h/a/bg.gif", "http://h/a/frame.html",
                          "http://h/a/b/page.html", "http://h/img/logo.gif", "http://h/a/next.html", "http://h/a/map.html",
                          "http://h/a/movie.swf", "http://h/a/btn.gif", "http://h/a/classes/App.class",
                          "http://h/a/film.swf", "http://h/a/tune.mid"})
    EXPECT_TRUE(ItemOf(url)) << url;
  EXPECT_EQ(Task().StartPageTitle, "The Start");
  EXPECT_EQ(ItemOf("http://h/a/b/page.html")->Title, "Page B");
  EXPECT_EQ(ItemOf("http://h/a/b/page.html")->Referrer, "http://h/a/index.html");
  EXPECT_EQ(ItemOf("http://h/a/frame.html")->FromFrame, "Y");
  EXPECT_EQ(ItemOf("http://h/a/b/page.html")->Level, 1);
  EXPECT_NE(saved.find("<a href=\"b/page.html#part\">"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<img src=\"../img/logo.gif\">"), std::string::npos) << saved;
  EXPECT_NE(saved.find("href=\"../style.css\""), std::string::npos) << saved;
  EXPECT_EQ(ItemOf("http://h/a/index.html")->State, isParsed);
  EXPECT_EQ(Task().PagesSaved, 0);  // counters belong to the engine; parsing moves none here
}

TEST_F(PageParseTest, BaseTagIsRemovedAndSteersRelativeLinks) {
  Task().Profile.PageLocation = 2;
  const std::string saved = Parse("http://h/a/index.html",
                                  "<base href=\"http://h2/d/\"><a href=\"x.html\">x</a><a href=\"http://h/abs.html\">a</a>");
  EXPECT_TRUE(ItemOf("http://h2/d/x.html"));
  EXPECT_TRUE(ItemOf("http://h/abs.html"));
  EXPECT_EQ(saved.find("<base"), std::string::npos) << saved;
}

TEST_F(PageParseTest, SkippedValuesMakeNoItemAndStayAsWritten) {
  const std::string html = "<a href=\"#top\">t</a><a href=\"mailto:a@h\">m</a><a href=\"it's.html\">i</a>";
  const std::string saved = Parse("http://h/a/index.html", html);
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(saved, html + "\r\n");
}

TEST_F(PageParseTest, DepthCountsFramesAtTheirPagesLevel) {
  Task().Profile.Depth = 0;
  Parse("http://h/a/index.html", "<a href=\"p.html\">p</a><frame src=\"f.html\"><img src=\"i.gif\">");
  EXPECT_FALSE(ItemOf("http://h/a/p.html"));
  ASSERT_TRUE(ItemOf("http://h/a/f.html"));
  EXPECT_EQ(ItemOf("http://h/a/f.html")->Level, 1);
  EXPECT_TRUE(ItemOf("http://h/a/i.gif"));
}

TEST_F(PageParseTest, FollowRulesDecideEachLink) {
  struct Case {
    const char* name;
    std::function<void(THXProfile&)> rules;
    const char* url;
    const char* type;
    int level;
    bool accepted;
  } cases[] = {
      {"exclude pages with cgi", [](THXProfile& p) { p.UrlFiltersExclude = {"[PL]cgi"}; }, "http://h/cgi-bin/x.html", "HTML", 1, false},
      {"exclude pages, not media", [](THXProfile& p) { p.UrlFiltersExclude = {"[PL]cgi"}; }, "http://h/cgi-bin/x.gif", "Images", 1, true},
      {"wildcard ignoring case", [](THXProfile& p) { p.UrlFiltersExclude = {"a?c"}; }, "http://h/ABC.html", "HTML", 1, false},
      {"include pages", [](THXProfile& p) { p.UrlFiltersInclude = {"[PL]news"}; }, "http://h/sport.html", "HTML", 1, false},
      {"include pages leaves media", [](THXProfile& p) { p.UrlFiltersInclude = {"[PL]news"}; }, "http://h/x.gif", "Images", 1, true},
      {"include without marker", [](THXProfile& p) { p.UrlFiltersInclude = {"foo"}; }, "http://h/bar.html", "HTML", 1, true},
      {"directory keeps inside", [](THXProfile& p) { p.PageLocation = 0; }, "http://h/a/b/x.html", "HTML", 1, true},
      {"directory refuses above", [](THXProfile& p) { p.PageLocation = 0; }, "http://h/x.html", "HTML", 1, false},
      {"directory is case-sensitive", [](THXProfile& p) { p.PageLocation = 0; }, "HTTP://h/a/x.html", "HTML", 1, false},
      {"site anywhere in the URL", [](THXProfile& p) { p.PageLocation = 1; }, "http://other/?u=http://h/", "HTML", 1, true},
      {"types refuse", [](THXProfile& p) { p.FileTypes = {".html", ".gif"}; }, "http://h/s.js", "Scripts", 1, false},
      {"types pass scripts anywhere", [](THXProfile& p) { p.FileTypes = {".html", ".gif", ".js"}; p.PageLocation = p.ResourceLocation = 0; }, "http://other/s.js", "Scripts", 1, true},
      {"query tested as html", [](THXProfile& p) { p.FileTypes = {".html"}; }, "http://h/p.php?id=1", "HTML", 1, true},
      {"other schemes", [](THXProfile&) {}, "ftp://h/x.html", "HTML", 1, false},
      {"depth limit", [](THXProfile& p) { p.Depth = 1; }, "http://h/a/x.html", "HTML", 2, false},
      {"media have no depth", [](THXProfile& p) { p.Depth = 1; }, "http://h/a/x.gif", "Images", 2, true},
  };
  for (const auto& c : cases) {
    THXProfile saved = Task().Profile;
    c.rules(Task().Profile);
    EXPECT_EQ(parser.AcceptLink(c.url, "http://h/a/", c.level, c.type), c.accepted) << c.name;
    Task().Profile = saved;
  }
}

TEST_F(PageParseTest, CaseTwinsAreOneItemAndBothAreConverted) {
  const std::string saved = Parse("http://h/a/index.html", "<a href=\"A.html\">1</a><a href=\"a.html\">2</a>");
  EXPECT_EQ(Queued(), std::vector<std::string>{"http://h/a/A.html"});
  // Both lead to the one file saved, named as the item's first spelling.
  EXPECT_NE(saved.find("<a href=\"A.html\">1</a><a href=\"A.html\">2</a>"), std::string::npos) << saved;
}

TEST_F(PageParseTest, UnfollowedLinksConvertWithinTheSiteOnly) {
  Task().Profile.PageLocation = 0;
  Task().Url = "http://h/a/index.html";
  const std::string saved =
      Parse("http://h/a/index.html", "<a href=\"http://h/z/x.html\">in site</a><a href=\"http://other/x.html\">out</a>");
  EXPECT_TRUE(Queued().empty());
  EXPECT_NE(saved.find("href=\"../z/x.html\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("href=\"http://other/x.html\""), std::string::npos) << saved;
}

TEST_F(PageParseTest, QueryLinksWrittenWithAnEntityAreFollowed) {
  const std::string saved = Parse("http://h/a/index.html",
                                  "<a href=\"list.php?page=2&amp;sort=name\">l</a><a href=\"x.html?a=1;b=2\">s</a>");
  EXPECT_TRUE(ItemOf("http://h/a/list.php?page=2&sort=name"));
  EXPECT_FALSE(ItemOf("http://h/a/x.html?a=1;b=2"));  // a bare ";" still marks script code
  EXPECT_NE(saved.find("href=\"list.php%C2%BFpage=2&sort=name.html\""), std::string::npos) << saved;
}

TEST_F(PageParseTest, JavascriptLinksChangeOnlyTheQuotedUrl) {
  const std::string saved =
      Parse("http://h/a/c/p.html", "<a href=\"javascript:openWin('http://h/a/b/w.html')\">w</a>", 1);
  EXPECT_NE(saved.find("<a href=\"javascript:openWin('../b/w.html')\">"), std::string::npos) << saved;
  EXPECT_TRUE(ItemOf("http://h/a/b/w.html"));
}

TEST_F(PageParseTest, MappingRunsListMediaWithoutFetchingThem) {
  Parse("http://h/a/index.html", "<a href=\"p.html\">p</a><img src=\"i.gif\">", 0, mkMap);
  EXPECT_EQ(ItemOf("http://h/a/i.gif")->Mark, mkUnmarked);
  EXPECT_EQ(ItemOf("http://h/a/p.html")->Mark, mkMap);
}

TEST_F(PageParseTest, QuotedStringsInScriptsAreFoundWhenAggressive) {
  Task().Profile.AggressiveParser = 1;
  const std::string saved =
      Parse("http://h/a/index.html", "<script>var u = \"img/a.gif\"; var t = \"hello world\";</script><p>\"b.gif\"</p>");
  EXPECT_TRUE(ItemOf("http://h/a/img/a.gif"));
  EXPECT_FALSE(ItemOf("http://h/a/b.gif"));
}

TEST_F(PageParseTest, EmptyMissingAndUnwritablePagesLeaveTheSavedState) {
  Parse("http://h/a/empty.html", "");
  EXPECT_EQ(ItemOf("http://h/a/empty.html")->State, isParsed);

  auto missing = std::make_unique<THXQItem>(&Task());
  missing->Url = "http://h/a/missing.html";
  missing->Type = "HTML";
  missing->State = isSaved;
  missing->Store();
  parser.ParsePage(std::move(missing));
  EXPECT_EQ(ItemOf("http://h/a/missing.html")->State, isError);

  // A folder where the page's file should be written.
  auto blocked = std::make_unique<THXQItem>(&Task());
  blocked->Url = "http://h/a/blocked.html";
  blocked->Type = "HTML";
  blocked->State = isSaved;
  blocked->Store();
  const std::string file = blocked->GetLocalFile();
  WriteTextFile(file, "<a href=\"x.html\">x</a>");
  std::filesystem::remove(file);
  std::filesystem::create_directories(file + "/occupied");
  parser.ParsePage(std::move(blocked));
  EXPECT_EQ(ItemOf("http://h/a/blocked.html")->State, isError);
  EXPECT_FALSE(Task().NextPageToParse());
}

// The one walk over the link table against the scans one row at a time,
// which read the page with the earlier rows' conversions written in: the
// saved text, the downloads list (items in queue order with their levels,
// states, marks and titles) and the start page's title must come out the
// same.
class SingleWalkTest : public PageParseTest {
 protected:
  struct Outcome {
    std::string saved;
    std::vector<std::string> downloads;
    std::string startTitle;
  };
  using Rules = std::function<void(THXProfile&)>;

  Outcome Run(bool rowByRow, const Rules& rules, const std::string& url, const std::string& html) {
    std::filesystem::remove_all(box.Dir().Path() + "out/");
    UseSiteTask(rules);
    parser.RowByRow = rowByRow;
    Outcome outcome;
    outcome.saved = Parse(url, html, 1);
    for (std::size_t i = 0; i < Task().Downloads.size(); ++i) outcome.downloads.push_back(Task().Downloads[i]);
    outcome.startTitle = Task().StartPageTitle;
    return outcome;
  }

  // True when the page's text was changed by the pass, so that the
  // comparison covered conversions.
  bool Compare(const Rules& rules, const std::string& rulesName, const std::string& url, const std::string& html) {
    const Outcome reference = Run(true, rules, url, html);
    const Outcome walked = Run(false, rules, url, html);
    const std::string label = rulesName + ", " + url + ":\n" + html;
    EXPECT_EQ(walked.saved, reference.saved) << label;
    EXPECT_EQ(walked.downloads, reference.downloads) << label;
    EXPECT_EQ(walked.startTitle, reference.startTitle) << label;
    return reference.saved != ReadPageText(html);
  }

  static const std::vector<std::pair<std::string, Rules>>& RuleSets() {
    static const std::vector<std::pair<std::string, Rules>> sets = {
        {"tags only", [](THXProfile& p) { p.AggressiveParser = 0; }},
        {"script strings", [](THXProfile& p) { p.AggressiveParser = 1; }},
        {"strings only", [](THXProfile& p) { p.AggressiveParser = 2; }},
        {"everything followed and converted",
         [](THXProfile& p) {
           p.AggressiveParser = 2;
           p.PageLocation = p.ResourceLocation = 2;
           p.ConvertUnfollowedLinks = 2;
         }},
        {"folder only, no depth, unfollowed kept",
         [](THXProfile& p) {
           p.AggressiveParser = 1;
           p.PageLocation = 0;
           p.Depth = 0;
           p.ConvertUnfollowedLinks = 0;
         }},
        {"followed links kept", [](THXProfile& p) { p.ConvertFollowedLinks = 0; }},
    };
    return sets;
  }
};

TEST_F(SingleWalkTest, TrickyPagesComeOutAsRowByRow) {
  const char* pages[] = {
      // A tag inside another tag's value, before and after the value.
      R"~(<A HREF="x.html" TITLE="<IMG SRC=y.gif>">t</A><img src="z.gif">)~",
      R"~(<A TITLE="<IMG SRC=a.gif" HREF="b.html">t</A>)~",
      R"~(<A HREF="x<IMG SRC=y.gif>">t</A><IMG SRC="w.gif">)~",
      R"~(<IMG ALT=x <A HREF="y.html">t</A>)~",
      // One URL reached through several rows, and in another letter case.
      R"~(<a href="i.gif">i</a><img src="i.gif"><embed src="I.GIF"><img src="http://h/a/i.gif">)~",
      // BASE after links, and a second BASE.
      R"~(<a href="x.html">x</a><base href="http://h/d/"><img src="y.gif"><base href="http://h/e/">)~",
      R"~(<IMG LOWSRC="a.gif" SRC="b.gif"><IMG SRC="c.gif" LOWSRC="d.gif">)~",
      // Unterminated quotes and pages that end inside a tag.
      R"~(<a href="x.html>next<img src='y.gif'>)~",
      R"~(<img src="a.gif"><a href=)~",
      R"~(<p><img src="a.gif" <a href="b.html")~",
      R"~(<a href="javascript:go('p.html')">p</a><a href="javascript:go('<img src=q.gif>')">q</a>)~",
      R"~(<a href="javascript:open('../w.html', 'win')">w</a>)~",
      // Converted values that a later scan for SCRIPT elements reads.
      R"~(<script>var a="js/s.js", b="script.js"; c="d.gif";</script><p>"e.gif"</p>)~",
      R"~(<base href="http://h/b/"><script>var a='script/x.js'; var b='y.gif';</script>)~",
      R"~(<script src="/script/app.js"></script><script>x='a.gif'</script>)~",
      "'a.gif' \"b.gif\" <p>c</p>",
      // Fragments and queries that keep characters a scan stops at.
      R"~(<a href="x.html#a<b">x</a><img src="y.gif">)~",
      R"~(<a href='y.html#"q'>y</a><img src="z.gif">)~",
      R"~(<a href="list.php?a=1&amp;b=2">l</a><a href="p.html?a;b">s</a>)~",
      R"~(<applet code="App.class" codebase="cls/"></applet><applet codebase="../c2/" code="B.class">)~",
      R"~(<param name="movie" value="film.swf"><meta http-equiv=refresh content="0; URL=next.html">)~",
      R"~(<title>Page <b>one</b></title><frame src="f.html"><body background="bg.gif">)~",
      R"~(<a href="#top">t</a><a href="mailto:a@h">m</a><a href="it's.html">i</a>)~",
  };
  const std::string urls[] = {"http://h/a/index.html", "http://h/a/b/c/page.html", "http://h/x.html"};
  int converted = 0;
  for (const auto& [name, rules] : RuleSets())
    for (const std::string& url : urls)
      for (const char* page : pages) converted += Compare(rules, name, url, page);
  EXPECT_GT(converted, 0);
}

TEST_F(SingleWalkTest, FixtureSitePagesComeOutAsRowByRow) {
  const std::filesystem::path site = std::filesystem::path(__FILE__).parent_path() / "../../fixtures/site";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(site))
    if (entry.path().extension() == ".html") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << site;
  int converted = 0;
  for (const auto& [name, rules] : RuleSets())
    for (const auto& file : files) {
      const std::string url = "http://h/" + std::filesystem::relative(file, site).generic_string();
      converted += Compare(rules, name, url, ReadTextFile(file.string()));
    }
  EXPECT_GT(converted, 0);
}

// One task and one parser over several pages, as a run goes: what a value
// came to on one page (its URL, its place in the downloads list, its local
// link) must not carry over to the next page, where the same text resolves
// from another folder and the list has grown. Enough distinct values to
// make the page's table of values grow more than once.
TEST_F(SingleWalkTest, PagesInOneRunComeOutAsRowByRow) {
  std::string many;
  for (int i = 0; i < 300; ++i)
    many += "<a href=\"p" + std::to_string(i % 97) + ".html\">p</a><img src=\"../i/" + std::to_string(i) + ".gif\">";
  const std::pair<std::string, std::string> pages[] = {
      {"http://h/a/index.html", R"~(<a href="x.html">x</a><img src="I.GIF"><a href="sub/y.html">y</a>)~" + many},
      {"http://h/a/sub/y.html", R"~(<a href="x.html">x</a><img src="i.gif"><a href="../X.HTML">X</a>)~" + many},
      {"http://h/a/index.html", R"~(<base href="http://h/b/"><a href="x.html">x</a><img src="i.gif">)~"},
      {"http://h/x.html", R"~(<a href="a/x.html">x</a><img src="http://h/a/I.GIF"><a href="x.html">x</a>)~" + many},
  };
  const auto run = [&](bool rowByRow, const Rules& rules) {
    Outcome outcome = Run(rowByRow, rules, pages[0].first, pages[0].second);
    for (std::size_t i = 1; i < std::size(pages); ++i) outcome.saved += "\n" + Parse(pages[i].first, pages[i].second, 1);
    outcome.downloads.clear();
    for (std::size_t i = 0; i < Task().Downloads.size(); ++i) outcome.downloads.push_back(Task().Downloads[i]);
    return outcome;
  };
  for (const auto& [name, rules] : RuleSets()) {
    const Outcome reference = run(true, rules);
    const Outcome walked = run(false, rules);
    EXPECT_EQ(walked.saved, reference.saved) << name;
    EXPECT_EQ(walked.downloads, reference.downloads) << name;
  }
}

// Tag soup from the pieces the scans stop at and look for: names of every
// row, attributes, quotes, script elements, values that convert.
TEST_F(SingleWalkTest, RandomTagSoupComesOutAsRowByRow) {
  static const std::vector<std::string> kPieces = {
      "<", ">", "\"", "'", "=", " ", "\r\n", "\t", ";", "+", "#", "/", ".", "a",
      "<a href=", "<A HREF=\"", " href='", "<img src=", "<IMG LOWSRC=\"", " src=\"", "<script src=\"",
      "<script>", "</script>", "<link rel=x href=", "<frame src=", "<meta content=\"0; URL=",
      "<body background=", "<bgsound src=", "<area href=", "<applet code=", " codebase=\"", "<embed src=",
      "<param name=\"movie\" value=\"", "<input src=", "<base href=\"", "<title>", "</title>",
      "x.html", "../up.html", "/top/p.html", "http://h/a/abs.html", "http://other/o.gif", "Sub/Page.HTML",
      "img/a.gif", "p.php?a=1&amp;b=2", "javascript:go('w.html')", "mailto:m@h", "a/script/s.js",
      "q.html#frag", "x.html#<b", "cls/"};
  const std::string urls[] = {"http://h/a/index.html", "http://h/a/b/c/page.html"};
  std::mt19937 random(20250611);
  int converted = 0;
  for (const auto& [name, rules] : RuleSets())
    for (int round = 0; round < 150; ++round) {
      std::string page;
      for (std::size_t i = 0, n = 5 + random() % 60; i < n; ++i) page += kPieces[random() % kPieces.size()];
      converted += Compare(rules, name, urls[round % 2], page);
    }
  EXPECT_GT(converted, 0);
}

TEST(ReadPageTextTest, LineBreaksBecomeCrLfAndNulEndsTheText) {
  EXPECT_EQ(ReadPageText("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(ReadPageText(std::string("ab\0cd", 5)), "ab\r\n");
  EXPECT_EQ(ReadPageText(""), "");
  EXPECT_EQ(ReadPageText("x\r\n"), "x\r\n");
  EXPECT_EQ(ReadPageText("\r\r\n\n\r"), "\r\n\r\n\r\n\r\n");
  EXPECT_EQ(ReadPageText("x\r"), "x\r\n");
  EXPECT_EQ(ReadPageText(std::string("\0x", 2)), "");
}

// Line breaks of every kind at random against a reading one character at
// a time.
TEST(ReadPageTextTest, RandomLineBreaksComeOutAsReadCharByChar) {
  const auto model = [](const std::string& bytes) {
    std::string text;
    std::size_t i = 0;
    for (; i < bytes.size() && bytes[i] != '\0'; ++i) {
      if (bytes[i] != '\r' && bytes[i] != '\n') {
        text += bytes[i];
        continue;
      }
      text += "\r\n";
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    if (i > 0 && bytes[i - 1] != '\r' && bytes[i - 1] != '\n') text += "\r\n";
    return text;
  };
  static const std::string kPieces[] = {"\r", "\n", "\r\n", "\n\r", "a", "<p>", "line of text", std::string(1, '\0')};
  std::mt19937 random(5);
  for (int round = 0; round < 500; ++round) {
    std::string bytes;
    for (std::size_t i = 0, n = random() % 30; i < n; ++i) bytes += kPieces[random() % std::size(kPieces)];
    EXPECT_EQ(ReadPageText(bytes), model(bytes)) << round;
  }
}

TEST(FilterMarkerTest, MarkersAndPatterns) {
  struct Case { const char* entry; const char* marker; const char* pattern; } cases[] = {
      {"[AL]cgi", "[AL]", "cgi"}, {"[PL]news", "[PL]", "news"}, {"[RL]img", "[ML]", "img"},
      {"[ML]x", "[ML]", "x"},     {"plain", "", "plain"},
  };
  for (const auto& c : cases) {
    std::string pattern;
    EXPECT_EQ(FilterMarker(c.entry, &pattern), c.marker) << c.entry;
    EXPECT_EQ(pattern, c.pattern) << c.entry;
  }
}

}  // namespace
