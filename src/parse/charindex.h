#pragma once
// Where the characters that delimit tags and quoted strings lie in a page:
// one pass over the text marks every "<", ">", '"' and "'" in bit sets, and
// each search for the next one then reads bits instead of the text. The
// scans of the parse pass ask for the next of these characters over and
// over, mostly a few bytes on, where a library search costs more in setting
// out than in searching.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class CharIndex {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  // Marks the text's characters; the index then describes this text only.
  void Build(std::string_view text);
  // Where "<script" (in any letter case) starts in text, the text the index
  // was built for, from 0, in text order: every quoted string of a
  // script-only scan asks for the last one before it. Listed at the first
  // call after a build.
  const std::vector<std::size_t>& ScriptOpens(std::string_view text) const;
  // The size of the text the index was built for.
  std::size_t Size() const { return size_; }
  // True for the four characters the index marks.
  static constexpr bool Marks(char c) { return c == '<' || c == '>' || c == '"' || c == '\''; }
  // Position (from 0) of the first c at or after at, or npos; c must be one
  // of the marked characters.
  std::size_t Next(char c, std::size_t at) const;

 private:
  static constexpr int Set(char c) { return c == '<' ? 0 : c == '>' ? 1 : c == '"' ? 2 : 3; }
  std::size_t size_ = 0;
  std::vector<std::uint64_t> bits_[4];
  mutable std::vector<std::size_t> scriptOpens_;
  mutable bool scriptsListed_ = false;
};
