// parse_ascii_cells_v42: a version 4.2 CELLS block into CSR int32 arrays.
#include "cells.hpp"

#include "traceback.hpp"

namespace veltrane::vtk {

PyObject* parse_ascii_cells_v42(PyObject*, Py_ssize_t, Py_ssize_t) {
  PyErr_SetString(PyExc_NotImplementedError, "parse_ascii_cells_v42 is not built yet");
  return nullptr;
}

}  // namespace veltrane::vtk
