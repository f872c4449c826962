#pragma once
// URL text split into its parts, and the rules that turn a typed address or
// a link found in a page into the absolute URL the engine stores. Every rule
// works on the plain 8-bit text: nothing is percent-decoded or case-folded
// except where a function says so. Pure functions, main thread or not.
#include <string>
#include <string_view>

class TbwURL {
 public:
  std::string URL, Protocol, Host, Port, Path, Document, Extension, Query, Anchor;
  // Stores the text in URL and splits it; never fails.
  void SetURL(const std::string& url);
};

// The same split as views into the text, for the paths that run once per
// link and read a field or two. The text must use "/" only; Path is the
// stored field without the "/" that SetURL appends when PathSlash is set.
struct URLParts {
  std::string_view Protocol, Host, Port, Path, Document, Extension, Query, Anchor;
  bool PathSlash = false;
};
URLParts SplitURLView(std::string_view url);

std::string URLProtocol(const std::string& url);
// The scheme as URLProtocol reads it, without "://" ("http"), as a view
// into the text; empty when there is none.
std::string_view URLScheme(std::string_view url);
std::string URLHost(const std::string& url);
std::string URLPath(const std::string& url);
std::string URLQuery(const std::string& url);
std::string URLAnchor(const std::string& url);
// Document followed by Query.
std::string URLDocument(const std::string& url);
// Lower-case extension for type tests; ".html" for any URL with a "?".
std::string URLExtension(const std::string& url);
std::string URLSiteName(const std::string& url);
// True when the address is usable; the text is updated in place.
bool NormalizeURL(std::string& url);
// NormalizeURL that also leaves the split of the final text in split (its
// views point into url), when the address is usable.
bool NormalizeURL(std::string& url, URLParts* split);
std::string URLDirectory(const std::string& url);
std::string URLUp(const std::string& url, int levels);
// URLUp as a view into the text: the folder is always a prefix of it.
std::string_view URLUpView(std::string_view url, int levels);
std::string ResolveURL(const std::string& link, const std::string& baseDirectory);
// ResolveURL then NormalizeURL; empty when the result is refused.
std::string ResolveLink(const std::string& link, const std::string& baseDirectory);
// ResolveLink written over url, whose capacity is kept (the parse pass
// resolves every value of every page); false and url empty when refused.
// url must not share text with link or baseDirectory.
// With split, the split of the result is left there as NormalizeURL leaves
// it.
bool ResolveLinkInto(std::string& url, std::string_view link, std::string_view baseDirectory,
                     URLParts* split = nullptr);
std::string StripAnchor(const std::string& url);
bool IsAbsoluteURL(const std::string& link);
// NormalizeURL plus the http/https check; shows the error box through the
// front end and returns false when the address cannot start a task.
bool ValidateStartURL(std::string& url);
