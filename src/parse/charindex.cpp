#include "parse/charindex.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char kMarked[4] = {'<', '>', '"', '\''};

// The marks of 64 bytes from p: bit i of out[s] for p[i] == kMarked[s].
void MarkBlock(const char* p, std::uint64_t out[4]) {
#if defined(__SSE2__)
  for (int s = 0; s < 4; ++s) {
    const __m128i wanted = _mm_set1_epi8(kMarked[s]);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))))
              << (16 * k);
    }
    out[s] = mask;
  }
#else
  for (int s = 0; s < 4; ++s) out[s] = 0;
  for (int i = 0; i < 64; ++i)
    for (int s = 0; s < 4; ++s)
      if (p[i] == kMarked[s]) out[s] |= std::uint64_t{1} << i;
#endif
}

}  // namespace

void CharIndex::Build(std::string_view text) {
  size_ = text.size();
  const std::size_t words = (size_ + 63) / 64;
  for (auto& set : bits_) set.resize(words);
  std::uint64_t marks[4];
  std::size_t w = 0;
  for (; (w + 1) * 64 <= size_; ++w) {
    MarkBlock(text.data() + w * 64, marks);
    for (int s = 0; s < 4; ++s) bits_[s][w] = marks[s];
  }
  if (w < words) {
    // The last, short block is read from a copy padded with zero bytes,
    // which none of the marked characters is.
    char tail[64] = {};
    std::memcpy(tail, text.data() + w * 64, size_ - w * 64);
    MarkBlock(tail, marks);
    for (int s = 0; s < 4; ++s) bits_[s][w] = marks[s];
  }
  scriptsListed_ = false;
}

const std::vector<std::size_t>& CharIndex::ScriptOpens(std::string_view text) const {
  if (scriptsListed_) return scriptOpens_;
  scriptOpens_.clear();
  static constexpr std::string_view kScript = "script";
  for (std::size_t lt = Next('<', 0); lt != npos; lt = Next('<', lt + 1)) {
    if (size_ - lt - 1 < kScript.size() || text.size() != size_) break;
    bool same = true;
    for (std::size_t k = 0; k < kScript.size() && same; ++k) same = (text[lt + 1 + k] | 0x20) == kScript[k];
    if (same) scriptOpens_.push_back(lt);
  }
  scriptsListed_ = true;
  return scriptOpens_;
}

std::size_t CharIndex::Next(char c, std::size_t at) const {
  if (at >= size_) return npos;
  const std::vector<std::uint64_t>& bits = bits_[Set(c)];
  std::size_t w = at / 64;
  std::uint64_t word = bits[w] & (~std::uint64_t{0} << (at % 64));
  while (word == 0) {
    if (++w == bits.size()) return npos;
    word = bits[w];
  }
  return w * 64 + static_cast<std::size_t>(std::countr_zero(word));
}
