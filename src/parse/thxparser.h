#pragma once
// Finds link values in the text of an HTML page without building a tree:
// either the value of one attribute in every tag of one name (tag mode), or
// every string between a pair of quote characters that looks like a link
// (quoted-string mode). It remembers where the value lies and can replace it
// in place, so one object both extracts and rewrites. One object serves one
// pass over one text. Positions count characters from 1 (0: none).
#include <cstdint>
#include <string>

class THXParser {
 public:
  std::string Text;
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

  std::string NextLink();
  std::string NextTagValue();
  std::string NextQuotedValue();
  void ReplaceValue(const std::string& text);
  std::string LinkText() const;
};
