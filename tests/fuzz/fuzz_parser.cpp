// Saved pages come from any server, so the tag scanner must walk any bytes:
// every pass the parse pass runs (tag scans, script strings, strings
// anywhere) must end, never read outside the text, and every value it
// reports must stand where it says, so that rewriting it changes only it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzzsupport.h"
#include "parse/charindex.h"
#include "parse/thxparser.h"

namespace {

struct PassKind {
  const char* tag;
  const char* end;
  const char* attr;
  std::uint8_t mode;
};

constexpr PassKind kPasses[] = {
    {"A", ">", "HREF", 0},   {"IMG", ">", "SRC", 0}, {"SCRIPT", ">", "SRC", 0}, {"BASE", ">", "HREF", 0},
    {"APPLET", ">", "CODE", 0}, {"'", "'", "", 1},   {"\"", "\"", "", 1},       {"'", "'", "", 2},
    {"\"", "\"", "", 2},
};

enum class Rewrite { None, Longer, Shorter, Emptied, Fuzzed };

std::string Replacement(Rewrite rewrite, const std::string& value, const std::string& fuzzed) {
  switch (rewrite) {
    case Rewrite::Longer: return "../" + value;
    case Rewrite::Shorter: return value.substr(0, value.size() / 2);
    case Rewrite::Emptied: return {};
    case Rewrite::Fuzzed: return fuzzed;
    case Rewrite::None: break;
  }
  return value;
}

// Each call that lets the pass go on consumes one "<" or one opening quote
// of the original text, and a rewrite is never searched again, so a pass
// takes at most one call per original character plus the last one.
// The pass's trail: every value and the places the scanner reports with it.
std::string RunPass(const std::string& text, const PassKind& kind, Rewrite rewrite, const std::string& fuzzed,
                    const CharIndex* index = nullptr) {
  std::string trail;
  THXParser s;
  s.Index = index;
  s.Text = text;
  s.TagName = kind.tag;
  s.TagEnd = kind.end;
  s.AttrName = kind.attr;
  s.Mode = kind.mode;
  s.Pos = 1;
  s.TagClose = 0;
  std::size_t calls = 0;
  do {
    Require(++calls <= text.size() + 1, "a pass took more calls than the text has characters");
    const std::string value = s.NextLink();
    s.LinkText();
    trail += value + '\0' + std::to_string(s.Pos) + ',' + std::to_string(s.TagClose) + '\0';
    if (value.empty()) continue;
    Require(s.ValueStart >= 1 && s.ValueStart - 1 + value.size() <= s.Text.size(), "a value outside the text");
    Require(s.Text.compare(s.ValueStart - 1, value.size(), value) == 0, "a value not where the scanner says");
    if (rewrite == Rewrite::None) continue;
    const std::string replacement = Replacement(rewrite, value, fuzzed);
    const std::string before = s.Text;
    s.ReplaceValue(replacement);
    Require(s.Text == before.substr(0, s.ValueStart - 1) + replacement +
                          before.substr(s.ValueStart - 1 + value.size()),
            "a rewrite changed more than the value");
    Require(s.TagClose >= s.ValueStart + replacement.size(), "the next search would start inside the rewrite");
  } while (s.TagClose != 0 && s.Pos != 0);
  return trail + s.Text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string fuzzed = in.ConsumeRandomLengthString(16);
  const std::string text = in.ConsumeRemainingBytesAsString();
  // The page's character index only speeds the searches up: a pass with it
  // must leave the same trail as one without.
  CharIndex index;
  index.Build(text);
  for (const PassKind& kind : kPasses)
    for (Rewrite rewrite : {Rewrite::None, Rewrite::Longer, Rewrite::Shorter, Rewrite::Emptied, Rewrite::Fuzzed})
      Require(RunPass(text, kind, rewrite, fuzzed) == RunPass(text, kind, rewrite, fuzzed, &index),
              "the character index changed a pass");
  return 0;
}
