#pragma once
// The file-type table: named groups of extensions kept in the settings store
// under "File Types", one string value per group (".htm;.html;"). The group
// "HTML" holds the pages; every other group, and "Unknown", is media. The
// table is cached and rebuilt after any change to the store, so an edit
// applies to the next lookup.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "url/tbwurl.h"

inline constexpr const char* kPageType = "HTML";
inline constexpr const char* kUnknownType = "Unknown";

struct FileTypeGroup {
  std::string Name;
  std::string Extensions;  // each with its dot and followed by ";"
};

// In the order the store enumerates them.
std::vector<FileTypeGroup> ReadFileTypes();
std::string FileTypeOfUrl(const std::string& url);
// FileTypeOfUrl for a URL already split ("/" only in the split text).
std::string FileTypeOfParts(std::string_view url, const URLParts& parts);
std::string FileTypeOfFile(const std::string& fileName);
// Creates or replaces a group; ";" is appended when the text lacks one.
void WriteFileTypeGroup(const std::string& name, const std::string& extensions);
void DeleteFileTypeGroup(const std::string& name);
// Removes one extension's entry (the extension and the ";" after it).
void RemoveFileTypeExtension(const std::string& group, const std::string& extension);
