#include "url/localfile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <vector>

#include "url/tbwurl.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kInvertedExclamation = "\xC2\xA1";  // stands for "/" in a query
constexpr std::string_view kInvertedQuestion = "\xC2\xBF";     // stands for "?"
constexpr std::string_view kBrokenBar = "\xC2\xA6";            // stands for ":" and "|"
constexpr std::string_view kDegree = "\xC2\xB0";               // stands for "*"
constexpr std::size_t kMaxName = 255;

// Bytes that may start a replacement in a local name; runs of any others are
// copied whole.
constexpr auto kEncodeStarts = [] {
  std::array<bool, 256> starts{};
  for (unsigned char c : std::string_view("%&|*:/?")) starts[c] = true;
  return starts;
}();

// Bytes a relative link carries unescaped.
constexpr auto kLinkKeeps = [] {
  std::array<bool, 256> keep{};
  for (int c = 'A'; c <= 'Z'; ++c) keep[c] = keep[c + 32] = true;
  for (int c = '0'; c <= '9'; ++c) keep[c] = true;
  for (unsigned char c : std::string_view("-._~/!$&'()*+,;=@")) keep[c] = true;
  return keep;
}();

bool IsLetter(char c, char lower) { return c == lower || c == lower - 32; }

// EncodeLocalName's replacements, appended to out. They are made in one
// walk: no replacement makes or breaks a match of another (none writes a
// byte any find text holds, and no two find texts can overlap), so the walk
// meets the same matches as one pass per replacement would.
void AppendEncoded(std::string& out, std::string_view s) {
  const std::size_t query = s.find('?');
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t run = i;
    while (run < s.size() && !kEncodeStarts[static_cast<unsigned char>(s[run])]) ++run;
    out.append(s.substr(i, run - i));
    if (run == s.size()) break;
    i = run;
    const char c = s[i];
    const std::size_t left = s.size() - i;
    if (i >= query && c == '/') {
      out += kInvertedExclamation;
      i += 1;
    } else if (i >= query && c == '?') {
      out += kInvertedQuestion;
      i += 1;
    } else if (c == '%' && left >= 3 && s[i + 1] == '2' && s[i + 2] == '0') {
      out += ' ';
      i += 3;
    } else if (c == '%' && left >= 3 && s[i + 1] == '3' && IsLetter(s[i + 2], 'a')) {
      out += kBrokenBar;
      i += 3;
    } else if (c == '&' && left >= 5 && IsLetter(s[i + 1], 'a') && IsLetter(s[i + 2], 'm') &&
               IsLetter(s[i + 3], 'p') && s[i + 4] == ';') {
      out += '&';
      i += 5;
    } else if (c == '|' || c == ':') {
      out += kBrokenBar;
      i += 1;
    } else if (c == '*') {
      out += kDegree;
      i += 1;
    } else if (c == '/' && left >= 2 && s[i + 1] == '/') {
      out += '/';
      i += 2;
    } else {
      out += c;
      i += 1;
    }
  }
}

std::size_t Utf8Cut(std::string_view s, std::size_t limit) {
  if (limit >= s.size()) return s.size();
  while (limit > 0 && (static_cast<unsigned char>(s[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

// LimitNameLength for the name that ends out, from byte `from` on.
void LimitTail(std::string& out, std::size_t from) {
  if (out.size() - from <= kMaxName) return;
  const std::string limited = LimitNameLength(out.substr(from));
  out.replace(from, std::string::npos, limited);
}

// "." and ".." name folders on every file system; as a local name they
// would leave the folder they stand in. The name is the tail of out from
// byte `from` on.
void MakeSafe(std::string& out, std::size_t from) {
  const std::string_view name = std::string_view(out).substr(from);
  if (name == "." || name == "..") out.insert(from, 1, '_');
  LimitTail(out, from);
}

// True when a query URL names an image that the server sends as itself:
// "=gif", "=jpg", ".gif" or ".jpg" anywhere in it.
bool QueryNamesAnImage(std::string_view url) {
  for (std::size_t i = 0; i + 4 <= url.size(); ++i) {
    if (url[i] != '=' && url[i] != '.') continue;
    const std::string_view name = url.substr(i + 1, 3);
    if (name == "gif" || name == "jpg") return true;
  }
  return false;
}

// Position of the first match of a lower-case find text in text, ignoring
// ASCII case.
std::size_t FindNoCase(std::string_view text, std::string_view lower) {
  if (lower.size() > text.size()) return std::string_view::npos;
  for (std::size_t at = text.find('.'); at != std::string_view::npos && at + lower.size() <= text.size();
       at = text.find('.', at + 1))
    if (StartsText(lower, text.substr(at, lower.size()))) return at;
  return std::string_view::npos;
}

// Each extension's first occurrence, in any case, becomes ".html". All of
// them start with "." so the search can hop from dot to dot.
void PageExtensions(std::string& name) {
  // Most names hold none of them: one walk over the dots tells.
  // The letter after the dot tells which of them could follow.
  bool any = false;
  for (auto at = name.find('.'); at != std::string::npos && !any; at = name.find('.', at + 1)) {
    const std::string_view from = std::string_view(name).substr(at);
    if (from.size() < 4) break;
    switch (from[1] | 0x20) {
      case 'a': any = StartsText(".asp", from); break;
      case 'p': any = StartsText(".phtml", from); break;
      case 's': any = StartsText(".shtml", from) || StartsText(".sml", from); break;
      default: break;
    }
  }
  if (!any) return;
  for (std::string_view ext : {".asp", ".shtml", ".phtml", ".sml"})
    if (const auto at = FindNoCase(name, ext); at != std::string_view::npos) name.replace(at, ext.size(), ".html");
}

void AppendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t run = i;
    while (run < text.size() && kLinkKeeps[static_cast<unsigned char>(text[run])]) ++run;
    out.append(text.substr(i, run - i));
    if (run == text.size()) break;
    const auto c = static_cast<unsigned char>(text[run]);
    const char escape[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.append(escape, 3);
    i = run + 1;
  }
}

}  // namespace

// The buffers PlaceOf works in, kept by a caller that places many URLs.
struct PlaceBuffers {
  std::string Slashed, Name, Document, Encoded;
  std::vector<std::string_view> Folders;
};

namespace {

// Where a URL lies below the output folder: its folders, each handed to
// `folder` in order as file-name text, and its file name, left in b.Name.
// Every local name and every link comes from here.
template <class Folder>
void PlaceOf(std::string_view url, std::string_view homeHost, Folder&& folder, PlaceBuffers& b,
             const URLParts* split = nullptr) {
  if (!split && url.find('\\') != std::string_view::npos) {
    b.Slashed.assign(url);
    std::replace(b.Slashed.begin(), b.Slashed.end(), '\\', '/');
    url = b.Slashed;
  }
  const URLParts u = split ? *split : SplitURLView(url);
  std::string& name = b.Name;
  name.clear();
  if (!u.Host.empty() && u.Host != homeHost) {
    folder(std::string_view(kOtherHostsFolder));
    AppendEncoded(name, u.Host);
    MakeSafe(name, 0);
    folder(std::string_view(name));
  }
  // "x/.." has a document of ".." to the split, but a folder to everyone else.
  const bool dotDocument = u.Query.empty() && (u.Document == "." || u.Document == "..");
  std::vector<std::string_view>& folders = b.Folders;
  folders.clear();
  auto addSegment = [&](std::string_view seg) {
    if (seg.empty() || seg == ".") return;
    if (seg != "..") folders.push_back(seg);
    else if (!folders.empty()) folders.pop_back();
  };
  for (std::size_t start = 0; start < u.Path.size();) {
    const std::size_t slash = std::min(u.Path.find('/', start), u.Path.size());
    addSegment(u.Path.substr(start, slash - start));
    start = slash + 1;
  }
  if (dotDocument) addSegment(u.Document);
  for (const auto seg : folders) {
    name.clear();
    AppendEncoded(name, seg);
    // An encoded segment holds a "/" only where the segment had one.
    if (name.find('/') == std::string::npos) {
      MakeSafe(name, 0);
      folder(std::string_view(name));
      continue;
    }
    b.Encoded = name;
    for (std::size_t start = 0; start < b.Encoded.size();) {
      const std::size_t slash = std::min(b.Encoded.find('/', start), b.Encoded.size());
      if (slash > start) {
        name.assign(b.Encoded, start, slash - start);
        MakeSafe(name, 0);
        folder(std::string_view(name));
      }
      start = slash + 1;
    }
  }

  name.clear();
  if (!dotDocument && !(u.Document.empty() && u.Query.empty())) {
    std::string& document = b.Document;
    document.assign(u.Document).append(u.Query);
    if (!u.Query.empty() && !QueryNamesAnImage(url)) document += ".html";
    PageExtensions(document);
    AppendEncoded(name, document);
    // A "/" inside the query became another character; what is left of one
    // (from "//" or an odd split) must not open a folder.
    std::replace(name.begin(), name.end(), '/', '_');
  }
  if (name.empty()) {
    std::string directory;
    directory.append(u.Protocol).append(u.Host) += '/';
    for (const auto f : folders) directory.append(f) += '/';
    AppendEncoded(name, DefaultDocumentName(directory));
  }
  MakeSafe(name, 0);
}

}  // namespace

std::string LimitNameLength(const std::string& name) {
  if (name.size() <= kMaxName) return name;
  const auto dot = name.rfind('.');
  const std::string_view ext = dot == std::string::npos ? std::string_view() : std::string_view(name).substr(dot);
  std::string out = name.substr(0, Utf8Cut(name, 250));
  out += ext;
  if (out.size() > kMaxName) out.resize(Utf8Cut(out, kMaxName));
  return out;
}

std::string EncodeLocalName(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  AppendEncoded(out, text);
  return out;
}

std::string DefaultDocumentName(const std::string& url) {
  const std::string path = URLPath(url);
  if (!path.empty()) {
    const std::string trimmed = path.substr(0, path.size() - 1);
    return trimmed.substr(trimmed.rfind('/') == std::string::npos ? 0 : trimmed.rfind('/') + 1) + ".html";
  }
  const std::string host = URLHost(url);
  if (host.empty()) return "";
  const auto dot = host.rfind('.');
  return dot == std::string::npos ? "html" : host.substr(0, dot + 1) + "html";
}

std::string UpLevels(const std::string& path) {
  std::string out;
  for (char c : path)
    if (c == '/' || c == '\\') out += "../";
  return out;
}

std::string RelativeURL(const std::string& target, const std::string& base) {
  if (!target.empty() && target[0] == '/') return UpLevels(URLPath(base)) + target.substr(1);
  if (URLHost(target) != URLHost(base)) return target;
  std::string tp = URLPath(target), bp = URLPath(base);
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

std::string LocalFileName(const std::string& root, const std::string& base, const std::string& url,
                          const std::string& homeHost) {
  std::string file = root;
  const std::string home = homeHost.empty() ? URLHost(base) : homeHost;
  PlaceBuffers buffers;
  PlaceOf(url, home, [&](std::string_view f) { file.append(f) += '/'; }, buffers);
  return file + buffers.Name;
}

LocalLinker::LocalLinker(const std::string& base, const std::string& homeHost)
    : home_(homeHost.empty() ? URLHost(base) : homeHost), buffers_(std::make_unique<PlaceBuffers>()) {
  PlaceOf(URLDirectory(base), home_, [this](std::string_view f) { from_.emplace_back(f); }, *buffers_);
}

LocalLinker::~LocalLinker() = default;

void LocalLinker::AppendLink(std::string& link, std::string_view url, const URLParts* split) const {
  // The target's folders are met one by one: those it shares with the
  // page's own are skipped, and the first other one fixes how far up the
  // link climbs before it goes down again.
  std::size_t index = 0;
  bool parted = false;
  auto climb = [&] {
    for (std::size_t i = index; i < from_.size(); ++i) link += "../";
    parted = true;
  };
  PlaceOf(url, home_, [&](std::string_view f) {
    if (!parted && index < from_.size() && from_[index] == f) {
      ++index;
      return;
    }
    if (!parted) climb();
    AppendEscaped(link, f);
    link += '/';
  }, *buffers_, split);
  if (!parted) climb();
  AppendEscaped(link, buffers_->Name);
}

std::string LocalLinker::Link(const std::string& url) const {
  std::string link;
  AppendLink(link, url);
  return link;
}

std::string LocalLink(const std::string& url, const std::string& base, const std::string& homeHost) {
  return LocalLinker(base, homeHost).Link(url);
}

std::string EscapeLinkPath(const std::string& path) {
  std::string out;
  out.reserve(path.size() + 16);
  AppendEscaped(out, path);
  return out;
}

std::string UniqueFileName(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return path;
  const fs::path p(path);
  const std::string stem = p.stem().string(), ext = p.extension().string();
  const std::string folder = p.has_parent_path() ? p.parent_path().string() + "/" : "";
  for (int n = 0;; ++n) {
    const std::string candidate = folder + stem + "(" + std::to_string(n) + ")" + ext;
    if (!fs::exists(candidate, ec)) return candidate;
  }
}

std::string FileNameWithoutExt(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ReplaceIllegalChars(const std::string& text, char replacement) {
  std::string out = text;
  for (auto& c : out)
    if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = replacement;
  return out;
}

std::string SlashesToBackslashes(const std::string& text) {
  std::string out = text;
  for (auto& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string BackslashesToSlashes(const std::string& text) {
  std::string out = text;
  for (auto& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool CopyFileCreatingFolder(const std::string& source, const std::string& destination) {
  std::error_code ec;
  const fs::path dest(destination);
  if (dest.has_parent_path()) fs::create_directories(dest.parent_path(), ec);
  return fs::copy_file(source, dest, fs::copy_options::overwrite_existing, ec) && !ec;
}
