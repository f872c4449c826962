#pragma once
// Byte-wise text helpers. Letter case is folded for ASCII only: names,
// keys and extensions are compared the way the stored files expect,
// independently of the user's locale.
#include <string>
#include <string_view>

std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);
bool EndsText(std::string_view suffix, std::string_view text);
// Removes the characters with codes 0 to 32 at both ends.
std::string Trim(std::string_view text);

struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
