// The shortest decimal of a binary float, by the method of R. Giulietti's
// "The Schubfach way to render doubles": the value's rounding interval is
// scaled by 10^-k, where k makes it narrower than ten units, so that it holds
// at most one multiple of ten, and its ends are computed with round-to-odd
// products against a 126-bit upper approximation of 10^-k, close enough to
// tell exactly which integers lie inside. No Python.h here; see format.hpp.
#include "shortest.hpp"

#include <array>
#include <bit>

namespace veltrane::format {
namespace {

using u128 = unsigned __int128;

// floor(q log10 2), floor(log10(3/4 2^q)) and floor(e log2 10), exact for
// |q|, |e| below 1100 (checked against exact arithmetic).
constexpr int floor_log10_pow2(int q) {
  return static_cast<int>((q * std::int64_t{661971961083}) >> 41);
}
constexpr int floor_log10_three_quarters_pow2(int q) {
  return static_cast<int>((q * std::int64_t{661971961083} - 274743187321) >> 41);
}
constexpr int floor_log2_pow10(int e) {
  return static_cast<int>((e * std::int64_t{913124641741}) >> 38);
}

// g(e) = floor(10^e / 2^r) + 1 for r = floor_log2_pow10(e) - 125, so that
// 2^125 < g <= 2^126 and 10^e < g 2^r. Held as hi 2^63 + lo, lo < 2^63.
struct Pow10 {
  std::uint64_t hi;
  std::uint64_t lo;
};
constexpr int kMinE = -292;  // the scales of normal doubles; floats use a part
constexpr int kMaxE = 324;
constexpr std::uint64_t kLow63 = (std::uint64_t{1} << 63) - 1;

// Just enough of an unsigned big integer to make the table: 32-bit limbs,
// least significant first, room for 2^1343.
class Big {
 public:
  void set_bit(int b) { limbs_[static_cast<std::size_t>(b / 32)] |= std::uint32_t{1} << (b % 32); }
  void times_ten() {
    std::uint64_t carry = 0;
    for (auto& limb : limbs_) {
      carry += std::uint64_t{limb} * 10;
      limb = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
  }
  void over_ten() {  // rounds down
    std::uint64_t rest = 0;
    for (auto limb = limbs_.rbegin(); limb != limbs_.rend(); ++limb) {
      rest = (rest << 32) | *limb;
      *limb = static_cast<std::uint32_t>(rest / 10);
      rest %= 10;
    }
  }
  // floor(value / 2^b) mod 2^128.
  u128 bits_from(int b) const {
    const auto word = static_cast<std::size_t>(b / 32);
    const int shift = b % 32;
    u128 low = 0;
    for (std::size_t j = 4; j-- > 0;) low = (low << 32) | limb(word + j);
    if (shift == 0) return low;
    return (low >> shift) | (u128{limb(word + 4)} << (128 - shift));
  }

 private:
  std::uint32_t limb(std::size_t i) const { return i < limbs_.size() ? limbs_[i] : 0; }
  std::array<std::uint32_t, 42> limbs_{};
};

using Table = std::array<Pow10, kMaxE - kMinE + 1>;

Pow10 split(u128 g) {
  return {static_cast<std::uint64_t>(g >> 63), static_cast<std::uint64_t>(g) & kLow63};
}

// Made once from exact integers: 10^e directly, and 10^-m as
// floor(2^1280 / 10^m), whose bits from kTop + r on are floor(2^-r / 10^m).
Table make_table() {
  Table table{};
  Big power;
  power.set_bit(0);
  for (int e = 0; e <= kMaxE; ++e) {
    if (e > 0) power.times_ten();
    const int r = floor_log2_pow10(e) - 125;
    const u128 scaled = r >= 0 ? power.bits_from(r) : power.bits_from(0) << -r;
    table[static_cast<std::size_t>(e - kMinE)] = split(scaled + 1);
  }
  constexpr int kTop = 1280;
  Big inverse;
  inverse.set_bit(kTop);
  for (int m = 1; m <= -kMinE; ++m) {
    inverse.over_ten();
    const int r = floor_log2_pow10(-m) - 125;
    table[static_cast<std::size_t>(-m - kMinE)] = split(inverse.bits_from(kTop + r) + 1);
  }
  return table;
}

const Pow10& pow10(int e) {
  static const Table table = make_table();
  return table[static_cast<std::size_t>(e - kMinE)];
}

Decimal strip(std::uint64_t digits, int exponent) {
  while (digits % 10 == 0) {
    digits /= 10;
    ++exponent;
  }
  return {digits, exponent};
}

// round-to-odd of g cp / 2^127: its floor, with the last bit set when
// anything was cut off. Bits of g0 cp below 2^64 are left out; the method
// shows that they cannot change the answer.
std::uint64_t round_to_odd(const Pow10& g, std::uint64_t cp) {
  const auto x1 = static_cast<std::uint64_t>((u128{g.lo} * cp) >> 64);
  const u128 y = u128{g.hi} * cp;
  const std::uint64_t z = (static_cast<std::uint64_t>(y) >> 1) + x1;
  const std::uint64_t below = static_cast<std::uint64_t>(y >> 64) + (z >> 63);
  return below | ((z & kLow63) != 0);
}

// The float version: g rounded up to its top 63 bits, one product.
std::uint64_t round_to_odd(std::uint64_t g, std::uint64_t cp) {
  const auto x1 = static_cast<std::uint64_t>((u128{g} * cp) >> 64);
  return (x1 >> 31) | ((x1 & ((std::uint64_t{1} << 31) - 1)) != 0);
}

struct Double {
  using Bits = std::uint64_t;
  static constexpr int kPrecision = 53;
  static constexpr int kBias = 1075;  // q = biased exponent - kBias
  static constexpr int kShift = 2;    // h = q + floor_log2_pow10(-k) + kShift
  static std::uint64_t scale(int k, std::uint64_t cp) { return round_to_odd(pow10(-k), cp); }
};

struct Float {
  using Bits = std::uint32_t;
  static constexpr int kPrecision = 24;
  static constexpr int kBias = 150;
  static constexpr int kShift = 33;
  static std::uint64_t scale(int k, std::uint64_t cp) { return round_to_odd(pow10(-k).hi + 1, cp); }
};

// v = c 2^q, c of kPrecision bits: normal.
template <class F, class T>
Decimal decimal_of(T v) {
  constexpr int kFraction = F::kPrecision - 1;
  const auto bits = std::bit_cast<typename F::Bits>(v);
  const std::uint64_t c = (std::uint64_t{1} << kFraction) | (bits & ((1ULL << kFraction) - 1));
  const int q = static_cast<int>(bits >> kFraction) - F::kBias;
  // An integer below 2^kPrecision has no shorter decimal than itself.
  if (q < 0 && q > -F::kPrecision && ((c >> -q) << -q) == c) return strip(c >> -q, 0);

  const std::uint64_t out = c & 1;  // the interval's ends belong to it when c is even
  const std::uint64_t cb = c << 2;
  const std::uint64_t cbr = cb + 2;
  std::uint64_t cbl;
  int k;
  // Below a power of two the spacing halves, except at the lowest binade,
  // where it continues into the subnormals.
  if (c != (std::uint64_t{1} << kFraction) || q == 1 - F::kBias) {
    cbl = cb - 2;
    k = floor_log10_pow2(q);
  } else {
    cbl = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int h = q + floor_log2_pow10(-k) + F::kShift;
  const std::uint64_t vb = F::scale(k, cb << h);
  const std::uint64_t vbl = F::scale(k, cbl << h);
  const std::uint64_t vbr = F::scale(k, cbr << h);

  // s 10^k is the decimal at or below v; the interval is under ten units
  // wide, so one digit fewer is the shortest when exactly one multiple of ten
  // next to s lies in it (stripping its zeros then finds any shorter still).
  const std::uint64_t s = vb >> 2;
  if (s >= 100) {
    const std::uint64_t sp10 = 10 * (s / 10);
    const std::uint64_t tp10 = sp10 + 10;
    const bool upin = vbl + out <= sp10 << 2;
    const bool wpin = (tp10 << 2) + out <= vbr;
    if (upin != wpin) return strip(upin ? sp10 : tp10, k);
  }
  const std::uint64_t t = s + 1;
  const bool uin = vbl + out <= s << 2;
  const bool win = (t << 2) + out <= vbr;
  if (uin != win) return strip(uin ? s : t, k);
  // Both lie inside: the closer to v, the even one at a tie.
  const auto cmp = static_cast<std::int64_t>(vb - ((s + t) << 1));
  return strip(cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t, k);
}

}  // namespace

Decimal shortest(double v) noexcept { return decimal_of<Double>(v); }
Decimal shortest(float v) noexcept { return decimal_of<Float>(v); }

}  // namespace veltrane::format
