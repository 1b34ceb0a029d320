// split_cells: the classic cell layout, "count i0 .. i(count-1) count ...",
// as read from a file in any integer type and byte order, split into
// offsets and connectivity. Walks the stream once; what is wrong with a
// stream is the reader's to say, so a stream that does not split into
// exactly n cells is declined with where the walk stopped.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "args.hpp"
#include "blocks.hpp"
#include "csr.hpp"
#include "gil.hpp"
#include "parallel.hpp"
#include "ref.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::blocks {
namespace {

template <class U>
U swapped(U v) {
  if constexpr (sizeof(U) == 1) {
    return v;
  } else if constexpr (sizeof(U) == 2) {
    return __builtin_bswap16(v);
  } else if constexpr (sizeof(U) == 4) {
    return __builtin_bswap32(v);
  } else {
    return __builtin_bswap64(v);
  }
}

// Item i of a 1-D array of T, which may be unaligned, strided or in the
// other byte order. `fits` is false for a uint64 beyond int64.
template <class T>
struct Items {
  const char* base;
  npy_intp stride;
  bool swap;

  std::int64_t at(Py_ssize_t i, bool& fits) const {
    using U = std::make_unsigned_t<T>;
    U raw;
    std::memcpy(&raw, base + i * stride, sizeof raw);
    if (swap) raw = swapped(raw);
    T v = static_cast<T>(raw);
    if constexpr (std::is_same_v<T, std::uint64_t>)
      fits = v <= static_cast<std::uint64_t>(INT64_MAX);
    return static_cast<std::int64_t>(v);
  }
};

// Where the walk stopped: at cell j, whose head is at p, or after all of
// them (j == n) with p values used. `whole` when those filled the stream.
struct Stop {
  Py_ssize_t j;
  Py_ssize_t p;
  bool whole;
};

// Walks n cells. Writes offsets (n + 1 values) and connectivity (room for
// `room` indices) where they are not null; a stream whose cells hold more
// indices than `room` cannot be whole, and is only walked on from there.
template <class T>
Stop walk(const Items<T>& items, Py_ssize_t len, Py_ssize_t n, std::int64_t* offsets,
          std::int64_t* conn, Py_ssize_t room) {
  Py_ssize_t p = 0, stored = 0;
  for (Py_ssize_t j = 0; j < n; ++j) {
    if (p == len) return {j, p, false};
    bool fits = true;
    std::int64_t count = items.at(p, fits);
    // Both sides are non-negative here, so len - p - 1 cannot wrap.
    if (!fits || count < 0 || count > len - p - 1) return {j, p, false};
    if (conn != nullptr && count > room - stored) conn = nullptr;
    for (Py_ssize_t i = 1; i <= count; ++i) {
      std::int64_t index = items.at(p + i, fits);
      if (!fits) return {j, p, false};
      if (conn != nullptr) conn[stored + i - 1] = index;
    }
    stored += count;
    if (offsets != nullptr) offsets[j + 1] = offsets[j] + count;
    p += 1 + count;
  }
  return {n, p, p == len};
}

template <class T>
PyObject* split(PyArrayObject* stream, Py_ssize_t n) {
  const Py_ssize_t len = PyArray_DIM(stream, 0);
  Items<T> items{static_cast<const char*>(PyArray_DATA(stream)), PyArray_STRIDE(stream, 0),
                 PyArray_ISBYTESWAPPED(stream)};
  // Every cell takes a value at least, so more cells than values cannot be
  // whole: nothing sized by n is made for them.
  // Whole cells leave exactly len - n indices.
  Csr csr;
  if (n <= len && !make_csr(n, len - n, csr)) return nullptr;
  Stop stop{};
  {
    // A stream nothing can write to is walked without the GIL when it is
    // long; a writable one keeps it, as read_ascii keeps it for a writable
    // buffer.
    Unlocked gil(!PyArray_ISWRITEABLE(stream) && len >= parallel::tuning().release_count);
    stop = walk(items, len, n, csr.offsets_out, csr.conn_out, len - n);
  }
  if (!stop.whole) return Py_BuildValue("(Onn)", Py_None, stop.j, stop.p);
  return PyTuple_Pack(2, csr.offsets.get(), csr.conn.get());
}

}  // namespace

bool make_csr(Py_ssize_t n, Py_ssize_t conn_len, Csr& out) {
  npy_intp offsets_dims[] = {n + 1}, conn_dims[] = {conn_len};
  out.offsets = Ref::steal(PyArray_SimpleNew(1, offsets_dims, NPY_INT64));
  if (!out.offsets) return false;
  out.conn = Ref::steal(PyArray_SimpleNew(1, conn_dims, NPY_INT64));
  if (!out.conn) return false;
  out.offsets_out =
      static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.offsets.get())));
  out.conn_out =
      static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.conn.get())));
  out.offsets_out[0] = 0;
  return true;
}

PyObject* split_cells(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("split_cells", nargs, 2)) return nullptr;
  PyObject* obj = args[0];
  // Types are named by tp_name, not by repr: the messages call no NumPy code.
  if (!PyArray_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "stream must be a NumPy array, not %.200s",
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  auto* stream = reinterpret_cast<PyArrayObject*>(obj);
  if (!PyArray_ISINTEGER(stream)) {
    PyErr_Format(PyExc_TypeError, "stream must hold integers, not %.200s",
                 PyArray_DESCR(stream)->typeobj->tp_name);
    return nullptr;
  }
  if (PyArray_NDIM(stream) != 1) {
    PyErr_Format(PyExc_ValueError, "stream must be one-dimensional, not %d-dimensional",
                 PyArray_NDIM(stream));
    return nullptr;
  }
  Py_ssize_t n;
  if (!to_count(args[1], "n", 0, n)) return nullptr;
  const bool is_unsigned = PyTypeNum_ISUNSIGNED(PyArray_TYPE(stream));
  switch (PyArray_ITEMSIZE(stream)) {
    case 1:
      return is_unsigned ? split<std::uint8_t>(stream, n) : split<std::int8_t>(stream, n);
    case 2:
      return is_unsigned ? split<std::uint16_t>(stream, n) : split<std::int16_t>(stream, n);
    case 4:
      return is_unsigned ? split<std::uint32_t>(stream, n) : split<std::int32_t>(stream, n);
    case 8:
      return is_unsigned ? split<std::uint64_t>(stream, n) : split<std::int64_t>(stream, n);
    default:
      PyErr_Format(PyExc_TypeError, "stream items of %d bytes are no integer type this reads",
                   static_cast<int>(PyArray_ITEMSIZE(stream)));
      return nullptr;
  }
}

}  // namespace veltrane::blocks
