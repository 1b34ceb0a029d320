// parse_ascii_cells_v42: a version 4.2 CELLS block, one cell to a line as
// "count i0 i1 ...", into CSR int32 arrays (connectivity, offsets).
#include "cells.hpp"

#include "convert.hpp"
#include "ref.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace veltrane::vtk {
namespace {

PyObject* fail(Line line) {
  add_traceback_entry(Func::kCells, line);
  return nullptr;
}

PyObject* fail_with(PyObject* type, const char* message, Line line) {
  PyErr_SetString(type, message);
  return fail(line);
}

// np.<attr>, looked up afresh: users may rebind `np`.
Ref numpy_attr(PyObject* attr) {
  Ref np = Ref::steal(lookup_global(g.c.str_np));
  if (!np) return Ref();
  return Ref::steal(PyObject_GetAttr(np.get(), attr));
}

// np.array(values, dtype=np.int32). Narrowing, and its range errors, are
// NumPy's.
Ref to_int32_array(PyObject* values) {
  Ref array = numpy_attr(g.c.str_array);
  if (!array) return Ref();
  Ref int32 = numpy_attr(g.c.str_int32);
  if (!int32) return Ref();
  PyObject* args[] = {values, int32.get()};
  return Ref::steal(PyObject_Vectorcall(array.get(), args, 1, g.c.kw_dtype));
}

}  // namespace

PyObject* parse_ascii_cells_v42(PyObject* lines, Py_ssize_t start, Py_ssize_t n_cells) {
  static constexpr char kPastEnd[] = "CELLS block runs past the end of the file";
  static constexpr char kNotListed[] = "CELLS row does not list the vertices it declares";
  if (start < 0 || n_cells < 0) return fail_with(PyExc_IndexError, kPastEnd, Line::kCellsBlock);
  Py_ssize_t len = length_of(lines);
  if (len < 0) return fail(Line::kCellsLen);
  // Both are non-negative, so len - start cannot wrap.
  if (n_cells > len - start) return fail_with(PyExc_IndexError, kPastEnd, Line::kCellsBlock);

  // Cell sizes vary, so the vertex total is known only at the end: collect
  // Python ints and let one NumPy conversion per array narrow them.
  Ref conn = Ref::steal(PyList_New(0));
  if (!conn) return fail(Line::kCellsConnList);
  Ref offsets = Ref::steal(PyList_New(1));
  if (!offsets) return fail(Line::kCellsOffsetsList);
  PyList_SET_ITEM(offsets.get(), 0, Py_NewRef(g.c.small_ints[0]));

  // Equals len(conn) after every row, so it cannot overflow.
  Py_ssize_t total = 0;
  for (Py_ssize_t i = start; i < start + n_cells; ++i) {
    Ref line = item_at(lines, i);
    if (!line) return fail(Line::kCellsFetch);
    Ref tokens = split_line(line.get());
    if (!tokens) return fail(Line::kCellsFetch);
    line.reset();

    Py_ssize_t n_tokens = length_of(tokens.get());
    if (n_tokens < 0) return fail(Line::kCellsTokens);
    // split() never yields empty tokens, so zero tokens means a blank row.
    if (n_tokens == 0)
      return fail_with(PyExc_ValueError, "CELLS row holds no vertex count", Line::kCellsNoCount);
    Py_ssize_t count;
    {
      Ref token = item_at(tokens.get(), 0, g.c.small_ints[0]);
      if (!token) return fail(Line::kCellsCountToken);
      Ref value = to_long(token.get());
      if (!value) return fail(Line::kCellsCountToken);
      count = PyLong_AsSsize_t(value.get());
      if (count == -1 && PyErr_Occurred()) return fail(Line::kCellsCountToken);
    }
    if (count < 0) return fail_with(PyExc_ValueError, kNotListed, Line::kCellsShort);
    // Asked again: the count's conversion may have run Python code.
    n_tokens = length_of(tokens.get());
    if (n_tokens < 0) return fail(Line::kCellsTokensAgain);
    // Surplus tokens are ignored; the reader compares the header's size
    // field with the offsets to catch rows that pack several cells.
    if (n_tokens <= count) return fail_with(PyExc_ValueError, kNotListed, Line::kCellsShort);

    for (Py_ssize_t k = 1; k <= count; ++k) {
      Ref token = item_at(tokens.get(), k, k < 3 ? g.c.small_ints[k] : nullptr);
      if (!token) return fail(Line::kCellsVertexToken);
      Ref value = to_long(token.get());
      if (!value || PyList_Append(conn.get(), value.get()) < 0)
        return fail(Line::kCellsVertexToken);
    }
    total += count;
    Ref running = Ref::steal(PyLong_FromSsize_t(total));
    if (!running || PyList_Append(offsets.get(), running.get()) < 0)
      return fail(Line::kCellsTotal);
  }

  // Each list goes as soon as its array stands, so the peak holds one list
  // and one array, not two of each.
  Ref conn_array = to_int32_array(conn.get());
  if (!conn_array) return fail(Line::kCellsArrays);
  conn.reset();
  Ref offsets_array = to_int32_array(offsets.get());
  if (!offsets_array) return fail(Line::kCellsArrays);
  offsets.reset();
  PyObject* result = PyTuple_Pack(2, conn_array.get(), offsets_array.get());
  if (result == nullptr) return fail(Line::kCellsArrays);
  return result;
}

}  // namespace veltrane::vtk
