// veltrane.codecs._vtk_parse: the module definition, its create and exec
// steps and the process-wide state they leave behind. The module loads into
// one interpreter per process and never tears its state down.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>

#include "binding.hpp"
#include "cells.hpp"
#include "coords.hpp"
#include "numpy_gate.hpp"
#include "ref.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace veltrane::vtk {

State g;

PyObject* lookup_global(PyObject* name) {
  PyObject* value = nullptr;
  if (PyDict_GetItemRef(g.globals, name, &value) != 0) return value;
  if (PyObject_GetOptionalAttr(g.builtins, name, &value) != 0) return value;
  PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
  return nullptr;
}

namespace {

constexpr char kModuleDoc[] =
    "Native hot-paths for VTK legacy ASCII parsing.\n"
    "\n"
    "parse_ascii_coords       Parse n_verts lines of 'x y z' floats into a\n"
    "                         contiguous float64 array. Replaces the pure-Python\n"
    "                         loop that calls float() on every token.\n"
    "\n"
    "parse_ascii_cells_v42    Parse n_cells lines of 'count i0 i1 ...' into CSR\n"
    "                         connectivity + offsets arrays. Used for v4.2 CELLS\n"
    "                         sections (the classic layout compatible with all\n"
    "                         VTK/ParaView versions).\n";

constexpr char kCoordsDoc[] =
    "Parse n_verts lines of ASCII float coordinates.\n"
    "\n"
    "    Parameters\n"
    "    ----------\n"
    "    lines\n"
    "        List of ASCII text lines.\n"
    "    start\n"
    "        Index of first data line.\n"
    "    n_verts\n"
    "        Number of vertices to parse.\n"
    "\n"
    "    Returns\n"
    "    -------\n"
    "    np.ndarray\n"
    "        Shape (n_verts, 3) float64 array.\n"
    "\n"
    "    Raises\n"
    "    ------\n"
    "    IndexError\n"
    "        If the file ends inside the block.\n"
    "    ValueError\n"
    "        If a line does not hold exactly one vertex. Either says the block is\n"
    "        not one vertex to a line, which the caller answers by reading it again\n"
    "        as the run of numbers the header counts.\n"
    "    ";

constexpr char kCellsDoc[] =
    "Parse n_cells lines of v4.2 CELLS data into CSR arrays.\n"
    "\n"
    "    Parameters\n"
    "    ----------\n"
    "    lines\n"
    "        List of ASCII text lines.\n"
    "    start\n"
    "        Index of first cell line.\n"
    "    n_cells\n"
    "        Number of cells to parse.\n"
    "\n"
    "    Returns\n"
    "    -------\n"
    "    tuple[np.ndarray, np.ndarray]\n"
    "        (connectivity, offsets) as int32 arrays.\n"
    "\n"
    "    Raises\n"
    "    ------\n"
    "    IndexError\n"
    "        If the file ends inside the block.\n"
    "    ValueError\n"
    "        If a row does not list the vertices it declares. Either says the block\n"
    "        is not one cell to a line, which the caller answers by reading it\n"
    "        again in Python.\n"
    "    ";

// Interned and hashed once, so look-ups at call time meet cached hashes.
int intern(PyObject*& slot, const char* text) {
  PyObject* s = PyUnicode_InternFromString(text);
  if (s == nullptr || PyObject_Hash(s) == -1) {
    Py_XDECREF(s);
    return -1;
  }
  slot = s;
  return 0;
}

int build_constants() {
  if (g.constants_ready) return 0;
  Constants& c = g.c;
  if (intern(c.str_split, "split") < 0 || intern(c.str_np, "np") < 0 ||
      intern(c.str_empty, "empty") < 0 || intern(c.str_float64, "float64") < 0 ||
      intern(c.str_array, "array") < 0 || intern(c.str_int32, "int32") < 0 ||
      intern(c.kw_lines, "lines") < 0 || intern(c.kw_start, "start") < 0 ||
      intern(c.kw_n_verts, "n_verts") < 0 || intern(c.kw_n_cells, "n_cells") < 0)
    return -1;
  PyObject* dtype = nullptr;
  if (intern(dtype, "dtype") < 0) return -1;
  c.kw_dtype = PyTuple_Pack(1, dtype);
  Py_DECREF(dtype);
  if (c.kw_dtype == nullptr) return -1;
  c.int_3 = PyLong_FromLong(3);
  for (int i = 0; i < 3; ++i) c.small_ints[i] = PyLong_FromLong(i);
  c.empty_tuple = PyTuple_New(0);
  if (c.int_3 == nullptr || c.small_ints[2] == nullptr || c.empty_tuple == nullptr) return -1;
  g.constants_ready = true;
  return 0;
}

// The functions' __code__, made by hand: its variables are exactly the
// three parameters, so introspection reads the signature a def would give,
// and it names the source path and line the traceback entries show.
PyObject* make_code(const char* name, int first_line, PyObject* count_kw) {
  Ref empty =
      Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(kSourcePath, name, first_line)));
  if (!empty) return nullptr;
  Ref replace = Ref::steal(PyObject_GetAttrString(empty.get(), "replace"));
  if (!replace) return nullptr;
  Ref varnames = Ref::steal(PyTuple_Pack(3, g.c.kw_lines, g.c.kw_start, count_kw));
  Ref argcount = Ref::steal(PyLong_FromLong(3));
  Ref flags = Ref::steal(PyLong_FromLong(CO_OPTIMIZED | CO_NEWLOCALS));
  Ref kwargs = Ref::steal(PyDict_New());
  if (!varnames || !argcount || !flags || !kwargs ||
      PyDict_SetItemString(kwargs.get(), "co_argcount", argcount.get()) < 0 ||
      PyDict_SetItemString(kwargs.get(), "co_nlocals", argcount.get()) < 0 ||
      PyDict_SetItemString(kwargs.get(), "co_varnames", varnames.get()) < 0 ||
      PyDict_SetItemString(kwargs.get(), "co_flags", flags.get()) < 0)
    return nullptr;
  return PyObject_Call(replace.get(), g.c.empty_tuple, kwargs.get());
}

// Copies spec.<from> into the namespace as <to>; a missing attribute is
// skipped, and so is None unless `copy_none`.
int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to,
                   bool copy_none) {
  PyObject* value = nullptr;
  int found = PyObject_GetOptionalAttrString(spec, from, &value);
  if (found <= 0) return found;
  Ref held = Ref::steal(value);
  if (!copy_none && value == Py_None) return 0;
  return PyDict_SetItemString(dict, to, value);
}

PyObject* create(PyObject* spec, PyModuleDef*) {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return nullptr;
  if (g.first_interpreter == -1) {
    g.first_interpreter = id;
  } else if (id != g.first_interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (g.module != nullptr) return Py_NewRef(g.module);

  Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
  if (!name) return nullptr;
  Ref module = Ref::steal(PyModule_NewObject(name.get()));
  if (!module) return nullptr;
  PyObject* dict = PyModule_GetDict(module.get());
  if (copy_spec_attr(spec, dict, "loader", "__loader__", true) < 0 ||
      copy_spec_attr(spec, dict, "origin", "__file__", true) < 0 ||
      copy_spec_attr(spec, dict, "parent", "__package__", true) < 0 ||
      copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false) < 0)
    return nullptr;
  return module.release();
}

int warn_on_python_version() {
  int major = (Py_Version >> 24) & 0xff;
  int minor = (Py_Version >> 16) & 0xff;
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return 0;
  char message[200];
  PyOS_snprintf(message, sizeof message,
                "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                PY_MAJOR_VERSION, PY_MINOR_VERSION, kModuleName, "does not match", major, minor);
  return PyErr_WarnEx(nullptr, message, 1);
}

// Binds `np` to the numpy module, as `import numpy as np` at module level.
int bind_numpy() {
  PyObject* numpy = nullptr;
  if (PyDict_GetItemStringRef(PyImport_GetModuleDict(), "numpy", &numpy) < 0) return -1;
  Ref module = Ref::steal(numpy);
  if (!module) {
    Ref name = Ref::steal(PyUnicode_FromString("numpy"));
    if (!name) return -1;
    module =
        Ref::steal(PyImport_ImportModuleLevelObject(name.get(), g.globals, nullptr, nullptr, 0));
    if (!module) return -1;
  }
  if (PyDict_SetItem(g.globals, g.c.str_np, module.get()) < 0) return -1;
  // A NumPy without these still imports; the parsers then only call it.
  PyObject *array = nullptr, *int32 = nullptr;
  if (PyObject_GetOptionalAttr(module.get(), g.c.str_array, &array) < 0 ||
      PyObject_GetOptionalAttr(module.get(), g.c.str_int32, &int32) < 0) {
    Py_XDECREF(array);
    return -1;
  }
  Py_XSETREF(g.np_array, array);
  Py_XSETREF(g.np_int32, int32);
  Py_XSETREF(g.np_module, module.release());
  return 0;
}

int add_function(const FunctionDef& def) {
  Ref f = Ref::steal(make_function(def));
  if (!f) return -1;
  return PyDict_SetItemString(g.globals, def.name, f.get());
}

int exec(PyObject* module) {
  if (g.module != nullptr) {
    if (g.module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module '_vtk_parse' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  g.module = Py_NewRef(module);
  g.globals = PyModule_GetDict(module);

  // Each step returns its traceback line on failure, 0 for "no entry".
  int failed_at = [&]() -> int {
    if (g.builtins == nullptr) {
      g.builtins = PyImport_ImportModule("builtins");
      if (g.builtins == nullptr) return 0;
    }
    if (PyObject_SetAttrString(module, "__builtins__", g.builtins) < 0) return 0;
    if (warn_on_python_version() < 0) return 0;
    if (build_constants() < 0) return 0;

    constexpr int kModuleLine = static_cast<int>(Line::kModule);
    // A loader that did not register the module still finds it by name.
    Ref name = Ref::steal(PyUnicode_FromString(kModuleName));
    if (!name) return kModuleLine;
    PyObject* modules = PyImport_GetModuleDict();
    int present = PyDict_Contains(modules, name.get());
    if (present < 0 || (present == 0 && PyDict_SetItem(modules, name.get(), module) < 0))
      return kModuleLine;
    PyObject* code =
        make_code("parse_ascii_coords", static_cast<int>(Line::kCoordsDef), g.c.kw_n_verts);
    if (code == nullptr) return kModuleLine;
    Py_XSETREF(g.code_coords, code);
    code = make_code("parse_ascii_cells_v42", static_cast<int>(Line::kCellsDef), g.c.kw_n_cells);
    if (code == nullptr) return kModuleLine;
    Py_XSETREF(g.code_cells, code);
    if (make_function_type() < 0) return kModuleLine;
    if (fetch_types() < 0) return kModuleLine;
    if (bind_numpy() < 0) return static_cast<int>(Line::kBindNumpy);
    if (import_numpy_api() < 0) return static_cast<int>(Line::kNumpyApi);
    if (add_function(kCoordsDef) < 0) return static_cast<int>(Line::kCoordsDef);
    if (add_function(kCellsDef) < 0) return static_cast<int>(Line::kCellsDef);
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(g.globals, "__test__", test.get()) < 0) return kModuleLine;
    return -1;
  }();
  if (failed_at == -1) return 0;

  if (failed_at > 0 && g.constants_ready) add_traceback_entry(Func::kInit, failed_at);
  g.globals = nullptr;
  Py_CLEAR(g.module);
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_vtk_parse", kModuleDoc, 0,       nullptr,
    module_slots,          nullptr,      nullptr,    nullptr,
};

}  // namespace

const FunctionDef kCoordsDef = {
    "parse_ascii_coords", kCoordsDoc,      Func::kCoords,  Line::kCoordsDef,   Line::kCoordsStart,
    Line::kCoordsCount,   &g.c.kw_n_verts, &g.code_coords, parse_ascii_coords,
};

const FunctionDef kCellsDef = {
    "parse_ascii_cells_v42", kCellsDoc,         Func::kCells,
    Line::kCellsDef,         Line::kCellsStart, Line::kCellsCount,
    &g.c.kw_n_cells,         &g.code_cells,     parse_ascii_cells_v42,
};

}  // namespace veltrane::vtk

PyMODINIT_FUNC PyInit__vtk_parse() { return PyModuleDef_Init(&veltrane::vtk::module_def); }
