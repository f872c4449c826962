#include "parse/thxparser.h"

#include "parse/charindex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

struct PassKind {
  std::string tag, end, attr;
  std::uint8_t mode;
};

const PassKind kAHref{"A", ">", "HREF", 0};
const PassKind kImgSrc{"IMG", ">", "SRC", 0};

PassKind Quoted(const std::string& quote, std::uint8_t mode) { return {quote, quote, "", mode}; }

THXParser Scanner(const std::string& text, const PassKind& kind) {
  THXParser s;
  s.Text = text;
  s.TagName = kind.tag;
  s.TagEnd = kind.end;
  s.AttrName = kind.attr;
  s.Mode = kind.mode;
  s.Pos = 1;
  s.TagClose = 0;
  return s;
}

using Rewrite = std::function<std::string(const std::string&)>;

// A pass as the parse pass runs it: every call's result, the empty ones
// included. Each call that goes on consumes one "<" or one opening quote of
// the original text, so a pass needs at most one call per character plus
// the last one.
std::vector<std::string> RunPass(THXParser& s, const Rewrite& rewrite = {}) {
  const std::size_t bound = s.Text.size() + 1;
  std::vector<std::string> results;
  do {
    if (results.size() == bound) {
      ADD_FAILURE() << "the pass did not end within " << bound << " calls";
      break;
    }
    std::string value = s.NextLink();
    if (rewrite && !value.empty()) s.ReplaceValue(rewrite(value));
    results.push_back(value);
  } while (s.TagClose != 0 && s.Pos != 0);
  return results;
}

std::vector<std::string> Links(std::vector<std::string> results) {
  std::erase(results, std::string());
  return results;
}

std::vector<std::string> PassLinks(const std::string& text, const PassKind& kind) {
  THXParser s = Scanner(text, kind);
  return Links(RunPass(s));
}

std::string Prefixed(const std::string& value) { return "../" + value; }

const std::string kPage = R"page(<!DOCTYPE html>
<html>
<head>
<title>Harvix test page</title>
<link rel="stylesheet" href="css/site.css">
<script src="js/app.js"></script>
<script type="text/javascript">
var logo = 'img/a.gif';
document.write("<a href='old/x.html'>");
</script>
</head>
<body>
<a name="top"></a>
<h1>Welcome</h1>
<A HREF="index.html">Home</A> |
<a href='about.html' class="nav">About us</a> |
<a href=contact.html>Contact</a>
<img src="img/logo.png" alt="Logo" lowsrc="img/logo-low.gif">
<IMG SRC="img/b.gif" WIDTH=10>
<a href="javascript:openWin('popup.html')">Popup</a>
<a href="search.cgi?q=1;x=2">Search</a>
<a href="mailto:me@example.org">Mail</a>
<a href="#top">Top</a>
</body>
</html>
)page";

TEST(TagValueTest, ReadsTheValueOfTheSoughtAttributeInTheFirstMatchingTag) {
  struct Case { const char* name; std::string text; PassKind kind; std::string expected; } cases[] = {
      {"double quotes", R"(<A HREF="x.html">)", kAHref, "x.html"},
      {"apostrophes", "<a href='x.html'>", kAHref, "x.html"},
      {"unquoted", "<A HREF=x.html>", kAHref, "x.html"},
      {"blanks around the equals sign", R"(<A HREF = "x.html">)", kAHref, "x.html"},
      {"unquoted value ends at a blank", "<A HREF=x.html TARGET=_top>", kAHref, "x.html"},
      {"unquoted value ends at a quote", R"(<A HREF=x.html"y">)", kAHref, "x.html"},
      {"quoted value ends at a >", R"(<A HREF="a>b.html">)", kAHref, "a"},
      {"apostrophe inside double quotes", R"(<A HREF="it's.html">)", kAHref, "it's.html"},
      {"double quote inside apostrophes", R"(<A HREF='say"hi.html'>)", kAHref, R"(say"hi.html)"},
      {"empty value", R"(<A HREF="">)", kAHref, ""},
      {"blank at the start of a quoted value", R"(<A HREF=" x.html">)", kAHref, " x.html"},
      {"apostrophes inside double quotes", R"(<A HREF="'x.html'">)", kAHref, "'x.html'"},
      {"apostrophe and blank before the value", "<A HREF=' x.html'>", kAHref, "x.html"},
      {"equals sign without a value", "<A HREF=>", kAHref, ""},
      {"tab after the tag name", "<A\tHREF=\"x.html\">", kAHref, "x.html"},
      {"line break after the tag name", "<A\r\nHREF=\"x.html\">", kAHref, "x.html"},
      {"line break before the value", "<A HREF=\r\n\"x.html\">", kAHref, "x.html"},
      {"backslash-escaped quotes", R"(<A HREF=\"x.html\">)", kAHref, R"(x.html\)"},
      {"tag name in another case", R"(<a HREF="x.html">)", kAHref, "x.html"},
      {"attribute name in another case", R"(<A hReF="x.html">)", kAHref, "x.html"},
      {"blanks and quotes before the tag name", R"(< "A HREF="x.html">)", kAHref, "x.html"},
      {"longer attribute name ending with the one sought", R"(<IMG LOWSRC="a.gif" SRC="b.gif">)", kImgSrc,
       "a.gif"},
      {"attribute name inside an earlier value", R"(<A TITLE="see HREF=y.html" HREF="x.html">)", kAHref,
       "y.html"},
      {"line break after the attribute name", "<A HREF\r\n=\"x.html\">", kAHref, ""},
      {"no equals sign", R"(<A HREF "x.html">)", kAHref, ""},
      {"attribute missing", R"(<A NAME="top">)", kAHref, ""},
      {"attribute only in a later tag", R"(<A NAME="top"><B HREF="x.html">)", kAHref, ""},
      {"semicolon in the value", R"(<A HREF="page.html?a=1;b=2">)", kAHref, ""},
      {"plus in the value", R"(<A HREF="x+y.html">)", kAHref, ""},
      {"script call", R"~(<A HREF="javascript:openWin('win.html')">)~", kAHref, "win.html"},
      {"script call in another case", R"~(<A HREF="JavaScript:openWin('win.html')">)~", kAHref, "win.html"},
      {"script call ending with a semicolon", R"~(<A HREF="javascript:go('a.html');">)~", kAHref, ""},
      {"script call without apostrophes", R"~(<A HREF="javascript:void(0)">)~", kAHref, ""},
      {"script call with one apostrophe", R"~(<A HREF="javascript:go('a.html">)~", kAHref, ""},
      {"script call with an empty argument", R"~(<A HREF="javascript:go('')">)~", kAHref, ""},
      {"closing tag", R"(</A HREF="x.html">)", kAHref, ""},
      {"longer tag name", R"(<ABBR HREF="x.html">)", kAHref, ""},
      {"tag name directly followed by >", R"(<A>HREF="x.html"</A>)", kAHref, ""},
      {"quoted stretch inside the tag name", R"(<IMG"x y" SRC="a.gif">)", kImgSrc, ""},
      {"NUL byte inside the value", "<A HREF=\"a\0b.html\">"s, kAHref, "a\0b.html"s},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, c.kind);
    EXPECT_EQ(s.NextLink(), c.expected) << c.name;
    EXPECT_EQ(s.LastValue, c.expected) << c.name;
  }
}

TEST(TagValueTest, RecordsWhereTheTagAndTheValueLie) {
  struct Case {
    const char* name;
    std::string text;
    PassKind kind;
    std::size_t tagStart, tagLimit, attrPos, valueStart, valueEnd;
    std::string value;
  } cases[] = {
      {"tag at the first character", R"(<A HREF="x.html">)", kAHref, 1, 17, 4, 10, 16, "x.html"},
      {"unquoted value ends at the >", "<A HREF=x.html>", kAHref, 1, 15, 4, 9, 15, "x.html"},
      {"empty value at the closing quote", R"(<A HREF="">)", kAHref, 1, 11, 4, 10, 10, ""},
      {"tag behind other text", "<p>Hi</p><A HREF='x.html'>", kAHref, 10, 26, 13, 19, 25, "x.html"},
      {"script call: only the argument", R"~(<A HREF="javascript:openWin('win.html')">)~", kAHref, 1, 41, 4, 30, 37,
       "win.html"},
      {"found inside a longer attribute name", R"(<IMG LOWSRC="a.gif" SRC="b.gif">)", kImgSrc, 1, 32, 9, 14, 19,
       "a.gif"},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, c.kind);
    EXPECT_EQ(s.NextLink(), c.value) << c.name;
    EXPECT_EQ(s.TagStart, c.tagStart) << c.name;
    EXPECT_EQ(s.TagLimit, c.tagLimit) << c.name;
    EXPECT_EQ(s.TagClose, c.tagLimit) << c.name;
    EXPECT_EQ(s.AttrPos, c.attrPos) << c.name;
    EXPECT_EQ(s.ValueStart, c.valueStart) << c.name;
    EXPECT_EQ(s.ValueEnd, c.valueEnd) << c.name;
    EXPECT_EQ(s.Text.substr(s.ValueStart - 1, c.value.size()), c.value) << c.name;
  }
}

TEST(TagValueTest, BaseLookupCallsNextTagValueOnce) {
  THXParser s = Scanner(R"(<HTML><HEAD><BASE HREF="http://h/d/"></HEAD>)", {"BASE", ">", "HREF", 0});
  EXPECT_EQ(s.NextTagValue(), "http://h/d/");
  // The parse pass deletes the BASE tag from its "<" to its ">".
  EXPECT_EQ(s.Text.substr(s.TagStart - 1, s.TagLimit - s.TagStart + 1), R"(<BASE HREF="http://h/d/">)");
}

TEST(TagValueTest, EmptyTextYieldsNothingAndEndsThePass) {
  for (const PassKind& kind : {kAHref, Quoted("'", 1), Quoted("\"", 2)}) {
    THXParser s = Scanner("", kind);
    EXPECT_EQ(RunPass(s), std::vector<std::string>{""}) << kind.tag;
    EXPECT_EQ(s.TagClose, 0u) << kind.tag;
  }
}

TEST(TagPassTest, EveryCallReportsOneTagAndThePassGoesOnAfterAnEmptyValue) {
  struct Case { const char* name; std::string text; PassKind kind; std::vector<std::string> results; } cases[] = {
      {"tag without the attribute", R"(<A NAME="top"><A HREF="x.html">)", kAHref, {"", "x.html", ""}},
      {"empty value between links", R"(<A HREF="a.html"><A HREF=""><A HREF="b.html">)", kAHref,
       {"a.html", "", "b.html", ""}},
      {"refused value between links", R"(<A HREF="a+b.html"><A HREF="b.html">)", kAHref, {"", "b.html", ""}},
      // <IMG> is never a candidate: were it one, its SRC search would end in
      // the next tag and give an extra empty result first.
      {"tag without attributes", R"(<IMG><IMG SRC="a.gif">)", kImgSrc, {"a.gif", ""}},
      {"closing tags", R"(<A HREF="a.html">a</A><A HREF="b.html">b</A>)", kAHref, {"a.html", "b.html", ""}},
      {"tag name ending a quoted stretch", R"(<x"<A HREF="a.html">)", kAHref, {"a.html", ""}},
      {"tag name holding a <", R"(<x<A HREF="a.html">)", kAHref, {"a.html", ""}},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, c.kind);
    EXPECT_EQ(RunPass(s), c.results) << c.name;
  }
}

TEST(ScannerPassTest, CollectsEveryLinkOfARealisticPage) {
  struct Case { const char* name; PassKind kind; std::vector<std::string> links; } cases[] = {
      {"A HREF",
       kAHref,
       {"old/x.html", "index.html", "about.html", "contact.html", "popup.html", "mailto:me@example.org", "#top"}},
      {"IMG SRC", kImgSrc, {"img/logo.png", "img/b.gif"}},
      {"SCRIPT SRC", {"SCRIPT", ">", "SRC", 0}, {"js/app.js"}},
      {"LINK HREF", {"LINK", ">", "HREF", 0}, {"css/site.css"}},
      {"FRAME SRC", {"FRAME", ">", "SRC", 0}, {}},
      {"apostrophes in scripts", Quoted("'", 1), {"img/a.gif", "old/x.html"}},
      {"double quotes in scripts", Quoted("\"", 1), {}},
      {"apostrophes anywhere", Quoted("'", 2), {"img/a.gif", "old/x.html", "about.html", "popup.html"}},
      {"double quotes anywhere",
       Quoted("\"", 2),
       {"css/site.css", "js/app.js", "index.html", "img/logo.png", "img/logo-low.gif", "img/b.gif"}},
  };
  for (const auto& c : cases) EXPECT_EQ(PassLinks(kPage, c.kind), c.links) << c.name;
}

TEST(ScannerPassTest, LinkTextIsTheCleanedTextUpToTheNextTag) {
  THXParser s = Scanner(kPage, kAHref);
  std::vector<std::pair<std::string, std::string>> titled;
  do {
    const std::string value = s.NextLink();
    if (!value.empty()) titled.emplace_back(value, s.LinkText());
  } while (s.TagClose != 0 && s.Pos != 0);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"old/x.html", "\");"},  {"index.html", "Home"}, {"about.html", "About us"},
      {"contact.html", "Contact"}, {"popup.html", "Popup"}, {"mailto:me@example.org", "Mail"},
      {"#top", "Top"},
  };
  EXPECT_EQ(titled, expected);
}

TEST(LinkTextTest, TakesTheTextFromTheTagsCloseToTheNextTag) {
  struct Case { const char* name; std::string text; std::string expected; } cases[] = {
      {"blanks and a line break", "<a href=\"x\">  Click\n here </a>", "Click here"},
      {"image inside the link", R"(<A HREF="x.html"><IMG SRC="a.gif"></A>)", ""},
      {"tabs and line breaks are dropped, not blanked", "<A HREF=\"x.html\">Tab\tand\r\nbreaks</A>",
       "Tabandbreaks"},
      {"no further tag", R"(<A HREF="x.html">No closing tag)", ""},
      {"tag closed by a > inside a later value", R"(<A HREF="x.html" TITLE="1>2">Text</A>)", R"(2">Text)"},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, kAHref);
    ASSERT_FALSE(s.NextLink().empty()) << c.name;
    EXPECT_EQ(s.LinkText(), c.expected) << c.name;
  }
}

TEST(LinkTextTest, QuotedModeTakesWhatPrecedesTheFirstTag) {
  struct Case { const char* name; std::string text; std::string expected; } cases[] = {
      {"text before the page", "  Intro\r\n<p>'a.gif'</p>", "Intro"},
      {"page starting with a tag", "<p>'a.gif'</p>", ""},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, Quoted("'", 2));
    ASSERT_EQ(s.NextLink(), "a.gif") << c.name;
    EXPECT_EQ(s.TagStart, 0u) << c.name;
    EXPECT_EQ(s.LinkText(), c.expected) << c.name;
  }
}

TEST(ReplaceValueTest, PrefixingEveryHrefRewritesOnlyTheValues) {
  const std::string expected = R"page(<!DOCTYPE html>
<html>
<head>
<title>Harvix test page</title>
<link rel="stylesheet" href="css/site.css">
<script src="js/app.js"></script>
<script type="text/javascript">
var logo = 'img/a.gif';
document.write("<a href='../old/x.html'>");
</script>
</head>
<body>
<a name="top"></a>
<h1>Welcome</h1>
<A HREF="../index.html">Home</A> |
<a href='../about.html' class="nav">About us</a> |
<a href=../contact.html>Contact</a>
<img src="img/logo.png" alt="Logo" lowsrc="img/logo-low.gif">
<IMG SRC="img/b.gif" WIDTH=10>
<a href="javascript:openWin('../popup.html')">Popup</a>
<a href="search.cgi?q=1;x=2">Search</a>
<a href="../mailto:me@example.org">Mail</a>
<a href="../#top">Top</a>
</body>
</html>
)page";
  THXParser s = Scanner(kPage, kAHref);
  const auto links = Links(RunPass(s, Prefixed));
  EXPECT_EQ(links.size(), 7u);
  EXPECT_EQ(s.Text, expected);
}

TEST(ReplaceValueTest, QuotedPassRewritesTheTextBetweenTheQuotes) {
  const std::string text = "<script>var a = 'img/a.gif', b = 'b.gif';</script><p>'c.gif'</p>";
  struct Case { const char* name; std::uint8_t mode; std::string expected; } cases[] = {
      {"inside scripts", 1, "<script>var a = '../img/a.gif', b = '../b.gif';</script><p>'c.gif'</p>"},
      {"anywhere", 2, "<script>var a = '../img/a.gif', b = '../b.gif';</script><p>'../c.gif'</p>"},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(text, Quoted("'", c.mode));
    RunPass(s, Prefixed);
    EXPECT_EQ(s.Text, c.expected) << c.name;
  }
}

TEST(ReplaceValueTest, LongerOrShorterValuesKeepThePassOnTrack) {
  const std::string text = R"(<IMG SRC="a.gif"><IMG SRC='bb.gif'><IMG SRC=ccc.gif><IMG SRC="d.gif">)";
  struct Case { const char* name; Rewrite rewrite; std::string expected; } cases[] = {
      {"longer", [](const std::string& v) { return "../img/" + v; },
       R"(<IMG SRC="../img/a.gif"><IMG SRC='../img/bb.gif'><IMG SRC=../img/ccc.gif><IMG SRC="../img/d.gif">)"},
      {"shorter", [](const std::string&) { return "x"; },
       R"(<IMG SRC="x"><IMG SRC='x'><IMG SRC=x><IMG SRC="x">)"},
      {"emptied", [](const std::string&) { return ""; }, R"(<IMG SRC=""><IMG SRC=''><IMG SRC=><IMG SRC="">)"},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(text, kImgSrc);
    const std::vector<std::string> links = Links(RunPass(s, c.rewrite));
    EXPECT_EQ(links, (std::vector<std::string>{"a.gif", "bb.gif", "ccc.gif", "d.gif"})) << c.name;
    EXPECT_EQ(s.Text, c.expected) << c.name;
  }
}

TEST(ReplaceValueTest, MovesTagCloseByTheChangeInLength) {
  THXParser s = Scanner(R"(<IMG SRC="a.gif"><IMG SRC="b.gif">)", kImgSrc);
  ASSERT_EQ(s.NextLink(), "a.gif");
  ASSERT_EQ(s.TagClose, 17u);
  s.ReplaceValue("../img/a.gif");
  EXPECT_EQ(s.TagClose, 24u);
  EXPECT_EQ(s.TagLimit, 17u);
  EXPECT_EQ(s.LastValue, "a.gif");
  EXPECT_EQ(s.Text, R"(<IMG SRC="../img/a.gif"><IMG SRC="b.gif">)");
  EXPECT_EQ(s.NextLink(), "b.gif");
  EXPECT_EQ(s.TagStart, 25u);
}

TEST(ReplaceValueTest, SameTextChangesNothing) {
  THXParser s = Scanner(R"(<IMG SRC="a.gif"><IMG SRC="b.gif">)", kImgSrc);
  ASSERT_EQ(s.NextLink(), "a.gif");
  s.ReplaceValue("a.gif");
  EXPECT_EQ(s.TagClose, 17u);
  EXPECT_EQ(s.Text, R"(<IMG SRC="a.gif"><IMG SRC="b.gif">)");
}

TEST(ReplaceValueTest, RewritesOnlyTheArgumentOfAScriptCall) {
  THXParser s = Scanner(R"~(<A HREF="javascript:openWin('win.html')">Open</A>)~", kAHref);
  ASSERT_EQ(s.NextLink(), "win.html");
  s.ReplaceValue("../win.html");
  EXPECT_EQ(s.Text, R"~(<A HREF="javascript:openWin('../win.html')">Open</A>)~");
  EXPECT_EQ(s.TagClose, 44u);
  EXPECT_EQ(s.LinkText(), "Open");
}

TEST(QuotedValueTest, AcceptsOnlyStringsThatLookLikeLinks) {
  struct Case { const char* name; std::string candidate; bool accepted; } cases[] = {
      {"path with a folder", "img/a.gif", true},
      {"file name", "a.gif", true},
      {"folder only", "dir/", true},
      {"absolute URL", "http://host/a", true},
      {"colon of a port inside an absolute URL", "https://h:8080/x.html", true},
      {"blank", "hello world", false},
      {"semicolon", "a;b", false},
      {"colon without ://", "mailto:x", false},
      {"colon in a file name", "x:y.gif", false},
      {"style type", "text/css", false},
      {"script type in another case", "TEXT/JavaScript", false},
      {"style type inside a longer text", "my/text/css.x", false},
      {"neither dot nor slash", "abc", false},
      {"empty", "", false},
      {"markup", "a<b.gif", false},
  };
  for (const auto& c : cases) {
    const std::string text = "<p>\"" + c.candidate + "\"</p>";
    THXParser s = Scanner(text, Quoted("\"", 2));
    EXPECT_EQ(s.NextLink(), c.accepted ? c.candidate : "") << c.name;
    EXPECT_EQ(s.LastValue, c.candidate) << c.name << ": the candidate is kept even when refused";
  }
}

TEST(QuotedValueTest, RecordsWhereTheStringLies) {
  THXParser s = Scanner("var u = 'img/a.gif';</script>", Quoted("'", 2));
  ASSERT_EQ(s.NextLink(), "img/a.gif");
  EXPECT_EQ(s.Pos, 9u);
  EXPECT_EQ(s.TagClose, 19u);
  EXPECT_EQ(s.ValueStart, 10u);
  EXPECT_EQ(s.ValueEnd, 18u);
  EXPECT_EQ(s.TagStart, 0u);
  s.ReplaceValue("../img/a.gif");
  EXPECT_EQ(s.TagClose, 22u);
  EXPECT_EQ(s.Text, "var u = '../img/a.gif';</script>");
}

TEST(QuotedValueTest, ScriptModeAcceptsOnlyStringsInsideAScriptElement) {
  struct Case { const char* name; std::string text; std::uint8_t mode; std::vector<std::string> links; } cases[] = {
      {"between the script tags", R"(<SCRIPT>var a = "x.gif";</SCRIPT>)", 1, {"x.gif"}},
      {"in lower case", R"(<script>a="x.gif"</script>)", 1, {"x.gif"}},
      {"after the closing tag", R"(<SCRIPT></SCRIPT><p>"x.gif"</p>)", 1, {}},
      {"after the closing tag, anywhere mode", R"(<SCRIPT></SCRIPT><p>"x.gif"</p>)", 2, {"x.gif"}},
      {"before any script", R"(<p>"x.gif"</p><SCRIPT></SCRIPT>)", 1, {}},
      {"attribute of the script tag", R"(<SCRIPT SRC="x.js"></SCRIPT>)", 1, {}},
      {"script never closed", R"(<script>a="x.gif"<p>)", 1, {}},
      {"second script of the page", R"(<script></script><p>"a.gif"</p><script>b="b.gif"</script>)", 1, {"b.gif"}},
  };
  for (const auto& c : cases) EXPECT_EQ(PassLinks(c.text, Quoted("\"", c.mode)), c.links) << c.name;
}

TEST(QuotedPassTest, QuotesWithATagBetweenThemDoNotEncloseAValue) {
  struct Case { const char* name; std::string text; std::string quote; std::vector<std::string> results; } cases[] = {
      {"apostrophe of a word, double-quote delimiters", R"(<p>don't "a.gif"</p><p>more</p>)", "\"",
       {"a.gif", ""}},
      // The apostrophe of "don't" opens a string that never closes.
      {"apostrophe of a word, apostrophe delimiters", R"(<p>don't "a.gif"</p><p>more</p>)", "'", {""}},
      {"string after the last >", R"(<p>x</p> "a.gif")", "\"", {"", ""}},
      {"closing quote tried as an opening quote", R"(x"<br>"b.gif"</p>)", "\"", {"", "b.gif", ""}},
  };
  for (const auto& c : cases) {
    THXParser s = Scanner(c.text, Quoted(c.quote, 2));
    EXPECT_EQ(RunPass(s), c.results) << c.name;
  }
}

TEST(MalformedTextTest, BrokenOrTruncatedPagesEndThePassQuietly) {
  struct Case { const char* name; std::string text; PassKind kind; std::vector<std::string> links; } cases[] = {
      {"ends inside a tag", R"(<p>x</p><A HREF="a.html")", kAHref, {}},
      {"ends inside a quoted value", R"(<A HREF="a.ht)", kAHref, {}},
      {"quote left open but the tag closed", R"(<A HREF="a.html>)", kAHref, {"a.html"}},
      {"ends inside the attribute name", "<A HR", kAHref, {}},
      {"ends after the equals sign", "<A HREF=", kAHref, {}},
      {"ends inside the tag name", "<p>x<A", kAHref, {}},
      {"lone <", "<", kAHref, {}},
      {"ends with <", "abc <", kAHref, {}},
      {"only <", "<<<<", kAHref, {}},
      {"only >", ">>>", kAHref, {}},
      {"quoted stretch in a tag name runs to the end", R"(<A"HREF="x.html">)", kAHref, {}},
      {"good tag then a truncated one", R"(<A HREF="a.html"><A HREF="b.ht)", kAHref, {"a.html"}},
      {"string never closed", "<p>'a.gif", Quoted("'", 2), {}},
      {"lone quote", "'", Quoted("'", 2), {}},
      {"quote at the end", "<p>'", Quoted("'", 2), {}},
      {"empty string", "''>", Quoted("'", 2), {}},
      {"script opened at the end", R"("a.gif"><script)", Quoted("\"", 1), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(PassLinks(c.text, c.kind), c.links) << c.name;
}

// Either any bytes, or pieces that steer the scanner: the characters it
// stops at and the names and words it looks for.
std::string RandomText(std::mt19937& random, bool anyByte) {
  static const std::vector<std::string> kPieces = {
      "<", ">", "\"", "'", "=", " ", "\t", "\r", "\n", "\\", ";", "+", ":", "/", ".", "a", "A",
      "<A ", "<a\t", "<IMG ", "<img\n", "<SCRIPT ", " HREF=", " href", " SRC=", " lowsrc=", "\"x.gif\"",
      "'a.html'", "b/c", "<script>", "</SCRIPT>", "javascript:go('", "')", "://", "text/css", "\0"s};
  const std::size_t count = random() % (anyByte ? 200 : 60);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (anyByte)
      text += static_cast<char>(random() & 0xFF);
    else
      text += kPieces[random() % kPieces.size()];
  }
  return text;
}

// Runs one pass, checking after every call that a value stands in the text
// where the scanner says and that a rewrite lands there and is passed over.
void CheckPass(const std::string& text, const PassKind& kind, const Rewrite& rewrite, const std::string& label) {
  THXParser s = Scanner(text, kind);
  std::size_t calls = 0;
  do {
    ASSERT_LE(++calls, text.size() + 1) << label;
    const std::string value = s.NextLink();
    s.LinkText();
    if (value.empty()) continue;
    ASSERT_GE(s.ValueStart, 1u) << label;
    ASSERT_EQ(s.Text.substr(s.ValueStart - 1, value.size()), value) << label;
    if (!rewrite) continue;
    const std::string before = s.Text;
    const std::string replacement = rewrite(value);
    s.ReplaceValue(replacement);
    const std::string expected =
        before.substr(0, s.ValueStart - 1) + replacement + before.substr(s.ValueStart - 1 + value.size());
    ASSERT_EQ(s.Text, expected) << label;
    ASSERT_GE(s.TagClose, s.ValueStart + replacement.size()) << label;
  } while (s.TagClose != 0 && s.Pos != 0);
}

TEST(RobustnessTest, RandomTextAlwaysEndsThePassAndKeepsValuesWhereTheyStand) {
  const PassKind kinds[] = {kAHref,           kImgSrc,           {"SCRIPT", ">", "SRC", 0},
                            Quoted("'", 1),   Quoted("\"", 1),   Quoted("'", 2),
                            Quoted("\"", 2)};
  const std::pair<const char*, Rewrite> rewrites[] = {
      {"none", {}},
      {"longer", Prefixed},
      {"shorter", [](const std::string& v) { return v.substr(0, 1); }},
      {"emptied", [](const std::string&) { return std::string(); }},
  };
  std::mt19937 random(20240611);
  for (int round = 0; round < 5000; ++round) {
    const std::string text = RandomText(random, round % 4 == 0);
    for (const auto& kind : kinds)
      for (const auto& [name, rewrite] : rewrites)
        CheckPass(text, kind, rewrite, "round " + std::to_string(round) + ", " + kind.tag + " mode " +
                                           std::to_string(kind.mode) + ", " + name);
  }
}

// The page's character index only speeds up the searches: a quoted-string
// pass over a text with its index must give every value, position and end
// that the pass without it gives, rewrites included (a rewrite drops the
// index, and the pass goes on searching the text).
TEST(RobustnessTest, TheCharacterIndexChangesNoResult) {
  const PassKind kinds[] = {Quoted("'", 1), Quoted("\"", 1), Quoted("'", 2), Quoted("\"", 2)};
  const std::pair<const char*, Rewrite> rewrites[] = {{"none", {}}, {"longer", Prefixed}};
  std::mt19937 random(515);
  for (int round = 0; round < 3000; ++round) {
    // Long enough to span several 64-byte blocks of the index.
    std::string text;
    for (int piece = 0; piece < 4; ++piece) text += RandomText(random, round % 5 == 0);
    CharIndex index;
    index.Build(text);
    for (const auto& kind : kinds)
      for (const auto& [name, rewrite] : rewrites) {
        THXParser plain = Scanner(text, kind), indexed = Scanner(text, kind);
        indexed.Index = &index;
        std::vector<std::size_t> plainTrail, indexedTrail;
        const auto trail = [](THXParser& s, std::vector<std::size_t>& out, const Rewrite& r) {
          return RunPass(s, [&](const std::string& v) {
            out.insert(out.end(), {s.Pos, s.TagClose, s.ValueStart, s.ValueEnd});
            return r ? r(v) : v;
          });
        };
        EXPECT_EQ(trail(plain, plainTrail, rewrite), trail(indexed, indexedTrail, rewrite))
            << "round " << round << ", " << kind.tag << " mode " << int(kind.mode) << ", " << name;
        EXPECT_EQ(plainTrail, indexedTrail) << "round " << round;
        EXPECT_EQ(plain.Text, indexed.Text) << "round " << round;
        EXPECT_EQ(plain.TagClose, indexed.TagClose) << "round " << round;
      }
  }
}

}  // namespace

namespace {

// TagNameIndex against the tag search of a tag-mode scan, which is what it
// stands in for: at every "<" of random tag soup, a name is found there
// exactly when a scan for that name starting at the "<" stops at it.
TEST(TagNameIndexTest, FindsTheNameAScanForItStopsAt) {
  static const std::string_view kNames[] = {"SCRIPT", "A", "AREA", "APPLET", "BASE", "BGSOUND", "IMG", "EMBED"};
  static const std::vector<std::string> kPieces = {
      "<", ">", "\"", "'", "=", " ", "\r\n", "\t", "/", "a", "A", "s", "<a", "<A ", "<area", "<AREAX", "< img",
      "<\r\nIMG", "<\"img\"", "<'a'", "<=base", "<applet", "<APPLETS", "<bgsound", "<embed", "<Script", "<scr\"ipt\"",
      "</a>", "<p>", "<a\"", "<i", "<b", "x"};
  const TagStartSet kStarts(kNames);
  std::mt19937 random(77);
  int found = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text;
    for (std::size_t i = 0, n = 1 + random() % 25; i < n; ++i) text += kPieces[random() % kPieces.size()];
    for (std::size_t lt = text.find('<'); lt != std::string::npos; lt = text.find('<', lt + 1)) {
      const int index = TagNameIndex(text, lt + 1, kNames);
      // The quick test by the character after "<" never rules out a name
      // the full one finds.
      if (index >= 0) {
        EXPECT_TRUE(kStarts.MayMatch(text, lt + 1)) << text;
      }
      for (std::size_t name = 0; name < std::size(kNames); ++name) {
        THXParser scan;
        scan.Text = text;
        scan.TagName = std::string(kNames[name]);
        scan.TagEnd = ">"s;
        scan.AttrName = "SRC"s;
        scan.Pos = lt + 1;
        scan.NextTagValue();
        EXPECT_EQ(index == static_cast<int>(name), scan.TagStart == lt + 1) << kNames[name] << " in " << text;
      }
      found += index >= 0;
    }
  }
  EXPECT_GT(found, 0);
}

}  // namespace
