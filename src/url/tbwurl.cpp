#include "url/tbwurl.h"

#include <algorithm>
#include <array>

#include "app/frontend.h"
#include "url/textutil.h"

namespace {

std::string ForwardSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Runs f on the split of url; only a URL with a backslash pays for a copy.
template <class F>
auto WithParts(std::string_view url, F&& f) {
  if (url.find('\\') == std::string_view::npos) return f(SplitURLView(url));
  const std::string slashed = ForwardSlashes(std::string(url));
  return f(SplitURLView(slashed));
}

// Length of the scheme with its "://" (either slash may be a backslash), or
// 0 when there is none.
std::size_t ProtocolLength(std::string_view url) {
  auto slash = [&](std::size_t i) { return i < url.size() && (url[i] == '/' || url[i] == '\\'); };
  for (auto i = url.find(':'); i != std::string_view::npos; i = url.find(':', i + 1))
    if (slash(i + 1) && slash(i + 2)) return i + 3;
  return 0;
}

// "&amp;" of any letter case becomes "&", the text read once from the left.
// True when the text changed.
bool DecodeAmpersands(std::string& url) {
  auto at = url.find('&');
  if (at == std::string::npos) return false;
  std::size_t out = at;
  while (at < url.size()) {
    const char c = url[at];
    if (c == '&' && url.size() - at >= 5 && StartsText("&amp;", std::string_view(url).substr(at, 5))) {
      url[out++] = '&';
      at += 5;
    } else {
      url[out++] = c;
      ++at;
    }
  }
  const bool changed = out != url.size();
  url.resize(out);
  return changed;
}

void Append(std::string& out, std::string_view a, std::string_view b) {
  out.reserve(a.size() + b.size() + 1);
  out.append(a).append(b);
}

// The absolute URL of the link, written over url (which must not be either
// argument's text).
void ResolveAgainst(std::string& url, std::string_view link, std::string_view baseDirectory) {
  url.clear();
  // Every scheme taken as it is starts with "f", "h" or "n".
  const char first = link.empty() ? '\0' : static_cast<char>(link[0] | 0x20);
  if (first == 'f' || first == 'h' || first == 'n')
    for (const char* scheme : {"HTTP://", "FILE://", "FTP://", "HTTPS://", "NEWS://"})
      if (StartsText(scheme, link)) {
        url.assign(link);
        return;
      }
  if (link.starts_with("//")) {
    const std::size_t protocol = ProtocolLength(baseDirectory);
    if (protocol == 0) url = "http://";
    else url.append(baseDirectory.substr(0, protocol - 3)).append("://");
    url.append(link.substr(2));
    return;
  }
  if (link.starts_with('/')) {
    Append(url, URLUpView(baseDirectory, 0), link.substr(1));
    return;
  }
  if (link.starts_with("../")) {
    std::size_t at = 0;
    int levels = 0;
    for (; link.substr(at, 3) == "../"; at += 3) ++levels;
    Append(url, URLUpView(baseDirectory, levels), link.substr(at));
    return;
  }
  Append(url, baseDirectory, link);
}

// A link copied out of HTML may still carry its line breaks and the
// entity-encoded ampersands of its query.
void TidyResolved(std::string& url) {
  // One look decides whether there is anything to tidy at all.
  static constexpr auto kWatched = [] {
    std::array<bool, 256> watched{};
    for (unsigned char c : std::string_view(".\n\r&")) watched[c] = true;
    return watched;
  }();
  bool dots = false, breaks = false, ampersands = false;
  for (std::size_t i = 0; i < url.size(); ++i) {
    const char c = url[i];
    if (!kWatched[static_cast<unsigned char>(c)]) continue;
    if (c == '.') dots |= i > 0 && url[i - 1] == '/' && i + 1 < url.size() && url[i + 1] == '/';
    else if (c == '&') ampersands = true;
    else breaks = true;
  }
  if (dots)
    for (auto at = url.find("/./"); at != std::string::npos; at = url.find("/./", at)) url.erase(at + 1, 2);
  if (breaks) std::erase_if(url, [](char c) { return c == '\n' || c == '\r'; });
  if (ampersands) DecodeAmpersands(url);
}

}  // namespace

URLParts SplitURLView(std::string_view url) {
  constexpr auto npos = std::string_view::npos;
  URLParts parts;
  std::size_t at = 0;
  if (const auto scheme = url.find("://"); scheme != npos) {
    parts.Protocol = url.substr(0, scheme + 3);
    at = scheme + 3;
  }
  // A loop, not find_first_of: that searches the two-byte set once per byte.
  std::size_t hostEnd = at;
  while (hostEnd < url.size() && url[hostEnd] != '/' && url[hostEnd] != ':') ++hostEnd;
  // "./page.html" is a relative link, not a host named ".".
  if (const auto host = url.substr(at, hostEnd - at); host != ".") parts.Host = host;
  at = hostEnd;
  if (at == url.size()) return parts;
  if (url[at] == ':') {
    const auto portEnd = std::min(url.find('/', at + 1), url.size());
    parts.Port = url.substr(at + 1, portEnd - at - 1);
    at = portEnd;
  }
  // One walk to the query finds the last "/", the first "#" after it, the
  // document's last "." before that "#" and whether a ":" follows the dot:
  // every link of every page is split here, several times.
  static constexpr auto kMarks = [] {
    std::array<bool, 256> marks{};
    for (unsigned char c : std::string_view("?/#.:")) marks[c] = true;
    return marks;
  }();
  std::size_t end = url.size(), slash = npos, hash = npos, dot = npos;
  bool colonAfterDot = false;
  for (std::size_t i = at; i < url.size(); ++i) {
    const char c = url[i];
    if (!kMarks[static_cast<unsigned char>(c)]) continue;
    if (c == '?') {
      end = i;
      break;
    }
    if (c == '/') {
      slash = i;
      hash = dot = npos;
      colonAfterDot = false;
    } else if (hash != npos) {
      continue;
    } else if (c == '#') {
      hash = i;
    } else if (c == '.') {
      dot = i;
      colonAfterDot = false;
    } else {
      colonAfterDot = true;
    }
  }
  if (end < url.size()) parts.Query = url.substr(end);
  const std::string_view rest = url.substr(at, end - at);
  const std::size_t documentAt = slash == npos ? 0 : slash - at + 1;
  std::string_view document = rest.substr(documentAt), path = rest.substr(0, documentAt);
  if (hash != npos) {
    parts.Anchor = url.substr(hash, end - hash);
    document = document.substr(0, hash - at - documentAt);
  }
  // From the last "." on; a ":" behind that dot separates names the way a
  // drive letter does, so the dot did not belong to the file name.
  if (dot != npos && !colonAfterDot) parts.Extension = url.substr(dot, at + documentAt + document.size() - dot);
  // Without an extension or a query, the last segment names a folder.
  if (parts.Extension.empty() && parts.Query.empty()) {
    path = rest.substr(0, documentAt + document.size());
    document = {};
  }
  parts.Document = document;
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  parts.PathSlash = !path.empty() && path.back() != '/';
  parts.Path = path;
  return parts;
}

void TbwURL::SetURL(const std::string& url) {
  URL = url;
  WithParts(url, [this](const URLParts& p) {
    Protocol = p.Protocol;
    Host = p.Host;
    Port = p.Port;
    Path = p.Path;
    if (p.PathSlash) Path += '/';
    Document = p.Document;
    Extension = p.Extension;
    Query = p.Query;
    Anchor = p.Anchor;
  });
}

// The split's first step alone: the parse pass asks this of every link.
std::string_view URLScheme(std::string_view url) {
  const std::size_t length = ProtocolLength(url);
  return length == 0 ? std::string_view() : url.substr(0, length - 3);
}

std::string URLProtocol(const std::string& url) {
  const std::size_t length = ProtocolLength(url);
  if (length == 0) return {};
  std::string protocol;
  protocol.reserve(length);
  return protocol.append(url, 0, length - 3).append("://");
}
std::string URLHost(const std::string& url) {
  return WithParts(url, [](const URLParts& p) { return std::string(p.Host); });
}
std::string URLPath(const std::string& url) {
  return WithParts(url, [](const URLParts& p) {
    std::string path(p.Path);
    if (p.PathSlash) path += '/';
    return path;
  });
}
std::string URLQuery(const std::string& url) {
  return WithParts(url, [](const URLParts& p) { return std::string(p.Query); });
}
std::string URLAnchor(const std::string& url) {
  return WithParts(url, [](const URLParts& p) { return std::string(p.Anchor); });
}

std::string URLDocument(const std::string& url) {
  return WithParts(url, [](const URLParts& p) {
    std::string document;
    Append(document, p.Document, p.Query);
    return document;
  });
}

std::string URLExtension(const std::string& url) {
  // Whatever a script's name ends in, what it sends back is a page.
  if (Contains(url, "?")) return ".html";
  // Without a "?" there is no query, and the document's extension is the
  // split's own.
  return WithParts(url, [](const URLParts& p) { return LowerCase(p.Extension); });
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

bool NormalizeURL(std::string& url) { return NormalizeURL(url, nullptr); }

bool NormalizeURL(std::string& url, URLParts* split) {
  std::replace(url.begin(), url.end(), '\\', '/');
  if (ProtocolLength(url) == 0) url.insert(0, url.size() > 1 && url[1] == ':' ? "file://" : "http://");
  // One split serves the host, scheme and document tests: every link of
  // every page comes through here.
  const URLParts parts = SplitURLView(url);
  // A local file has no host; anything else without one cannot be fetched.
  if (parts.Host.empty() && parts.Protocol != "file://") return false;
  // Without a "?" the query is empty and the extension is the split's own.
  const bool folder = !Contains(url, "?") && parts.Extension.empty() && !url.ends_with('/');
  if (folder) url += '/';
  const bool decoded = DecodeAmpersands(url);
  // The split stands for the final text unless that changed after it.
  if (split) *split = folder || decoded ? SplitURLView(url) : parts;
  return true;
}

std::string URLDirectory(const std::string& url) {
  const auto query = url.find('?');
  const std::size_t end = query == std::string::npos ? url.size() : query;
  std::size_t protocolLength = ProtocolLength(url);
  if (protocolLength == 0) protocolLength = 7;
  // The slashes of "://" never end a directory.
  for (std::size_t i = end; i > protocolLength; --i)
    if (url[i - 1] == '/') return url.substr(0, i);
  std::string directory;
  Append(directory, url, "/");
  return directory;
}

std::string_view URLUpView(std::string_view url, int levels) {
  // A "/" at position 8 or before belongs to "http://" or "https://".
  constexpr std::size_t kFirst = 8;
  const std::ptrdiff_t count = kFirst < url.size() ? std::count(url.begin() + kFirst, url.end(), '/') : 0;
  if (count == 0) return url;
  // The folder "levels" up is the prefix through the slash that many
  // before the last; too many or none at all give the root.
  const std::ptrdiff_t wanted = levels > 0 && levels < count ? count - levels - 1 : 0;
  std::size_t at = url.find('/', kFirst);
  for (std::ptrdiff_t k = 0; k < wanted; ++k) at = url.find('/', at + 1);
  return url.substr(0, at + 1);
}

std::string URLUp(const std::string& url, int levels) { return std::string(URLUpView(url, levels)); }

std::string ResolveURL(const std::string& link, const std::string& baseDirectory) {
  std::string url;
  ResolveAgainst(url, link, baseDirectory);
  TidyResolved(url);
  return url;
}

bool ResolveLinkInto(std::string& url, std::string_view link, std::string_view baseDirectory, URLParts* split) {
  ResolveAgainst(url, link, baseDirectory);
  TidyResolved(url);
  if (NormalizeURL(url, split)) return true;
  url.clear();
  return false;
}

std::string ResolveLink(const std::string& link, const std::string& baseDirectory) {
  std::string url;
  ResolveLinkInto(url, link, baseDirectory);
  return url;
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
