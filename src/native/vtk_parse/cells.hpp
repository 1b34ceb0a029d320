// The declaration of the CELLS parser for the binding; its body and helpers
// are cells.cpp's own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace veltrane::vtk {

// Body of parse_ascii_cells_v42; `lines` is borrowed.
PyObject* parse_ascii_cells_v42(PyObject* lines, Py_ssize_t start, Py_ssize_t n_cells);

}  // namespace veltrane::vtk
