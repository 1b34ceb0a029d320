// libFuzzer target of the scanning core. Every input is taken as one line of
// text and run through each entry point of scan.hpp; the verdicts and values
// are checked against references that share no code with the core: strtod
// and strtof on the cleaned text (this program never calls setlocale, so it
// runs in the C locale; glibc rounds both correctly, strtof straight to
// float32), std::from_chars (also for the short exact decimals, on every
// text their reader takes), and small grammar and integer readers written
// here from the interpreter's rules. Build and run it with tools/fuzz.
//
// The input is copied into a heap buffer of its exact size, so a read one
// byte past the line is an AddressSanitizer report, not a silent pass.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan.hpp"

namespace scan = veltrane::scan;
using scan::Verdict;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "scan_fuzz: %s\n  input (%zu bytes):", what, text.size());
  for (unsigned char c : text) std::fprintf(stderr, " %02x", c);
  std::fprintf(stderr, "\n");
  std::abort();
}

#define CHECK(cond, text)           \
  do {                              \
    if (!(cond)) fail(#cond, text); \
  } while (0)

bool digit(char c) { return c >= '0' && c <= '9'; }

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Outer whitespace as float() and int() strip it: space and \t to \r.
std::string_view ref_strip(std::string_view s) {
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

// Whether every underscore of `s` stands between two digits.
bool underscores_between_digits(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '_' && (i == 0 || i + 1 == s.size() || !digit(s[i - 1]) || !digit(s[i + 1])))
      return false;
  }
  return true;
}

std::string without_underscores(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '_') out += c;
  return out;
}

// The interpreter's decimal float literal, without inf and nan:
// [sign] (digitpart ["." [digitpart]] | "." digitpart) [(e|E) [sign] digitpart],
// where digitpart is digits with single underscores between them.
bool is_decimal_literal(std::string_view s) {
  std::size_t i = 0, n = s.size();
  auto digitpart = [&] {
    if (i == n || !digit(s[i])) return false;
    while (i < n && (digit(s[i]) || (s[i] == '_' && i + 1 < n && digit(s[i + 1])))) ++i;
    return true;
  };
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  if (i < n && s[i] == '.') {
    ++i;
    if (!digitpart()) return false;
  } else {
    if (!digitpart()) return false;
    if (i < n && s[i] == '.') {
      ++i;
      if (i < n && digit(s[i])) digitpart();
    }
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digitpart()) return false;
  }
  return i == n;
}

bool nonzero_mantissa(std::string_view s) {
  for (char c : s) {
    if (c == 'e' || c == 'E') break;
    if (c >= '1' && c <= '9') return true;
  }
  return false;
}

// strtod of a plain decimal (no underscores), which must take it whole.
double ref_strtod(const std::string& s, bool& range_error) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  range_error = errno == ERANGE;
  if (end != s.c_str() + s.size()) fail("strtod did not take a decimal literal whole", s);
  return v;
}

// strtof of a plain decimal (no underscores), which must take it whole. Its
// overflow and underflow give the rounded infinity or zero.
float ref_strtof(const std::string& s) {
  char* end = nullptr;
  float v = std::strtof(s.c_str(), &end);
  if (end != s.c_str() + s.size()) fail("strtof did not take a decimal literal whole", s);
  return v;
}

// What parse_double must answer for `text`: Clean with the value of strtod
// when the stripped text is a decimal literal whose value is a normal
// finite double, or exactly zero written as zero. Subnormal results may go
// either way; everything else must fall back.
enum class Expect { Clean, Fallback, Either };

Expect expect_double(std::string_view text, double& want) {
  std::string_view s = ref_strip(text);
  if (!is_decimal_literal(s)) return Expect::Fallback;
  bool range_error = false;
  want = ref_strtod(without_underscores(s), range_error);
  if (!std::isfinite(want)) return Expect::Fallback;
  if (want == 0.0) return nonzero_mantissa(s) ? Expect::Fallback : Expect::Clean;
  if (std::fabs(want) < 2.2250738585072014e-308 || range_error) return Expect::Either;
  return Expect::Clean;
}

void check_double(std::string_view text, Verdict got, double value) {
  double want = 0.0;
  Expect e = expect_double(text, want);
  if (got == Verdict::Clean) {
    CHECK(e != Expect::Fallback, text);
    CHECK(std::isfinite(value), text);
    CHECK(same_bits(value, want), text);
  } else {
    CHECK(e != Expect::Clean, text);
  }
}

// int() of a decimal literal that fits int64_t; false otherwise.
bool ref_int64(std::string_view text, std::int64_t& value) {
  std::string_view s = ref_strip(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string_view body = s.substr(i);
  if (body.empty() || !underscores_between_digits(body)) return false;
  for (char c : body)
    if (!digit(c) && c != '_') return false;
  // from_chars takes a '-' but no '+', and no underscores.
  std::string plain = (negative ? "-" : "") + without_underscores(body);
  std::int64_t v = 0;
  auto [ptr, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || ptr != plain.data() + plain.size()) return false;
  value = v;
  return true;
}

void check_int(std::string_view text, Verdict got, std::int64_t value) {
  std::int64_t want = 0;
  bool ok = ref_int64(text, want);
  CHECK((got == Verdict::Clean) == ok, text);
  if (ok) CHECK(value == want, text);
}

// split() of the line under either separator set.
std::vector<std::string_view> ref_split(std::string_view s, scan::Separators seps) {
  auto sep = [&](unsigned char c) {
    bool space = c == ' ' || (c >= '\t' && c <= '\r');
    return space || (seps == scan::Separators::Str && c >= 0x1c && c <= 0x1f);
  };
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && sep(s[i])) ++i;
    std::size_t b = i;
    while (i < s.size() && !sep(s[i])) ++i;
    if (i > b) out.push_back(s.substr(b, i - b));
  }
  return out;
}

void check_clean_float(std::string_view text) {
  // Exactly the room the contract asks for, on the heap.
  std::unique_ptr<char[]> out(new char[text.size() + 1]);
  std::size_t n = static_cast<std::size_t>(-1);
  Verdict v = scan::clean_float(text, out.get(), n);
  std::string_view s = ref_strip(text);
  CHECK((v == Verdict::Clean) == underscores_between_digits(s), text);
  if (v != Verdict::Clean) return;
  CHECK(n <= text.size(), text);
  CHECK(out[n] == '\0', text);
  std::string_view cleaned(out.get(), n);
  CHECK(cleaned.find('_') == std::string_view::npos, text);
  CHECK(cleaned == without_underscores(s), text);
  std::unique_ptr<char[]> again(new char[n + 1]);
  std::size_t m = 0;
  CHECK(scan::clean_float(cleaned, again.get(), m) == Verdict::Clean, text);
  CHECK(std::string_view(again.get(), m) == cleaned, text);
}

// parse_float_token takes every decimal literal, with strtof's value, and
// nothing else.
void check_float(std::string_view text) {
  std::string_view s = ref_strip(text);
  float v = -42.0f;
  Verdict got = scan::parse_float_token(s, v);
  if (!is_decimal_literal(s)) {
    CHECK(got == Verdict::Fallback && same_bits(v, -42.0f), text);
    return;
  }
  CHECK(got == Verdict::Clean, text);
  CHECK(same_bits(v, ref_strtof(without_underscores(s))), text);
}

void check_float_prefix(std::string_view text) {
  const char* first = text.data();
  const char* last = first + text.size();
  float v = -42.0f;
  const char* end = nullptr;
  Verdict vf = scan::parse_float_prefix(first, last, v, end);
  // The same text as the double reader, which also falls back where the
  // double range ends.
  double d = 0.0;
  const char* end_d = nullptr;
  if (scan::parse_double_prefix(first, last, d, end_d) == Verdict::Clean)
    CHECK(vf == Verdict::Clean && end == end_d, text);
  if (vf != Verdict::Clean) {
    CHECK(same_bits(v, -42.0f), text);
    return;
  }
  CHECK(end > first && end <= last, text);
  std::string_view taken(first, static_cast<std::size_t>(end - first));
  CHECK(taken.find('_') == std::string_view::npos && is_decimal_literal(taken), text);
  CHECK(same_bits(v, ref_strtof(std::string(taken))), text);
}

void check_prefix(std::string_view text) {
  double v = -42.0;
  const char* end = nullptr;
  const char* first = text.data();
  const char* last = first + text.size();
  if (scan::parse_double_prefix(first, last, v, end) != Verdict::Clean) {
    CHECK(v == -42.0, text);
    return;
  }
  CHECK(end > first && end <= last, text);
  std::string_view taken(first, static_cast<std::size_t>(end - first));
  // A plain decimal without underscores, whose value is strtod's.
  CHECK(taken.find('_') == std::string_view::npos && is_decimal_literal(taken), text);
  bool range_error = false;
  double want = ref_strtod(std::string(taken), range_error);
  CHECK(std::isfinite(v) && same_bits(v, want), text);
}

void check_tokens(std::string_view text, scan::Separators seps) {
  std::vector<std::string_view> want = ref_split(text, seps);

  scan::Tokenizer plain(text, seps);
  std::string_view token;
  for (std::string_view w : want) {
    CHECK(plain.next(token) && token == w, text);
    // Tokens are views into the line itself.
    CHECK(token.data() >= text.data() && token.data() + token.size() <= text.data() + text.size(),
          text);
  }
  CHECK(!plain.next(token) && !plain.next(token), text);

  // next_double and next_int64 say what next() and the token parsers say.
  scan::Tokenizer doubles(text, seps);
  for (std::string_view w : want) {
    double ref = 0.0, got = 0.0;
    Verdict verdict = scan::parse_double_token(w, ref);
    std::string_view bad;
    int r = doubles.next_double(got, bad);
    if (verdict == Verdict::Clean) {
      CHECK(r == 1 && same_bits(got, ref), text);
    } else {
      CHECK(r == -1 && bad == w, text);
    }
  }
  double unused_d;
  CHECK(doubles.next_double(unused_d, token) == 0, text);

  // next_float says what parse_float_token says, and stands past each token.
  scan::Tokenizer floats(text, seps);
  for (std::string_view w : want) {
    float ref = 0.0f, got = 0.0f;
    Verdict verdict = scan::parse_float_token(w, ref);
    std::string_view bad;
    int r = floats.next_float(got, bad);
    if (verdict == Verdict::Clean) {
      CHECK(r == 1 && same_bits(got, ref), text);
    } else {
      CHECK(r == -1 && bad == w, text);
    }
    CHECK(floats.position() == w.data() + w.size(), text);
  }
  float unused_f;
  CHECK(floats.next_float(unused_f, token) == 0, text);

  scan::Tokenizer ints(text, seps);
  for (std::string_view w : want) {
    std::int64_t ref = 0, got = 0;
    Verdict verdict = scan::parse_int64_token(w, ref);
    std::string_view bad;
    int r = ints.next_int64(got, bad);
    if (verdict == Verdict::Clean) {
      CHECK(r == 1 && got == ref, text);
    } else {
      CHECK(r == -1 && bad == w, text);
    }
  }
  std::int64_t unused_i;
  CHECK(ints.next_int64(unused_i, token) == 0, text);

  // A POINTS line: three tokens, each Clean.
  double xyz[3];
  Verdict vx = scan::parse_xyz(text, seps, xyz);
  bool xyz_ok = want.size() == 3;
  for (std::size_t j = 0; xyz_ok && j < 3; ++j) {
    double ref;
    xyz_ok = scan::parse_double_token(want[j], ref) == Verdict::Clean && same_bits(xyz[j], ref);
  }
  CHECK((vx == Verdict::Clean) == xyz_ok, text);

  // A CELLS row: a count, then that many indices, surplus ignored.
  std::vector<std::int64_t> sunk;
  std::int64_t count = -1;
  Verdict vc = scan::parse_cell_row(text, seps, count, [&](std::int64_t i) {
    sunk.push_back(i);
    return true;
  });
  std::int64_t ref_count = 0;
  bool row_ok = !want.empty() && scan::parse_int64_token(want[0], ref_count) == Verdict::Clean &&
                ref_count >= 0 && static_cast<std::uint64_t>(ref_count) < want.size();
  for (std::int64_t k = 1; row_ok && k <= ref_count; ++k) {
    std::int64_t ref;
    row_ok = scan::parse_int64_token(want[static_cast<std::size_t>(k)], ref) == Verdict::Clean &&
             static_cast<std::size_t>(k) <= sunk.size() &&
             sunk[static_cast<std::size_t>(k - 1)] == ref;
  }
  CHECK((vc == Verdict::Clean) == row_ok, text);
  if (row_ok) CHECK(count == ref_count && sunk.size() == static_cast<std::size_t>(ref_count), text);
}

// The short exact reader gives what std::from_chars gives, value and end,
// wherever it takes the text.
template <class T>
void check_short(std::string_view text) {
  const char* first = text.data();
  const char* last = first + text.size();
  T fast{}, slow{};
  const char* end = nullptr;
  if (!scan::parse_short_decimal(first, last, fast, end)) return;
  auto [ptr, ec] = std::from_chars(first, last, slow, std::chars_format::general);
  CHECK(ec == std::errc() && ptr == end && same_bits(fast, slow), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> copy(new char[size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  std::string_view text(copy.get(), size);

  check_clean_float(text);

  double d = -42.0;
  Verdict vd = scan::parse_double(text, d);
  check_double(text, vd, d);
  double dt = -42.0;
  // The token entry point agrees with the line one on a stripped text.
  CHECK(scan::parse_double_token(ref_strip(text), dt) == vd, text);
  if (vd == Verdict::Clean) CHECK(same_bits(d, dt), text);

  std::int64_t i = -42;
  Verdict vi = scan::parse_int64(text, i);
  check_int(text, vi, i);

  check_prefix(text);
  check_float(text);
  check_float_prefix(text);
  check_short<double>(text);
  check_short<float>(text);
  check_short<double>(ref_strip(text));
  check_short<float>(ref_strip(text));
  CHECK(scan::count_tokens(text) == ref_split(text, scan::Separators::Bytes).size(), text);
  check_tokens(text, scan::Separators::Str);
  check_tokens(text, scan::Separators::Bytes);
  return 0;
}
