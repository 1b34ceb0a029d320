// veltrane.codecs._vtk_reread: the reader's fast re-read of blocks that are
// not one record to a line. It reads a run of numbers from a list of lines
// whatever their layout, each value exactly what float() or int() gives for
// its token. It answers None where it cannot take the run whole (a short
// file, a bad or out-of-range token, numbers left over on the last line, a
// line that is not plain text), and the reader's Python code then reads the
// run again and says what is wrong with it.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL veltrane_reread_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "convert.hpp"
#include "ref.hpp"
#include "scan.hpp"

namespace veltrane::reread {
namespace {

enum class Kind { Float, Int, UInt };

// The token as a Python object of its line's type, for the interpreter's
// own conversion.
Ref token_object(std::string_view token, scan::Separators seps) {
  if (seps == scan::Separators::Str)
    return Ref::steal(
        PyUnicode_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size())));
  return Ref::steal(PyBytes_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size())));
}

// The interpreter's value for a token the scan does not take: false when
// the token is no number of this kind (the error cleared).
bool convert_slowly(std::string_view token, scan::Separators seps, Kind kind, void* out,
                    Py_ssize_t k) {
  Ref obj = token_object(token, seps);
  if (!obj) return PyErr_Clear(), false;
  if (kind == Kind::Float) {
    Ref f = Ref::steal(PyFloat_FromString(obj.get()));
    if (!f) return PyErr_Clear(), false;
    static_cast<double*>(out)[k] = PyFloat_AS_DOUBLE(f.get());
    return true;
  }
  Ref n = Ref::steal(PyNumber_Long(obj.get()));
  if (!n) return PyErr_Clear(), false;
  if (kind == Kind::UInt) {
    unsigned long long u = PyLong_AsUnsignedLongLong(n.get());
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return PyErr_Clear(), false;
    static_cast<std::uint64_t*>(out)[k] = u;
  } else {
    long long s = PyLong_AsLongLong(n.get());
    if (s == -1 && PyErr_Occurred()) return PyErr_Clear(), false;
    static_cast<std::int64_t*>(out)[k] = s;
  }
  return true;
}

// Reads the next number of the line into out[k]: 1 when read, 0 at the end
// of the line, -1 when the token is no number of this kind.
int next_number(scan::Tokenizer& tokens, scan::Separators seps, Kind kind, void* out,
                Py_ssize_t k) {
  std::string_view token;
  int got;
  if (kind == Kind::Float) {
    got = tokens.next_double(static_cast<double*>(out)[k], token);
  } else {
    std::int64_t v = 0;
    got = tokens.next_int64(v, token);
    if (got == 1) {
      if (kind == Kind::UInt) {
        if (v < 0) return -1;
        static_cast<std::uint64_t*>(out)[k] = static_cast<std::uint64_t>(v);
      } else {
        static_cast<std::int64_t*>(out)[k] = v;
      }
    }
  }
  if (got >= 0) return got;
  return convert_slowly(token, seps, kind, out, k) ? 1 : -1;
}

int parse_kind(PyObject* obj, Kind& kind) {
  if (PyUnicode_Check(obj) && PyUnicode_GET_LENGTH(obj) == 1) {
    switch (PyUnicode_READ_CHAR(obj, 0)) {
      case 'f':
        kind = Kind::Float;
        return 0;
      case 'i':
        kind = Kind::Int;
        return 0;
      case 'u':
        kind = Kind::UInt;
        return 0;
      default:
        break;
    }
  }
  PyErr_SetString(PyExc_ValueError, "kind must be 'f', 'i' or 'u'");
  return -1;
}

int type_of(Kind kind) {
  return kind == Kind::Float ? NPY_FLOAT64 : kind == Kind::Int ? NPY_INT64 : NPY_UINT64;
}

// The lines of an exact list of str or bytes objects.
struct ListLines {
  PyObject* list;
  Py_ssize_t size() const { return PyList_GET_SIZE(list); }
  bool line(Py_ssize_t i, std::string_view& text, scan::Separators& seps) const {
    return vtk::line_text(PyList_GET_ITEM(list, i), text, seps);
  }
};

// The lines of one ASCII str, cut where `starts` says: line i runs from
// starts[i] up to the separator before starts[i + 1].
struct TextLines {
  const char* data;
  const std::int64_t* starts;
  Py_ssize_t n;
  Py_ssize_t size() const { return n; }
  bool line(Py_ssize_t i, std::string_view& text, scan::Separators& seps) const {
    text =
        std::string_view(data + starts[i], static_cast<std::size_t>(starts[i + 1] - 1 - starts[i]));
    seps = scan::Separators::Str;
    return true;
  }
};

// A run of `count` numbers needs 2 * count - 1 characters at least; a
// header that promises more than the lines hold is answered before any
// memory is sized by it.
template <class Lines>
bool lines_can_hold(const Lines& lines, Py_ssize_t start, Py_ssize_t count) {
  if (count == 0) return true;
  Py_ssize_t need = count > PY_SSIZE_T_MAX / 2 ? PY_SSIZE_T_MAX : 2 * count - 1;
  Py_ssize_t have = 0;
  for (Py_ssize_t i = start; i < lines.size(); ++i) {
    std::string_view text;
    scan::Separators seps;
    if (!lines.line(i, text, seps)) return false;
    have += static_cast<Py_ssize_t>(text.size()) + 1;
    if (have >= need) return true;
  }
  return false;
}

// The run of `count` numbers from line `start` on: (array, the line after
// the run), or None where the run cannot be taken whole.
template <class Lines>
PyObject* read_run(const Lines& lines, Py_ssize_t start, Py_ssize_t count, Kind kind) {
  if (start < 0 || count < 0 || start > lines.size() || !lines_can_hold(lines, start, count))
    Py_RETURN_NONE;
  npy_intp dims[] = {count};
  Ref array = Ref::steal(PyArray_SimpleNew(1, dims, type_of(kind)));
  if (!array) return nullptr;
  void* out = PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()));

  // Conversions here run no Python code, so the lines cannot change under
  // the loop; the size is read afresh on every line all the same.
  Py_ssize_t k = 0, pos = start;
  while (k < count) {
    if (pos >= lines.size()) Py_RETURN_NONE;
    std::string_view text;
    scan::Separators seps;
    if (!lines.line(pos, text, seps)) Py_RETURN_NONE;
    scan::Tokenizer tokens(text, seps);
    while (k < count) {
      int got = next_number(tokens, seps, kind, out, k);
      if (got < 0) Py_RETURN_NONE;
      if (got == 0) break;
      ++k;
    }
    // The run ends with its last line: more numbers there mean the header
    // undercounts, which the reader reports.
    std::string_view token;
    if (k == count && tokens.next(token)) Py_RETURN_NONE;
    ++pos;
  }
  return Py_BuildValue("(On)", array.get(), pos);
}

int parse_sizes(PyObject* const* args, Py_ssize_t& a, Py_ssize_t& b) {
  a = PyLong_AsSsize_t(args[0]);
  if (a == -1 && PyErr_Occurred()) return -1;
  b = PyLong_AsSsize_t(args[1]);
  if (b == -1 && PyErr_Occurred()) return -1;
  return 0;
}

// `text` with `starts` as TextLines; false (no exception) when the text is
// not ASCII or `starts` is not a C-contiguous int64 array that fits it.
bool text_lines(PyObject* text, PyObject* starts, TextLines& out) {
  if (!PyUnicode_CheckExact(text) || !PyUnicode_IS_ASCII(text) || !PyArray_CheckExact(starts))
    return false;
  auto* a = reinterpret_cast<PyArrayObject*>(starts);
  if (PyArray_TYPE(a) != NPY_INT64 || PyArray_NDIM(a) != 1 || !PyArray_IS_C_CONTIGUOUS(a) ||
      PyArray_DIM(a, 0) < 1)
    return false;
  out.data = static_cast<const char*>(PyUnicode_DATA(text));
  out.starts = static_cast<const std::int64_t*>(PyArray_DATA(a));
  out.n = PyArray_DIM(a, 0) - 1;
  // Every line must lie inside the text, in order.
  Py_ssize_t len = PyUnicode_GET_LENGTH(text);
  for (Py_ssize_t i = 0; i < out.n; ++i) {
    if (out.starts[i] < 0 || out.starts[i + 1] - 1 < out.starts[i] || out.starts[i + 1] - 1 > len)
      return false;
  }
  return true;
}

PyObject* read_numbers(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 4) {
    PyErr_SetString(PyExc_TypeError, "read_numbers(lines, start, count, kind)");
    return nullptr;
  }
  Py_ssize_t start, count;
  Kind kind;
  if (parse_sizes(args + 1, start, count) < 0 || parse_kind(args[3], kind) < 0) return nullptr;
  if (!PyList_CheckExact(args[0])) Py_RETURN_NONE;
  return read_run(ListLines{args[0]}, start, count, kind);
}

PyObject* read_numbers_in(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 5) {
    PyErr_SetString(PyExc_TypeError, "read_numbers_in(text, starts, start, count, kind)");
    return nullptr;
  }
  Py_ssize_t start, count;
  Kind kind;
  if (parse_sizes(args + 2, start, count) < 0 || parse_kind(args[4], kind) < 0) return nullptr;
  TextLines lines;
  if (!text_lines(args[0], args[1], lines)) Py_RETURN_NONE;
  return read_run(lines, start, count, kind);
}

// Where each line of `text` starts, as int64, and one more entry a
// separator past the end, so that line i runs from starts[i] up to
// starts[i + 1] - 1.
PyObject* line_starts(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2 || !PyUnicode_Check(args[0]) || !PyUnicode_Check(args[1]) ||
      PyUnicode_GET_LENGTH(args[1]) != 1) {
    PyErr_SetString(PyExc_TypeError, "line_starts(text: str, separator: str of length 1)");
    return nullptr;
  }
  PyObject* text = args[0];
  Py_UCS4 sep = PyUnicode_READ_CHAR(args[1], 0);
  const int kind = PyUnicode_KIND(text);
  const void* data = PyUnicode_DATA(text);
  const Py_ssize_t len = PyUnicode_GET_LENGTH(text);
  // Calls `at(i)` for each separator, in order; memchr for one-byte text.
  auto each_separator = [&](auto&& at) {
    if (kind == PyUnicode_1BYTE_KIND) {
      if (sep > 0xff) return;
      const auto* base = static_cast<const char*>(data);
      const char* p = base;
      const char* end = base + len;
      while ((p = static_cast<const char*>(std::memchr(p, static_cast<int>(sep), end - p))))
        at(p++ - base);
      return;
    }
    for (Py_ssize_t i = 0; i < len; ++i) {
      if (PyUnicode_READ(kind, data, i) == sep) at(i);
    }
  };
  Py_ssize_t n = 1;
  each_separator([&](Py_ssize_t) { ++n; });
  npy_intp dims[] = {n + 1};
  Ref array = Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT64));
  if (!array) return nullptr;
  auto* out =
      static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  Py_ssize_t k = 0;
  out[k++] = 0;
  each_separator([&](Py_ssize_t i) { out[k++] = i + 1; });
  out[k] = len + 1;
  return array.release();
}

Py_ssize_t tokens_on(std::string_view text, scan::Separators seps) {
  scan::Tokenizer tokens(text, seps);
  std::string_view token;
  Py_ssize_t n = 0;
  while (tokens.next(token)) ++n;
  return n;
}

// The number of tokens that split() finds in lines[start:stop].
PyObject* count_tokens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "count_tokens(lines, start, stop)");
    return nullptr;
  }
  PyObject* lines = args[0];
  Py_ssize_t start, stop;
  if (parse_sizes(args + 1, start, stop) < 0) return nullptr;
  if (!PyList_CheckExact(lines)) {
    PyErr_SetString(PyExc_TypeError, "lines must be a list");
    return nullptr;
  }
  Py_ssize_t total = 0;
  for (Py_ssize_t i = start < 0 ? 0 : start; i < stop && i < PyList_GET_SIZE(lines); ++i) {
    PyObject* line = PyList_GET_ITEM(lines, i);
    std::string_view text;
    scan::Separators seps;
    if (vtk::line_text(line, text, seps)) {
      total += tokens_on(text, seps);
      continue;
    }
    Ref held = Ref::borrow(line);
    Ref split = Ref::steal(PyObject_CallMethod(held.get(), "split", nullptr));
    if (!split) return nullptr;
    Py_ssize_t n = PyObject_Size(split.get());
    if (n < 0) return nullptr;
    total += n;
  }
  return PyLong_FromSsize_t(total);
}

// count_tokens over TextLines; None where the text is not plain ASCII.
PyObject* count_tokens_in(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 4) {
    PyErr_SetString(PyExc_TypeError, "count_tokens_in(text, starts, start, stop)");
    return nullptr;
  }
  Py_ssize_t start, stop;
  if (parse_sizes(args + 2, start, stop) < 0) return nullptr;
  TextLines lines;
  if (!text_lines(args[0], args[1], lines)) Py_RETURN_NONE;
  Py_ssize_t total = 0;
  for (Py_ssize_t i = start < 0 ? 0 : start; i < stop && i < lines.size(); ++i) {
    std::string_view text;
    scan::Separators seps;
    lines.line(i, text, seps);
    total += tokens_on(text, seps);
  }
  return PyLong_FromSsize_t(total);
}

// `count` numbers from one text buffer (bytes), for measuring the scanning
// core without any per-line Python work. ValueError if they are not there.
PyObject* scan_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3 || !PyBytes_Check(args[0])) {
    PyErr_SetString(PyExc_TypeError, "scan_buffer(data: bytes, count, kind)");
    return nullptr;
  }
  Py_ssize_t count = PyLong_AsSsize_t(args[1]);
  if (count == -1 && PyErr_Occurred()) return nullptr;
  Kind kind;
  if (parse_kind(args[2], kind) < 0) return nullptr;
  std::string_view text(PyBytes_AS_STRING(args[0]),
                        static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
  if (count < 0 || static_cast<std::size_t>(count) > text.size()) {
    PyErr_SetString(PyExc_ValueError, "the buffer does not hold that many numbers");
    return nullptr;
  }
  npy_intp dims[] = {count};
  Ref array = Ref::steal(PyArray_SimpleNew(1, dims, type_of(kind)));
  if (!array) return nullptr;
  void* out = PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()));
  scan::Tokenizer tokens(text, scan::Separators::Bytes);
  for (Py_ssize_t k = 0; k < count; ++k) {
    if (next_number(tokens, scan::Separators::Bytes, kind, out, k) != 1) {
      PyErr_SetString(PyExc_ValueError, "the buffer does not hold that many numbers");
      return nullptr;
    }
  }
  return array.release();
}

PyMethodDef methods[] = {
    {"read_numbers", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_numbers)),
     METH_FASTCALL,
     "read_numbers(lines, start, count, kind)\n--\n\n"
     "The `count` numbers from lines[start:] as an array (kind 'f': float64 by\n"
     "float(), 'i': int64 or 'u': uint64 by int()) and the position of the line\n"
     "after them, or None where the run cannot be taken whole."},
    {"read_numbers_in",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_numbers_in)), METH_FASTCALL,
     "read_numbers_in(text, starts, start, count, kind)\n--\n\n"
     "read_numbers over the lines of an ASCII str that line_starts cut."},
    {"line_starts", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(line_starts)),
     METH_FASTCALL,
     "line_starts(text, separator)\n--\n\n"
     "Where each line of text starts, and one entry more, a separator past the end."},
    {"count_tokens_in",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(count_tokens_in)), METH_FASTCALL,
     "count_tokens_in(text, starts, start, stop)\n--\n\n"
     "count_tokens over the lines of an ASCII str that line_starts cut, or None."},
    {"count_tokens", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(count_tokens)),
     METH_FASTCALL,
     "count_tokens(lines, start, stop)\n--\n\n"
     "The number of tokens that split() finds in lines[start:stop]."},
    {"scan_buffer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(scan_buffer)),
     METH_FASTCALL,
     "scan_buffer(data, count, kind)\n--\n\n"
     "The first `count` numbers of a bytes buffer, as read_numbers reads them."},
    {nullptr, nullptr, 0, nullptr},
};

int exec(PyObject*) {
  // NumPy's own import of its C-API table.
  import_array1(-1);
  return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_vtk_reread",
    "Fast re-read of VTK legacy ASCII blocks that are not one record to a line.",
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace veltrane::reread

PyMODINIT_FUNC PyInit__vtk_reread() { return PyModuleDef_Init(&veltrane::reread::module_def); }
