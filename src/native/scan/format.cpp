// Numbers as text. Floats are laid out as the interpreter's repr() lays out
// a float's shortest digits, so that the text of a double is repr()'s own.
// No Python.h here; see format.hpp.
#include "format.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "shortest.hpp"

namespace veltrane::format {
namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

const char* pair(std::uint64_t d) { return kPairs + 2 * d; }

// Eight digits of d < 10^8, zeros in front, from four independent pairs.
void eight_digits(char* out, std::uint32_t d) {
  const std::uint32_t high = d / 10000, low = d % 10000;
  std::memcpy(out, pair(high / 100), 2);
  std::memcpy(out + 2, pair(high % 100), 2);
  std::memcpy(out + 4, pair(low / 100), 2);
  std::memcpy(out + 6, pair(low % 100), 2);
}

// The decimal digits of d (not 0), written to end just before `end`.
char* digits_before(char* end, std::uint64_t d) {
  // Whole blocks of eight first: a double's 17 digits take two and one pair.
  while (d >= 100000000) {
    end -= 8;
    eight_digits(end, static_cast<std::uint32_t>(d % 100000000));
    d /= 100000000;
  }
  while (d >= 100) {
    end -= 2;
    std::memcpy(end, pair(d % 100), 2);
    d /= 100;
  }
  if (d >= 10) {
    end -= 2;
    std::memcpy(end, pair(d), 2);
  } else {
    *--end = static_cast<char>('0' + d);
  }
  return end;
}

// repr()'s layout of 0.d1..dn x 10^point: positional from 1e-4 up to 1e16,
// with a '.0' on whole numbers, else d1.d2..dn, 'e', a sign and at least two
// digits of exponent. Copies are of fixed sizes, which compile to a few
// moves: they read within `buffer` and write at most kSlack bytes past the
// text.
char* write_decimal(char* out, Decimal dec) {
  char buffer[48] = {};
  char* const last = buffer + 24;
  const char* first = digits_before(last, dec.digits);
  const auto n = static_cast<int>(last - first);
  const int point = n + dec.exponent;
  if (point <= -4 || point > 16) {
    out[0] = first[0];
    out[1] = '.';
    std::memcpy(out + 2, first + 1, 16);
    out += n > 1 ? n + 1 : 1;
    const int exponent = point - 1;
    out[0] = 'e';
    out[1] = exponent < 0 ? '-' : '+';
    const auto magnitude = static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent);
    if (magnitude >= 100) {
      out[2] = static_cast<char>('0' + magnitude / 100);
      std::memcpy(out + 3, pair(magnitude % 100), 2);
      return out + 5;
    }
    std::memcpy(out + 2, pair(magnitude), 2);
    return out + 4;
  }
  if (point <= 0) {
    out[0] = '0';
    out[1] = '.';
    std::memset(out + 2, '0', 3);
    out += 2 - point;
    std::memcpy(out, first, 17);
    return out + n;
  }
  std::memcpy(out, first, 17);
  if (point >= n) {
    std::memset(out + n, '0', 16);
    out[point] = '.';
    out[point + 1] = '0';
    return out + point + 2;
  }
  out[point] = '.';
  std::memcpy(out + point + 1, first + point, 16);
  return out + n + 1;
}

// NaN, the infinities and zeros, as repr() spells them but with a NaN's sign
// kept; nullptr for any other value, after which `out` is past its sign.
template <class F>
char* write_special(char*& out, F v) {
  const char* word = nullptr;
  if (std::isnan(v)) {
    word = std::signbit(v) ? "-nan" : "nan";
  } else {
    if (std::signbit(v)) *out++ = '-';
    if (std::isinf(v)) word = "inf";
    if (v == 0) word = "0.0";
  }
  if (word == nullptr) return nullptr;
  const std::size_t n = std::strlen(word);
  std::memcpy(out, word, n);
  return out + n;
}

// Doubles that hold 10^0 .. 10^22 exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Whether a reader that reads the text [first, end) as a double and then
// narrows it gets v back.
bool survives_double(const char* first, const char* end, float v) {
  double wide = 0.0;
  auto [ptr, ec] = std::from_chars(first, end, wide);
  return ec == std::errc() && ptr == end && static_cast<float>(wide) == v;
}

// The same for the text of `dec`. A decimal of at most 9 digits and a power
// of ten up to 10^22 are both exact doubles, so one operation rounds them
// once, as reading the text does.
bool survives_double(const char* first, const char* end, Decimal dec, float v) {
  if (dec.exponent < -22 || dec.exponent > 22) return survives_double(first, end, v);
  const auto d = static_cast<double>(dec.digits);
  const double wide =
      dec.exponent >= 0 ? d * kExactPowers[dec.exponent] : d / kExactPowers[-dec.exponent];
  return static_cast<float>(wide) == v;
}

}  // namespace

char* write_double(char* out, double v) noexcept {
  if (char* end = write_special(out, v)) return end;
  v = std::fabs(v);
  // A subnormal's shortest text is always in exponent form, which is
  // repr()'s form too.
  if (v < std::numeric_limits<double>::min()) return std::to_chars(out, out + kDoubleWidth, v).ptr;
  return write_decimal(out, shortest(v));
}

char* write_float(char* out, float v) noexcept {
  if (char* end = write_special(out, v)) return end;
  v = std::fabs(v);
  const char* first = out;
  if (v >= std::numeric_limits<float>::min()) {
    const Decimal dec = shortest(v);
    char* end = write_decimal(out, dec);
    if (survives_double(first, end, dec, v)) return end;
  } else {
    char* end = std::to_chars(out, out + kFloatWidth, v).ptr;
    if (survives_double(first, end, v)) return end;
  }
  // Every float is a normal double.
  return write_decimal(out, shortest(static_cast<double>(v)));
}

char* write_rows(char* out, const std::int64_t* offsets, std::size_t n_cells,
                 const std::int64_t* conn) noexcept {
  const std::int64_t* p = conn;
  for (std::size_t j = 0; j < n_cells; ++j) {
    const std::int64_t size = offsets[j + 1] - offsets[j];
    out = write_int(out, size);
    for (const std::int64_t* stop = p + size; p != stop; ++p) {
      *out++ = ' ';
      out = write_int(out, *p);
    }
    *out++ = '\n';
  }
  return out;
}

}  // namespace veltrane::format
