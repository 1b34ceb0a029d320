// read_ascii: a run of whitespace-separated numbers of one type from the
// data, however it is spread over lines, into a new array. The scanning core
// takes the common token whole; a token it cannot judge goes to the
// interpreter's float() or int(), so acceptance is theirs. A run the reader
// cannot take whole is declined with the byte offset that shows why, never
// with an exception: the reader reads it again to say what is wrong.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "args.hpp"
#include "blocks.hpp"
#include "ref.hpp"
#include "scan.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::blocks {
namespace {

// A conversion's answer: a number, the end of the data, a token that is no
// number of the type, or an exception (MemoryError) to pass on.
enum class Got { kValue, kEnd, kBad, kError };

Got from(int scanned) { return scanned == 1 ? Got::kValue : scanned == 0 ? Got::kEnd : Got::kBad; }

Ref bytes_of(std::string_view token) {
  return Ref::steal(PyBytes_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size())));
}

// A failed conversion by the interpreter: ValueError and OverflowError say
// the token is no number of the type; anything else is passed on.
Got refused() {
  if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_OverflowError))
    return Got::kError;
  PyErr_Clear();
  return Got::kBad;
}

// float(token) for a token the core left to the interpreter.
Got slow_double(std::string_view token, double& value) {
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
  static Got next(scan::Tokenizer& tokens, double& value, std::string_view& token) {
    Got got = from(tokens.next_double(value, token));
    return got == Got::kBad ? slow_double(token, value) : got;
  }
};

struct Float32 {
  using Out = float;
  static constexpr int kType = NPY_FLOAT32;
  static Got next(scan::Tokenizer& tokens, float& value, std::string_view& token) {
    Got got = from(tokens.next_float(value, token));
    if (got != Got::kBad) return got;
    // float() decides whether it is a number; what it takes beyond the core
    // is inf and nan in their spellings. A finite value here means the core
    // could not get memory to drop a long token's underscores.
    double d;
    got = slow_double(token, d);
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
constexpr std::ptrdiff_t kFreeDigits = 640;

// Integers of type T with values lo..hi by int() of the token; 'c' stores
// 128..255 as value - 256, which the cast does.
template <class T, int kNpyType, std::int64_t lo, std::uint64_t hi>
struct Integer {
  using Out = T;
  static constexpr int kType = kNpyType;

  static Got next(scan::Tokenizer& tokens, T& value, std::string_view& token) {
    const char* before = tokens.position();
    std::int64_t v = 0;
    int scanned = tokens.next_int64(v, token);
    if (scanned == 0) return Got::kEnd;
    if (scanned < 0) return slow(token, value);
    // The fast path leaves `token` unset; the token just read ends where the
    // scan stands, and is wanted only for a long one or a decline.
    auto last_token = [&] {
      const char* end = tokens.position();
      const char* start = end;
      while (start != before && !scan::is_space(static_cast<unsigned char>(start[-1]))) --start;
      return std::string_view(start, static_cast<std::size_t>(end - start));
    };
    if (tokens.position() - before > kFreeDigits) {
      // Rare: a long run of digits, or of spaces before a short one.
      token = last_token();
      if (token.size() > kFreeDigits) return slow(token, value);
    }
    if (store(v, value) == Got::kValue) return Got::kValue;
    token = last_token();
    return Got::kBad;
  }

  static Got store(std::int64_t v, T& value) {
    if (v < lo || (v > 0 && static_cast<std::uint64_t>(v) > hi)) return Got::kBad;
    value = static_cast<T>(v);
    return Got::kValue;
  }

  static Got slow(std::string_view token, T& value) {
    Ref text = bytes_of(token);
    if (!text) return Got::kError;
    Ref number = Ref::steal(PyNumber_Long(text.get()));
    if (!number) return refused();
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return Got::kError;
    if (overflow == 0) return store(v, value);
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

// The run read from `pos`, into `out` when it is not null, else only
// checked: (array or None, end) or (None, where) as read_ascii answers.
template <class Conv>
PyObject* read_run(const Data& data, Py_ssize_t pos, Py_ssize_t count) {
  std::string_view all = data.bytes();
  // count numbers need 2 * count - 1 bytes at least. A count the bytes left
  // cannot hold sizes no memory: the run is scanned for where it fails.
  Ref array;
  typename Conv::Out* out = nullptr;
  if (count <= (data.size() - pos + 1) / 2) {
    npy_intp dims[] = {count};
    array = Ref::steal(PyArray_SimpleNew(1, dims, Conv::kType));
    if (!array) return nullptr;
    out = static_cast<typename Conv::Out*>(
        PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  }
  if (count == 0) return Py_BuildValue("(On)", array.get(), pos);

  scan::Tokenizer tokens(all.substr(static_cast<std::size_t>(pos)), scan::Separators::Bytes);
  for (Py_ssize_t k = 0; k < count; ++k) {
    typename Conv::Out value{};
    std::string_view token;
    switch (Conv::next(tokens, value, token)) {
      case Got::kValue:
        if (out != nullptr) out[k] = value;
        break;
      case Got::kEnd:
        return Py_BuildValue("(On)", Py_None, data.size());
      case Got::kBad:
        return Py_BuildValue("(On)", Py_None, data.offset(token));
      case Got::kError:
        return nullptr;
    }
  }
  // The run ends its line: a token after it on the same line means the
  // count the header gave is short.
  const char* end = tokens.position();
  const char* p = end;
  const char* stop = all.data() + all.size();
  while (p != stop && *p != '\n' && *p != '\r' && scan::is_space(static_cast<unsigned char>(*p)))
    ++p;
  if (p != stop && *p != '\n' && *p != '\r') return Py_BuildValue("(On)", Py_None, data.offset(p));
  return Py_BuildValue("(On)", array.get(), data.offset(end));
}

using Reader = PyObject* (*)(const Data&, Py_ssize_t, Py_ssize_t);

// The reader for a type code; nullptr with ValueError or TypeError.
Reader reader_for(PyObject* type) {
  if (!PyUnicode_Check(type) || PyUnicode_GET_LENGTH(type) != 1) {
    PyErr_Format(PyExc_TypeError, "type must be a str of one character, not %R", type);
    return nullptr;
  }
  switch (PyUnicode_READ_CHAR(type, 0)) {
    case 'd':
      return read_run<Float64>;
    case 'f':
      return read_run<Float32>;
    case 'b':
      return read_run<Full<std::int8_t, NPY_INT8>>;
    case 'B':
      return read_run<Unsigned<std::uint8_t, NPY_UINT8>>;
    case 'h':
      return read_run<Full<std::int16_t, NPY_INT16>>;
    case 'H':
      return read_run<Unsigned<std::uint16_t, NPY_UINT16>>;
    case 'i':
      return read_run<Full<std::int32_t, NPY_INT32>>;
    case 'I':
      return read_run<Unsigned<std::uint32_t, NPY_UINT32>>;
    case 'q':
      return read_run<Full<std::int64_t, NPY_INT64>>;
    case 'Q':
      return read_run<Unsigned<std::uint64_t, NPY_UINT64>>;
    case '?':
      return read_run<Integer<npy_bool, NPY_BOOL, 0, 1>>;
    case 'c':
      return read_run<Integer<std::int8_t, NPY_INT8, -128, 255>>;
    default:
      PyErr_Format(PyExc_ValueError, "type must be one of 'dfbBhHiIqQ?c', not %R", type);
      return nullptr;
  }
}

}  // namespace

PyObject* read_ascii(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("read_ascii", nargs, 4)) return nullptr;
  Data data;
  Py_ssize_t pos, count;
  if (!data.acquire(args[0]) || !to_position(args[1], "pos", data, pos) ||
      !to_count(args[2], "count", 0, count))
    return nullptr;
  Reader read = reader_for(args[3]);
  if (read == nullptr) return nullptr;
  return read(data, pos, count);
}

}  // namespace veltrane::blocks
