// Number scanning for the block parsers. No Python.h here: the C++ tests and
// the fuzzer link this unit alone.
//
// Every function judges the shape of one token and either gives the value
// Python's float() or int() would give for it, or answers Fallback: "let the
// interpreter decide". Fallback never means "invalid"; the caller hands such a
// token to the interpreter, which produces the value or the exact error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace veltrane::scan {

enum class Verdict { Clean, Fallback };

// The whitespace that float(), int() and bytes.split() strip: ASCII space,
// \t, \n, \v, \f and \r.
constexpr bool is_space(unsigned char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool is_digit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }

// `text` without leading and trailing whitespace.
std::string_view strip(std::string_view text) noexcept;

// Copies `text` into `out` (room for text.size() + 1) without outer
// whitespace or digit-separating underscores, NUL-terminated; `n` gets the
// length. Fallback when an underscore stands anywhere but between two
// digits, which the interpreter rejects with its own message.
Verdict clean_float(std::string_view text, char* out, std::size_t& n) noexcept;

// float(text) for a token of ASCII text: outer whitespace, an optional sign,
// decimal digits with an optional point and exponent, single underscores
// between digits. Correctly rounded. Fallback for everything else, including
// inf and nan, magnitudes outside the finite double range and zero results of
// non-zero text, which the interpreter decides.
Verdict parse_double(std::string_view text, double& value) noexcept;

// int(text) for a token of ASCII text, when the value fits in int64_t:
// outer whitespace, an optional sign, decimal digits with single underscores
// between them. Fallback for everything else.
Verdict parse_int64(std::string_view text, std::int64_t& value) noexcept;

}  // namespace veltrane::scan
