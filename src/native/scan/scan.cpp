// Number scanning: shapes judged here, values made by a correctly rounded
// conversion. No Python.h here; see scan.hpp.
#include "scan.hpp"

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

}  // namespace

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
