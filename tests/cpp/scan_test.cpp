// Table-driven tests of the scanning core, with the values float() and int()
// give as the expected results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "scan.hpp"

namespace scan = veltrane::scan;
using scan::Verdict;

namespace {

struct DoubleCase {
  const char* text;
  double value;
};

TEST(ParseDouble, ReadsPlainDecimals) {
  const DoubleCase cases[] = {
      {"0", 0.0},
      {"1", 1.0},
      {"-1", -1.0},
      {"+2.5", 2.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"1e3", 1000.0},
      {"1E+03", 1000.0},
      {"-6e2", -600.0},
      {"  7\t", 7.0},
      {"\n\v\f\r 8 ", 8.0},
      {"1_000", 1000.0},
      {"1_000.000_1", 1000.0001},
      {"1e1_0", 1e10},
      {"0.1", 0.1},
      {"2.2250738585072014e-308", 2.2250738585072014e-308},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"0.30000000000000004", 0.30000000000000004},
  };
  for (const auto& c : cases) {
    double v = -42.0;
    ASSERT_EQ(scan::parse_double(c.text, v), Verdict::Clean) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(ParseDouble, KeepsTheSignOfZero) {
  double v = 1.0;
  ASSERT_EQ(scan::parse_double("-0", v), Verdict::Clean);
  EXPECT_TRUE(std::signbit(v));
  ASSERT_EQ(scan::parse_double("-0.0e5", v), Verdict::Clean);
  EXPECT_TRUE(std::signbit(v));
}

TEST(ParseDouble, RoundsCorrectlyOnLongInput) {
  // Halfway between 1 and the next double, then just above it.
  std::string half = "1.00000000000000011102230246251565404236316680908203125";
  double v = 0;
  ASSERT_EQ(scan::parse_double(half, v), Verdict::Clean);
  EXPECT_EQ(v, 1.0);
  ASSERT_EQ(scan::parse_double(half + "00000000000000000000001", v), Verdict::Clean);
  EXPECT_EQ(v, std::nextafter(1.0, 2.0));
}

TEST(ParseDouble, LeavesEverythingElseToTheInterpreter) {
  const char* cases[] = {
      "",         "   ",   "abc",    "1,5",    "1.2.3",    "1e",     "e5",   ".",    "+",
      "-",        "--1",   "+-1",    "1 2",    "0x10",     "inf",    "-inf", "nan",  "+NaN",
      "Infinity", "1e999", "-1e999", "1e-999", "_1",       "1_",     "1__0", "1_.5", "1._5",
      "1e_5",     "-_1",   "1e-_5",  "1_e5",   "\xd9\xa3", "nan(1)", "1f",
  };
  for (const char* text : cases) {
    double v = -42.0;
    EXPECT_EQ(scan::parse_double(text, v), Verdict::Fallback) << text;
    EXPECT_EQ(v, -42.0) << text;
  }
}

TEST(ParseDouble, TreatsNulAsText) {
  double v = -42.0;
  EXPECT_EQ(scan::parse_double(std::string_view("1\0", 2), v), Verdict::Fallback);
}

TEST(ParseDouble, ReadsOnlyItsView) {
  // The digits after the view must not take part.
  const char text[] = "12345";
  double v = 0;
  ASSERT_EQ(scan::parse_double(std::string_view(text, 2), v), Verdict::Clean);
  EXPECT_EQ(v, 12.0);
}

TEST(CleanFloat, DropsOuterSpaceAndUnderscores) {
  char out[32];
  std::size_t n = 99;
  ASSERT_EQ(scan::clean_float("  1_2.3_4e5_6 ", out, n), Verdict::Clean);
  EXPECT_STREQ(out, "12.34e56");
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(scan::clean_float("1__2", out, n), Verdict::Fallback);
  EXPECT_EQ(scan::clean_float("_12", out, n), Verdict::Fallback);
  EXPECT_EQ(scan::clean_float("12_", out, n), Verdict::Fallback);
}

struct IntCase {
  const char* text;
  std::int64_t value;
};

TEST(ParseInt64, ReadsDecimalIntegers) {
  const IntCase cases[] = {
      {"0", 0},
      {"-0", 0},
      {"+7", 7},
      {"007", 7},
      {" 42\n", 42},
      {"1_000", 1000},
      {"-2147483649", -2147483649LL},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
  };
  for (const auto& c : cases) {
    std::int64_t v = -42;
    ASSERT_EQ(scan::parse_int64(c.text, v), Verdict::Clean) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(ParseInt64, LeavesEverythingElseToTheInterpreter) {
  const char* cases[] = {"",
                         " ",
                         "+",
                         "-",
                         "1.0",
                         "1e3",
                         "0x1",
                         "_1",
                         "1_",
                         "1__2",
                         "+_1",
                         "--1",
                         "1 2",
                         "9223372036854775808",
                         "-9223372036854775809",
                         "99999999999999999999999",
                         "\xd9\xa3"};
  for (const char* text : cases) {
    std::int64_t v = -42;
    EXPECT_EQ(scan::parse_int64(text, v), Verdict::Fallback) << text;
    EXPECT_EQ(v, -42) << text;
  }
}

std::uint32_t bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

struct FloatCase {
  const char* text;
  float value;
};

TEST(ParseFloat, RoundsOnceStraightToFloat32) {
  using lim = std::numeric_limits<float>;
  const float up1 = std::nextafter(1.0f, 2.0f);  // 1 + 2^-23, odd
  const float up2 = std::nextafter(up1, 2.0f);   // 1 + 2^-22, even
  const float inf = lim::infinity();
  const FloatCase cases[] = {
      {"0.1", 0.1f},
      {"-2.5e3", -2500.0f},
      {"+.5", 0.5f},
      {"1_0.2_5", 10.25f},
      {"-0", -0.0f},
      // Halfway between 1 and up1 ties to even; a hair above goes up, where
      // a double first would land on the halfway point and round down.
      {"1.000000059604644775390625", 1.0f},
      {"1.000000059604644775390625000000001", up1},
      // Halfway between up1 and up2 ties to even; a hair below stays at up1,
      // where a double first would round up.
      {"1.000000178813934326171875", up2},
      {"1.000000178813934326171874999999999", up1},
      // Subnormals: 2^-150, half the smallest, ties to zero; a hair above it
      // is the smallest (through a double: zero).
      {"1.4e-45", lim::denorm_min()},
      {"7."
       "0064923216240853546186479164495806564013097093825788587853414194489554134293030074331909418"
       "1"
       "060791015625e-46",
       0.0f},
      {"7.006492321624086e-46", lim::denorm_min()},
      {"-7e-46", -0.0f},
      {"1.17549435e-38", lim::min()},
      {"1e-50", 0.0f},
      {"-1e-99999999999999999999", -0.0f},
      {"0.0000e99999999999999999999", 0.0f},
      // Past the top: 2^128 - 2^103, halfway from the largest to 2^128, ties
      // to the infinity; one below it is still the largest.
      {"3.4028235e38", lim::max()},
      {"340282356779733661637539395458142568447", lim::max()},
      {"340282356779733661637539395458142568448", inf},
      {"1_0e3_8", inf},
      {"-1e39", -inf},
      {"1e99999999999999999999", inf},
      {"0.000001e45", inf},
  };
  for (const auto& c : cases) {
    float v = -42.0f;
    ASSERT_EQ(scan::parse_float_token(c.text, v), Verdict::Clean) << c.text;
    EXPECT_EQ(bits(v), bits(c.value)) << c.text;
  }
}

TEST(ParseFloat, TakesTheTextParseDoubleTakes) {
  const char* texts[] = {"1.5e3x", "1e", "1.e5 ", "-.5.", "+7", "12345678901234567890123e-3,"};
  for (const char* text : texts) {
    const char* last = text + std::strlen(text);
    const char *end_d = nullptr, *end_f = nullptr;
    double d;
    float f;
    ASSERT_EQ(scan::parse_double_prefix(text, last, d, end_d), Verdict::Clean) << text;
    ASSERT_EQ(scan::parse_float_prefix(text, last, f, end_f), Verdict::Clean) << text;
    EXPECT_EQ(end_f, end_d) << text;
  }
}

TEST(ParseFloat, LeavesWordsAndMalformedTokensToTheInterpreter) {
  const char* cases[] = {"",         "abc",      "1,5", "1.2.3", "1e",   "e5",   ".",
                         "+",        "--1",      "+-1", "0x10",  "inf",  "-inf", "nan",
                         "+NaN",     "Infinity", "_1",  "1_",    "1__0", "1_.5", "1e_5",
                         "\xd9\xa3", "nan(1)",   "1f",  " 1",    "1 "};
  for (const char* text : cases) {
    float v = -42.0f;
    EXPECT_EQ(scan::parse_float_token(text, v), Verdict::Fallback) << text;
    EXPECT_EQ(v, -42.0f) << text;
  }
}

TEST(Tokenizer, ReadsFloat32TokensAndSaysWhereItStands) {
  const std::string_view line = " 1.5\tx 2e40 1_0\n";
  scan::Tokenizer tokens(line, scan::Separators::Bytes);
  EXPECT_EQ(tokens.position(), line.data());
  float v = 0;
  std::string_view bad;
  ASSERT_EQ(tokens.next_float(v, bad), 1);
  EXPECT_EQ(v, 1.5f);
  EXPECT_EQ(tokens.position() - line.data(), 4);
  ASSERT_EQ(tokens.next_float(v, bad), -1);
  EXPECT_EQ(bad, "x");
  EXPECT_EQ(bad.data() - line.data(), 5);
  ASSERT_EQ(tokens.next_float(v, bad), 1);
  EXPECT_EQ(v, std::numeric_limits<float>::infinity());
  ASSERT_EQ(tokens.next_float(v, bad), 1);
  EXPECT_EQ(v, 10.0f);
  EXPECT_EQ(tokens.next_float(v, bad), 0);
  EXPECT_EQ(tokens.position(), line.data() + line.size());
}

TEST(Strip, UsesTheInterpretersAsciiWhitespace) {
  EXPECT_EQ(scan::strip(" \t\n\v\f\rx \t\n\v\f\r"), "x");
  // 0x1c..0x1f separate str tokens but are not stripped by float().
  EXPECT_EQ(scan::strip("\x1cx"), "\x1cx");
  EXPECT_EQ(scan::strip("   "), "");
}

}  // namespace
