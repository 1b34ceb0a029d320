// Tests of the scanning core's short exact decimals and its token count.
// std::from_chars is the oracle: on every text the short reader takes, it
// must give the same bits and stop at the same byte; the tables check that
// it takes what it promises to take, so that the comparison is not vacuous.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "scan.hpp"

namespace scan = veltrane::scan;

namespace {

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
bool same_bits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Compares the short reader with std::from_chars on `text`; returns whether
// the short reader took it.
template <class T>
bool agrees(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  T fast{}, slow{};
  const char* end = nullptr;
  if (!scan::parse_short_decimal(first, last, fast, end)) return false;
  auto [ptr, ec] = std::from_chars(first, last, slow, std::chars_format::general);
  EXPECT_TRUE(ec == std::errc()) << text;
  EXPECT_EQ(end, ptr) << text;
  EXPECT_TRUE(same_bits(fast, slow)) << text << ": " << fast << " vs " << slow;
  return true;
}

// Spellings of mantissa * 10^exponent: plain, with the point moved into or
// in front of the digits, with leading zeros, with a sign, and with text
// after it that ends the number.
std::vector<std::string> spellings(std::uint64_t mantissa, int exponent) {
  const std::string digits = std::to_string(mantissa);
  const int n = static_cast<int>(digits.size());
  std::vector<std::string> out = {
      digits + "e" + std::to_string(exponent),
      "-" + digits + "E" + (exponent >= 0 ? "+" : "") + std::to_string(exponent),
      "000" + digits + "e" + std::to_string(exponent) + " 7",
  };
  // The point after k digits lowers the exponent part by n - k.
  for (int k : {0, 1, n - 1, n}) {
    if (k < 0 || k > n) continue;
    std::string text = digits.substr(0, static_cast<std::size_t>(k)) + "." +
                       digits.substr(static_cast<std::size_t>(k));
    const int e = exponent + (n - k);
    out.push_back(e == 0 ? text + "x" : text + "e" + std::to_string(e));
    if (k == 0) out.push_back("0.00" + digits + "e" + std::to_string(exponent + n + 2));
  }
  if (exponent == 0) out.push_back(digits + ".");
  return out;
}

// Whether the short reader tries `text`: a byte below '!' within the first
// 16, or fewer than 16 bytes.
bool tried(const std::string& text) {
  for (std::size_t i = 0; i < text.size() && i < 16; ++i)
    if (static_cast<unsigned char>(text[i]) < 0x21) return true;
  return text.size() < 16;
}

// A fixed sequence of numbers for tables, the same on every run.
std::uint64_t next_random(std::uint64_t& state) {
  state = state * 6364136223846793005u + 1442695040888963407u;
  return state >> 11;
}

TEST(ShortDecimal, AgreesWithFromCharsForDouble) {
  std::vector<std::uint64_t> mantissas = {0,
                                          1,
                                          5,
                                          9,
                                          10,
                                          123456,
                                          999999999999999999u,
                                          (1ull << 53) - 1,
                                          (1ull << 53) - 2,
                                          4503599627370497u};
  std::uint64_t state = 1;
  for (int i = 0; i < 600; ++i) mantissas.push_back(next_random(state) >> (i % 53));
  for (std::uint64_t m : mantissas) {
    for (int e = -24; e <= 24; ++e) {
      const bool exact = m < (1ull << 53) && e >= -22 && e <= 22;
      for (const std::string& text : spellings(m, e)) {
        const bool took = agrees<double>(text);
        // A zero mantissa is exact at any exponent.
        EXPECT_EQ(took, (exact || m == 0) && tried(text)) << text;
      }
    }
  }
}

TEST(ShortDecimal, AgreesWithFromCharsForFloat) {
  std::vector<std::uint64_t> mantissas(300);
  for (std::uint64_t m = 0; m < 300; ++m) mantissas[m] = m;
  for (std::uint64_t m = 300; m <= (1u << 24) + 5; m += 9973) mantissas.push_back(m);
  mantissas.push_back((1u << 24) - 1);
  for (std::uint64_t m : mantissas) {
    for (int e = -12; e <= 12; ++e) {
      const bool exact = m < (1u << 24) && e >= -10 && e <= 10;
      for (const std::string& text : spellings(m, e)) {
        const bool took = agrees<float>(text);
        // A zero mantissa is exact at any exponent.
        EXPECT_EQ(took, (exact || m == 0) && tried(text)) << text;
      }
    }
  }
}

// r * 10^e with r * 5^e odd and one bit wider than the significand lies
// exactly halfway between two neighbours: the product must round to the
// even one, as std::from_chars does.
template <class T, int kBits, int kMaxExponent>
void check_halfway_cases() {
  int checked = 0;
  for (int e = 1; e <= kMaxExponent; ++e) {
    std::uint64_t five = 1;
    for (int i = 0; i < e; ++i) five *= 5;
    const std::uint64_t lo = ((std::uint64_t{1} << kBits) + five - 1) / five;
    const std::uint64_t hi = (std::uint64_t{1} << (kBits + 1)) / five;
    for (std::uint64_t r : {lo, lo + 1, lo + 2, (lo + hi) / 2, (lo + hi) / 2 + 1, hi - 1, hi}) {
      if (r % 2 == 0 || r < lo || r >= hi || r >= (std::uint64_t{1} << kBits)) continue;
      for (const std::string& text : {std::to_string(r) + "e" + std::to_string(e),
                                      "-" + std::to_string(r) + "e" + std::to_string(e)}) {
        EXPECT_EQ(agrees<T>(text), tried(text)) << text;
        checked += tried(text);
      }
    }
  }
  EXPECT_GE(checked, kMaxExponent);
}

TEST(ShortDecimal, RoundsHalfwayProductsToEven) {
  check_halfway_cases<double, 53, 22>();
  check_halfway_cases<float, 24, 10>();
}

TEST(ShortDecimal, LeavesTheRestToTheGeneralReader) {
  // Too many digits, no digits, an exponent part std::from_chars leaves
  // unread, an exponent beyond the exact range.
  const char* texts[] = {"12345678901234567890",
                         "1.2345678901234567890",
                         ".",
                         "-",
                         "-.e1",
                         "e5",
                         "1e",
                         "1e+",
                         "1.5E-x",
                         "1e23",
                         "1e-23",
                         "9007199254740992",
                         "+1",
                         "inf",
                         "nan",
                         "1e100001"};
  for (const char* text : texts) {
    double d = -42.0;
    float f = -42.0f;
    const char* end = nullptr;
    const char* last = text + std::strlen(text);
    EXPECT_FALSE(scan::parse_short_decimal(text, last, d, end)) << text;
    EXPECT_EQ(d, -42.0) << text;
    EXPECT_FALSE(scan::parse_short_decimal(text, last, f, end)) << text;
    EXPECT_EQ(f, -42.0f) << text;
  }
  // Leading and trailing zeros count as digits; a zero is exact at any
  // exponent. A token of 16 bytes or more is not tried, exact or not.
  EXPECT_TRUE(agrees<double>("0000000123.000"));
  EXPECT_TRUE(agrees<double>("-0.0000e999"));
  EXPECT_TRUE(agrees<double>("123456789012345 6"));
  EXPECT_FALSE(agrees<double>("1234567890123456"));
  EXPECT_FALSE(agrees<double>("10000000000000000000e-3"));
}

TEST(CountTokens, SplitsAsBytesSplit) {
  const std::pair<std::string_view, std::size_t> cases[] = {
      {"", 0},         {" ", 0},        {"a", 1},          {" a", 1},
      {"a ", 1},       {"a b", 2},      {"\t\n\v\f\r", 0}, {"1\x1c 2", 2},
      {"ab\r\ncd", 2}, {"\xff\x00", 1}, {"  x  y  z", 3},
  };
  for (auto [text, want] : cases) EXPECT_EQ(scan::count_tokens(text), want) << text;
  // Long enough for the compiler's wide loop and its tail.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += i % 7 == 0 ? "\n" : "1.5 ";
  scan::Tokenizer tokens(many, scan::Separators::Bytes);
  std::string_view token;
  std::size_t n = 0;
  while (tokens.next(token)) ++n;
  for (std::size_t cut = 0; cut < 40; ++cut) {
    std::string_view part(many.data() + cut, many.size() - cut);
    scan::Tokenizer rest(part, scan::Separators::Bytes);
    std::size_t m = 0;
    while (rest.next(token)) ++m;
    EXPECT_EQ(scan::count_tokens(part), m) << cut;
  }
  EXPECT_EQ(scan::count_tokens(many), n);
}

}  // namespace
