#include "parse/thxparser.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

#include "parse/charindex.h"
#include "url/textutil.h"

namespace {

constexpr std::string_view kNameStops = kTagNameStops;
constexpr std::string_view kNameLead = "\n\r \"'=";
constexpr std::string_view kAfterAttrName = " \"'=";
constexpr std::string_view kValueLead = "\n\r \"'=\\";
constexpr std::string_view kUnquotedStops = " \"'>";
constexpr std::string_view kScriptOpen = "<script";

// A table per character set: these tests run for every character of every
// tag name and attribute lead, where a search of the set costs a call each.
struct CharSet {
  bool In[256] = {};
  constexpr explicit CharSet(std::string_view set) {
    for (const char c : set) In[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool Has(char c) const { return In[static_cast<unsigned char>(c)]; }
};

constexpr CharSet kNameStopSet(kNameStops);
constexpr CharSet kNameLeadSet(kNameLead);
constexpr CharSet kAfterAttrNameSet(kAfterAttrName);
constexpr CharSet kValueLeadSet(kValueLead);
constexpr CharSet kUnquotedStopSet(kUnquotedStops);

// Outside the text (position 0 or beyond the end) there is no character, so
// no set ever holds one there and no loop runs off the end.
bool IsOneOf(std::string_view text, std::size_t p, const CharSet& set) {
  return p >= 1 && p <= text.size() && set.Has(text[p - 1]);
}

// Exact search from position start. A search from 0 finds nothing: a tag or
// quote that was not found has no closing text either.
std::size_t FindAt(std::string_view text, std::string_view what, std::size_t start) {
  if (start == 0 || start > text.size() || what.empty()) return 0;
  const std::size_t at = text.find(what, start - 1);
  return at == std::string_view::npos ? 0 : at + 1;
}

// FindAt for one character, through the parser's index when it has one
// for this text.
std::size_t FindCharAt(const THXParser& s, char c, std::size_t start) {
  if (start == 0 || start > s.Text.size()) return 0;
  if (s.Index && s.Index->Size() == s.Text.size() && CharIndex::Marks(c)) {
    const std::size_t at = s.Index->Next(c, start - 1);
    return at == CharIndex::npos ? 0 : at + 1;
  }
  return FindAt(s.Text, std::string_view(&c, 1), start);
}

std::size_t FindTextAt(std::string_view text, std::string_view pattern, std::size_t start) {
  return start == 0 ? 0 : ContainsTextAt(text, pattern, start);
}

// Last position of c at or before upTo.
std::size_t FindLastAt(std::string_view text, char c, std::size_t upTo) {
  if (upTo == 0 || text.empty()) return 0;
  const std::size_t at = text.rfind(c, upTo - 1);
  return at == std::string_view::npos ? 0 : at + 1;
}

// Last match of the pattern, ignoring case, whose final character lies at or
// before position endAt.
std::size_t FindLastTextEndingBy(const std::string& text, std::string_view pattern, std::size_t endAt) {
  if (endAt > text.size()) endAt = text.size();
  if (pattern.empty() || endAt < pattern.size()) return 0;
  const std::string_view view(text);
  for (std::size_t p = endAt - pattern.size() + 1; p >= 1; --p)
    if (SameText(view.substr(p - 1, pattern.size()), pattern)) return p;
  return 0;
}

// Only as many characters as the name sought (plus one) are taken: a longer
// run cannot match, and a quoted stretch may reach far into the page.
bool NameMatchesAt(const std::string& text, std::size_t p, const std::string& wanted) {
  while (IsOneOf(text, p, kNameStopSet)) ++p;
  std::string name;
  bool quoted = false;
  for (; p <= text.size() && name.size() <= wanted.size(); ++p) {
    const char c = text[p - 1];
    if (c == '"')
      quoted = !quoted;
    else if (!quoted && kNameStopSet.Has(c))
      break;
    name += c;
  }
  return SameText(name, wanted);
}

void FindTag(THXParser& s) {
  for (;;) {
    s.TagStart = FindAt(s.Text, "<", s.Pos);
    s.Pos = s.TagStart + 1;
    if (s.TagStart == 0) return;
    while (IsOneOf(s.Text, s.Pos, kNameLeadSet)) ++s.Pos;
    if (NameMatchesAt(s.Text, s.Pos, s.TagName)) return;
  }
}

// The name is found as plain text, so it may sit inside a longer attribute
// name, inside an earlier value or in a later tag; the caller's TagLimit
// test sorts out the last case.
bool FindAttribute(THXParser& s) {
  s.ValueStart = s.TagStart;
  for (;;) {
    s.AttrPos = FindTextAt(s.Text, s.AttrName, s.ValueStart);
    if (s.AttrPos == 0) return false;
    s.ValueStart = s.AttrPos + s.AttrName.size();
    if (IsOneOf(s.Text, s.ValueStart, kAfterAttrNameSet)) return true;
  }
}

// Only a double quote ends the skip: an apostrophe is passed like a blank,
// so the character before the value tells which quote it had.
bool SkipToValue(THXParser& s) {
  bool equals = false;
  while (s.ValueStart <= s.TagLimit && IsOneOf(s.Text, s.ValueStart, kValueLeadSet)) {
    const char c = s.Text[s.ValueStart - 1];
    equals = equals || c == '=';
    ++s.ValueStart;
    if (c == '"') break;
  }
  return equals;
}

std::optional<std::string> CollectValue(THXParser& s) {
  const char quote = s.Text[s.ValueStart - 2];
  const bool quoted = quote == '"' || quote == '\'';
  s.ValueEnd = s.ValueStart;
  for (; s.ValueEnd <= s.TagLimit; ++s.ValueEnd) {
    const char c = s.Text[s.ValueEnd - 1];
    if (c == '>' || (quoted ? c == quote : kUnquotedStopSet.Has(c))) break;
  }
  if (s.ValueEnd > s.TagLimit) return std::nullopt;
  return s.Text.substr(s.ValueStart - 1, s.ValueEnd - s.ValueStart);
}

// A missing apostrophe counts as one behind the end of the text, which is
// always beyond the tag.
std::string ScriptArgument(THXParser& s, const std::string& value) {
  const std::size_t first = FindAt(s.Text, "'", s.ValueStart);
  s.ValueStart = (first == 0 ? s.Text.size() : first) + 1;
  const std::size_t second = FindAt(s.Text, "'", s.ValueStart);
  s.ValueEnd = (second == 0 ? s.Text.size() + 1 : second) - 1;
  if (s.ValueStart > s.TagLimit || s.ValueEnd > s.TagLimit) return {};
  const std::size_t open = value.find('\'');
  const std::size_t close = open == std::string::npos ? open : value.find('\'', open + 1);
  if (close == std::string::npos) return {};
  return value.substr(open + 1, close - open - 1);
}

// The first c at or after position from (0: none), remembered in memo.
std::size_t NextOf(const THXParser& s, char c, std::size_t from, THXParser::NextFind& memo) {
  if (from == 0) return 0;
  if (memo.From == 0 || from < memo.From || (memo.At != 0 && from > memo.At)) {
    memo.From = from;
    memo.At = FindCharAt(s, c, from);
  }
  return memo.At;
}

// The last "<script" ending at or before endAt. Values come in text order and
// replacements only change the text at or after the current value, so the
// part already scanned stays valid; a query that goes back searches anew.
// "<script" starts with a character no letter case changes: only the places
// of a "<" are compared.
std::size_t LastScriptOpenBy(THXParser& s, std::size_t endAt) {
  if (endAt > s.Text.size()) endAt = s.Text.size();
  if (endAt < kScriptOpen.size()) return 0;
  const std::size_t lastStart = endAt - kScriptOpen.size() + 1;
  if (s.Index && s.Index->Size() == s.Text.size()) {
    // The index knows every "<script" of the text: the last one starting
    // at or before lastStart.
    const auto& opens = s.Index->ScriptOpens(s.Text);
    const auto after = std::upper_bound(opens.begin(), opens.end(), lastStart - 1);
    return after == opens.begin() ? 0 : *(after - 1) + 1;
  }
  if (lastStart + 1 < s.ScriptScannedTo) return FindLastTextEndingBy(s.Text, kScriptOpen, endAt);
  const std::string_view text(s.Text);
  for (std::size_t p = s.ScriptScannedTo;;) {
    const std::size_t lt = NextOf(s, '<', p, s.NextLt);
    if (lt == 0 || lt > lastStart) break;
    if ((text[lt] | 0x20) == 's' && SameText(text.substr(lt - 1, kScriptOpen.size()), kScriptOpen))
      s.LastScriptOpen = lt;
    p = lt + 1;
  }
  s.ScriptScannedTo = lastStart + 1;
  return s.LastScriptOpen;
}

bool InsideScript(THXParser& s) {
  const std::size_t open = LastScriptOpenBy(s, s.ValueStart);
  if (open == 0) return false;
  if (s.ScriptOpenFor != open) {
    s.ScriptOpenEnd = FindAt(s.Text, ">", open);
    s.ScriptOpenFor = open;
  }
  const std::size_t openEnd = s.ScriptOpenEnd;
  if (openEnd == 0 || openEnd >= s.ValueStart) return false;
  if (s.ScriptCloseFor != openEnd) {
    const std::size_t close = FindTextAt(s.Text, "/script", openEnd + 1);
    s.ScriptCloseStart = close == 0 ? 0 : FindLastAt(s.Text, '<', close);
    s.ScriptCloseFor = openEnd;
  }
  return s.ScriptCloseStart != 0 && s.ScriptCloseStart > s.ValueEnd;
}

bool LooksLikeLink(const std::string& candidate) {
  // Loops, not find_first_of, which searches its set once per character.
  const auto any = [&](auto test) { return std::any_of(candidate.begin(), candidate.end(), test); };
  if (candidate.empty() || any([](char c) { return c == ' ' || c == ';' || c == '<'; })) return false;
  if (candidate.find(':') != std::string::npos && candidate.find("://") == std::string::npos) return false;
  if (ContainsText(candidate, "text/css") || ContainsText(candidate, "text/javascript")) return false;
  return any([](char c) { return c == '.' || c == '/'; });
}

}  // namespace

std::string THXParser::NextLink() {
  if (TagClose != 0) Pos = TagClose + 1;
  return Mode == 0 ? NextTagValue() : NextQuotedValue();
}

std::string THXParser::NextTagValue() {
  LastValue.clear();
  if (Text.empty()) return {};
  FindTag(*this);
  TagLimit = TagClose = FindAt(Text, TagEnd, TagStart);
  if (TagStart == 0 || !FindAttribute(*this)) return {};
  const bool equals = SkipToValue(*this);
  if (ValueStart > TagLimit || !equals) return {};
  std::optional<std::string> value = CollectValue(*this);
  // "+" and ";" mark script code, not a link; but the ";" of "&amp;" is how
  // HTML writes "&" in a link's query, and resolving turns it back into "&".
  if (!value || value->find('+') != std::string::npos ||
      ReplaceText(*value, "&amp;", "&", true).find(';') != std::string::npos)
    return {};
  if (ContainsText(*value, "javascript:")) value = ScriptArgument(*this, *value);
  LastValue = *value;
  return LastValue;
}

std::string THXParser::NextQuotedValue() {
  LastValue.clear();
  if (Text.empty()) return {};
  Pos = TagName.size() == 1 ? FindCharAt(*this, TagName[0], Pos) : FindAt(Text, TagName, Pos);
  const std::size_t from = Pos == 0 ? 0 : Pos + TagName.size();
  TagClose = TagEnd.size() == 1 ? FindCharAt(*this, TagEnd[0], from) : FindAt(Text, TagEnd, from);
  if (TagClose == 0) return {};
  // Quotes with a ">" between them belong to different tags or texts; the
  // closing one may still open a real string.
  const std::size_t tagEnd = NextOf(*this, '>', Pos, NextGt);
  if (tagEnd == 0 || tagEnd < TagClose) {
    --TagClose;
    return {};
  }
  ValueStart = Pos + TagName.size();
  ValueEnd = TagClose > TagEnd.size() ? TagClose - TagEnd.size() : 0;
  if (Mode == 1 && !InsideScript(*this)) return {};
  LastValue = ValueEnd >= ValueStart ? Text.substr(ValueStart - 1, ValueEnd - ValueStart + 1) : std::string();
  return LooksLikeLink(LastValue) ? LastValue : std::string();
}

void THXParser::ReplaceValue(const std::string& text) {
  if (text == LastValue) return;
  if (ValueStart == 0 || ValueStart - 1 > Text.size() || LastValue.size() > Text.size() - (ValueStart - 1))
    return;
  Text.replace(ValueStart - 1, LastValue.size(), text);
  ScriptCloseFor = ScriptCloseStart = ScriptOpenFor = 0;
  NextGt = NextLt = {};
  Index = nullptr;
  // A pass that has ended stays ended.
  if (TagClose == 0) return;
  const auto moved = static_cast<std::ptrdiff_t>(TagClose) + static_cast<std::ptrdiff_t>(text.size()) -
                     static_cast<std::ptrdiff_t>(LastValue.size());
  TagClose = moved > 0 ? static_cast<std::size_t>(moved) : 0;
}

void THXParser::TextReplaced() {
  ScriptScannedTo = 1;
  LastScriptOpen = ScriptCloseFor = ScriptCloseStart = ScriptOpenFor = 0;
  NextGt = NextLt = {};
  Index = nullptr;
}

std::string THXParser::LinkText() const { return TagLinkText(Text, TagStart); }

std::string TagLinkText(std::string_view text, std::size_t tagStart) {
  // Without a tag (quoted-string mode) the text runs from the page's start.
  const std::size_t tagEnd = tagStart == 0 ? 0 : FindAt(text, ">", tagStart);
  if (tagStart != 0 && tagEnd == 0) return {};
  const std::size_t nextTag = FindAt(text, "<", tagEnd + 1);
  if (nextTag == 0) return {};
  return CleanText(text.substr(tagEnd, nextTag - tagEnd - 1));
}

int TagNameIndex(std::string_view text, std::size_t lt, std::span<const std::string_view> names) {
  std::size_t p = lt + 1;
  while (IsOneOf(text, p, kNameLeadSet)) ++p;
  while (IsOneOf(text, p, kNameStopSet)) ++p;
  if (p > text.size()) return -1;
  // Most tags ("</p>", "<div") are told apart by their first letter, before
  // the name is read at all.
  char first = text[p - 1];
  if (first >= 'a' && first <= 'z') first = static_cast<char>(first - 32);
  std::size_t longest = 0;
  for (const std::string_view name : names)
    if (!name.empty() && name[0] == first) longest = std::max(longest, name.size());
  if (longest == 0) return -1;
  // As NameMatchesAt: one character more than the longest name tells a
  // longer name apart, and a quote, kept in the name, matches no name.
  char name[kMaxTagName + 1];
  std::size_t size = 0;
  bool quoted = false;
  for (; p <= text.size() && size <= longest && size <= kMaxTagName; ++p) {
    const char c = text[p - 1];
    if (c == '"')
      quoted = !quoted;
    else if (!quoted && kNameStopSet.Has(c))
      break;
    name[size++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  const std::string_view found(name, size);
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == found) return static_cast<int>(i);
  return -1;
}

TagValue TagValueAt(std::string_view text, std::size_t tagStart, std::size_t tagClose, std::string_view attr) {
  // NextTagValue's attribute search may run past the tag, but a name found
  // there always ends in an empty value; so only names starting at or
  // before the ">" are looked for.
  if (tagStart == 0 || tagClose == 0 || tagClose > text.size() || attr.empty()) return {};
  const std::string_view searched = text.substr(0, std::min(text.size(), tagClose - 1 + attr.size()));
  std::size_t valueStart = tagStart;
  for (;;) {
    const std::size_t attrPos = ContainsTextAt(searched, attr, valueStart);
    if (attrPos == 0) return {};
    valueStart = attrPos + attr.size();
    if (IsOneOf(text, valueStart, kAfterAttrNameSet)) break;
  }
  bool equals = false;
  while (valueStart <= tagClose && IsOneOf(text, valueStart, kValueLeadSet)) {
    const char c = text[valueStart - 1];
    equals = equals || c == '=';
    ++valueStart;
    if (c == '"') break;
  }
  if (valueStart > tagClose || !equals) return {};
  const char quote = text[valueStart - 2];
  const bool quoted = quote == '"' || quote == '\'';
  // The walk to the value's end also notes the three bytes that matter
  // after it (a search each cost more than the short value).
  bool plus = false, semicolon = false, colon = false;
  std::size_t valueEnd = valueStart;
  for (; valueEnd <= tagClose; ++valueEnd) {
    const char c = text[valueEnd - 1];
    if (c == '>' || (quoted ? c == quote : kUnquotedStopSet.Has(c))) break;
    plus |= c == '+';
    semicolon |= c == ';';
    colon |= c == ':';
  }
  if (valueEnd > tagClose) return {};
  const std::string_view value = text.substr(valueStart - 1, valueEnd - valueStart);
  if (plus || (semicolon && ReplaceText(value, "&amp;", "&", true).find(';') != std::string::npos)) return {};
  if (!colon || !ContainsText(value, "javascript:")) return {valueStart, value};
  // ScriptArgument: the text between the value's first two apostrophes.
  const std::size_t open = value.find('\'');
  const std::size_t close = open == std::string_view::npos ? open : value.find('\'', open + 1);
  if (close == std::string_view::npos) return {};
  return {valueStart + open + 1, value.substr(open + 1, close - open - 1)};
}
