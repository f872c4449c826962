#pragma once
// Finds link values in the text of an HTML page without building a tree:
// either the value of one attribute in every tag of one name (tag mode), or
// every string between a pair of quote characters that looks like a link
// (quoted-string mode). It remembers where the value lies and can replace it
// in place, so one object both extracts and rewrites. One object serves one
// pass over one text. Positions count characters from 1 (0: none).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class CharIndex;

class THXParser {
 public:
  std::string Text;
  // The marks of Text's tag and quote characters, when the owner has them:
  // searches for those read the index instead of the text. Any rewrite of
  // the text drops it.
  const CharIndex* Index = nullptr;
  std::string TagName;   // tag mode: the tag sought; quoted mode: the opening quote
  std::string TagEnd;    // tag mode: ">"; quoted mode: the closing quote
  std::string AttrName;  // tag mode: the attribute sought; empty in quoted mode
  std::size_t Pos = 1;
  std::size_t TagClose = 0;
  std::size_t TagStart = 0;
  std::size_t TagLimit = 0;
  std::size_t AttrPos = 0;
  std::string LastValue;
  std::size_t ValueStart = 0;
  std::size_t ValueEnd = 0;
  // 0 tag mode; 1 quoted strings inside SCRIPT elements only; 2 anywhere.
  std::uint8_t Mode = 0;

  // Where the last "<script" before the current value lies: a forward scan
  // that goes on from where the previous value left it keeps the SCRIPT test
  // of mode 1 linear in the page size.
  std::size_t ScriptScannedTo = 1;
  std::size_t LastScriptOpen = 0;
  // Where the SCRIPT element opened at ScriptCloseFor closes: every string
  // after one script asks the same, and without a closing tag the search
  // would run to the page's end for each. A rewrite forgets it.
  std::size_t ScriptCloseFor = 0;
  std::size_t ScriptCloseStart = 0;
  // The first ">" (and "<") at or after From, At 0 when there is none; From
  // 0: not searched. Every string of one tag asks for the same ">", and the
  // SCRIPT test passes each "<" once.
  struct NextFind {
    std::size_t From = 0;
    std::size_t At = 0;
  };
  NextFind NextGt, NextLt;
  // The ">" of the "<script" at ScriptOpenFor.
  std::size_t ScriptOpenFor = 0;
  std::size_t ScriptOpenEnd = 0;
  // Forgets what was found in the text, which the caller has rewritten.
  void TextReplaced();

  std::string NextLink();
  std::string NextTagValue();
  std::string NextQuotedValue();
  void ReplaceValue(const std::string& text);
  std::string LinkText() const;
};

// THXParser's tag-mode rules asked tag by tag of a text that is not
// rewritten meanwhile, so that one walk over a page can serve every row of
// the link table at once. Positions count from 1, as THXParser's do.

// Longest tag name TagNameIndex compares.
inline constexpr std::size_t kMaxTagName = 15;

// Index in names (upper case, at most kMaxTagName characters) of the name
// of the tag whose "<" is at lt, compared the way THXParser's tag search
// compares it; -1 when none.
int TagNameIndex(std::string_view text, std::size_t lt, std::span<const std::string_view> names);

// The characters that may follow the "<" of a tag whose name TagNameIndex
// can find among names: the blanks and quotes it skips, and each name's
// first letter in either case. Any other one rules the tag out at once; a
// page's tags are mostly such ones ("</p>", "<div", "<td").
// What ends a tag's name, and (but the tab) what the tag search skips
// before it.
inline constexpr std::string_view kTagNameStops = "\t\n\r \"'=";

class TagStartSet {
 public:
  constexpr explicit TagStartSet(std::span<const std::string_view> names) {
    for (const char c : kTagNameStops) in_[static_cast<unsigned char>(c)] = true;
    for (const std::string_view name : names) {
      if (name.empty()) continue;
      const char c = name[0];
      in_[static_cast<unsigned char>(c)] = true;
      if (c >= 'A' && c <= 'Z') in_[static_cast<unsigned char>(c + 32)] = true;
    }
  }
  // lt: the position (from 1) of the "<", as TagNameIndex takes it.
  constexpr bool MayMatch(std::string_view text, std::size_t lt) const {
    return lt < text.size() && in_[static_cast<unsigned char>(text[lt])];
  }

 private:
  bool in_[256] = {};
};

struct TagValue {
  std::size_t ValueStart = 0;
  std::string_view Value;  // empty: none, or refused
};

// What NextTagValue yields for the tag at tagStart whose first ">" is at
// tagClose (0: none): the same value, at the same place.
TagValue TagValueAt(std::string_view text, std::size_t tagStart, std::size_t tagClose, std::string_view attr);

// LinkText of the tag at tagStart (0: the text before the first tag).
std::string TagLinkText(std::string_view text, std::size_t tagStart);
