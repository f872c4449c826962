#pragma once
// Where an item's URL lives on disk below its task's output folder, and the
// relative link a saved page uses to reach it. Both come from one mapping,
// so a converted link always lands on the file the engine wrote:
//   - the URL's path, with dot segments removed (never above the root) and
//     encoded by EncodeLocalName, gives the folders;
//   - the document (with query) gives the file name, or DefaultDocumentName
//     for a directory URL;
//   - items of a host other than the task's home host lie below
//     "_hosts/<host>/" in the output folder.
// Paths use "/"; links are URL-escaped, so any browser reaches the file.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kOtherHostsFolder = "_hosts";

// Full local path: the root (ending in "/") followed by the mapping. An
// empty home host means the host of the base.
std::string LocalFileName(const std::string& root, const std::string& base, const std::string& url,
                          const std::string& homeHost = "");
// Relative, URL-escaped link from a page whose directory URL is base to the
// local file of url.
std::string LocalLink(const std::string& url, const std::string& base, const std::string& homeHost = "");
// LocalLink for many links of one page: the page's own folder is worked out
// once.
struct PlaceBuffers;
struct URLParts;
class LocalLinker {
 public:
  LocalLinker(const std::string& base, const std::string& homeHost = "");
  ~LocalLinker();
  std::string Link(const std::string& url) const;
  // The link appended to link. One linker serves one thread: it works in
  // buffers of its own, kept from link to link. split, when given, is
  // SplitURLView of a text equal to url (which then has "/" only).
  void AppendLink(std::string& link, std::string_view url, const URLParts* split = nullptr) const;

 private:
  std::string home_;
  std::vector<std::string> from_;
  std::unique_ptr<PlaceBuffers> buffers_;
};
std::string RelativeURL(const std::string& target, const std::string& base);
std::string UpLevels(const std::string& path);
std::string EncodeLocalName(const std::string& text);
std::string DefaultDocumentName(const std::string& url);
std::string UniqueFileName(const std::string& path);
std::string FileNameWithoutExt(const std::string& path);
std::string ReplaceIllegalChars(const std::string& text, char replacement);
std::string SlashesToBackslashes(const std::string& text);
std::string BackslashesToSlashes(const std::string& text);
bool CopyFileCreatingFolder(const std::string& source, const std::string& destination);
// Percent-escapes what a relative URL may not carry as it is.
std::string EscapeLinkPath(const std::string& path);
// Keeps a file or folder name within the 255 bytes Linux allows: the first
// 250 bytes (cut at a UTF-8 boundary) and the extension.
std::string LimitNameLength(const std::string& name);
