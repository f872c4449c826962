#include "url/textutil.h"

#include <algorithm>
#include <cstring>

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
bool Blank(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string LowerCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Upper);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Eight bytes at a time; words spelt alike, the usual case, are passed
  // without folding.
  std::size_t i = 0;
  for (; i + 8 <= a.size(); i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y && LowerAsciiWord(x) != LowerAsciiWord(y)) return false;
  }
  for (; i < a.size(); ++i)
    if (a[i] != b[i] && Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsText(std::string_view prefix, std::string_view text) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view text) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view TrimView(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && Blank(text[b])) ++b;
  while (e > b && Blank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

namespace {
bool SameLetter(char x, char y) { return Lower(x) == Lower(y); }

bool MatchesAt(std::string_view text, std::size_t at, std::string_view pattern) {
  for (std::size_t k = 0; k < pattern.size(); ++k)
    if (pattern[k] != '?' && !SameLetter(text[at + k], pattern[k])) return false;
  return true;
}

// Length of the well-formed UTF-8 multi-byte character that starts at
// text[at], or 0. The narrowed second-byte ranges keep overlong forms and
// surrogates out, so a Latin-1 text is not mistaken for UTF-8 too easily.
std::size_t Utf8CharLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[at + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}
}  // namespace

std::size_t ContainsTextAt(std::string_view text, std::string_view pattern, std::size_t start) {
  // An empty pattern finds nothing, as a search for "" did in the old files.
  if (pattern.empty() || pattern.size() > text.size()) return 0;
  const std::size_t last = text.size() - pattern.size();
  std::size_t at = start == 0 ? 0 : start - 1;
  if (pattern[0] == '?') {
    for (; at <= last; ++at)
      if (MatchesAt(text, at, pattern)) return at + 1;
    return 0;
  }
  // Only where the first character matches, in either case, is the rest
  // compared: the scan passes every other byte with two comparisons.
  const char lower = Lower(pattern[0]), upper = Upper(lower);
  for (; at <= last; ++at) {
    const char c = text[at];
    if ((c == lower || c == upper) && MatchesAt(text, at, pattern)) return at + 1;
  }
  return 0;
}

bool ContainsText(std::string_view text, std::string_view pattern) { return ContainsTextAt(text, pattern) != 0; }

std::string ReplaceText(std::string_view text, std::string_view find, std::string_view replacement, bool all) {
  if (find.empty()) return std::string(text);
  // Searching the original text, never the output, is what keeps a
  // replacement that contains the find text from being replaced again.
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

bool IsSeparatorByteAt(std::string_view text, std::size_t i) {
  if (i >= text.size() || static_cast<unsigned char>(text[i]) != 0xB6) return false;
  for (std::size_t back = 1; back <= 3 && back <= i; ++back)
    if (Utf8CharLength(text, i - back) > back) return false;
  return true;
}

std::string CleanText(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r' || c == '\t' || IsSeparatorByteAt(text, i)) continue;
    kept += c;
  }
  return Trim(kept);
}
