// parse_ascii_cells_v42: a version 4.2 CELLS block, one cell to a line as
// "count i0 i1 ...", into CSR int32 arrays (connectivity, offsets).
//
// Indices are collected straight into int32 arrays. While every value fits
// int32 and np, np.array and np.int32 are still what the module bound at
// import, those arrays are the result; otherwise the values move to Python
// lists and np.array(values, dtype=np.int32) makes the arrays, so NumPy
// decides the narrowing and its errors.
#include "cells.hpp"

#include <cstdint>
#include <limits>

#include "arrays.hpp"
#include "convert.hpp"
#include "ref.hpp"
#include "scan.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace veltrane::vtk {
namespace {

constexpr char kPastEnd[] = "CELLS block runs past the end of the file";
constexpr char kNotListed[] = "CELLS row does not list the vertices it declares";

PyObject* fail(Line line) {
  add_traceback_entry(Func::kCells, line);
  return nullptr;
}

int fail_row(Line line) {
  add_traceback_entry(Func::kCells, line);
  return -1;
}

int fail_row_with(PyObject* type, const char* message, Line line) {
  PyErr_SetString(type, message);
  return fail_row(line);
}

bool fits_int32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

// np.array(values, dtype=np.int32).
Ref to_int32_array(PyObject* values) {
  Ref array = numpy_attr(g.c.str_array);
  if (!array) return Ref();
  Ref int32 = numpy_attr(g.c.str_int32);
  if (!int32) return Ref();
  PyObject* args[] = {values, int32.get()};
  return Ref::steal(PyObject_Vectorcall(array.get(), args, 1, g.c.kw_dtype));
}

// True when the module's own NumPy objects would be called. The int32
// arrays built in place stand for np.array(values, dtype=np.int32) only
// while that call would reach NumPy itself; a caller that rebinds np (or
// its array or int32) must see its stand-in called with the values.
int numpy_is_as_imported() {
  if (g.np_array == nullptr || g.np_int32 == nullptr) return 0;
  Ref np = Ref::steal(lookup_global(g.c.str_np));
  if (!np) return -1;
  if (np.get() != g.np_module) return 0;
  Ref array = Ref::steal(PyObject_GetAttr(np.get(), g.c.str_array));
  if (!array) return -1;
  Ref int32 = Ref::steal(PyObject_GetAttr(np.get(), g.c.str_int32));
  if (!int32) return -1;
  return array.get() == g.np_array && int32.get() == g.np_int32;
}

PyObject* list_from(const Int32Array& values) {
  Ref list = Ref::steal(PyList_New(values.size()));
  if (!list) return nullptr;
  for (Py_ssize_t i = 0; i < values.size(); ++i) {
    PyObject* v = PyLong_FromLong(values[i]);
    if (v == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), i, v);
  }
  return list.release();
}

// The two outputs: int32 arrays while every value fits, Python lists of
// ints from the first value that does not.
class Output {
 public:
  // Room for the offsets up front where the lines exist in memory; an
  // object that only claims a length gets a small start.
  int init(Py_ssize_t n_cells, bool in_memory) {
    Py_ssize_t rows = in_memory || n_cells < 4096 ? n_cells : 4096;
    if (!conn_.init(4 * rows + 16)) return fail_row(Line::kCellsConnList);
    if (!offsets_.init(rows + 1) || !offsets_.push(0)) return fail_row(Line::kCellsOffsetsList);
    return 0;
  }

  bool native() const { return !conn_list_; }
  Int32Array& native_conn() { return conn_; }

  // Appends an exact int taken from a token.
  int add_index(PyObject* value) {
    if (native()) {
      int overflow = 0;
      long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
      if (v == -1 && PyErr_Occurred()) return -1;
      if (!overflow && fits_int32(v)) return conn_.push(static_cast<std::int32_t>(v)) ? 0 : -1;
      if (to_lists() < 0) return -1;
    }
    return PyList_Append(conn_list_.get(), value);
  }

  int add_total(Py_ssize_t total) {
    if (native()) {
      if (fits_int32(total)) return offsets_.push(static_cast<std::int32_t>(total)) ? 0 : -1;
      if (to_lists() < 0) return -1;
    }
    Ref v = Ref::steal(PyLong_FromSsize_t(total));
    if (!v) return -1;
    return PyList_Append(offsets_list_.get(), v.get());
  }

  // The (connectivity, offsets) tuple, or nullptr with the entry added.
  PyObject* finish() {
    if (native()) {
      int same = numpy_is_as_imported();
      if (same < 0) return fail(Line::kCellsArrays);
      if (same) {
        Ref conn = Ref::steal(conn_.finish());
        if (!conn) return fail(Line::kCellsArrays);
        Ref offsets = Ref::steal(offsets_.finish());
        if (!offsets) return fail(Line::kCellsArrays);
        PyObject* result = PyTuple_Pack(2, conn.get(), offsets.get());
        return result != nullptr ? result : fail(Line::kCellsArrays);
      }
      if (to_lists() < 0) return fail(Line::kCellsArrays);
    }
    // Each list goes as soon as its array stands, so the peak holds one list
    // and one array, not two of each.
    Ref conn = to_int32_array(conn_list_.get());
    if (!conn) return fail(Line::kCellsArrays);
    conn_list_.reset();
    Ref offsets = to_int32_array(offsets_list_.get());
    if (!offsets) return fail(Line::kCellsArrays);
    offsets_list_.reset();
    PyObject* result = PyTuple_Pack(2, conn.get(), offsets.get());
    return result != nullptr ? result : fail(Line::kCellsArrays);
  }

 private:
  int to_lists() {
    Ref conn = Ref::steal(list_from(conn_));
    if (!conn) return -1;
    Ref offsets = Ref::steal(list_from(offsets_));
    if (!offsets) return -1;
    conn_.reset();
    offsets_.reset();
    conn_list_ = std::move(conn);
    offsets_list_ = std::move(offsets);
    return 0;
  }

  Int32Array conn_, offsets_;
  Ref conn_list_, offsets_list_;
};

// One row the general way: split(), len() and int() of each token used.
// 0, or -1 with the row's traceback entry added.
int read_row(PyObject* lines, Py_ssize_t i, Output& out, Py_ssize_t& total) {
  Ref tokens;
  {
    Ref line = item_at(lines, i);
    if (!line) return fail_row(Line::kCellsFetch);
    tokens = split_line(line.get());
    if (!tokens) return fail_row(Line::kCellsFetch);
  }
  Py_ssize_t n_tokens = length_of(tokens.get());
  if (n_tokens < 0) return fail_row(Line::kCellsTokens);
  // split() never yields empty tokens, so zero tokens means a blank row.
  if (n_tokens == 0)
    return fail_row_with(PyExc_ValueError, "CELLS row holds no vertex count", Line::kCellsNoCount);
  Py_ssize_t count;
  {
    Ref token = item_at(tokens.get(), 0, g.c.small_ints[0]);
    if (!token) return fail_row(Line::kCellsCountToken);
    Ref value = to_long(token.get());
    if (!value) return fail_row(Line::kCellsCountToken);
    count = PyLong_AsSsize_t(value.get());
    if (count == -1 && PyErr_Occurred()) return fail_row(Line::kCellsCountToken);
  }
  if (count < 0) return fail_row_with(PyExc_ValueError, kNotListed, Line::kCellsShort);
  // Asked again: the count's conversion may have run Python code.
  n_tokens = length_of(tokens.get());
  if (n_tokens < 0) return fail_row(Line::kCellsTokensAgain);
  // Surplus tokens are ignored; the reader compares the header's size
  // field with the offsets to catch rows that pack several cells.
  if (n_tokens <= count) return fail_row_with(PyExc_ValueError, kNotListed, Line::kCellsShort);

  for (Py_ssize_t k = 1; k <= count; ++k) {
    Ref token = item_at(tokens.get(), k, k < 3 ? g.c.small_ints[k] : nullptr);
    if (!token) return fail_row(Line::kCellsVertexToken);
    Ref value = to_long(token.get());
    if (!value || out.add_index(value.get()) < 0) return fail_row(Line::kCellsVertexToken);
  }
  total += count;
  if (out.add_total(total) < 0) return fail_row(Line::kCellsTotal);
  return 0;
}

// One row scanned in place, for an exact str or bytes line of an exact list
// or tuple whose tokens are plain integers and whose indices fit int32.
// False leaves the row, untouched, to read_row.
bool scan_row(PyObject* lines, Py_ssize_t i, Output& out, Py_ssize_t& total) {
  std::string_view text;
  scan::Separators seps;
  if (!scannable_line(lines, i, text, seps)) return false;

  Int32Array& conn = out.native_conn();
  const Py_ssize_t mark = conn.size();
  bool pushed = true;
  std::int64_t count = 0;
  auto sink = [&](std::int64_t v) {
    pushed = fits_int32(v) && conn.push(static_cast<std::int32_t>(v));
    return pushed;
  };
  if (scan::parse_cell_row(text, seps, count, sink) != scan::Verdict::Clean ||
      !fits_int32(total + count)) {
    conn.truncate(mark);
    // A failed growth is tried again, and reported, by read_row.
    if (!pushed && PyErr_Occurred()) PyErr_Clear();
    return false;
  }
  total += count;
  if (out.add_total(total) < 0) {
    PyErr_Clear();
    total -= count;
    conn.truncate(mark);
    return false;
  }
  return true;
}

}  // namespace

PyObject* parse_ascii_cells_v42(PyObject* lines, Py_ssize_t start, Py_ssize_t n_cells) {
  if (start < 0 || n_cells < 0) {
    PyErr_SetString(PyExc_IndexError, kPastEnd);
    return fail(Line::kCellsBlock);
  }
  Py_ssize_t len = length_of(lines);
  if (len < 0) return fail(Line::kCellsLen);
  // Both are non-negative, so len - start cannot wrap.
  if (n_cells > len - start) {
    PyErr_SetString(PyExc_IndexError, kPastEnd);
    return fail(Line::kCellsBlock);
  }

  const bool direct = PyList_CheckExact(lines) || PyTuple_CheckExact(lines);
  Output out;
  if (out.init(n_cells, direct) < 0) return nullptr;
  // Equals the number of indices read so far, so it cannot overflow.
  Py_ssize_t total = 0;
  for (Py_ssize_t i = start; i < start + n_cells; ++i) {
    if (direct && out.native() && scan_row(lines, i, out, total)) continue;
    if (read_row(lines, i, out, total) < 0) return nullptr;
  }
  return out.finish();
}

}  // namespace veltrane::vtk
