// Numbers as the text of ASCII blocks, the writer's side of the scanning
// core. No Python.h here: the caller owns the memory and the GIL, and these
// functions only fill a buffer that nothing else can see.
//
// Floats are the shortest text that reads back to the same value in their
// own width, laid out as the interpreter's repr() lays out a float; NaN and
// the infinities are spelled 'nan', '-nan', 'inf' and '-inf', the sign of a
// NaN kept. Integers are plain decimals, bits 0 and 1.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace veltrane::format {

// The most bytes one value of each kind takes: "-2.2250738585072014e-308"
// for a double; a float may fall back to its double's text (see
// write_float); an integer is its sign and digits.
inline constexpr std::size_t kDoubleWidth = 24;
inline constexpr std::size_t kFloatWidth = kDoubleWidth;
template <class T>
inline constexpr std::size_t kIntWidth = std::numeric_limits<T>::digits10 + 2;

// Writing a value may store up to this many bytes past the end of its text,
// whose bytes the next value's text overwrites: a buffer needs this much room
// after the text's bound.
inline constexpr std::size_t kSlack = 32;

char* write_double(char* out, double v) noexcept;

// A float's shortest text, unless a reader that reads it as a double and
// then narrows it would round twice and miss: then the double's shortest
// text of the same value, which every reader takes exactly.
char* write_float(char* out, float v) noexcept;

// Any non-zero byte is a 1, as NumPy's bool reads it.
inline char* write_bit(char* out, unsigned char v) noexcept {
  *out = v ? '1' : '0';
  return out + 1;
}

template <class T>
char* write_int(char* out, T v) noexcept {
  return std::to_chars(out, out + kIntWidth<T>, v).ptr;
}

// `n` values, `per_line` (1 or more) to a line: a space between the values of
// a line, '\n' after each line and after the last value. Room for
// n * (width + 1) + kSlack bytes is needed; returns the end of the text.
template <class T, char* (*write)(char*, T) noexcept>
char* write_lines(char* out, const T* values, std::size_t n, std::size_t per_line) noexcept {
  std::size_t column = 0;
  for (std::size_t i = 0; i < n; ++i) {
    out = write(out, values[i]);
    if (++column == per_line) {
      *out++ = '\n';
      column = 0;
    } else {
      *out++ = ' ';
    }
  }
  if (column != 0) out[-1] = '\n';
  return out;
}

// The rows of the 4.2 cell layout, one cell to a line: "size i0 i1 ...".
// Cell j holds conn[offsets[j] - offsets[0] .. offsets[j + 1] - offsets[0]),
// so a run of cells takes its slice of the offsets and of the connectivity;
// the offsets never decrease. Room for (n_cells + size of conn) *
// (kIntWidth<int64_t> + 1) + kSlack bytes is needed.
char* write_rows(char* out, const std::int64_t* offsets, std::size_t n_cells,
                 const std::int64_t* conn) noexcept;

}  // namespace veltrane::format
