#include "url/tbwurl.h"

#include <vector>

#include "app/frontend.h"
#include "url/textutil.h"

namespace {

std::string ForwardSlashes(std::string text) {
  for (auto& c : text)
    if (c == '\\') c = '/';
  return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// From the last "." to the end. A ":" behind that dot separates names the way
// a drive letter does, so the dot did not belong to the file name.
std::string ExtensionOf(const std::string& document) {
  const auto dot = document.rfind('.');
  if (dot == std::string::npos || document.find(':', dot) != std::string::npos) return {};
  return document.substr(dot);
}

// Each Take* removes its field from the front of the rest of the URL.
std::string TakeProtocol(std::string& rest) {
  const auto at = rest.find("://");
  if (at == std::string::npos) return {};
  std::string protocol = rest.substr(0, at + 3);
  rest.erase(0, at + 3);
  return protocol;
}

std::string TakeHost(std::string& rest) {
  std::string host = rest.substr(0, rest.find_first_of("/:"));
  rest.erase(0, host.size());
  // "./page.html" is a relative link, not a host named ".".
  return host == "." ? std::string() : host;
}

std::string TakePort(std::string& rest) {
  if (rest.empty() || rest[0] != ':') return {};
  rest.erase(0, 1);
  std::string port = rest.substr(0, rest.find('/'));
  rest.erase(0, port.size());
  return port;
}

std::string TakeQuery(std::string& rest) {
  const auto at = rest.find('?');
  if (at == std::string::npos) return {};
  std::string query = rest.substr(at);
  rest.resize(at);
  return query;
}

TbwURL Split(const std::string& url) {
  TbwURL parts;
  parts.SetURL(url);
  return parts;
}

std::string ResolveAgainst(const std::string& link, const std::string& baseDirectory) {
  for (const char* scheme : {"HTTP://", "FILE://", "FTP://", "HTTPS://", "NEWS://"})
    if (StartsText(scheme, link)) return link;
  if (link.starts_with("//")) {
    const std::string protocol = URLProtocol(baseDirectory);
    return (protocol.empty() ? "http://" : protocol) + link.substr(2);
  }
  if (link.starts_with('/')) return URLUp(baseDirectory, 0) + link.substr(1);
  if (link.starts_with("../")) {
    std::size_t at = 0;
    int levels = 0;
    for (; link.compare(at, 3, "../") == 0; at += 3) ++levels;
    return URLUp(baseDirectory, levels) + link.substr(at);
  }
  return baseDirectory + link;
}

// A link copied out of HTML may still carry its line breaks and the
// entity-encoded ampersands of its query.
std::string TidyResolved(std::string url) {
  for (auto at = url.find("/./"); at != std::string::npos; at = url.find("/./", at)) url.erase(at + 1, 2);
  std::erase_if(url, [](char c) { return c == '\n' || c == '\r'; });
  return ReplaceText(url, "&amp;", "&", true);
}

}  // namespace

void TbwURL::SetURL(const std::string& url) {
  URL = url;
  Protocol = Host = Port = Path = Document = Extension = Query = Anchor = std::string();
  std::string rest = ForwardSlashes(url);
  Protocol = TakeProtocol(rest);
  Host = TakeHost(rest);
  if (rest.empty()) return;
  Port = TakePort(rest);
  Query = TakeQuery(rest);
  const auto slash = rest.rfind('/');
  Document = slash == std::string::npos ? rest : rest.substr(slash + 1);
  Path = slash == std::string::npos ? std::string() : rest.substr(0, slash + 1);
  if (const auto hash = Document.find('#'); hash != std::string::npos) {
    Anchor = Document.substr(hash);
    Document.resize(hash);
  }
  Extension = ExtensionOf(Document);
  // Without an extension or a query, the last segment names a folder.
  if (Extension.empty() && Query.empty()) {
    Path += Document;
    Document.clear();
  }
  if (!Path.empty() && Path.front() == '/') Path.erase(0, 1);
  if (!Path.empty() && Path.back() != '/') Path += '/';
}

// The split's first step alone: the parse pass asks this of every link.
std::string URLProtocol(const std::string& url) {
  auto slash = [&](std::size_t i) { return i < url.size() && (url[i] == '/' || url[i] == '\\'); };
  for (std::size_t i = 0; i < url.size(); ++i) {
    if (url[i] != ':' || !slash(i + 1) || !slash(i + 2)) continue;
    return url.substr(0, i) + "://";
  }
  return {};
}
std::string URLHost(const std::string& url) { return Split(url).Host; }
std::string URLPath(const std::string& url) { return Split(url).Path; }
std::string URLQuery(const std::string& url) { return Split(url).Query; }
std::string URLAnchor(const std::string& url) { return Split(url).Anchor; }

std::string URLDocument(const std::string& url) {
  const TbwURL parts = Split(url);
  return parts.Document + parts.Query;
}

std::string URLExtension(const std::string& url) {
  // Whatever a script's name ends in, what it sends back is a page.
  if (Contains(url, "?")) return ".html";
  return LowerCase(ExtensionOf(URLDocument(url)));
}

std::string URLSiteName(const std::string& url) {
  const std::string text = ForwardSlashes(url);
  if (const auto www = text.find("www."); www != std::string::npos) {
    const std::string rest = text.substr(www + 4);
    const auto dot = rest.find('.');
    return dot == std::string::npos ? std::string() : rest.substr(0, dot);
  }
  std::string host = URLHost(text);
  if (const auto dot = host.find('.'); dot != std::string::npos) host[dot] = '_';
  return host.substr(0, host.find('.'));
}

bool NormalizeURL(std::string& url) {
  url = ForwardSlashes(url);
  if (URLProtocol(url).empty()) url.insert(0, url.size() > 1 && url[1] == ':' ? "file://" : "http://");
  // One split serves the host, scheme and document tests: every link of
  // every page comes through here.
  TbwURL parts;
  parts.SetURL(url);
  // A local file has no host; anything else without one cannot be fetched.
  if (parts.Host.empty() && parts.Protocol != "file://") return false;
  if (ExtensionOf(parts.Document + parts.Query).empty() && !url.ends_with('/') && !Contains(url, "?")) url += '/';
  url = ReplaceText(url, "&amp;", "&", true);
  return true;
}

std::string URLDirectory(const std::string& url) {
  const auto query = url.find('?');
  const std::size_t end = query == std::string::npos ? url.size() : query;
  std::size_t protocolLength = URLProtocol(url).size();
  if (protocolLength == 0) protocolLength = 7;
  // The slashes of "://" never end a directory.
  for (std::size_t i = end; i > protocolLength; --i)
    if (url[i - 1] == '/') return url.substr(0, i);
  return url + '/';
}

std::string URLUp(const std::string& url, int levels) {
  // A "/" at position 8 or before belongs to "http://" or "https://".
  std::vector<std::string> prefixes;
  for (std::size_t i = 8; i < url.size(); ++i)
    if (url[i] == '/') prefixes.push_back(url.substr(0, i + 1));
  if (prefixes.empty()) return url;
  const auto count = static_cast<int>(prefixes.size());
  if (levels > 0 && levels < count) return prefixes[count - levels - 1];
  return prefixes.front();
}

std::string ResolveURL(const std::string& link, const std::string& baseDirectory) {
  return TidyResolved(ResolveAgainst(link, baseDirectory));
}

std::string ResolveLink(const std::string& link, const std::string& baseDirectory) {
  std::string url = ResolveURL(link, baseDirectory);
  return NormalizeURL(url) ? url : std::string();
}

std::string StripAnchor(const std::string& url) { return url.substr(0, url.find('#')); }

bool IsAbsoluteURL(const std::string& link) {
  return StartsText("http:", link) || StartsText("https:", link) || StartsText("ftp:", link);
}

bool ValidateStartURL(std::string& url) {
  static const std::string invalid = "Invalid URL.";
  std::string normal = url;
  if (!NormalizeURL(normal)) {
    UI().AskUser(invalid, MsgButtons::Ok, MsgAnswer::Ok);
    return false;
  }
  if (!ContainsText(normal, "http://") && !ContainsText(normal, "https://")) {
    UI().AskUser(invalid + "\nNOTE: file:// && ftp:// not supported in this version of Harvix.", MsgButtons::Ok,
                 MsgAnswer::Ok);
    return false;
  }
  url = normal;
  return true;
}
