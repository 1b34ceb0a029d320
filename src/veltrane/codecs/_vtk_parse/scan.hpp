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

// Which characters separate tokens: str.split() also splits at the ASCII
// information separators 0x1c to 0x1f, bytes.split() only at whitespace.
enum class Separators { Str, Bytes };

// Splits a line as split() with no arguments does, one token at a time.
class Tokenizer {
 public:
  Tokenizer(std::string_view text, Separators seps) noexcept
      : p_(text.data()), end_(text.data() + text.size()), seps_(seps) {}
  // The next token, or false at the end of the line.
  bool next(std::string_view& token) noexcept;

 private:
  const char* p_;
  const char* end_;
  Separators seps_;
};

// Like parse_double and parse_int64, for a token that holds no whitespace.
Verdict parse_double_token(std::string_view token, double& value) noexcept;
Verdict parse_int64_token(std::string_view token, std::int64_t& value) noexcept;

// A POINTS line: exactly three tokens, each Clean, into out[0..2]. Fallback
// leaves `out` in an unspecified state.
Verdict parse_xyz(std::string_view line, Separators seps, double out[3]) noexcept;

// A version 4.2 CELLS row: a count of zero or more, then at least that many
// vertex indices, which go to `sink(index)` in order; tokens after them are
// not read. Fallback when any token read is not Clean, the row is short or
// `sink` returns false; `sink` may then have received some of the indices.
template <class Sink>
Verdict parse_cell_row(std::string_view line, Separators seps, std::int64_t& count,
                       Sink&& sink) noexcept {
  Tokenizer tokens(line, seps);
  std::string_view token;
  if (!tokens.next(token) || parse_int64_token(token, count) != Verdict::Clean || count < 0)
    return Verdict::Fallback;
  for (std::int64_t k = 0; k < count; ++k) {
    std::int64_t index;
    if (!tokens.next(token) || parse_int64_token(token, index) != Verdict::Clean)
      return Verdict::Fallback;
    if (!sink(index)) return Verdict::Fallback;
  }
  return Verdict::Clean;
}

}  // namespace veltrane::scan
