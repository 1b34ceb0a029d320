// format_numbers and format_cells: arrays as the text of the writer's ASCII
// blocks, made by the formatting core with the GIL released.
//
// Each call formats a private copy of the values, made under the GIL: while
// the GIL is released another thread may write to the caller's arrays, and
// a copy the size of one piece of a block costs little next to its text.
// The copy is also where any strides and byte order are dealt with.
#include <cstdint>

#include "args.hpp"
#include "blocks.hpp"
#include "format.hpp"
#include "gil.hpp"
#include "ref.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::blocks {
namespace {

PyArrayObject* as_array(PyObject* obj, const char* what) {
  if (PyArray_Check(obj)) return reinterpret_cast<PyArrayObject*>(obj);
  // Types are named by tp_name, not by repr: the messages call no NumPy code.
  PyErr_Format(PyExc_TypeError, "%s must be a NumPy array, not %.200s", what,
               Py_TYPE(obj)->tp_name);
  return nullptr;
}

const char* dtype_name(PyArrayObject* a) { return PyArray_DESCR(a)->typeobj->tp_name; }

// A C-contiguous, aligned copy in native byte order that only this call holds.
Ref private_copy(PyArrayObject* a) {
  PyArray_Descr* native = PyArray_DescrFromType(PyArray_TYPE(a));
  if (native == nullptr) return {};
  // Steals `native`.
  return Ref::steal(PyArray_FromArray(
      a, native, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_ENSURECOPY));
}

const void* data_of(const Ref& a) {
  return PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get()));
}
Py_ssize_t size_of(const Ref& a) { return PyArray_SIZE(reinterpret_cast<PyArrayObject*>(a.get())); }

// The text of `count` values of at most `width` bytes and a separator each,
// made by `fill(out) -> end` without the GIL, as bytes. `fill` must touch
// nothing but `out` and private copies.
template <class Fill>
PyObject* text(std::size_t count, std::size_t width, Fill fill) {
  const auto most = static_cast<std::size_t>(PY_SSIZE_T_MAX) - format::kSlack;
  if (count > most / (width + 1)) return PyErr_NoMemory();
  PyBytesWriter* writer =
      PyBytesWriter_Create(static_cast<Py_ssize_t>(count * (width + 1) + format::kSlack));
  if (writer == nullptr) return nullptr;
  char* out = static_cast<char*>(PyBytesWriter_GetData(writer));
  char* end = nullptr;
  {
    Unlocked gil(true);
    end = fill(out);
  }
  return PyBytesWriter_FinishWithPointer(writer, end);
}

using Lines = char* (*)(char*, const void*, std::size_t, std::size_t);

template <class T, char* (*write)(char*, T) noexcept>
char* lines(char* out, const void* values, std::size_t n, std::size_t per_line) {
  return format::write_lines<T, write>(out, static_cast<const T*>(values), n, per_line);
}

struct Layout {
  Lines lines;
  std::size_t width;
};

template <class T>
Layout integers() {
  return {lines<T, format::write_int<T>>, format::kIntWidth<T>};
}

// The layout for an array's dtype; nullptr lines with TypeError for a dtype
// the writer never formats.
Layout layout_for(PyArrayObject* a) {
  const int size = static_cast<int>(PyArray_ITEMSIZE(a));
  if (PyArray_ISBOOL(a)) return {lines<unsigned char, format::write_bit>, 1};
  if (PyArray_ISFLOAT(a) && size == 8)
    return {lines<double, format::write_double>, format::kDoubleWidth};
  if (PyArray_ISFLOAT(a) && size == 4)
    return {lines<float, format::write_float>, format::kFloatWidth};
  if (PyArray_ISINTEGER(a)) {
    const bool is_unsigned = PyArray_ISUNSIGNED(a);
    switch (size) {
      case 1:
        return is_unsigned ? integers<std::uint8_t>() : integers<std::int8_t>();
      case 2:
        return is_unsigned ? integers<std::uint16_t>() : integers<std::int16_t>();
      case 4:
        return is_unsigned ? integers<std::uint32_t>() : integers<std::int32_t>();
      case 8:
        return is_unsigned ? integers<std::uint64_t>() : integers<std::int64_t>();
      default:
        break;
    }
  }
  PyErr_Format(PyExc_TypeError, "values must hold bools, integers, float32 or float64, not %.200s",
               dtype_name(a));
  return {nullptr, 0};
}

// A private copy of a 1-D int64 array.
Ref int64_copy(PyObject* obj, const char* what) {
  PyArrayObject* a = as_array(obj, what);
  if (a == nullptr) return {};
  if (!PyArray_ISSIGNED(a) || PyArray_ITEMSIZE(a) != 8) {
    PyErr_Format(PyExc_TypeError, "%s must hold int64, not %.200s", what, dtype_name(a));
    return {};
  }
  if (PyArray_NDIM(a) != 1) {
    PyErr_Format(PyExc_ValueError, "%s must be one-dimensional, not %d-dimensional", what,
                 PyArray_NDIM(a));
    return {};
  }
  return private_copy(a);
}

}  // namespace

PyObject* format_numbers(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("format_numbers", nargs, 2)) return nullptr;
  PyArrayObject* values = as_array(args[0], "values");
  if (values == nullptr) return nullptr;
  const Layout layout = layout_for(values);
  Py_ssize_t per_line;
  if (layout.lines == nullptr || !to_count(args[1], "per_line", 1, per_line)) return nullptr;
  Ref copy = private_copy(values);
  if (!copy) return nullptr;
  const auto n = static_cast<std::size_t>(size_of(copy));
  const void* data = data_of(copy);
  return text(n, layout.width, [&](char* out) {
    return layout.lines(out, data, n, static_cast<std::size_t>(per_line));
  });
}

PyObject* format_cells(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("format_cells", nargs, 2)) return nullptr;
  Ref offsets = int64_copy(args[0], "offsets");
  if (!offsets) return nullptr;
  Ref conn = int64_copy(args[1], "connectivity");
  if (!conn) return nullptr;
  const Py_ssize_t n_offsets = size_of(offsets);
  if (n_offsets < 1) {
    PyErr_SetString(PyExc_ValueError, "offsets must hold at least one value");
    return nullptr;
  }
  const auto* off = static_cast<const std::int64_t*>(data_of(offsets));
  for (Py_ssize_t j = 1; j < n_offsets; ++j) {
    if (off[j] < off[j - 1]) {
      PyErr_Format(PyExc_ValueError, "offsets must never decrease: %lld after %lld",
                   static_cast<long long>(off[j]), static_cast<long long>(off[j - 1]));
      return nullptr;
    }
  }
  // Unsigned: the offsets never decrease, so the span is no wider than that.
  const std::uint64_t span =
      static_cast<std::uint64_t>(off[n_offsets - 1]) - static_cast<std::uint64_t>(off[0]);
  const Py_ssize_t n_conn = size_of(conn);
  if (span != static_cast<std::uint64_t>(n_conn)) {
    PyErr_Format(PyExc_ValueError, "the offsets span %llu values, the connectivity holds %zd",
                 static_cast<unsigned long long>(span), n_conn);
    return nullptr;
  }
  const auto n_cells = static_cast<std::size_t>(n_offsets - 1);
  const auto* ids = static_cast<const std::int64_t*>(data_of(conn));
  const std::size_t values = n_cells + static_cast<std::size_t>(n_conn);
  return text(values, format::kIntWidth<std::int64_t>,
              [&](char* out) { return format::write_rows(out, off, n_cells, ids); });
}

}  // namespace veltrane::blocks
