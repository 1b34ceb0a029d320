// The token readers of each type code, shared by read_ascii and read_cells.
// Each has two halves: `fast` reads the next token with the scanning core
// alone, touches nothing of Python and may run on any thread; `slow` asks
// the interpreter's float() or int() about a token the core left to it, and
// needs the GIL. Acceptance is the interpreter's: `fast` answers kSlow
// wherever it cannot judge a token whole.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "ref.hpp"
#include "scan.hpp"

#include <numpy/ndarraytypes.h>

namespace veltrane::blocks {

// A reader's answer: a number, the end of the data, a token that is no
// number of the type, a token for the interpreter, or an exception
// (MemoryError) to pass on.
enum class Got { kValue, kEnd, kBad, kSlow, kError };

inline Got from(int scanned) {
  return scanned == 1 ? Got::kValue : scanned == 0 ? Got::kEnd : Got::kSlow;
}

inline Ref bytes_of(std::string_view token) {
  return Ref::steal(PyBytes_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size())));
}

// A failed conversion by the interpreter: ValueError and OverflowError say
// the token is no number of the type; anything else is passed on.
inline Got refused() {
  if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_OverflowError))
    return Got::kError;
  PyErr_Clear();
  return Got::kBad;
}

// float(token) for a token the core left to the interpreter.
inline Got slow_double(std::string_view token, double& value) {
  Ref text = bytes_of(token);
  if (!text) return Got::kError;
  Ref number = Ref::steal(PyFloat_FromString(text.get()));
  if (!number) return refused();
  value = PyFloat_AS_DOUBLE(number.get());
  return Got::kValue;
}

struct Float64 {
  using Out = double;
  static constexpr int kType = NPY_FLOAT64;
  static Got fast(scan::Tokenizer& tokens, double& value, std::string_view& token) {
    return from(tokens.next_double(value, token));
  }
  static Got slow(std::string_view token, double& value) { return slow_double(token, value); }
};

struct Float32 {
  using Out = float;
  static constexpr int kType = NPY_FLOAT32;
  static Got fast(scan::Tokenizer& tokens, float& value, std::string_view& token) {
    return from(tokens.next_float(value, token));
  }
  static Got slow(std::string_view token, float& value) {
    // float() decides whether it is a number; what it takes beyond the core
    // is inf and nan in their spellings. A finite value here means the core
    // could not get memory to drop a long token's underscores.
    double d;
    Got got = slow_double(token, d);
    if (got != Got::kValue) return got;
    if (std::isnan(d)) {
      value =
          std::copysign(std::numeric_limits<float>::quiet_NaN(), std::signbit(d) ? -1.0f : 1.0f);
    } else if (std::isinf(d)) {
      value = static_cast<float>(d);
    } else {
      PyErr_NoMemory();
      return Got::kError;
    }
    return Got::kValue;
  }
};

// int() reads up to this many digits whatever its digit limit is set to
// (sys.set_int_max_str_digits refuses lower limits); a longer token, even
// one of leading zeros, is the interpreter's to judge.
inline constexpr std::ptrdiff_t kFreeDigits = 640;

// The token that ends at `end`, found by walking back to the blank before
// it, but not past `floor`.
inline std::string_view token_ending_at(const char* floor, const char* end) {
  const char* start = end;
  while (start != floor && !scan::is_space(static_cast<unsigned char>(start[-1]))) --start;
  return std::string_view(start, static_cast<std::size_t>(end - start));
}

// Integers of type T with values lo..hi by int() of the token; 'c' stores
// 128..255 as value - 256, which the cast does.
template <class T, int kNpyType, std::int64_t lo, std::uint64_t hi>
struct Integer {
  using Out = T;
  static constexpr int kType = kNpyType;

  static Got fast(scan::Tokenizer& tokens, T& value, std::string_view& token) {
    const char* before = tokens.position();
    std::int64_t v = 0;
    int scanned = tokens.next_int64(v, token);
    if (scanned <= 0) return from(scanned);
    // The fast path leaves `token` unset; the token just read ends where the
    // scan stands, and is wanted only for a long one or a decline.
    if (tokens.position() - before > kFreeDigits) {
      // Rare: a long run of digits, or of spaces before a short one.
      token = token_ending_at(before, tokens.position());
      if (token.size() > kFreeDigits) return Got::kSlow;
    }
    if (store(v, value)) return Got::kValue;
    token = token_ending_at(before, tokens.position());
    return Got::kBad;
  }

  static bool store(std::int64_t v, T& value) {
    if (v < lo || (v > 0 && static_cast<std::uint64_t>(v) > hi)) return false;
    value = static_cast<T>(v);
    return true;
  }

  static Got slow(std::string_view token, T& value) {
    Ref text = bytes_of(token);
    if (!text) return Got::kError;
    Ref number = Ref::steal(PyNumber_Long(text.get()));
    if (!number) return refused();
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return Got::kError;
    if (overflow == 0) return store(v, value) ? Got::kValue : Got::kBad;
    if (overflow < 0 || hi <= static_cast<std::uint64_t>(INT64_MAX)) return Got::kBad;
    unsigned long long u = PyLong_AsUnsignedLongLong(number.get());
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return refused();
    value = static_cast<T>(u);
    return Got::kValue;
  }
};

template <class T, int kNpyType>
using Full = Integer<T, kNpyType, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()>;

// An unsigned type also takes a negative value down to its signed twin's
// minimum, stored as its two's complement (the cast does that): old writers
// print the largest unsigned value as -1.
template <class T, int kNpyType>
using Unsigned = Integer<T, kNpyType, std::numeric_limits<std::make_signed_t<T>>::min(),
                         std::numeric_limits<T>::max()>;

using Int64 = Full<std::int64_t, NPY_INT64>;

}  // namespace veltrane::blocks
