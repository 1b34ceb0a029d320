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
constexpr bool is_space(unsigned char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

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

namespace detail {
// For each byte, whether split() separates tokens there.
struct SeparatorTables {
  bool str[256] = {};
  bool bytes[256] = {};
  constexpr SeparatorTables() {
    for (int c = 0; c < 256; ++c) {
      bytes[c] = is_space(static_cast<unsigned char>(c));
      str[c] = bytes[c] || (c >= 0x1c && c <= 0x1f);
    }
  }
};
inline constexpr SeparatorTables kSeparators;
}  // namespace detail

// Like parse_double and parse_int64, for a token that holds no whitespace.
Verdict parse_double_token(std::string_view token, double& value) noexcept;
Verdict parse_int64_token(std::string_view token, std::int64_t& value) noexcept;

// float() of the plain decimal at the start of [first, last): `end` gets
// where it stops. Fallback for what is not a plain decimal there.
Verdict parse_double_prefix(const char* first, const char* last, double& value,
                            const char*& end) noexcept;

// The float32 nearest the plain decimal at the start of [first, last), ties
// to even, rounded once from the text: through a double first would be
// wrong in rare halfway cases. Past the float32 range that is an infinity,
// below half its smallest subnormal a zero, each with the text's sign.
// Takes exactly the text parse_double_prefix takes; Fallback for the rest.
Verdict parse_float_prefix(const char* first, const char* last, float& value,
                           const char*& end) noexcept;

// The short exact decimals, read without the general algorithm: the plain
// decimal at `first` (where std::from_chars starts: an optional '-', no '+')
// of at most 19 significant digits whose value one multiplication or
// division by an exact power of ten rounds correctly. For double the digits
// make an integer below 2^53 and the decimal exponent lies within 22 either
// way; for float below 2^24 and within 10, computed in float arithmetic, so
// it is rounded once. Only text that has a byte below '!' (a blank, or the
// end of the data) within its first 16 bytes is tried. True with what
// std::from_chars would give, value and end alike; false leaves the text to
// it.
bool parse_short_decimal(const char* first, const char* last, double& value,
                         const char*& end) noexcept;
bool parse_short_decimal(const char* first, const char* last, float& value,
                         const char*& end) noexcept;

// The number of tokens bytes.split() finds in `text`: the whole-run
// counterpart of Tokenizer::next, without reading the tokens.
std::size_t count_tokens(std::string_view text) noexcept;

// parse_float_prefix for a token that holds no whitespace, taken whole;
// single underscores between digits are dropped first, as float() drops
// them. Fallback for everything else, inf and nan included: float() decides
// whether the token is a number at all.
Verdict parse_float_token(std::string_view token, float& value) noexcept;

// Splits a line as split() with no arguments does, one token at a time. The
// number readers take the common token whole in one pass and hand anything
// else to the token parsers above.
class Tokenizer {
 public:
  Tokenizer(std::string_view text, Separators seps) noexcept
      : p_(text.data()),
        end_(text.data() + text.size()),
        sep_(seps == Separators::Str ? detail::kSeparators.str : detail::kSeparators.bytes) {}

  // The next token, or false at the end of the line.
  bool next(std::string_view& token) noexcept {
    if (!skip()) return false;
    const char* b = p_;
    while (p_ != end_ && !is_sep(*p_)) ++p_;
    token = std::string_view(b, static_cast<std::size_t>(p_ - b));
    return true;
  }

  // The next token as int(); 1 with `value`, 0 at the end of the line, -1
  // when the token is no integer this scan takes, with `token` holding it.
  int next_int64(std::int64_t& value, std::string_view& token) noexcept {
    if (!skip()) return 0;
    const char* p = p_;
    bool negative = *p == '-';
    if (negative || *p == '+') ++p;
    const char* digits = p;
    std::uint64_t m = 0;
    while (p != end_ && is_digit(static_cast<unsigned char>(*p)))
      m = m * 10 + static_cast<unsigned>(*p++ - '0');
    // Up to 18 digits cannot overflow; longer runs and other characters
    // (underscores) take the careful parse.
    if (p != digits && p - digits <= 18 && (p == end_ || is_sep(*p))) {
      value = negative ? -static_cast<std::int64_t>(m) : static_cast<std::int64_t>(m);
      p_ = p;
      return 1;
    }
    next(token);
    return parse_int64_token(token, value) == Verdict::Clean ? 1 : -1;
  }

  // The next token as float(); as next_int64.
  int next_double(double& value, std::string_view& token) noexcept {
    if (!skip()) return 0;
    const char* end = nullptr;
    if (parse_double_prefix(p_, end_, value, end) == Verdict::Clean &&
        (end == end_ || is_sep(*end))) {
      p_ = end;
      return 1;
    }
    next(token);
    return parse_double_token(token, value) == Verdict::Clean ? 1 : -1;
  }

  // The next token as parse_float_token reads it; as next_int64.
  int next_float(float& value, std::string_view& token) noexcept {
    if (!skip()) return 0;
    const char* end = nullptr;
    if (parse_float_prefix(p_, end_, value, end) == Verdict::Clean &&
        (end == end_ || is_sep(*end))) {
      p_ = end;
      return 1;
    }
    next(token);
    return parse_float_token(token, value) == Verdict::Clean ? 1 : -1;
  }

  // Where the scan stands: just past the last token read, or at the start.
  const char* position() const noexcept { return p_; }

 private:
  bool is_sep(char c) const noexcept { return sep_[static_cast<unsigned char>(c)]; }
  // Past the separators; false at the end of the line.
  bool skip() noexcept {
    while (p_ != end_ && is_sep(*p_)) ++p_;
    return p_ != end_;
  }

  const char* p_;
  const char* end_;
  const bool* sep_;
};

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
  if (tokens.next_int64(count, token) != 1 || count < 0) return Verdict::Fallback;
  for (std::int64_t k = 0; k < count; ++k) {
    std::int64_t index;
    if (tokens.next_int64(index, token) != 1 || !sink(index)) return Verdict::Fallback;
  }
  return Verdict::Clean;
}

}  // namespace veltrane::scan
