// The module's functions, each a METH_FASTCALL body. module.cpp lists them
// with their docstrings; each lives in the file named beside it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace veltrane::blocks {

// numbers.cpp
PyObject* read_ascii(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// text.cpp
PyObject* count_tokens(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* token_offset(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* line_end(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* line_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// cells.cpp
PyObject* split_cells(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

// read_cells.cpp
PyObject* read_cells(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
// format.cpp
PyObject* format_numbers(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* format_cells(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace veltrane::blocks
