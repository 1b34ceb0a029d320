// The shortest decimal of a float or double: the digits format.cpp lays out.
// No Python.h here; see format.hpp.
#pragma once

#include <cstdint>

namespace veltrane::format {

// digits × 10^exponent, without trailing zeros in the digits.
struct Decimal {
  std::uint64_t digits;
  int exponent;
};

// For a positive, finite, normal value: the decimal of the fewest digits
// that rounds to the value; of two such, the one closer to it. Its digits
// number at most 17 (9 for a float).
Decimal shortest(double v) noexcept;
Decimal shortest(float v) noexcept;

}  // namespace veltrane::format
