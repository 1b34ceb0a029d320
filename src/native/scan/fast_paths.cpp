// The quick paths in front of the general ones: short exact decimals read
// without the correctly rounded parser, and a token count that reads many
// bytes at once. No Python.h here; see scan.hpp. The fuzzer holds both to
// their references on every input (std::from_chars, split()).
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "scan.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::scan {
namespace {

// A plain decimal's digits as an integer and a power of ten.
struct Decimal {
  std::uint64_t mantissa = 0;
  std::int64_t exponent = 0;
  bool negative = false;
  const char* end = nullptr;
};

// The run of digits that starts at p, up to eight of them, as a number;
// `count` gets its length. Reads the eight bytes at p at once, so it needs
// them, and has no branch that depends on the digits. A byte outside
// '0'..'9' sets its own top bit in `other`; carries and borrows only move
// upwards, past the first such byte, so the digits below it read true.
std::uint64_t leading_digits(const char* p, int& count) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  const std::uint64_t other =
      ((v + 0x4646464646464646u) | (v - 0x3030303030303030u)) & 0x8080808080808080u;
  count = other == 0 ? 8 : std::countr_zero(other) >> 3;
  if (count == 0) return 0;
  // The digits to the top bytes, zeros below them: a number of eight digits.
  v = (v - 0x3030303030303030u) << (8 * (8 - count));
  v = v * 10 + (v >> 8);  // pairs of digits, in every other byte
  constexpr std::uint64_t kMask = 0x000000FF000000FFu;
  v = ((v & kMask) * 0x000F424000000064u + ((v >> 16) & kMask) * 0x0000271000000001u) >> 32;
  return v & 0xFFFFFFFFu;
}

constexpr std::uint64_t kPow10Int[] = {1,      10,      100,      1000,     10000,
                                       100000, 1000000, 10000000, 100000000};

// Appends the digits at p to m, counting them in n (leading zeros too, which
// costs a rare long token the short path). Stops once n passes 19: up to
// there m cannot overflow.
void take_digits(const char*& p, const char* last, std::uint64_t& m, int& n) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    while (n <= 19 && last - p >= 8) {
      int k = 0;
      const std::uint64_t v = leading_digits(p, k);
      m = m * kPow10Int[k] + v;
      p += k;
      n += k;
      if (k < 8) return;
    }
  }
  for (; n <= 19 && p != last && is_digit(static_cast<unsigned char>(*p)); ++p) {
    m = m * 10 + static_cast<unsigned>(*p - '0');
    ++n;
  }
}

// The decimal at `p` when it has at most 19 digits, which an uint64_t holds.
// False for anything std::from_chars might read otherwise: more digits, no
// digits, an exponent part that it would leave unread ('e' without digits)
// or that is far out of range.
bool short_decimal(const char* p, const char* last, Decimal& out) noexcept {
  Decimal d;
  d.negative = p != last && *p == '-';
  if (d.negative) ++p;
  int n = 0;
  take_digits(p, last, d.mantissa, n);
  if (p != last && *p == '.') {
    const char* fraction = ++p;
    take_digits(p, last, d.mantissa, n);
    d.exponent = -(p - fraction);
  }
  if (n > 19 || n == 0) return false;
  if (p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative = p != last && *p == '-';
    if (p != last && (*p == '-' || *p == '+')) ++p;
    if (p == last || !is_digit(static_cast<unsigned char>(*p))) return false;
    std::int64_t e = 0;
    for (; p != last && is_digit(static_cast<unsigned char>(*p)); ++p) {
      e = e * 10 + (*p - '0');
      if (e > 100000) return false;
    }
    d.exponent += negative ? -e : e;
  }
  d.end = p;
  out = d;
  return true;
}

// Each exactly a double or a float: 10^22 < 2^53 * 2^22 needs 53 bits of
// 5^22, 10^10 needs 24 bits of 5^10.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// One IEEE operation on exact operands is rounded once, to nearest, only
// where arithmetic is done in the type itself.
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must round to their own type");

// m * 10^e or m / 10^-e in T, when both operands are exact in T.
template <class T, std::uint64_t kMaxMantissa, std::int64_t kMaxExponent, const T* kPowers>
bool exact_value(const Decimal& d, T& value) noexcept {
  if (d.mantissa == 0) {
    value = d.negative ? -T(0) : T(0);
    return true;
  }
  if (d.mantissa >= kMaxMantissa || d.exponent > kMaxExponent || d.exponent < -kMaxExponent)
    return false;
  const T m = static_cast<T>(d.mantissa);
  const T v = d.exponent >= 0 ? m * kPowers[d.exponent] : m / kPowers[-d.exponent];
  value = d.negative ? -v : v;
  return true;
}

// Whether the text at p runs on for 16 bytes without a byte below '!'. Such
// a token has too many digits for the short reader, but for a few spelled
// with many zeros; trying it first would only slow the general reader down
// on the long tokens that shortest round-trip output is made of. Reads the
// 16 bytes, which the caller has. A byte below 0x21 sets its top bit below;
// borrows move upwards only, so a byte is found whenever there is one.
bool long_token(const char* p) noexcept {
  std::uint64_t a, b;
  std::memcpy(&a, p, sizeof a);
  std::memcpy(&b, p + 8, sizeof b);
  constexpr std::uint64_t kLow = 0x2121212121212121u, kTop = 0x8080808080808080u;
  return ((((a - kLow) & ~a) | ((b - kLow) & ~b)) & kTop) == 0;
}

}  // namespace

bool parse_short_decimal(const char* first, const char* last, double& value,
                         const char*& end) noexcept {
  if (last - first >= 16 && long_token(first)) return false;
  Decimal d;
  if (!short_decimal(first, last, d) ||
      !exact_value<double, std::uint64_t{1} << 53, 22, kPow10>(d, value))
    return false;
  end = d.end;
  return true;
}

bool parse_short_decimal(const char* first, const char* last, float& value,
                         const char*& end) noexcept {
  if (last - first >= 16 && long_token(first)) return false;
  Decimal d;
  if (!short_decimal(first, last, d) ||
      !exact_value<float, std::uint64_t{1} << 24, 10, kPow10f>(d, value))
    return false;
  end = d.end;
  return true;
}

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
