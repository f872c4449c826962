#include "url/localfile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/tempdir.h"
#include "url/tbwurl.h"
#include "unit/url/url_reference.h"

namespace {

const std::string kQ = "\xC2\xBF";   // ¿ for "?"
const std::string kS = "\xC2\xA1";   // ¡ for "/" in a query
const std::string kB = "\xC2\xA6";   // ¦ for ":" and "|"
const std::string kD = "\xC2\xB0";   // ° for "*"

TEST(LocalFileNameTest, UrlsMapBelowTheRoot) {
  const std::string r = "/web/h/";
  const std::string long300 = std::string(295, 'n') + ".html";
  struct Case { std::string url, file; } cases[] = {
      {"http://h/a/index.html", "/web/h/a/index.html"},
      {"http://h/", "/web/h/html"},
      {"http://h/a/", "/web/h/a/a.html"},
      {"http://h/a/p.php?id=1&amp;x=/y", "/web/h/a/p.php" + kQ + "id=1&x=" + kS + "y.html"},
      {"http://h/img/pic.php?f=a.gif", "/web/h/img/pic.php" + kQ + "f=a.gif"},
      {"http://h/a/x.asp", "/web/h/a/x.html"},
      {"http://h/a/x.aspx", "/web/h/a/x.htmlx"},
      {"http://h/a/my%20file.html", "/web/h/a/my file.html"},
      {"http://h/a/b|c*d.htm", "/web/h/a/b" + kB + "c" + kD + "d.htm"},
      {"http://h/" + long300, "/web/h/" + std::string(250, 'n') + ".html"},
      {"http://w.a.b/", "/web/h/_hosts/w.a.b/w.a.html"},  // another host than the home host
      {"http://h:81/x.gif", "/web/h/x.gif"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalFileName(r, URLDirectory(c.url), c.url, "h"), c.file) << c.url;
}

TEST(LocalFileNameTest, NoUrlLeavesTheRoot) {
  const std::string r = "/web/h/";
  struct Case { std::string url, file; } cases[] = {
      {"http://h/../../x.html", "/web/h/x.html"},
      {"http://h/a/../../../etc/passwd", "/web/h/etc/passwd/passwd.html"},
      {"http://h/a/./b/../c.gif", "/web/h/a/c.gif"},
      {"http://h/..", "/web/h/html"},
      {"http://../x.gif", "/web/h/_hosts/_../x.gif"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalFileName(r, URLDirectory(c.url), c.url, "h"), c.file) << c.url;
}

TEST(LocalFileNameTest, LongNamesStayWithin255Bytes) {
  const std::string umlaut = "\xC3\xB6";
  std::string name;
  for (int i = 0; i < 200; ++i) name += umlaut;  // 400 bytes
  const std::string file = LimitNameLength(name + ".html");
  EXPECT_EQ(file.size(), 250u + 5u);
  EXPECT_EQ(file.substr(file.size() - 5), ".html");
  const std::string cut = file.substr(0, 250);
  EXPECT_EQ(cut, std::string(cut.size(), ' ').replace(0, cut.size(), cut));  // no half character
  EXPECT_EQ(LimitNameLength(std::string(300, 'a') + "." + std::string(100, 'e')).size(), 255u);
  EXPECT_EQ(LimitNameLength("short.html"), "short.html");
}

TEST(LocalLinkTest, RelativeLinksBetweenPagesOfOneHost) {
  struct Case { const char *url, *base, *link; } cases[] = {
      {"http://h/a/c/q.html", "http://h/a/b/", "../c/q.html"},
      {"http://h/a/", "http://h/", "a/a.html"},
      {"http://h/x.html", "http://h/", "x.html"},
      {"http://h/a/my%20file.html", "http://h/a/", "my%20file.html"},
      {"http://h/x.php?q=1", "http://h/", "x.php%C2%BFq=1.html"},
      {"http://h/100%.html", "http://h/", "100%25.html"},
      {"http://other/x.gif", "http://h/a/", "../_hosts/other/x.gif"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalLink(c.url, c.base), c.link) << c.url;
}

TEST(LocalNameHelpersTest, PartsOfTheMapping) {
  EXPECT_EQ(EncodeLocalName("a%3ab:c|d*e//f///g?x/y?z"), "a" + kB + "b" + kB + "c" + kB + "d" + kD + "e/f//g" + kQ + "x" + kS + "y" + kQ + "z");
  EXPECT_EQ(EncodeLocalName("a&AMP;b%20c<d>\"e%41"), "a&b c<d>\"e%41");
  EXPECT_EQ(DefaultDocumentName("http://h/a/b/"), "b.html");
  EXPECT_EQ(DefaultDocumentName("http://w.a.b/"), "w.a.html");
  EXPECT_EQ(DefaultDocumentName("http://h/"), "html");
  EXPECT_EQ(DefaultDocumentName("/"), "");
  EXPECT_EQ(UpLevels("a/b\\"), "../../");
  EXPECT_EQ(RelativeURL("http://h/a/c/q.html", "http://h/a/b/"), "../c/q.html");
  EXPECT_EQ(RelativeURL("http://x/q.html", "http://h/a/"), "http://x/q.html");
  EXPECT_EQ(RelativeURL("/q.html", "http://h/a/b/"), "../../q.html");
  EXPECT_EQ(ReplaceIllegalChars("A/B: C?", ' '), "A B  C ");
  EXPECT_EQ(FileNameWithoutExt("/t/site.v2.hxt"), "site.v2");
  EXPECT_EQ(SlashesToBackslashes("a/b"), "a\\b");
  EXPECT_EQ(BackslashesToSlashes("a\\b"), "a/b");
}

TEST(LocalNameDifferentialTest, NamePartsMatchThePlainRules) {
  before::OddUrls gen(21);
  std::vector<std::string> texts = {"", "?", "//", "///", "%2%200", "&amp;amp;", "%3a%3A%3", "a?b/c?d//e", "::||**",
                                    "&AmP;", "%20%20", "x?//y", std::string(300, 'x') + ".html"};
  for (int i = 0; i < 20000; ++i) texts.push_back(i % 2 ? gen.Noise() : gen.Any());
  for (const auto& text : texts) {
    EXPECT_EQ(EncodeLocalName(text), before::EncodeLocalName(text)) << text;
    EXPECT_EQ(DefaultDocumentName(text), before::DefaultDocumentName(text)) << text;
    EXPECT_EQ(LimitNameLength(text), before::LimitNameLength(text)) << text;
    EXPECT_EQ(EscapeLinkPath(text), before::EscapeLinkPath(text)) << text;
  }
  for (int i = 0; i < 256; ++i) {
    const std::string byte(1, static_cast<char>(i));
    EXPECT_EQ(EscapeLinkPath(byte), before::EscapeLinkPath(byte)) << i;
    EXPECT_EQ(EncodeLocalName(byte), before::EncodeLocalName(byte)) << i;
  }
}

TEST(LocalNameDifferentialTest, FilesAndLinksMatchThePlainMapping) {
  before::OddUrls gen(22);
  const std::string root = "/out/site/";
  std::vector<std::string> pages = {"http://h/", "http://h/a/b/page.html", "http://h/a/p.asp?x=1",
                                    "http://cdn.h/lib/x.js", "http://H/Deep/er/", "https://www.example-shop.com/",
                                    "http://h/dir.aspx/x.asp/", "http://h/..", "h/a/", ""};
  for (int i = 0; i < 30; ++i) pages.push_back(gen.Url());
  std::vector<std::string> targets;
  for (int i = 0; i < 700; ++i) targets.push_back(i % 3 ? gen.Url() : gen.Any());
  for (const char* home : {"", "h", "H", "www.example-shop.com", "other.org"}) {
    for (const auto& page : pages) {
      const std::string base = before::URLDirectory(page);
      const LocalLinker linker(base, home);
      for (const auto& target : targets) {
        ASSERT_EQ(LocalFileName(root, base, target, home), before::LocalFileName(root, base, target, home))
            << target << " from " << page << " home " << home;
        ASSERT_EQ(linker.Link(target), before::LocalLink(target, base, home))
            << target << " from " << page << " home " << home;
        // The parse pass hands over the split its normalisation made, for a
        // URL without "#": the same link.
        std::string normal = target;
        URLParts split;
        if (target.find('#') == std::string::npos && NormalizeURL(normal, &split) &&
            normal.find('#') == std::string::npos) {
          std::string link;
          linker.AppendLink(link, normal, &split);
          ASSERT_EQ(link, linker.Link(normal)) << normal << " from " << page << " home " << home;
        }
      }
      EXPECT_EQ(LocalLink(page, base, home), before::LocalLink(page, base, home)) << page;
    }
  }
  for (const auto& target : targets)
    for (const auto& page : pages) EXPECT_EQ(RelativeURL(target, page), before::RelativeURL(target, page)) << target;
}

TEST(LocalNameHelpersTest, UniqueNamesAndCopies) {
  TempDir dir;
  WriteTextFile(dir.File("site.hxt"), "x");
  EXPECT_EQ(UniqueFileName(dir.File("site.hxt")), dir.File("site(0).hxt"));
  WriteTextFile(dir.File("site(0).hxt"), "x");
  EXPECT_EQ(UniqueFileName(dir.File("site.hxt")), dir.File("site(1).hxt"));
  EXPECT_EQ(UniqueFileName(dir.File("new.hxt")), dir.File("new.hxt"));
  EXPECT_TRUE(CopyFileCreatingFolder(dir.File("site.hxt"), dir.File("deep/er/copy.hxt")));
  EXPECT_EQ(ReadTextFile(dir.File("deep/er/copy.hxt")), "x");
  EXPECT_FALSE(CopyFileCreatingFolder(dir.File("missing"), dir.File("x/y")));
}

// What a browser does with a relative link in a page on disk: join it to
// the page's folder, drop dot segments, decode the escapes.
std::string BrowserTarget(const std::string& pageFolder, const std::string& link) {
  std::string joined = pageFolder + link, decoded;
  for (std::size_t i = 0; i < joined.size(); ++i) {
    if (joined[i] == '%' && i + 2 < joined.size()) {
      decoded += static_cast<char>(std::stoi(joined.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += joined[i];
    }
  }
  return std::filesystem::path(decoded).lexically_normal().string();
}

TEST(LocalLinkTest, EveryLinkLandsOnTheFileOfItsUrl) {
  const std::string root = "/out/site/";
  const std::string longName = std::string(300, 'L') + ".html";
  const char* pages[] = {"http://h/", "http://h/a/b/page.html", "http://h/a/p.asp?x=1", "http://cdn.h/lib/x.js",
                         "http://h/deep/er/than/that/"};
  const std::string targets[] = {
      "http://h/a/p.php?id=1&x=/y?z", "http://h/dir/a%20b.html", "http://h/%41b.html", "http://h/c:d|e*f.gif",
      "http://h/x.asp", "http://h/a/b/", "http://h/" + longName, "http://cdn.h/img/logo.gif",
      "http://other.org/", "http://h/../../escape.html", "http://h/q.cgi?a=b#frag", "http://h/100%25.html",
      "http://h/dir.aspx/x.asp"};
  for (const char* page : pages) {
    const std::string pageFile = LocalFileName(root, URLDirectory(page), page, "h");
    const std::string pageFolder = pageFile.substr(0, pageFile.rfind('/') + 1);
    for (const auto& target : targets) {
      const std::string file = LocalFileName(root, URLDirectory(target), target, "h");
      EXPECT_EQ(file.rfind(root, 0), 0u) << target;
      const std::string link = LocalLink(target, URLDirectory(page), "h");
      EXPECT_EQ(BrowserTarget(pageFolder, link), file) << page << " -> " << target << " via " << link;
    }
  }
}

}  // namespace
