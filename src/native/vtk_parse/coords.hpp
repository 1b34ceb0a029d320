// The declaration of the POINTS parser for the binding; its body and helpers
// are coords.cpp's own.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace veltrane::vtk {

// Body of parse_ascii_coords; `lines` is borrowed.
PyObject* parse_ascii_coords(PyObject* lines, Py_ssize_t start, Py_ssize_t n_verts);

}  // namespace veltrane::vtk
