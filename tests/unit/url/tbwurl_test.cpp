#include "url/tbwurl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/frontend.h"
#include "unit/url/url_reference.h"

namespace {

struct Fields {
  std::string Protocol, Host, Port, Path, Document, Extension, Query, Anchor;
};

TEST(TbwURLTest, SplitFillsEveryField) {
  struct Case { std::string url; Fields expected; } cases[] = {
      {"", {}},
      {"http://h:81/a/b/page.html?x=1#top", {"http://", "h", "81", "a/b/", "page.html", ".html", "?x=1#top", ""}},
      {"http://h/a/b#sec", {"http://", "h", "", "a/b/", "", "", "", "#sec"}},
      {"http://h/dir/?q", {"http://", "h", "", "dir/", "", "", "?q", ""}},
      {"./x.html", {"", "", "", "", "x.html", ".html", "", ""}},
      {"http://h?x=1", {"http://", "h?x=1", "", "", "", "", "", ""}},
      {"http://h", {"http://", "h", "", "", "", "", "", ""}},
      {"http://h/", {"http://", "h", "", "", "", "", "", ""}},
      {"http://h/a/b", {"http://", "h", "", "a/b/", "", "", "", ""}},
      {"http://h/p.html#x", {"http://", "h", "", "", "p.html", ".html", "", "#x"}},
      {"http://h/a#b/c.html", {"http://", "h", "", "a#b/", "c.html", ".html", "", ""}},
      {"ftp://h/x.zip?y#z", {"ftp://", "h", "", "", "x.zip", ".zip", "?y#z", ""}},
      {"http://h/a/file.tar.gz", {"http://", "h", "", "a/", "file.tar.gz", ".gz", "", ""}},
      {"http://h/a/b.c:d", {"http://", "h", "", "a/b.c:d/", "", "", "", ""}},
      {"http:\\\\h\\a\\b.htm", {"http://", "h", "", "a/", "b.htm", ".htm", "", ""}},
      {"HTTPS://H.example.org:8080", {"HTTPS://", "H.example.org", "8080", "", "", "", "", ""}},
      {"a/b.html", {"", "a", "", "", "b.html", ".html", "", ""}},
      {"/a/b.html", {"", "", "", "a/", "b.html", ".html", "", ""}},
      {".", {}},
  };
  for (const auto& c : cases) {
    TbwURL u;
    u.SetURL(c.url);
    const Fields& e = c.expected;
    EXPECT_EQ(u.URL, c.url) << c.url;
    EXPECT_EQ(u.Protocol, e.Protocol) << c.url;
    EXPECT_EQ(u.Host, e.Host) << c.url;
    EXPECT_EQ(u.Port, e.Port) << c.url;
    EXPECT_EQ(u.Path, e.Path) << c.url;
    EXPECT_EQ(u.Document, e.Document) << c.url;
    EXPECT_EQ(u.Extension, e.Extension) << c.url;
    EXPECT_EQ(u.Query, e.Query) << c.url;
    EXPECT_EQ(u.Anchor, e.Anchor) << c.url;
  }
}

TEST(TbwURLTest, SplitForgetsThePreviousURL) {
  TbwURL u;
  u.SetURL("https://h:81/a/page.html?x=1");
  u.SetURL("h#top");
  EXPECT_EQ(u.Host, "h#top");
  for (const std::string* field : {&u.Protocol, &u.Port, &u.Path, &u.Document, &u.Extension, &u.Query, &u.Anchor})
    EXPECT_EQ(*field, "");
}

TEST(TbwURLTest, DocumentCarriesTheQuery) {
  struct Case { std::string url, expected; } cases[] = {
      {"http://h/a/page.html?x=1#top", "page.html?x=1#top"},
      {"http://h/dir/?q", "?q"},
      {"http://h/a/page.html#top", "page.html"},
      {"http://h/a/", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLDocument(c.url), c.expected) << c.url;
}

TEST(TbwURLTest, ExtensionIsLowerCaseAndHtmlForAnyQuery) {
  struct Case { std::string url, expected; } cases[] = {
      {"http://h/img/Logo.GIF", ".gif"},
      {"http://h/a.php?id=3", ".html"},
      {"http://h?x", ".html"},
      {"http://h/a/", ""},
      {"http://h/a/b", ""},
      {"http://h/x.tar.GZ#frag", ".gz"},
      {"http://h/x.y:z", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLExtension(c.url), c.expected) << c.url;
}

TEST(TbwURLTest, SiteNameComesFromTheHost) {
  struct Case { std::string url, expected; } cases[] = {
      {"www.a.b", "a"},
      {"http://www.a.b/c/d.html", "a"},
      {"a.b", "a_b"},
      {"a.b.c", "a_b"},
      {"http://a.b.c/x.html", "a_b"},
      {"localhost", "localhost"},
      {"WWW.a.b", "WWW_a"},
      {"http://www.example", ""},
      {"http:\\\\x.y.z\\p", "x_y"},
      {"http://h:81/x.html", "h"},
  };
  for (const auto& c : cases) EXPECT_EQ(URLSiteName(c.url), c.expected) << c.url;
}

TEST(TbwURLTest, NormalizeCompletesATypedAddress) {
  struct Case { std::string url; bool ok; std::string expected; } cases[] = {
      {"h", true, "http://h/"},
      {"h/dir", true, "http://h/dir/"},
      {"h/dir?x=1", true, "http://h/dir?x=1"},
      {"h/page.html", true, "http://h/page.html"},
      {"https://h.example.org", true, "https://h.example.org/"},
      {"http://h/a/", true, "http://h/a/"},
      {"http://h/a.b:c", true, "http://h/a.b:c/"},
      {"C:\\site\\index.html", true, "file://C:/site/index.html"},
      {"file:///home/a.html", true, "file:///home/a.html"},
      {"http://h/a?x=1&amp;y=2", true, "http://h/a?x=1&y=2"},
      {"http://h/a?x=1&AMP;y=2&Amp;z", true, "http://h/a?x=1&y=2&z"},
      {"http:///x", false, "http:///x"},
      {"FILE:///x.html", false, "FILE:///x.html"},
      {"\\x.html", false, "http:///x.html"},
  };
  for (const auto& c : cases) {
    std::string url = c.url;
    EXPECT_EQ(NormalizeURL(url), c.ok) << c.url;
    EXPECT_EQ(url, c.expected) << c.url;
  }
}

TEST(TbwURLTest, DirectoryEndsAtTheLastSlashBeforeTheQuery) {
  struct Case { std::string url, expected; } cases[] = {
      {"http://h", "http://h/"},
      {"https://h", "https://h/"},
      {"http://h/a/b.html?x=/y", "http://h/a/"},
      {"http://h/a/", "http://h/a/"},
      {"http://h/a/b", "http://h/a/"},
      {"http://h?x", "http://h?x/"},
      {"www.site.org/a/b.html", "www.site.org/a/"},
      {"h/a.html", "h/a.html/"},
  };
  for (const auto& c : cases) EXPECT_EQ(URLDirectory(c.url), c.expected) << c.url;
}

TEST(TbwURLTest, UpClimbsFoldersAndStopsAtTheRoot) {
  struct Case { std::string url; int levels; std::string expected; } cases[] = {
      {"http://h/a/b/", 0, "http://h/"},
      {"http://h/a/b/", 1, "http://h/a/"},
      {"http://h/a/b/", 2, "http://h/"},
      {"http://h/a/b/", 3, "http://h/"},
      {"http://h/a/b/", -1, "http://h/"},
      {"https://h/a/b/c/", 2, "https://h/a/"},
      {"https://h/a/", 1, "https://h/"},
      {"http://h", 1, "http://h"},
  };
  for (const auto& c : cases) EXPECT_EQ(URLUp(c.url, c.levels), c.expected) << c.url << " up " << c.levels;
}

TEST(TbwURLTest, ResolveMakesALinkAbsolute) {
  struct Case { std::string link, base, expected; } cases[] = {
      {"../../x.html", "http://h/a/b/", "http://h/x.html"},
      {"../../../x.html", "http://h/a/b/", "http://h/x.html"},
      {"../x.html", "http://h/a/b/", "http://h/a/x.html"},
      {"/img/a.gif", "http://h:81/a/", "http://h:81/img/a.gif"},
      {"./p.html", "http://h/a/", "http://h/a/p.html"},
      {"a/../p.html", "http://h/", "http://h/a/../p.html"},
      {"a/././b.html", "http://h/", "http://h/a/b.html"},
      {"p.html", "http://h/a/", "http://h/a/p.html"},
      {"news://group", "http://h/a/", "news://group"},
      {"HTTPS://Other/X.html", "http://h/a/", "HTTPS://Other/X.html"},
      {"//cdn.example.org/x.js", "https://h/a/", "https://cdn.example.org/x.js"},
      {"//cdn.example.org/x.js", "http://h/", "http://cdn.example.org/x.js"},
      {"//cdn/x.js", "h/a/", "http://cdn/x.js"},
      {"p.html?a=1&amp;b=2", "http://h/", "http://h/p.html?a=1&b=2"},
      {"p\r\n.html", "http://h/", "http://h/p.html"},
      {"http://h/x?a=1&AMP;b=2", "http://h/", "http://h/x?a=1&b=2"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveURL(c.link, c.base), c.expected) << c.link << " in " << c.base;
}

TEST(TbwURLTest, ResolveLinkNormalizesOrRefuses) {
  struct Case { std::string link, base, expected; } cases[] = {
      {"dir", "http://h/", "http://h/dir/"},
      {"p.php?x=1", "http://h/a/", "http://h/a/p.php?x=1"},
      {"http:///x", "http://h/", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveLink(c.link, c.base), c.expected) << c.link;
}

TEST(TbwURLTest, StripAnchorCutsAtTheFirstHash) {
  struct Case { std::string url, expected; } cases[] = {
      {"http://h/a.html#x#y", "http://h/a.html"},
      {"http://h/a.html", "http://h/a.html"},
      {"#top", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripAnchor(c.url), c.expected) << c.url;
}

TEST(TbwURLTest, AbsoluteMeansAWebOrFtpScheme) {
  struct Case { std::string link; bool expected; } cases[] = {
      {"HTTP://h/", true}, {"https:x", true},  {"Ftp://h/", true}, {"file:///x", false},
      {"//h/x", false},    {"news:x", false},  {"http", false},    {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAbsoluteURL(c.link), c.expected) << c.link;
}

// Inputs every differential test takes besides the random ones: the shapes
// that once needed a rule of their own.
std::vector<std::string> OddInputs() {
  const std::string long300 = std::string(300, 'n');
  return {"", ".", "..", "/", "//", "?", "#", ":", "://", "http://", "http:///x", "HTTP://H.EXAMPLE.ORG:8080/A/B.HTML",
          "https://h:81", "https://h:81/", "http://h:/x", "http://h:81?x", "http://h/a/b.html?x=/y?z#f",
          "http://h/a?x=1&amp;y=2&AMP;z", "http://h/p.php?f=a.gif", "http://h/x.php?img=jpg", "http://h/a%20b%3Ac.html",
          "http://h/c:d|e*f.gif", "http://h/x.asp/y.aspx/", "http://h/dir.aspx/x.asp", "http://h/" + long300,
          "http://h/" + long300 + ".html?q=" + long300, "http://other.org/x.gif", "http://h/../../x.html",
          "http://h/a/../../../etc/passwd", "http:\\\\h\\a\\b.htm", "h\\a\\b", "C:\\site\\index.html",
          "file:///home/a.html", "FILE:///x.html", "http://h/a/b#sec", "http://h/a#b/c.html", "http://h#x",
          "http://h?x=1", "http://h/.", "http://h/..", "http://h/a/.", "./x.html", "../x.html", "x.y:z", "a:b.c",
          "www.a.b", "mailto:x@y", "http://h/a/./b/../c.gif", "http://h//a//b.html", "http://h/a.b:c"};
}

// Random inputs and the odd ones, the same for every run of the tests.
std::vector<std::string> DifferentialInputs(unsigned seed, int count) {
  before::OddUrls gen(seed);
  std::vector<std::string> all = OddInputs();
  for (int i = 0; i < count; ++i) all.push_back(gen.Any());
  return all;
}

TEST(TbwURLDifferentialTest, SplitMatchesThePlainSplit) {
  TbwURL reused;
  for (const auto& url : DifferentialInputs(11, 20000)) {
    const before::Url e = before::Split(url);
    TbwURL fresh;
    fresh.SetURL(url);
    reused.SetURL(url);
    for (const TbwURL* u : {&fresh, &reused}) {
      EXPECT_EQ(u->URL, e.URL) << url;
      EXPECT_EQ(u->Protocol, e.Protocol) << url;
      EXPECT_EQ(u->Host, e.Host) << url;
      EXPECT_EQ(u->Port, e.Port) << url;
      EXPECT_EQ(u->Path, e.Path) << url;
      EXPECT_EQ(u->Document, e.Document) << url;
      EXPECT_EQ(u->Extension, e.Extension) << url;
      EXPECT_EQ(u->Query, e.Query) << url;
      EXPECT_EQ(u->Anchor, e.Anchor) << url;
    }
  }
}

TEST(TbwURLDifferentialTest, FieldFunctionsMatchThePlainSplit) {
  for (const auto& url : DifferentialInputs(12, 20000)) {
    const before::Url e = before::Split(url);
    EXPECT_EQ(URLProtocol(url), before::URLProtocol(url)) << url;
    EXPECT_EQ(URLHost(url), e.Host) << url;
    EXPECT_EQ(URLPath(url), e.Path) << url;
    EXPECT_EQ(URLQuery(url), e.Query) << url;
    EXPECT_EQ(URLAnchor(url), e.Anchor) << url;
    EXPECT_EQ(URLDocument(url), before::URLDocument(url)) << url;
    EXPECT_EQ(URLExtension(url), before::URLExtension(url)) << url;
    EXPECT_EQ(URLSiteName(url), before::URLSiteName(url)) << url;
    EXPECT_EQ(URLDirectory(url), before::URLDirectory(url)) << url;
    for (int levels = -1; levels <= 4; ++levels) EXPECT_EQ(URLUp(url, levels), before::URLUp(url, levels)) << url;
  }
}

TEST(TbwURLDifferentialTest, NormalizeMatchesThePlainRules) {
  for (const auto& url : DifferentialInputs(13, 20000)) {
    std::string now = url, then = url, split = url;
    const bool ok = NormalizeURL(now);
    EXPECT_EQ(ok, before::NormalizeURL(then)) << url;
    EXPECT_EQ(now, then) << url;
    // The split it leaves is the split of what it made, views and all.
    URLParts parts;
    ASSERT_EQ(NormalizeURL(split, &parts), ok) << url;
    if (!ok) continue;
    const URLParts fresh = SplitURLView(split);
    const auto same = [&](std::string_view a, std::string_view b) {
      return a == b && (a.empty() || (a.data() >= split.data() && a.data() + a.size() <= split.data() + split.size()));
    };
    EXPECT_TRUE(same(parts.Protocol, fresh.Protocol) && same(parts.Host, fresh.Host) && same(parts.Port, fresh.Port) &&
                same(parts.Path, fresh.Path) && same(parts.Document, fresh.Document) &&
                same(parts.Extension, fresh.Extension) && same(parts.Query, fresh.Query) &&
                same(parts.Anchor, fresh.Anchor) && parts.PathSlash == fresh.PathSlash)
        << url;
  }
}

TEST(TbwURLDifferentialTest, ResolveMatchesThePlainRules) {
  before::OddUrls gen(14);
  std::vector<std::string> bases = {"http://h/", "https://www.example-shop.com/catalogue/", "http://h:81/a/b/c/",
                                    "HTTP://H/A/", "h/a/", "", "http://h", "ftp://h/x/"};
  for (int i = 0; i < 40; ++i) bases.push_back(before::URLDirectory(gen.Url()));
  std::vector<std::string> links = OddInputs();
  for (int i = 0; i < 1500; ++i) links.push_back(gen.Link());
  for (int i = 0; i < 300; ++i) links.push_back(gen.Noise());
  for (const auto& base : bases)
    for (const auto& link : links) {
      ASSERT_EQ(ResolveURL(link, base), before::ResolveURL(link, base)) << link << " in " << base;
      ASSERT_EQ(ResolveLink(link, base), before::ResolveLink(link, base)) << link << " in " << base;
    }
}

struct RecordingFrontend : Frontend {
  struct Question { std::string text; MsgButtons buttons; };
  std::vector<Question> asked;
  MsgAnswer AskUser(const std::string& text, MsgButtons buttons, MsgAnswer safeDefault) override {
    asked.push_back({text, buttons});
    return safeDefault;
  }
};

// Puts the recorder in place for one test and takes it away even when an
// assertion ends the test early.
struct InstalledFrontend {
  RecordingFrontend ui;
  InstalledFrontend() { SetFrontend(&ui); }
  ~InstalledFrontend() { SetFrontend(nullptr); }
};

TEST(TbwURLTest, StartURLMustBeAWebAddress) {
  const std::string notSupported = "Invalid URL.\nNOTE: file:// && ftp:// not supported in this version of Harvix.";
  struct Case { std::string url; bool ok; std::string after, message; } cases[] = {
      {"h", true, "http://h/", ""},
      {"HTTPS://h/a.html", true, "HTTPS://h/a.html", ""},
      {"http:///x", false, "http:///x", "Invalid URL."},
      {"C:\\site\\index.html", false, "C:\\site\\index.html", notSupported},
      {"ftp://h/x.zip", false, "ftp://h/x.zip", notSupported},
  };
  for (const auto& c : cases) {
    InstalledFrontend front;
    std::string url = c.url;
    EXPECT_EQ(ValidateStartURL(url), c.ok) << c.url;
    EXPECT_EQ(url, c.after) << c.url;
    if (c.message.empty()) {
      EXPECT_TRUE(front.ui.asked.empty()) << c.url;
    } else {
      ASSERT_EQ(front.ui.asked.size(), 1u) << c.url;
      EXPECT_EQ(front.ui.asked[0].text, c.message) << c.url;
      EXPECT_EQ(front.ui.asked[0].buttons, MsgButtons::Ok) << c.url;
    }
  }
}

}  // namespace
