// Conversions of line items and tokens shared by the block parsers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "ref.hpp"

namespace veltrane::vtk {

// seq[i] for a position known to lie inside the sequence when the block
// was checked. Exact lists are read directly but re-checked against their
// present size, since Python code run by a line or token may have shrunk
// them; exact tuples cannot change. Other objects go through item access
// with an int. nullptr with an exception set on failure.
Ref item_at(PyObject* seq, Py_ssize_t i, PyObject* index_obj = nullptr);

// line.split() with no arguments.
Ref split_line(PyObject* line);

// len(obj), -1 with an exception set on failure.
inline Py_ssize_t length_of(PyObject* obj) {
  if (PyList_CheckExact(obj)) return PyList_GET_SIZE(obj);
  if (PyTuple_CheckExact(obj)) return PyTuple_GET_SIZE(obj);
  return PyObject_Size(obj);
}

// float(token). -1.0 is also a value: a failure is -1.0 with an exception
// set.
double to_double(PyObject* token);

// int(token) as a new reference: an exact int is returned as it is, and
// anything else gives what int() gives, value or exception.
Ref to_long(PyObject* token);

}  // namespace veltrane::vtk
