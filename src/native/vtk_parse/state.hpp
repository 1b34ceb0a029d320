// Process-wide state of the module: written by the create and exec steps
// while the module is imported, only read afterwards, never torn down.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace veltrane::vtk {

inline constexpr const char kModuleName[] = "veltrane.codecs._vtk_parse";

// Interned, pre-hashed strings and other constants made by the exec step.
struct Constants {
  PyObject* str_split;
  PyObject* str_np;
  PyObject* str_empty;
  PyObject* str_float64;
  PyObject* str_array;
  PyObject* str_int32;
  PyObject* kw_dtype;  // ("dtype",), the keyword names of np.empty / np.array
  PyObject* kw_lines;
  PyObject* kw_start;
  PyObject* kw_n_verts;
  PyObject* kw_n_cells;
  PyObject* int_3;
  PyObject* small_ints[3];  // 0, 1, 2: token positions
  PyObject* empty_tuple;
};

struct State {
  std::int64_t first_interpreter = -1;
  PyObject* module = nullptr;   // strong
  PyObject* globals = nullptr;  // the module's dict, alive while `module` is
  PyObject* builtins = nullptr;
  bool constants_ready = false;
  Constants c{};
  PyObject* code_coords = nullptr;
  PyObject* code_cells = nullptr;
  PyTypeObject* function_type = nullptr;
  PyTypeObject* ndarray_type = nullptr;
  // np, np.array and np.int32 as bound at import; while a call still finds
  // these, it may build its int32 arrays itself.
  PyObject* np_module = nullptr;
  PyObject* np_array = nullptr;
  PyObject* np_int32 = nullptr;
};

extern State g;

// The module global `name`: the namespace first, then builtins, as a
// function's global lookup does. NameError when neither has it.
PyObject* lookup_global(PyObject* name);

}  // namespace veltrane::vtk
