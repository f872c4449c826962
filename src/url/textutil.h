#pragma once
// Byte-wise text helpers. Letter case is folded for ASCII only: names,
// keys and extensions are compared the way the stored files expect,
// independently of the user's locale.
#include <cstdint>
#include <string>
#include <string_view>

// The eight bytes of a word with "A" to "Z" made lower case, the others as
// they were: case folding eight bytes at a time.
constexpr std::uint64_t LowerAsciiWord(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  const std::uint64_t low7 = x & ~kHigh;
  const std::uint64_t fromA = low7 + (0x80 - 'A') * kOnes;      // high bit: at least "A"
  const std::uint64_t pastZ = low7 + (0x80 - 'Z' - 1) * kOnes;  // high bit: beyond "Z"
  return x | (((fromA ^ pastZ) & ~x & kHigh) >> 2);
}

std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);
bool EndsText(std::string_view suffix, std::string_view text);
// Removes the characters with codes 0 to 32 at both ends.
std::string Trim(std::string_view text);
// Trim as a view into the text.
std::string_view TrimView(std::string_view text);

struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// Position (from 1) of the first match of the pattern in the text at or
// after position start, ignoring case, where "?" in the pattern matches any
// one character; 0 when there is none.
std::size_t ContainsTextAt(std::string_view text, std::string_view pattern, std::size_t start = 1);
bool ContainsText(std::string_view text, std::string_view pattern);
// Replaces the first (or every) occurrence ignoring case; replaced text is
// never searched again.
std::string ReplaceText(std::string_view text, std::string_view find, std::string_view replacement, bool all);
// Deletes line feeds, carriage returns, tabs and the separator byte 0xB6
// (only where it is not part of a UTF-8 character), then trims blanks and
// control characters at both ends.
std::string CleanText(std::string_view text);
// True when text[i] is the byte 0xB6 standing on its own (the field
// separator of old downloads files), not inside a valid UTF-8 character.
bool IsSeparatorByteAt(std::string_view text, std::size_t i);
