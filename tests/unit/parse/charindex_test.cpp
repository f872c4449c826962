#include "parse/charindex.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

namespace {

// Every search from every place must give what a search of the text gives,
// across the 64-byte blocks the index is made of and in the short last one.
TEST(CharIndexTest, NextMatchesASearchOfTheText) {
  std::mt19937 rng(11);
  const std::string alphabet = "<>\"'ab =\n\xB6";
  std::vector<std::string> texts = {"", "<", "a", std::string(63, 'x') + "<", std::string(64, 'x') + ">",
                                    std::string(65, '"'), std::string(200, 'a')};
  for (const std::size_t size : {1, 63, 64, 65, 127, 128, 129, 1000}) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += alphabet[rng() % alphabet.size()];
    texts.push_back(text);
  }
  CharIndex index;
  for (const std::string& text : texts) {
    index.Build(text);
    ASSERT_EQ(index.Size(), text.size());
    for (const char c : {'<', '>', '"', '\''})
      for (std::size_t at = 0; at <= text.size() + 1; ++at)
        ASSERT_EQ(index.Next(c, at), std::string_view(text).find(c, at)) << text.size() << " " << c << " " << at;
  }
}

// Every "<script" in any letter case, and nothing else; one cut short at
// the text's end is none.
TEST(CharIndexTest, ScriptOpensAreEveryScriptTag) {
  std::mt19937 rng(12);
  const std::string pieces[] = {"<script", "<SCRIPT", "<ScRiPt>", "<scrip", "< script", "<<script", "x", "<",
                                "script", std::string(60, 'a')};
  CharIndex index;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 0, n = static_cast<int>(rng() % 12); i < n; ++i) text += pieces[rng() % std::size(pieces)];
    std::vector<std::size_t> expected;
    for (std::size_t at = 0; at + 7 <= text.size(); ++at) {
      std::string seven = text.substr(at, 7);
      for (auto& c : seven) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (seven == "<script") expected.push_back(at);
    }
    index.Build(text);
    EXPECT_EQ(index.ScriptOpens(text), expected) << text;
  }
}

// An index kept from a longer text describes the shorter one only.
TEST(CharIndexTest, ARebuildForgetsTheLongerText) {
  CharIndex index;
  index.Build(std::string(300, '<'));
  index.Build("ab<");
  EXPECT_EQ(index.Next('<', 0), 2u);
  EXPECT_EQ(index.Next('<', 3), CharIndex::npos);
  EXPECT_EQ(index.Next('<', 100), CharIndex::npos);
  const std::string longer = "<script>" + std::string(100, ' ');
  index.Build(longer);
  EXPECT_EQ(index.ScriptOpens(longer).size(), 1u);
  index.Build("<scr");
  EXPECT_TRUE(index.ScriptOpens("<scr").empty());
}

}  // namespace
