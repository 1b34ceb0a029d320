// Number scanning: shapes judged here, values made by a correctly rounded
// conversion, or by one exact operation for a short decimal. The token count
// is in count.cpp. No Python.h here; see scan.hpp.
#include "scan.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace veltrane::scan {
namespace {

bool has_nonzero_digit_before_exponent(std::string_view s) noexcept {
  for (char c : s) {
    if (c == 'e' || c == 'E') break;
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

// Where std::from_chars is to start on the plain decimal at `first`, or
// nullptr when the text does not start like one. std::from_chars reads a
// plain decimal exactly as float() does but refuses a leading '+'; the check
// on the first character keeps words (inf, nan) for the interpreter.
const char* plain_start(const char* first, const char* last) noexcept {
  const char* p = first;
  if (p != last && *p == '+') {
    ++p;
    if (p != last && *p == '-') return nullptr;
  }
  const char* digits = p + (p != last && *p == '-');
  if (digits == last || !(is_digit(static_cast<unsigned char>(*digits)) || *digits == '.'))
    return nullptr;
  return p;
}

// Whether the plain decimal [p, last), as std::from_chars took it, is 1 or
// more in magnitude: the decimal exponent of its first non-zero digit plus
// its exponent part, which saturates. Enough to tell apart the two ways out
// of the float32 range, which lie far from 1 on either side.
bool at_least_one(const char* p, const char* last) noexcept {
  if (p != last && *p == '-') ++p;
  std::int64_t lead = 0;  // decimal exponent of the first non-zero digit
  bool nonzero = false;
  for (; p != last && is_digit(static_cast<unsigned char>(*p)); ++p) {
    if (nonzero)
      ++lead;
    else
      nonzero = *p != '0';
  }
  if (p != last && *p == '.') {
    for (++p; p != last && is_digit(static_cast<unsigned char>(*p)); ++p) {
      if (nonzero) continue;
      --lead;
      nonzero = *p != '0';
    }
  }
  if (!nonzero) return false;
  std::int64_t exponent = 0;
  if (p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = p != last && *p == '-';
    if (p != last && (*p == '-' || *p == '+')) ++p;
    constexpr std::int64_t kSaturated = std::int64_t{1} << 50;
    for (; p != last && is_digit(static_cast<unsigned char>(*p)); ++p) {
      if (exponent < kSaturated) exponent = exponent * 10 + (*p - '0');
    }
    if (negative) exponent = -exponent;
  }
  return lead + exponent >= 0;
}

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

// A short decimal at first as m * 10^e or m / 10^-e in T, when both operands
// are exact in T.
template <class T, std::uint64_t kMaxMantissa, std::int64_t kMaxExponent, const T* kPowers>
bool short_value(const char* first, const char* last, T& value, const char*& end) noexcept {
  if (last - first >= 16 && long_token(first)) return false;
  Decimal d;
  if (!short_decimal(first, last, d)) return false;
  if (d.mantissa == 0) {
    value = d.negative ? -T(0) : T(0);
  } else {
    if (d.mantissa >= kMaxMantissa || d.exponent > kMaxExponent || d.exponent < -kMaxExponent)
      return false;
    const T m = static_cast<T>(d.mantissa);
    const T v = d.exponent >= 0 ? m * kPowers[d.exponent] : m / kPowers[-d.exponent];
    value = d.negative ? -v : v;
  }
  end = d.end;
  return true;
}

}  // namespace

bool parse_short_decimal(const char* first, const char* last, double& value,
                         const char*& end) noexcept {
  return short_value<double, std::uint64_t{1} << 53, 22, kPow10>(first, last, value, end);
}

bool parse_short_decimal(const char* first, const char* last, float& value,
                         const char*& end) noexcept {
  return short_value<float, std::uint64_t{1} << 24, 10, kPow10f>(first, last, value, end);
}

Verdict parse_double_prefix(const char* first, const char* last, double& value,
                            const char*& end) noexcept {
  const char* p = plain_start(first, last);
  if (p == nullptr) return Verdict::Fallback;
  if (parse_short_decimal(p, last, value, end)) return Verdict::Clean;
  double v = 0.0;
  auto [ptr, ec] = std::from_chars(p, last, v, std::chars_format::general);
  if (ec != std::errc()) return Verdict::Fallback;
  // Some libraries flag results that underflow to zero as an error and some
  // do not; the interpreter gives a signed zero either way, so let it.
  if (v == 0.0 && has_nonzero_digit_before_exponent(
                      std::string_view(first, static_cast<std::size_t>(ptr - first))))
    return Verdict::Fallback;
  value = v;
  end = ptr;
  return Verdict::Clean;
}

Verdict parse_float_prefix(const char* first, const char* last, float& value,
                           const char*& end) noexcept {
  const char* p = plain_start(first, last);
  if (p == nullptr) return Verdict::Fallback;
  if (parse_short_decimal(p, last, value, end)) return Verdict::Clean;
  float v = 0.0f;
  auto [ptr, ec] = std::from_chars(p, last, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The text was read, but the nearest float32 is an infinity or a zero,
    // which std::from_chars leaves unstored.
    v = at_least_one(p, ptr) ? std::numeric_limits<float>::infinity() : 0.0f;
    if (*p == '-') v = -v;
  } else if (ec != std::errc()) {
    return Verdict::Fallback;
  }
  value = v;
  end = ptr;
  return Verdict::Clean;
}

namespace {

// A token without whitespace or underscores, where it is a plain decimal
// ([+-] digits [. digits] [eE [+-] digits]) taken whole by `prefix`.
template <auto prefix, class T>
Verdict parse_plain(std::string_view s, T& value) noexcept {
  const char* end = nullptr;
  T v;
  if (s.empty() || prefix(s.data(), s.data() + s.size(), v, end) != Verdict::Clean ||
      end != s.data() + s.size())
    return Verdict::Fallback;
  value = v;
  return Verdict::Clean;
}

// parse_plain of a token after clean_float has dropped its underscores.
template <auto prefix, class T>
Verdict parse_token(std::string_view s, T& value) noexcept {
  if (std::memchr(s.data(), '_', s.size()) == nullptr) return parse_plain<prefix>(s, value);
  char stack_buf[64];
  char* buf = stack_buf;
  if (s.size() >= sizeof stack_buf) {
    buf = static_cast<char*>(std::malloc(s.size() + 1));
    if (buf == nullptr) return Verdict::Fallback;
  }
  std::size_t n = 0;
  Verdict v = clean_float(s, buf, n);
  if (v == Verdict::Clean) v = parse_plain<prefix>(std::string_view(buf, n), value);
  if (buf != stack_buf) std::free(buf);
  return v;
}

}  // namespace

std::string_view strip(std::string_view text) noexcept {
  std::size_t b = 0, e = text.size();
  while (b < e && is_space(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && is_space(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

Verdict clean_float(std::string_view text, char* out, std::size_t& n) noexcept {
  std::string_view s = strip(text);
  std::size_t k = 0;
  char prev = '\0';
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '_') {
      // The interpreter's rule: an underscore sits between two digits.
      bool next_digit = i + 1 < s.size() && is_digit(static_cast<unsigned char>(s[i + 1]));
      if (!is_digit(static_cast<unsigned char>(prev)) || !next_digit) return Verdict::Fallback;
    } else {
      out[k++] = c;
    }
    prev = c;
  }
  out[k] = '\0';
  n = k;
  return Verdict::Clean;
}

Verdict parse_double_token(std::string_view s, double& value) noexcept {
  return parse_token<parse_double_prefix>(s, value);
}

Verdict parse_float_token(std::string_view s, float& value) noexcept {
  return parse_token<parse_float_prefix>(s, value);
}

Verdict parse_double(std::string_view text, double& value) noexcept {
  return parse_double_token(strip(text), value);
}

Verdict parse_int64_token(std::string_view s, std::int64_t& value) noexcept {
  std::size_t i = 0, n = s.size();
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == n) return Verdict::Fallback;
  // Accumulate the magnitude as unsigned; -2**63 fits only when negative.
  std::uint64_t mag = 0;
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  char prev = '\0';
  for (; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '_') {
      if (!is_digit(static_cast<unsigned char>(prev)) || i + 1 == n ||
          !is_digit(static_cast<unsigned char>(s[i + 1])))
        return Verdict::Fallback;
    } else if (is_digit(c)) {
      std::uint64_t d = c - '0';
      if (mag > (kLimit - d) / 10) return Verdict::Fallback;
      mag = mag * 10 + d;
    } else {
      return Verdict::Fallback;
    }
    prev = static_cast<char>(c);
  }
  if (!negative && mag == kLimit) return Verdict::Fallback;
  value = negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
  return Verdict::Clean;
}

Verdict parse_int64(std::string_view text, std::int64_t& value) noexcept {
  return parse_int64_token(strip(text), value);
}

Verdict parse_xyz(std::string_view line, Separators seps, double out[3]) noexcept {
  Tokenizer tokens(line, seps);
  std::string_view token;
  for (int j = 0; j < 3; ++j) {
    if (tokens.next_double(out[j], token) != 1) return Verdict::Fallback;
  }
  return tokens.next(token) ? Verdict::Fallback : Verdict::Clean;
}

}  // namespace veltrane::scan
