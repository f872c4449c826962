#include "url/localfile.h"

#include <filesystem>
#include <vector>

#include "url/tbwurl.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kInvertedExclamation = "\xC2\xA1";  // stands for "/" in a query
constexpr const char* kInvertedQuestion = "\xC2\xBF";     // stands for "?"
constexpr const char* kBrokenBar = "\xC2\xA6";            // stands for ":" and "|"
constexpr const char* kDegree = "\xC2\xB0";               // stands for "*"
constexpr std::size_t kMaxName = 255;

using Segments = std::vector<std::string>;

Segments SplitPath(const std::string& path) {
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

// Dot segments go, and ".." never climbs above the root.
Segments RemoveDotSegments(const Segments& in) {
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

// "." and ".." name folders on every file system; as a local name they
// would leave the folder they stand in.
std::string SafeName(std::string name) {
  if (name == "." || name == "..") name = std::string(1, '_').append(name);
  return LimitNameLength(name);
}

// True when a query URL names an image that the server sends as itself.
bool QueryNamesAnImage(const std::string& url) {
  for (const char* hint : {"=gif", "=jpg", ".gif", ".jpg"})
    if (url.find(hint) != std::string::npos) return true;
  return false;
}

std::string PageExtensions(std::string name) {
  for (const char* ext : {".asp", ".shtml", ".phtml", ".sml"})
    if (LowerCase(name).find(ext) != std::string::npos) name = ReplaceText(name, ext, ".html", false);
  return name;
}

// Where a URL lies below the output folder: its folders and its file name,
// as file-name text. Every local name and every link comes from here.
struct LocalPlace {
  Segments Folders;
  std::string Name;
};

LocalPlace PlaceOf(const std::string& url, const std::string& homeHost) {
  TbwURL u;
  u.SetURL(url);
  LocalPlace place;
  if (!u.Host.empty() && u.Host != homeHost) {
    place.Folders.push_back(kOtherHostsFolder);
    place.Folders.push_back(SafeName(EncodeLocalName(u.Host)));
  }
  std::string path = u.Path;
  // "x/.." has a document of ".." to the split, but a folder to everyone else.
  const bool dotDocument = u.Query.empty() && (u.Document == "." || u.Document == "..");
  if (dotDocument) path += u.Document + "/";
  const Segments folders = RemoveDotSegments(SplitPath(path));
  for (const auto& seg : folders)
    for (const auto& part : SplitPath(EncodeLocalName(seg))) place.Folders.push_back(SafeName(part));

  std::string document = dotDocument ? std::string() : URLDocument(url);
  if (!document.empty() && !u.Query.empty() && !QueryNamesAnImage(url)) document += ".html";
  std::string name = EncodeLocalName(PageExtensions(document));
  // A "/" inside the query became another character; what is left of one
  // (from "//" or an odd split) must not open a folder.
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

std::string Join(const Segments& segs, std::size_t from = 0) {
  std::string out;
  for (std::size_t i = from; i < segs.size(); ++i) out += segs[i] + "/";
  return out;
}

std::size_t Utf8Cut(const std::string& s, std::size_t limit) {
  if (limit >= s.size()) return s.size();
  while (limit > 0 && (static_cast<unsigned char>(s[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

}  // namespace

std::string LimitNameLength(const std::string& name) {
  if (name.size() <= kMaxName) return name;
  const auto dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::string out = name.substr(0, Utf8Cut(name, 250)) + ext;
  if (out.size() > kMaxName) out.resize(Utf8Cut(out, kMaxName));
  return out;
}

std::string EncodeLocalName(const std::string& text) {
  std::string s = text;
  if (const auto q = s.find('?'); q != std::string::npos) {
    std::string tail = ReplaceText(s.substr(q), "/", kInvertedExclamation, true);
    s = s.substr(0, q) + ReplaceText(tail, "?", kInvertedQuestion, true);
  }
  s = ReplaceText(s, "%20", " ", true);
  s = ReplaceText(s, "&amp;", "&", true);
  s = ReplaceText(s, "%3A", kBrokenBar, true);
  s = ReplaceText(s, "|", kBrokenBar, true);
  s = ReplaceText(s, "*", kDegree, true);
  s = ReplaceText(s, ":", kBrokenBar, true);
  return ReplaceText(s, "//", "/", true);
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
  const LocalPlace place = PlaceOf(url, homeHost.empty() ? URLHost(base) : homeHost);
  return root + Join(place.Folders) + place.Name;
}

LocalLinker::LocalLinker(const std::string& base, const std::string& homeHost)
    : home_(homeHost.empty() ? URLHost(base) : homeHost), from_(PlaceOf(URLDirectory(base), home_).Folders) {}

std::string LocalLinker::Link(const std::string& url) const {
  const LocalPlace target = PlaceOf(url, home_);
  std::size_t common = 0;
  while (common < target.Folders.size() && common < from_.size() && target.Folders[common] == from_[common]) ++common;
  std::string link;
  for (std::size_t i = common; i < from_.size(); ++i) link += "../";
  link += Join(target.Folders, common) + target.Name;
  return EscapeLinkPath(link);
}

std::string LocalLink(const std::string& url, const std::string& base, const std::string& homeHost) {
  return LocalLinker(base, homeHost).Link(url);
}

std::string EscapeLinkPath(const std::string& path) {
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
