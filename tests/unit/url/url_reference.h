#pragma once
// The URL split, resolution and local-name mapping as they were written
// before the parse pass needed them fast: the plain, repeated-split versions.
// The differential tests hold the library to these outputs byte for byte,
// and the random inputs come from here too, so every test file that compares
// draws on the same odd shapes.
#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace before {

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
inline bool SameLetter(char x, char y) { return Lower(x) == Lower(y); }

inline std::string LowerCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

inline bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char x, char y) { return SameLetter(x, y); });
}

inline std::string ReplaceText(std::string_view text, std::string_view find, std::string_view replacement, bool all) {
  if (find.empty()) return std::string(text);
  std::string out;
  std::size_t from = 0;
  while (from <= text.size()) {
    const auto hit = std::search(text.begin() + from, text.end(), find.begin(), find.end(), SameLetter);
    if (hit == text.end()) break;
    const auto at = static_cast<std::size_t>(hit - text.begin());
    out.append(text.substr(from, at - from)).append(replacement);
    from = at + find.size();
    if (!all) break;
  }
  out.append(text.substr(from));
  return out;
}

inline std::string ForwardSlashes(std::string text) {
  for (auto& c : text)
    if (c == '\\') c = '/';
  return text;
}

inline std::string ExtensionOf(const std::string& document) {
  const auto dot = document.rfind('.');
  if (dot == std::string::npos || document.find(':', dot) != std::string::npos) return {};
  return document.substr(dot);
}

struct Url {
  std::string URL, Protocol, Host, Port, Path, Document, Extension, Query, Anchor;
};

inline Url Split(const std::string& url) {
  Url u;
  u.URL = url;
  std::string rest = ForwardSlashes(url);
  if (const auto at = rest.find("://"); at != std::string::npos) {
    u.Protocol = rest.substr(0, at + 3);
    rest.erase(0, at + 3);
  }
  u.Host = rest.substr(0, rest.find_first_of("/:"));
  rest.erase(0, u.Host.size());
  if (u.Host == ".") u.Host.clear();
  if (rest.empty()) return u;
  if (rest[0] == ':') {
    rest.erase(0, 1);
    u.Port = rest.substr(0, rest.find('/'));
    rest.erase(0, u.Port.size());
  }
  if (const auto at = rest.find('?'); at != std::string::npos) {
    u.Query = rest.substr(at);
    rest.resize(at);
  }
  const auto slash = rest.rfind('/');
  u.Document = slash == std::string::npos ? rest : rest.substr(slash + 1);
  u.Path = slash == std::string::npos ? std::string() : rest.substr(0, slash + 1);
  if (const auto hash = u.Document.find('#'); hash != std::string::npos) {
    u.Anchor = u.Document.substr(hash);
    u.Document.resize(hash);
  }
  u.Extension = ExtensionOf(u.Document);
  if (u.Extension.empty() && u.Query.empty()) {
    u.Path += u.Document;
    u.Document.clear();
  }
  if (!u.Path.empty() && u.Path.front() == '/') u.Path.erase(0, 1);
  if (!u.Path.empty() && u.Path.back() != '/') u.Path += '/';
  return u;
}

inline std::string URLProtocol(const std::string& url) {
  auto slash = [&](std::size_t i) { return i < url.size() && (url[i] == '/' || url[i] == '\\'); };
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] != ':' || !slash(i + 1) || !slash(i + 2)) continue;
    return url.substr(0, i) + "://";
  }
  return {};
}

inline std::string URLDocument(const std::string& url) {
  const Url parts = Split(url);
  return parts.Document + parts.Query;
}

inline std::string URLExtension(const std::string& url) {
  if (url.find('?') != std::string::npos) return ".html";
  return LowerCase(ExtensionOf(URLDocument(url)));
}

inline std::string URLSiteName(const std::string& url) {
  const std::string text = ForwardSlashes(url);
  if (const auto www = text.find("www."); www != std::string::npos) {
    const std::string rest = text.substr(www + 4);
    const auto dot = rest.find('.');
    return dot == std::string::npos ? std::string() : rest.substr(0, dot);
  }
  std::string host = Split(text).Host;
  if (const auto dot = host.find('.'); dot != std::string::npos) host[dot] = '_';
  return host.substr(0, host.find('.'));
}

inline bool NormalizeURL(std::string& url) {
  url = ForwardSlashes(url);
  if (URLProtocol(url).empty()) url.insert(0, url.size() > 1 && url[1] == ':' ? "file://" : "http://");
  const Url parts = Split(url);
  if (parts.Host.empty() && parts.Protocol != "file://") return false;
  if (ExtensionOf(parts.Document + parts.Query).empty() && !url.ends_with('/') &&
      url.find('?') == std::string::npos)
    url += '/';
  url = ReplaceText(url, "&amp;", "&", true);
  return true;
}

inline std::string URLDirectory(const std::string& url) {
  const auto query = url.find('?');
  const std::size_t end = query == std::string::npos ? url.size() : query;
  std::size_t protocolLength = URLProtocol(url).size();
  if (protocolLength == 0) protocolLength = 7;
  for (std::size_t i = end; i > protocolLength; --i)
    if (url[i - 1] == '/') return url.substr(0, i);
  return url + '/';
}

inline std::string URLUp(const std::string& url, int levels) {
  std::vector<std::string> prefixes;
  for (std::size_t i = 8; i < url.size(); ++i)
    if (url[i] == '/') prefixes.push_back(url.substr(0, i + 1));
  if (prefixes.empty()) return url;
  const auto count = static_cast<int>(prefixes.size());
  if (levels > 0 && levels < count) return prefixes[count - levels - 1];
  return prefixes.front();
}

inline std::string ResolveURL(const std::string& link, const std::string& baseDirectory) {
  std::string url;
  bool done = false;
  for (const char* scheme : {"HTTP://", "FILE://", "FTP://", "HTTPS://", "NEWS://"})
    if (!done && StartsText(scheme, link)) url = link, done = true;
  if (done) {
  } else if (link.starts_with("//")) {
    const std::string protocol = URLProtocol(baseDirectory);
    url = (protocol.empty() ? "http://" : protocol) + link.substr(2);
  } else if (link.starts_with('/')) {
    url = URLUp(baseDirectory, 0) + link.substr(1);
  } else if (link.starts_with("../")) {
    std::size_t at = 0;
    int levels = 0;
    for (; link.compare(at, 3, "../") == 0; at += 3) ++levels;
    url = URLUp(baseDirectory, levels) + link.substr(at);
  } else {
    url = baseDirectory + link;
  }
  for (auto at = url.find("/./"); at != std::string::npos; at = url.find("/./", at)) url.erase(at + 1, 2);
  std::erase_if(url, [](char c) { return c == '\n' || c == '\r'; });
  return ReplaceText(url, "&amp;", "&", true);
}

inline std::string ResolveLink(const std::string& link, const std::string& baseDirectory) {
  std::string url = ResolveURL(link, baseDirectory);
  return NormalizeURL(url) ? url : std::string();
}

inline std::size_t Utf8Cut(const std::string& s, std::size_t limit) {
  if (limit >= s.size()) return s.size();
  while (limit > 0 && (static_cast<unsigned char>(s[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

inline std::string LimitNameLength(const std::string& name) {
  if (name.size() <= 255) return name;
  const auto dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string out = name.substr(0, Utf8Cut(name, 250)) + ext;
  if (out.size() > 255) out.resize(Utf8Cut(out, 255));
  return out;
}

inline std::string EncodeLocalName(const std::string& text) {
  std::string s = text;
  if (const auto q = s.find('?'); q != std::string::npos) {
    std::string tail = ReplaceText(s.substr(q), "/", "\xC2\xA1", true);
    s = s.substr(0, q) + ReplaceText(tail, "?", "\xC2\xBF", true);
  }
  s = ReplaceText(s, "%20", " ", true);
  s = ReplaceText(s, "&amp;", "&", true);
  s = ReplaceText(s, "%3A", "\xC2\xA6", true);
  s = ReplaceText(s, "|", "\xC2\xA6", true);
  s = ReplaceText(s, "*", "\xC2\xB0", true);
  s = ReplaceText(s, ":", "\xC2\xA6", true);
  return ReplaceText(s, "//", "/", true);
}

inline std::string DefaultDocumentName(const std::string& url) {
  const std::string path = Split(url).Path;
  if (!path.empty()) {
    const std::string trimmed = path.substr(0, path.size() - 1);
    return trimmed.substr(trimmed.rfind('/') == std::string::npos ? 0 : trimmed.rfind('/') + 1) + ".html";
  }
  const std::string host = Split(url).Host;
  if (host.empty()) return "";
  const auto dot = host.rfind('.');
  return dot == std::string::npos ? "html" : host.substr(0, dot + 1) + "html";
}

using Segments = std::vector<std::string>;

inline Segments SplitPath(const std::string& path) {
  Segments out;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const std::string seg = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!seg.empty()) out.push_back(seg);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

inline Segments RemoveDotSegments(const Segments& in) {
  Segments out;
  for (const auto& seg : in) {
    if (seg == ".") continue;
    if (seg == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(seg);
  }
  return out;
}

inline std::string SafeName(std::string name) {
  if (name == "." || name == "..") name = std::string(1, '_').append(name);
  return LimitNameLength(name);
}

inline std::string PageExtensions(std::string name) {
  for (const char* ext : {".asp", ".shtml", ".phtml", ".sml"})
    if (LowerCase(name).find(ext) != std::string::npos) name = ReplaceText(name, ext, ".html", false);
  return name;
}

struct LocalPlace {
  Segments Folders;
  std::string Name;
};

inline LocalPlace PlaceOf(const std::string& url, const std::string& homeHost) {
  const Url u = Split(url);
  LocalPlace place;
  if (!u.Host.empty() && u.Host != homeHost) {
    place.Folders.push_back("_hosts");
    place.Folders.push_back(SafeName(EncodeLocalName(u.Host)));
  }
  std::string path = u.Path;
  const bool dotDocument = u.Query.empty() && (u.Document == "." || u.Document == "..");
  if (dotDocument) path += u.Document + "/";
  const Segments folders = RemoveDotSegments(SplitPath(path));
  for (const auto& seg : folders)
    for (const auto& part : SplitPath(EncodeLocalName(seg))) place.Folders.push_back(SafeName(part));
  std::string document = dotDocument ? std::string() : URLDocument(url);
  bool image = false;
  for (const char* hint : {"=gif", "=jpg", ".gif", ".jpg"}) image |= url.find(hint) != std::string::npos;
  if (!document.empty() && !u.Query.empty() && !image) document += ".html";
  std::string name = EncodeLocalName(PageExtensions(document));
  for (auto& c : name)
    if (c == '/') c = '_';
  if (name.empty()) {
    std::string directory = u.Protocol + u.Host + "/";
    for (const auto& f : folders) directory += f + "/";
    name = EncodeLocalName(DefaultDocumentName(directory));
  }
  place.Name = SafeName(name);
  return place;
}

inline std::string EscapeLinkPath(const std::string& path) {
  static const char* const hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      std::string_view("-._~/!$&'()*+,;=@").find(static_cast<char>(c)) != std::string_view::npos;
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

inline std::string LocalFileName(const std::string& root, const std::string& base, const std::string& url,
                                 const std::string& homeHost) {
  const LocalPlace place = PlaceOf(url, homeHost.empty() ? Split(base).Host : homeHost);
  std::string out = root;
  for (const auto& f : place.Folders) out += f + "/";
  return out + place.Name;
}

inline std::string LocalLink(const std::string& url, const std::string& base, const std::string& homeHost) {
  const std::string home = homeHost.empty() ? Split(base).Host : homeHost;
  const Segments from = PlaceOf(URLDirectory(base), home).Folders;
  const LocalPlace target = PlaceOf(url, home);
  std::size_t common = 0;
  while (common < target.Folders.size() && common < from.size() && target.Folders[common] == from[common]) ++common;
  std::string link;
  for (std::size_t i = common; i < from.size(); ++i) link += "../";
  for (std::size_t i = common; i < target.Folders.size(); ++i) link += target.Folders[i] + "/";
  return EscapeLinkPath(link + target.Name);
}

inline std::string UpLevels(const std::string& path) {
  std::string out;
  for (char c : path)
    if (c == '/' || c == '\\') out += "../";
  return out;
}

inline std::string RelativeURL(const std::string& target, const std::string& base) {
  if (!target.empty() && target[0] == '/') return UpLevels(Split(base).Path) + target.substr(1);
  if (Split(target).Host != Split(base).Host) return target;
  std::string tp = Split(target).Path, bp = Split(base).Path;
  auto firstSegment = [](const std::string& p) {
    const auto slash = p.find('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
  };
  while (!bp.empty()) {
    const std::string a = firstSegment(tp), b = firstSegment(bp);
    if (a != b || b.empty()) break;
    tp.erase(0, a.size());
    bp.erase(0, b.size());
  }
  return UpLevels(bp) + tp + URLDocument(target);
}

// The extension FileTypeOfUrl looks up in the file-type table.
inline std::string TypeExtension(const std::string& url) {
  const Url u = Split(url);
  std::string extension;
  if (url.find('?') != std::string::npos) extension = ".html";
  else extension = u.Extension.empty() ? ".htm" : LowerCase(u.Extension);
  if (!u.Query.empty()) {
    if (url.find("=gif") != std::string::npos) extension = ".gif";
    else if (url.find("=jpg") != std::string::npos) extension = ".jpg";
    else if (url.find(".gif") != std::string::npos) extension = ".gif";
    else if (url.find(".jpg") != std::string::npos) extension = ".jpg";
    else extension = ".htm";
  }
  return extension;
}

// Addresses and links of the shapes pages carry, and of the odd ones they
// sometimes carry: built from pieces, so most are near-valid and exercise
// the rules rather than the first refusal.
class OddUrls {
 public:
  explicit OddUrls(unsigned seed) : rng_(seed) {}

  std::string Scheme() {
    static const char* const all[] = {"http://", "HTTP://", "https://", "HtTpS://", "ftp://", "file://", "file:///",
                                      "news://", "//", "http:\\\\", "http:/", "", "", "", "C:", "mailto:"};
    return Pick(all);
  }
  std::string Host() {
    static const char* const all[] = {"h", "H", "www.example-shop.com", "WWW.Example.ORG", "other.org", "a.b.c", ".",
                                      "..", "", "h:81", "h:8080", "H:443", "cdn.h", "h?x=1", "h#frag", "w.a.b"};
    return Pick(all);
  }
  std::string Segment() {
    static const std::string longName = std::string(300, 'n') + ".html";
    static const std::string longUtf8 = [] {
      std::string s;
      for (int i = 0; i < 140; ++i) s += "\xC3\xB6";
      return s;
    }();
    static const std::string all[] = {
        "a", "b", "Dir", "..", ".", "", "index.html", "x.asp", "dir.aspx", "p.php", "c:d", "e|f", "g*h", "a%20b",
        "%3a", "%3A", "&amp;x", "&AMP;", "a\\b", longName, longUtf8 + ".htm", "file.tar.gz", "x.y:z", "Pic.JPG",
        "page.SHTML", "x.phtml", "y.sml", "%41b.html", "100%.html", "my file.html", "~user", "a#b", "q.cgi"};
    return all[rng_() % std::size(all)];
  }
  std::string Tail() {
    static const char* const all[] = {"",       "",      "",           "?id=1",     "?x=/y?z", "?f=a.gif", "?img=jpg",
                                      "=gif",   "?q",    "?a=1&amp;b=2", "#top",    "#",       "#x/y.html", "?a:b|c*d",
                                      "?p=x//y", "?.jpg", "?x=%20%3A", "/",        "//",      "?/../x"};
    return Pick(all);
  }
  // A full address, often well-formed.
  std::string Url() {
    std::string url = Scheme() + Host();
    const int segments = static_cast<int>(rng_() % 5);
    for (int i = 0; i < segments; ++i) {
      url += rng_() % 8 == 0 ? '\\' : '/';
      url += Segment();
    }
    if (rng_() % 3 == 0) url += '/';
    return url + Tail();
  }
  // A link as a page writes it: relative, rooted, climbing, or absolute.
  std::string Link() {
    static const char* const starts[] = {"", "/", "../", "../../../../", "./", "//", "http://", "HTTPS://"};
    std::string link = Pick(starts);
    if (link == "//" || link == "http://" || link == "HTTPS://") link += Host();
    const int segments = 1 + static_cast<int>(rng_() % 4);
    for (int i = 0; i < segments; ++i) {
      if (i > 0) link += '/';
      link += Segment();
    }
    if (rng_() % 10 == 0) link.insert(rng_() % (link.size() + 1), rng_() % 2 ? "\r\n" : "/./");
    return link + Tail();
  }
  // Bytes drawn from the characters the rules react to.
  std::string Noise() {
    static constexpr std::string_view alphabet = "/\\?#:.%&;|*20aAmpMPhH3:/./?";
    std::string s;
    const std::size_t length = rng_() % 40;
    for (std::size_t i = 0; i < length; ++i) s += alphabet[rng_() % alphabet.size()];
    if (rng_() % 4 == 0) s.insert(0, "http://");
    return s;
  }
  std::string Any() {
    switch (rng_() % 3) {
      case 0: return Url();
      case 1: return Link();
      default: return Noise();
    }
  }

 private:
  template <std::size_t N>
  std::string Pick(const char* const (&all)[N]) {
    return all[rng_() % N];
  }
  std::mt19937 rng_;
};

}  // namespace before
