// harvix-cli get over a whole fixture site (tests/fixtures/site) served by two
// loopback hosts: which files the mirror holds, what the task recorded, and
// whether every link of every saved page reaches its file offline. Then the
// follow rules, one run and one fresh sandbox each.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "cli/clirun.h"
#include "support/loopbackserver.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

using FileSet = std::set<std::string>;

const fs::path kFixture = fs::path(__FILE__).parent_path().parent_path() / "fixtures" / "site";

// Targets a fixture file cannot be named after: a query string, a folder.
const std::pair<const char*, const char*> kExtraRoutes[] = {
    {"/page.php?id=1", "queries/page-id1.html"},
    {"/page.php?id=2&sort=up", "queries/page-id2.html"},
    {"/thumb.php?file=pic.gif", "queries/thumb.gif"},
    {"/docs/", "queries/docs-folder.html"},
};

#define QM "\xC2\xBF"  // the stand-in for "?" in a local file name

// What a run with the default rules saves, below the start host's folder.
const FileSet kPages = {
    "index.html",          "about.html",         "frames.html",
    "frame_left.html",     "frame_right.html",   "refresh.html",
    "target.html",         "popup.html",         "page.php" QM "id=1.html",
    "page.php" QM "id=2&sort=up.html",           "docs/guide.html",
    "docs/chapter2.html",  "docs/sub/deep.html", "docs/quoted.html",
    "docs/docs.html",      "base/based.html",    "news/abs.html",
    "map/area.html",       "cgi-bin/list.cgi",
};
const FileSet kMedia = {
    "css/site.css",        "js/app.js",          "files/readme.txt",
    "img/quoted.gif",      "img/bg.gif",         "img/logo.gif",
    "img/button.gif",      "img/map.gif",        "img/root.gif",
    "img/abs-script.gif",  "img/left.gif",       "img/right.gif",
    "img/target.gif",      "img/q1.gif",         "img/deep.gif",
    "img/news.gif",        "img/area.gif",       "img/listed.gif",
    "img/folder.gif",      "docs/pics/chart.gif", "docs/pics/based.gif",
    "thumb.php" QM "file=pic.gif",               "media/tune.mid",
    "media/clip.swf",      "media/movie.swf",    "applets/Hello.class",
    "_hosts/localhost/pics/far.gif",             "_hosts/localhost/pics/far2.gif",
    "_hosts/localhost/style/far.css",
};
// Linked, answered 404: never saved, but links to them still point where
// they would lie.
const FileSet kMissing = {"missing.html", "img/missing.gif"};
// The start page and what it holds itself: a run that follows no page link.
const FileSet kStartPageOnly = {
    "index.html",     "css/site.css",   "js/app.js",      "img/quoted.gif",      "img/bg.gif",
    "img/logo.gif",   "img/button.gif", "media/tune.mid", "img/map.gif",         "applets/Hello.class",
    "media/clip.swf", "media/movie.swf", "_hosts/localhost/pics/far.gif",
};

FileSet Union(const FileSet& a, const FileSet& b) {
  FileSet out = a;
  out.insert(b.begin(), b.end());
  return out;
}

FileSet Without(const FileSet& all, const FileSet& gone) {
  FileSet out;
  for (const auto& f : all)
    if (!gone.count(f)) out.insert(f);
  return out;
}

std::string Joined(const FileSet& files) {
  std::string out;
  for (const auto& f : files) out += "  " + f + "\n";
  return out;
}

// Every regular file below root, as paths relative to it.
FileSet FilesBelow(const std::string& root) {
  FileSet files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file()) files.insert(fs::relative(it->path(), root).generic_string());
  return files;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string ContentType(const std::string& target) {
  const std::string ext = fs::path(target.substr(0, target.find('?'))).extension().string();
  if (target.find("thumb.php") != std::string::npos || ext == ".gif") return "image/gif";
  if (ext == ".html" || ext == ".cgi" || ext == ".php" || target.back() == '/') return "text/html";
  if (ext == ".css") return "text/css";
  if (ext == ".js") return "text/javascript";
  return "application/octet-stream";
}

// One item of the task's downloads list (a URL line and its data line).
struct Item {
  std::string Url, Result, Type, FromFrame;
  int State = -1, Level = -1;
  long long Size = -1;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (auto tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    out.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  out.push_back(line.substr(start));
  return out;
}

std::vector<Item> ReadDownloads(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadTextFile(path);
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  std::vector<Item> items;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    const auto f = Fields(lines[i + 1]);
    if (f.size() < 11) continue;
    items.push_back({lines[i], f[1], f[2], f[10], std::stoi(f[0]), std::stoi(f[4]), std::stoll(f[9])});
  }
  return items;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The links of one saved page a browser would follow, each with the tag it
// stands in: href, src and background of any tag, an applet's code below its
// codebase, a movie parameter's value, a refresh's URL and the URL inside
// "javascript:fn('url')".
std::vector<std::pair<std::string, std::string>> LinksOf(const std::string& page) {
  static const std::regex tagRe(R"re(<([A-Za-z]+)([^>]*)>)re");
  static const std::regex attrRe(R"re(([A-Za-z-]+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re");
  std::vector<std::pair<std::string, std::string>> links;
  for (std::sregex_iterator t(page.begin(), page.end(), tagRe), end; t != end; ++t) {
    const std::string tag = Lower((*t)[1]), rest = (*t)[2];
    std::map<std::string, std::string> attrs;
    for (std::sregex_iterator a(rest.begin(), rest.end(), attrRe); a != end; ++a)
      attrs[Lower((*a)[1])] = (*a)[2].matched ? (*a)[2] : (*a)[3].matched ? (*a)[3] : (*a)[4];
    std::vector<std::string> values;
    for (const char* name : {"href", "src", "background"})
      if (attrs.count(name)) values.push_back(attrs[name]);
    if (tag == "applet" && attrs.count("code")) values.push_back(attrs["codebase"] + attrs["code"]);
    if (tag == "param" && Lower(attrs["name"]) == "movie") values.push_back(attrs["value"]);
    if (tag == "meta" && Lower(attrs["http-equiv"]) == "refresh") {
      const std::string content = attrs["content"];
      const auto url = Lower(content).find("url=");
      if (url != std::string::npos) values.push_back(content.substr(url + 4));
    }
    for (auto v : values) {
      v = ReplaceAll(v, "&amp;", "&");
      if (Lower(v).rfind("javascript:", 0) == 0) {
        const auto open = v.find('\''), close = open == std::string::npos ? open : v.find('\'', open + 1);
        if (close == std::string::npos) continue;
        v = v.substr(open + 1, close - open - 1);
      }
      links.emplace_back(t->str(), v);
    }
  }
  return links;
}

// Where a relative link from a page lands, as a browser opens it from disk:
// joined to the page's folder, fragment and query dropped, dot segments
// removed, each segment percent-decoded. Empty when it climbs out of root.
std::string Landing(const std::string& pageFolder, std::string link) {
  link = link.substr(0, link.find('#'));
  link = link.substr(0, link.find('?'));
  std::vector<std::string> segments;
  const std::string joined = pageFolder + link;
  std::size_t start = 0;
  for (;;) {
    const auto slash = joined.find('/', start);
    const std::string seg = joined.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg == "..") {
      if (segments.empty()) return "";
      segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(PercentDecode(seg));
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string path;
  for (const auto& s : segments) path += (path.empty() ? "" : "/") + s;
  if (!link.empty() && link.back() == '/') path += "/";
  return path;
}

// Every problem a reader of the mirror would meet: a relative link that
// reaches no file (unless to an item that legitimately failed), a link that
// leaves the mirror, or a followed item still linked by its web address.
std::vector<std::string> LinkProblems(const std::string& root, const FileSet& failed,
                                      const std::vector<std::string>& savedUrls) {
  std::vector<std::string> problems;
  for (const auto& file : FilesBelow(root)) {
    const std::string ext = fs::path(file).extension().string();
    if (ext != ".html" && ext != ".cgi") continue;
    const std::string page = ReadTextFile(root + file);
    const std::string folder = fs::path(file).has_parent_path() ? fs::path(file).parent_path().string() + "/" : "";
    for (const auto& [tag, link] : LinksOf(page)) {
      const std::string where = file + ": " + tag + ": ";
      if (link.empty() || link[0] == '#' || Lower(link).rfind("mailto:", 0) == 0) continue;
      static const std::regex scheme("^[A-Za-z][A-Za-z0-9+.-]*:");
      if (std::regex_search(link, scheme)) continue;  // absolute: see the web-address test below
      if (link[0] == '/') {
        problems.push_back(where + "starts at the file system's root");
        continue;
      }
      const std::string landing = Landing(folder, link);
      if (landing.empty()) problems.push_back(where + "climbs out of the mirror");
      else if (landing.back() == '/') problems.push_back(where + "names a folder");
      else if (!fs::is_regular_file(root + landing) && !failed.count(landing))
        problems.push_back(where + "reaches no file (" + landing + ")");
    }
    for (const auto& url : savedUrls)
      for (auto at = page.find(url); at != std::string::npos; at = page.find(url, at + 1)) {
        const char next = at + url.size() < page.size() ? page[at + url.size()] : '"';
        if (std::string("\"'#> \r\n)").find(next) != std::string::npos)
          problems.push_back(file + ": still links to " + url + " on the web");
      }
  }
  return problems;
}

class MirrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Cli({"settings", "Engine Pace", "0"}).Code, 0);
    ServeFolder(site, kFixture / "main");
    ServeFolder(other, kFixture / "other");
    for (const auto& [target, file] : kExtraRoutes) Serve(site, target, kFixture / file);
  }

  // Every file below the folder, at its own path.
  void ServeFolder(LoopbackServer& server, const fs::path& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file())
        Serve(server, "/" + fs::relative(entry.path(), folder).generic_string(), entry.path());
  }

  // The file with the hosts' real addresses in place of the placeholders.
  void Serve(LoopbackServer& server, const std::string& target, const fs::path& file) {
    ScriptedResponse r;
    r.Headers = {{"Content-Type", ContentType(target)}};
    r.Body = ReplaceAll(ReplaceAll(ReadTextFile(file.string()), "{{HOST}}", Host()), "{{HOST2}}", Host2());
    bodies[(&server == &site ? Host() : Host2()) + target] = r.Body;
    server.Route(target, r);
  }
  std::string Host() const { return site.BaseUrl(); }
  std::string Host2() const { return "http://localhost:" + std::to_string(other.Port()); }

  CliResult Cli(const std::vector<std::string>& args) { return RunCli(args, env); }
  CliResult Get(const std::vector<std::string>& rules, const std::string& start = "/index.html") {
    std::vector<std::string> args{"get", Host() + start, "--pace", "0"};
    args.insert(args.end(), rules.begin(), rules.end());
    return Cli(args);
  }
  std::string Mirror() const { return dir.Path() + "home/My Intranet/127.0.0.1/"; }
  std::string TaskFile() const { return dir.Path() + "program/Tasks/General/127_0.hxt"; }
  std::vector<Item> Downloads() const { return ReadDownloads(dir.Path() + "program/Tasks/General/127_0.dwn"); }
  const Item* Find(const std::vector<Item>& items, const std::string& url) const {
    for (const auto& i : items)
      if (i.Url == url) return &i;
    return nullptr;
  }

  // Runs get with the rules and requires exactly these files in the mirror;
  // the exit code is 1 when some linked file was missing (404).
  void ExpectMirror(const std::vector<std::string>& rules, int code, const FileSet& expected,
                    const std::string& start = "/index.html") {
    const auto r = Get(rules, start);
    EXPECT_EQ(r.Code, code) << r.Err;
    const FileSet actual = FilesBelow(Mirror());
    EXPECT_EQ(actual, expected) << "missing:\n"
                                << Joined(Without(expected, actual)) << "not expected:\n"
                                << Joined(Without(actual, expected));
  }

  TempDir dir;
  LoopbackServer site, other;
  std::map<std::string, std::string> bodies;  // full URL -> body served
  std::vector<std::string> env{"HARVIX_CONFIG_DIR=" + dir.Path() + "config", "HARVIX_HOME=" + dir.Path() + "program",
                               "HOME=" + dir.Path() + "home", "http_proxy=", "https_proxy=", "HTTP_PROXY=",
                               "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="};
};

TEST_F(MirrorTest, DefaultRulesMirrorTheWholeSite) {
  // Finished, with the two 404s as errors; nothing of them on disk.
  ExpectMirror({}, 1, Union(kPages, kMedia));
}

TEST_F(MirrorTest, TheTaskRecordsEveryItemAndItsCounters) {
  ASSERT_EQ(Get({}).Code, 1);
  const auto items = Downloads();
  long long bytes = 0;
  int pages = 0, media = 0;
  for (const auto& i : items) {
    const bool page = i.Type == "HTML";
    ++(page ? pages : media);
    const std::string path = i.Url.substr(i.Url.find('/', 8));
    if (path == "/missing.html" || path == "/img/missing.gif") {
      EXPECT_EQ(i.State, 3) << i.Url;  // Error
      EXPECT_EQ(i.Result, "404 Not Found") << i.Url;
      continue;
    }
    EXPECT_EQ(i.State, page ? 10 : 5) << i.Url;  // Parsed pages, Saved media
    ASSERT_TRUE(bodies.count(i.Url)) << "fetched what the site does not serve: " << i.Url;
    EXPECT_EQ(i.Size, static_cast<long long>(bodies[i.Url].size())) << i.Url;
    bytes += i.Size;
  }
  EXPECT_EQ(pages, 20);
  EXPECT_EQ(media, 30);
  EXPECT_EQ(items.size(), kPages.size() + kMedia.size() + kMissing.size());

  const std::string shown = Cli({"task", "show", TaskFile()}).Out;
  const std::vector<std::string> lines{"Status: 7 Task Complete", "Total Pages: 20",  "Total Resources: 30",
                                       "Pages Saved: 19",         "Resources Saved: 29", "Page Errors: 1",
                                       "Resource Errors: 1",      "Start Page Title: Fixture Home",
                                       "Total Bytes: " + std::to_string(bytes)};
  for (const auto& line : lines)
    EXPECT_NE(shown.find(line + "\n"), std::string::npos) << line << "\n" << shown;

  // The second host: its media saved, its page neither fetched nor listed.
  const Item* far = Find(items, Host2() + "/pics/far.gif");
  ASSERT_TRUE(far);
  EXPECT_EQ(far->State, 5);
  EXPECT_FALSE(Find(items, Host2() + "/remote.html"));
  EXPECT_EQ(other.RequestCount("/remote.html"), 0);
  EXPECT_EQ(other.RequestCount("/pics/far.gif"), 1);

  // Levels as recorded: one below the page holding the link, frames and a
  // refresh too (they are only decided at their page's level).
  struct LevelRow {
    const char* path;
    int level;
    const char* frame;
  } levels[] = {
      {"/index.html", 0, ""},         {"/about.html", 1, ""},          {"/frame_left.html", 2, "Y"},
      {"/frame_right.html", 2, "Y"},  {"/target.html", 2, ""},         {"/docs/quoted.html", 1, ""},
      {"/docs/chapter2.html", 2, ""}, {"/docs/sub/deep.html", 2, ""},  {"/docs/", 2, ""},
  };
  for (const auto& row : levels) {
    const Item* item = Find(items, Host() + row.path);
    ASSERT_TRUE(item) << row.path;
    EXPECT_EQ(item->Level, row.level) << row.path;
    EXPECT_EQ(item->FromFrame, row.frame) << row.path;
  }
  // One item, one request: the link in other letter case is the same page.
  for (const auto& [url, body] : bodies) {
    if (url.rfind(Host(), 0) == 0 && Find(items, url)) {
      EXPECT_EQ(site.RequestCount(url.substr(Host().size())), 1) << url;
    }
  }
  EXPECT_EQ(site.RequestCount("/ABOUT.html"), 0);
}

TEST_F(MirrorTest, EverySavedLinkReachesItsFileOffline) {
  ASSERT_EQ(Get({}).Code, 1);
  std::vector<std::string> saved;
  for (const auto& i : Downloads())
    if (i.State == 5 || i.State == 10) saved.push_back(i.Url);
  ASSERT_EQ(saved.size(), kPages.size() + kMedia.size());
  const auto problems = LinkProblems(Mirror(), kMissing, saved);
  std::string all;
  for (const auto& p : problems) all += "  " + p + "\n";
  EXPECT_TRUE(problems.empty()) << all;

  // What the generic check cannot tell by itself.
  const std::string index = ReadTextFile(Mirror() + "index.html");
  EXPECT_NE(index.find("href=\"" + Host2() + "/remote.html\""), std::string::npos)
      << "a page of another site stays a web link";
  EXPECT_NE(index.find("var logo = \"img/quoted.gif\";"), std::string::npos);
  EXPECT_NE(index.find("var next = 'docs/quoted.html';"), std::string::npos);
  EXPECT_NE(index.find("javascript:openWindow('popup.html')"), std::string::npos);
  // The 404s: still linked where their files would lie.
  EXPECT_NE(index.find("href=\"missing.html\""), std::string::npos);
  EXPECT_NE(index.find("src=\"img/missing.gif\""), std::string::npos);
  EXPECT_NE(ReadTextFile(Mirror() + "docs/guide.html").find("var home = \"../img/abs-script.gif\";"),
            std::string::npos);
  const std::string based = ReadTextFile(Mirror() + "base/based.html");
  EXPECT_EQ(Lower(based).find("<base"), std::string::npos) << based;
  EXPECT_NE(based.find("href=\"../docs/guide.html\""), std::string::npos) << based;
}

TEST_F(MirrorTest, LevelsZeroKeepsTheStartPageAndItsMedia) {
  ExpectMirror({"--levels", "0"}, 1, kStartPageOnly);
}

TEST_F(MirrorTest, LevelsOneStopsBelowThePagesTheStartPageLinks) {
  // Frames and the refresh target count at their page's level; media follow
  // any page that was fetched, whatever its level.
  const FileSet onlyBelowLevelOne = {"docs/chapter2.html",  "docs/sub/deep.html", "docs/docs.html",
                                     "docs/pics/chart.gif", "img/deep.gif",       "img/folder.gif"};
  ExpectMirror({"--levels", "1"}, 1, Without(Union(kPages, kMedia), onlyBelowLevelOne));
}

TEST_F(MirrorTest, PagesWithinTheDirectoryStayBelowTheStartFolder) {
  // Started in docs/: pages above it are not fetched, media come from anywhere.
  ExpectMirror({"--pages-within", "dir"}, 0,
               {"docs/guide.html", "docs/docs.html", "docs/chapter2.html", "docs/sub/deep.html",
                "img/abs-script.gif", "img/logo.gif", "img/root.gif", "docs/pics/chart.gif", "img/deep.gif",
                "img/folder.gif"},
               "/docs/guide.html");
  EXPECT_EQ(site.RequestCount("/index.html"), 0);
  EXPECT_EQ(site.RequestCount("/about.html"), 0);
}

TEST_F(MirrorTest, AnExcludeFilterDropsMatchingPagesAndWhatOnlyTheyLink) {
  ExpectMirror({"--exclude", "[PL]cgi"}, 1, Without(Union(kPages, kMedia), {"cgi-bin/list.cgi", "img/listed.gif"}));
  EXPECT_EQ(site.RequestCount("/cgi-bin/list.cgi"), 0);
}

TEST_F(MirrorTest, AnIncludeFilterKeepsOnlyMatchingPages) {
  ExpectMirror({"--include", "[PL]docs"}, 1,
               Union(kStartPageOnly, {"docs/guide.html", "docs/quoted.html", "docs/docs.html", "docs/chapter2.html",
                                      "docs/sub/deep.html", "img/abs-script.gif", "img/root.gif",
                                      "docs/pics/chart.gif", "img/deep.gif", "img/folder.gif"}));
}

TEST_F(MirrorTest, FileTypesLimitWhatIsFetched) {
  // A query page counts as .html whatever its script's name; a folder has no
  // type to test.
  ExpectMirror({"--types", ".html,.gif"}, 1,
               Without(Union(kPages, kMedia), {"cgi-bin/list.cgi", "img/listed.gif", "css/site.css", "js/app.js",
                                               "files/readme.txt", "media/tune.mid", "media/clip.swf",
                                               "media/movie.swf", "applets/Hello.class",
                                               "_hosts/localhost/style/far.css"}));
}

}  // namespace

// Zip mode: the same site into an archive in the downloads folder.
class ZipMirrorTest : public MirrorTest {
 protected:
  void SetUp() override {
    MirrorTest::SetUp();
    ASSERT_EQ(Cli({"settings", "Temp Folder", dir.Path() + "harvix-temp"}).Code, 0);
  }
  std::string Downloads() const { return dir.Path() + "program/Downloads/"; }

  // Names and comments as Python's zipfile reads them ("name\tcomment").
  std::vector<std::string> PythonEntries(const std::string& archive) {
    const std::string out = dir.Path() + "py.txt";
    const std::string cmd = "python3 -c \"import sys, zipfile\n"
                            "z = zipfile.ZipFile(sys.argv[1])\n"
                            "for i in z.infolist(): print(i.filename + '\\t' + i.comment.decode('utf-8'))\" '" +
                            archive + "' > '" + out + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadTextFile(out);
    std::vector<std::string> lines;
    const std::string text = ReadTextFile(out);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  static bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0; }
};

TEST_F(ZipMirrorTest, TheArchiveHoldsTheFolderCopyByteForByteWithTitlesAsComments) {
  if (!Have("unzip") || !Have("python3")) GTEST_SKIP() << "unzip and python3 are needed";
  ASSERT_EQ(Get({}).Code, 1);
  const FileSet folderCopy = FilesBelow(Mirror());
  ASSERT_EQ(folderCopy, Union(kPages, kMedia));

  const auto r = Get({"--zip"});
  EXPECT_EQ(r.Code, 1) << r.Err;
  // Renamed after the start page's title when the download ended.
  const std::string archive = Downloads() + "Fixture Home.zip";
  ASSERT_TRUE(fs::exists(archive)) << r.Err;
  EXPECT_NE(r.Err.find("Archive " + archive), std::string::npos) << r.Err;
  EXPECT_EQ(std::system(("unzip -tq '" + archive + "' >/dev/null").c_str()), 0);
  EXPECT_EQ(std::system(("unzip -l '" + archive + "' >/dev/null").c_str()), 0);

  FileSet names;
  std::map<std::string, std::string> comments;
  for (const auto& line : PythonEntries(archive)) {
    const auto tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_TRUE(names.insert(line.substr(0, tab)).second) << "twice: " << line;
    comments[line.substr(0, tab)] = line.substr(tab + 1);
  }
  EXPECT_EQ(names, folderCopy) << "missing:\n"
                               << Joined(Without(folderCopy, names)) << "not expected:\n"
                               << Joined(Without(names, folderCopy));
  EXPECT_EQ(comments["index.html"], "Fixture Home");
  for (const auto& name : kPages) {
    const std::string page = ReadTextFile(Mirror() + name);
    const auto open = Lower(page).find("<title>"), close = Lower(page).find("</title>");
    const std::string title = open == std::string::npos ? "" : page.substr(open + 7, close - open - 7);
    EXPECT_EQ(comments[name], title) << name;
  }

  const std::string out = dir.Path() + "unzipped/";
  const auto x = Cli({"zip", "extract", archive, out});
  EXPECT_EQ(x.Code, 0) << x.Err;
  EXPECT_EQ(FilesBelow(out), folderCopy);
  for (const auto& name : folderCopy)
    EXPECT_EQ(ReadTextFile(out + name), ReadTextFile(Mirror() + name)) << name;
}

TEST_F(ZipMirrorTest, AnUpdateRunReplacesChangedEntriesWithoutDuplicates) {
  if (!Have("python3")) GTEST_SKIP() << "python3 is needed";
  ASSERT_EQ(Get({"--zip", "--no-title-rename"}).Code, 1);
  const std::string archive = Downloads() + "127_0.zip";
  ASSERT_TRUE(fs::exists(archive));
  const std::size_t before = PythonEntries(archive).size();

  ScriptedResponse changed;
  changed.Headers = {{"Content-Type", "text/html"}};
  changed.Body = "<html><head><title>About, again</title></head><body><a href=\"index.html\">home</a></body></html>";
  site.Route("/about.html", changed);
  const auto r = Cli({"run", TaskFile(), "--update"});
  EXPECT_LE(r.Code, 1) << r.Err;

  const auto entries = PythonEntries(archive);
  FileSet names;
  for (const auto& line : entries) EXPECT_TRUE(names.insert(line.substr(0, line.find('\t'))).second) << line;
  EXPECT_EQ(entries.size(), before);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "about.html\tAbout, again"), entries.end());
  const std::string out = dir.Path() + "unzipped/";
  ASSERT_EQ(Cli({"zip", "extract", archive, out}).Code, 0);
  EXPECT_EQ(ReadTextFile(out + "about.html").find("About, again") != std::string::npos, true);
}

TEST_F(ZipMirrorTest, AddingToAChosenArchiveNeverRenamesIt) {
  const std::string archive = dir.Path() + "shared/collection.zip";
  const auto r = Get({"--add-to", archive, "--levels", "0"});
  EXPECT_LE(r.Code, 1) << r.Err;
  ASSERT_TRUE(fs::exists(archive)) << r.Err;
  EXPECT_FALSE(fs::exists(Downloads() + "Fixture Home.zip"));
  const auto list = Cli({"zip", "list", archive});
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_NE(list.Out.find("index.html   (Fixture Home)"), std::string::npos) << list.Out;
  EXPECT_NE(list.Out.find("img/logo.gif"), std::string::npos) << list.Out;
}
