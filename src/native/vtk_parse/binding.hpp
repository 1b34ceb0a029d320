// The function objects of the module and the binding of their arguments:
// three required parameters, by position or keyword, the last two converted
// to Py_ssize_t before the body runs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "traceback.hpp"

namespace veltrane::vtk {

// A parser body: `lines` is borrowed; returns a new reference, or nullptr
// with an exception set and the body's own traceback entry added.
using Body = PyObject* (*)(PyObject * lines, Py_ssize_t start, Py_ssize_t count);

struct FunctionDef {
  const char* name;
  const char* doc;
  Func func;
  Line def_line;
  Line start_line;
  Line count_line;
  PyObject* const* count_kw;  // interned name of the third parameter
  PyObject* const* code;      // the function's code object
  Body body;
};

extern const FunctionDef kCoordsDef;
extern const FunctionDef kCellsDef;

// Makes the type of the function objects; exec step, once per import try.
int make_function_type();

// A new function object for `def`, or nullptr with an exception set.
PyObject* make_function(const FunctionDef& def);

// Converts an int, or an object with __index__, to Py_ssize_t. Returns -1
// with an exception set on failure; -1 is also a value.
int to_size(PyObject* obj, Py_ssize_t& out);

}  // namespace veltrane::vtk
