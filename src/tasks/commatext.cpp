#include "tasks/commatext.h"

namespace {

bool Blank(char c) { return c >= 1 && c <= 32; }
bool NeedsQuotes(const std::string& item) {
  for (char c : item)
    if (Blank(c) || c == ',' || c == '"') return true;
  return false;
}

}  // namespace

std::string ToCommaText(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    const std::string& item = items[i];
    if (!NeedsQuotes(item)) {
      out += item;
      continue;
    }
    out += '"';
    for (char c : item) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
  }
  return out;
}

std::vector<std::string> FromCommaText(const std::string& stored) {
  // The stored text never reaches past a NUL.
  const std::string text = stored.substr(0, stored.find('\0'));
  std::vector<std::string> items;
  std::size_t p = 0;
  const std::size_t n = text.size();
  auto skipBlanks = [&] {
    while (p < n && Blank(text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string item;
    if (text[p] == '"') {
      for (++p; p < n; ++p) {
        if (text[p] != '"') {
          item += text[p];
        } else if (p + 1 < n && text[p + 1] == '"') {
          item += '"';
          ++p;
        } else {
          ++p;
          break;
        }
      }
    } else {
      while (p < n && static_cast<unsigned char>(text[p]) > 32 && text[p] != ',') item += text[p++];
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (p < n && text[p] == ',') {
      ++p;
      skipBlanks();
    }
  }
  return items;
}
