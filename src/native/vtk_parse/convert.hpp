// Conversions of line items and tokens shared by the block parsers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "ref.hpp"
#include "scan.hpp"

namespace veltrane::vtk {

// seq[i] for a position known to lie inside the sequence when the block
// was checked. Exact lists are read directly but re-checked against their
// present size, since Python code run by a line or token may have shrunk
// them; exact tuples cannot change. Other objects go through item access
// with an int. nullptr with an exception set on failure.
Ref item_at(PyObject* seq, Py_ssize_t i, PyObject* index_obj = nullptr);

// The characters of an exact str whose characters are all ASCII, or of an
// exact bytes object, and the separators its split() uses; false for any
// other object. Nothing is called and nothing is made.
inline bool line_text(PyObject* line, std::string_view& text, scan::Separators& seps) {
  if (PyUnicode_CheckExact(line) && PyUnicode_IS_ASCII(line)) {
    text = std::string_view(static_cast<const char*>(PyUnicode_DATA(line)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(line)));
    seps = scan::Separators::Str;
    return true;
  }
  if (PyBytes_CheckExact(line)) {
    text =
        std::string_view(PyBytes_AS_STRING(line), static_cast<std::size_t>(PyBytes_GET_SIZE(line)));
    seps = scan::Separators::Bytes;
    return true;
  }
  return false;
}

// The text of lines[i] for the in-place scan: `lines` is an exact list or
// tuple, and the line an exact ASCII str or exact bytes. False for any other
// line, and for a position past the end of a list that Python code run
// during the call has shortened.
inline bool scannable_line(PyObject* lines, Py_ssize_t i, std::string_view& text,
                           scan::Separators& seps) {
  PyObject* line;
  if (PyList_CheckExact(lines)) {
    if (i >= PyList_GET_SIZE(lines)) return false;
    line = PyList_GET_ITEM(lines, i);
  } else {
    line = PyTuple_GET_ITEM(lines, i);
  }
  return line_text(line, text, seps);
}

// np.<attr>, with `np` looked up afresh in the module's namespace: users
// may rebind it.
Ref numpy_attr(PyObject* attr);

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
