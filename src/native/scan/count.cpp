// The token count, many bytes at a time: what the threaded readers' counting
// pass runs on. No Python.h here; see scan.hpp. The fuzzer holds it to
// split() on every input.
#include <bit>
#include <cstdint>
#include <string_view>

#include "scan.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::scan {
namespace {

constexpr unsigned blank(unsigned char c) noexcept {
  return static_cast<unsigned>(c == ' ') |
         static_cast<unsigned>(static_cast<unsigned char>(c - '\t') < 5);
}

#if defined(__SSE2__)
// One bit for each of the 16 bytes at p: whether it is a blank.
unsigned blanks16(const char* p) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('\t'));  // \t..\r: 0..4 unsigned
  const __m128i ws = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                  _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(4)), d));
  return static_cast<unsigned>(_mm_movemask_epi8(ws));
}
#endif

}  // namespace

std::size_t count_tokens(std::string_view text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  // A token starts at each non-blank byte that follows a blank or the start.
  std::size_t count = 0, i = 0;
  std::uint64_t before = 1;  // whether the byte before i is a blank, or i is 0
#if defined(__SSE2__)
  // 64 bytes at a time: their blanks as the bits of one word, the starts
  // those non-blanks whose lower neighbour is one.
  for (; n - i >= 64; i += 64) {
    const std::uint64_t b =
        std::uint64_t{blanks16(p + i)} | std::uint64_t{blanks16(p + i + 16)} << 16 |
        std::uint64_t{blanks16(p + i + 32)} << 32 | std::uint64_t{blanks16(p + i + 48)} << 48;
    count += static_cast<std::size_t>(std::popcount(~b & (b << 1 | before)));
    before = b >> 63;
  }
#endif
  for (; i < n; ++i) {
    const unsigned b = blank(static_cast<unsigned char>(p[i]));
    count += static_cast<std::size_t>(before & (b ^ 1u));
    before = b;
  }
  return count;
}

}  // namespace veltrane::scan
