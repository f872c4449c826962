#include "url/textutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ContainsTextTest, FindsThePatternIgnoringCaseWithQuestionMarkAsAnyCharacter) {
  struct Case { const char* name; std::string text, pattern; std::size_t start, expected; } cases[] = {
      {"wildcard and case", "Hello", "h?l", 1, 1},
      {"position from one", "Hello", "L", 1, 3},
      {"start on the match", "Hello", "l", 4, 4},
      {"start behind the last match", "Hello", "l", 5, 0},
      {"match at the very end", "Hello", "O", 5, 5},
      {"later match after start", "abcabc", "ABC", 2, 4},
      {"start zero counts as one", "Hello", "h", 0, 1},
      {"start beyond the text", "x", "x", 100, 0},
      {"pattern longer than text", "Hi", "Hello", 1, 0},
      {"only wildcards", "abc", "???", 1, 1},
      {"wildcards longer than text", "abc", "????", 1, 0},
      {"wildcard does not match a missing character", "abc", "c?", 1, 0},
      {"empty pattern finds nothing", "Hello", "", 1, 0},
      {"only A to Z fold", "a@[", "A`{", 1, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ContainsTextAt(c.text, c.pattern, c.start), c.expected) << c.name;
}

TEST(ContainsTextTest, AnswersWhetherThereIsAnyMatch) {
  struct Case { std::string text, pattern; bool expected; } cases[] = {
      {"Hello", "h?l", true},
      {"Hello", "hx", false},
      {"HTTP://h/", "http://", true},
      {"abc", "a?d", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ContainsText(c.text, c.pattern), c.expected) << c.text << " / " << c.pattern;
}

TEST(ReplaceTextTest, ReplacesIgnoringCaseAndNeverSearchesTheReplacement) {
  struct Case { const char* name; std::string text, find, replacement; bool all; std::string expected; } cases[] = {
      {"every occurrence", "aXbxc", "x", "-", true, "a-b-c"},
      {"first occurrence only", "aXbxc", "x", "-", false, "a-bxc"},
      {"replacement holds the find text", "aaa", "a", "aa", true, "aaaaaa"},
      {"replacement holds it in another case", "abAB", "ab", "xABy", true, "xAByxABy"},
      {"occurrences do not overlap", "aaaa", "aa", "b", true, "bb"},
      {"the rest keeps its case", "Path/One", "one", "Two", true, "Path/Two"},
      {"entity in any case", "a&AMP;b&amp;c", "&amp;", "&", true, "a&b&c"},
      {"no occurrence", "MiXeD", "xyz", "q", true, "MiXeD"},
      {"empty find replaces nothing", "Hello", "", "x", true, "Hello"},
      {"question mark is literal here", "a?c", "?", "!", true, "a!c"},
      {"question mark is no wildcard here", "abc", "?", "!", true, "abc"},
      {"replacement at both ends", "xax", "X", "", true, "a"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceText(c.text, c.find, c.replacement, c.all), c.expected) << c.name;
}

TEST(CleanTextTest, DropsLineBreaksTabsAndLoneSeparatorsThenTrims) {
  struct Case { const char* name; std::string text, expected; } cases[] = {
      {"breaks, tabs, separator and blanks", "\t a\r\nb \xB6", "ab"},
      {"UTF-8 o-umlaut holds the byte B6", "sch\xC3\xB6n", "sch\xC3\xB6n"},
      {"separator between fields", "a\xB6" "b", "ab"},
      {"separator right behind a UTF-8 character", "\xC3\xB6\xB6", "\xC3\xB6"},
      {"a tab splits a character: the byte is alone", "\xC3\t\xB6", "\xC3"},
      {"control characters at both ends", " \x01x\x1F ", "x"},
      {"inner blanks stay", "a b", "a b"},
      {"only blanks", " \t\r\n ", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CleanText(c.text), c.expected) << c.name;
}

TEST(CleanTextTest, SeparatorByteIsOneNotInsideAValidUtf8Character) {
  struct Case { const char* name; std::string text; std::size_t i; bool expected; } cases[] = {
      {"alone", "\xB6", 0, true},
      {"after ASCII", "a\xB6", 1, true},
      {"second byte of a two-byte character", "\xC3\xB6", 1, false},
      {"behind a complete two-byte character", "\xC3\xB6\xB6", 2, true},
      {"third byte of a three-byte character", "\xE2\x80\xB6", 2, false},
      {"fourth byte of a four-byte character", "\xF0\x9F\x98\xB6", 3, false},
      {"second byte of a four-byte character", "\xF0\xB6\x98\x80", 1, false},
      {"three-byte lead cut short", "\xE4\xB6", 1, true},
      {"Latin-1 letter before it", "caf\xE9\xB6x", 4, true},
      {"surrogate range is not UTF-8", "\xED\xB6\x80", 1, true},
      {"above U+10FFFF is not UTF-8", "\xF4\xB6\x80\x80", 1, true},
      {"overlong lead is not UTF-8", "\xC1\xB6", 1, true},
      {"a continuation byte is no lead", "\x80\xB6", 1, true},
      {"another byte", "\xC3\xB6", 0, false},
      {"beyond the text", "\xB6", 1, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSeparatorByteAt(c.text, c.i), c.expected) << c.name;
}

// Letter case folds for "A" to "Z" only, eight bytes at a time and in the
// tail: every byte of every length is tried against its other case and
// against the byte 32 away that is no letter's other case.
TEST(SameTextTest, FoldsAsciiLettersOnlyAtEveryPlace) {
  const std::string base = "http://www.Example.COM/a/B/page_01.HTML";
  for (std::size_t length = 0; length <= base.size(); ++length) {
    const std::string text = base.substr(0, length);
    std::string other = text;
    for (auto& c : other) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    EXPECT_TRUE(SameText(text, other)) << text;
    for (std::size_t at = 0; at < length; ++at) {
      std::string changed = text;
      changed[at] = changed[at] == 'x' ? 'y' : 'x';
      EXPECT_FALSE(SameText(text, changed)) << text << " at " << at;
    }
  }
  const std::pair<std::string, std::string> apart[] = {
      {"@", "`"}, {"[", "{"}, {"abcdefgh@", "ABCDEFGH`"}, {"12345678]", "12345678}"}, {"\xC0\xC9\xD0", "\xE0\xE9\xF0"},
      {"page.html", "page.htm"}, {"abcdefgh\xC0", "ABCDEFGH\xE0"}};
  for (const auto& [a, b] : apart) EXPECT_FALSE(SameText(a, b)) << a;
  EXPECT_TRUE(SameText("\xC0" "abcdefgh\xE9", "\xC0" "ABCDEFGH\xE9"));
}

}  // namespace
