// NumPy compatibility gate: type sizes at fetch time and the C-API import.
// NumPy's headers give the struct sizes; the table itself is fetched by the
// code both extensions share (numpy_api.cpp), which leaves no table behind
// when the import fails. This file adds the module's traceback entries.
#include "numpy_gate.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include <cstddef>
#include <iterator>

#include "numpy_api.hpp"
#include "ref.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace veltrane::vtk {
namespace {

// warn: a type that grew draws a RuntimeWarning. ignore: only shrinking
// fails; NumPy's own objects may grow between releases without harm to us.
enum class Mode { kWarn, kIgnore };

struct TypeSpec {
  const char* module;
  const char* name;
  Py_ssize_t size;  // from the headers built against, so other headers stay right
  Mode mode;
};

// NumPy's header gives C++ a fixed iters[32] where C has a flexible array
// member of no size; the C struct, the one NumPy builds, ends where it begins.
constexpr Py_ssize_t kMultiIterSize = offsetof(PyArrayMultiIterObject, iters);

const TypeSpec kTypes[] = {
    {"builtins", "type", sizeof(PyHeapTypeObject), Mode::kWarn},
    {"numpy", "dtype", sizeof(PyArray_Descr), Mode::kIgnore},
    {"numpy", "flatiter", sizeof(PyArrayIterObject), Mode::kIgnore},
    {"numpy", "broadcast", kMultiIterSize, Mode::kIgnore},
    {"numpy", "ndarray", sizeof(PyArrayObject_fields), Mode::kIgnore},
    {"numpy", "generic", sizeof(PyObject), Mode::kWarn},
    {"numpy", "number", sizeof(PyObject), Mode::kWarn},
    {"numpy", "integer", sizeof(PyObject), Mode::kWarn},
    {"numpy", "signedinteger", sizeof(PyObject), Mode::kWarn},
    {"numpy", "unsignedinteger", sizeof(PyObject), Mode::kWarn},
    {"numpy", "inexact", sizeof(PyObject), Mode::kWarn},
    {"numpy", "floating", sizeof(PyObject), Mode::kWarn},
    {"numpy", "complexfloating", sizeof(PyObject), Mode::kWarn},
    {"numpy", "flexible", sizeof(PyObject), Mode::kWarn},
    {"numpy", "character", sizeof(PyObject), Mode::kWarn},
    {"numpy", "ufunc", sizeof(PyUFuncObject), Mode::kIgnore},
};
constexpr int kNdarrayIndex = 4;

// Held for the life of the process.
PyObject* held_types[std::size(kTypes)];

constexpr char kSizeChanged[] =
    "%.200s.%.200s size changed, may indicate binary incompatibility. "
    "Expected %zd from C header, got %zd from PyObject";

int check_size(PyTypeObject* type, const TypeSpec& t) {
  Py_ssize_t basic = type->tp_basicsize;
  Py_ssize_t item = type->tp_itemsize;
  // sizeof pads a struct's variable tail to pointer alignment, so a small
  // item counts as that much.
  if (item != 0 && item < static_cast<Py_ssize_t>(alignof(void*))) item = alignof(void*);
  if (basic + item < t.size) {
    PyErr_Format(PyExc_ValueError, kSizeChanged, t.module, t.name, t.size, basic + item);
    return -1;
  }
  // Stack level 0: the warning belongs to the import, not to a caller.
  if (t.mode == Mode::kWarn && basic > t.size)
    return PyErr_WarnFormat(nullptr, 0, kSizeChanged, t.module, t.name, t.size, basic);
  return 0;
}

// Where NumPy's import_array() calls the table import and where it raises
// ImportError; the entries of a failed import name these lines.
constexpr int kImportArrayCallLine = VELTRANE_IMPORT_ARRAY_CALL_LINE;
constexpr int kImportArrayRaiseLine = VELTRANE_IMPORT_ARRAY_RAISE_LINE;

}  // namespace

int fetch_types() {
  Ref builtins, numpy;
  for (std::size_t i = 0; i < std::size(kTypes); ++i) {
    const TypeSpec& t = kTypes[i];
    Ref& module = t.module[0] == 'b' ? builtins : numpy;
    if (!module) {
      module = Ref::steal(PyImport_ImportModule(t.module));
      if (!module) return -1;
    }
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), t.name));
    if (!type) return -1;
    if (!PyType_Check(type.get())) {
      PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", t.module, t.name);
      return -1;
    }
    if (check_size(reinterpret_cast<PyTypeObject*>(type.get()), t) < 0) return -1;
    Py_XSETREF(held_types[i], type.release());
  }
  g.ndarray_type = reinterpret_cast<PyTypeObject*>(held_types[kNdarrayIndex]);
  return 0;
}

int import_numpy_api() {
  if (numpy_api::fetch_table() == 0) return 0;
  add_traceback_entry(Func::kImportArray, kImportArrayCallLine);
  if (!numpy_api::chain_import_error()) return -1;
  add_traceback_entry(Func::kImportArray, kImportArrayRaiseLine);
  return -1;
}

}  // namespace veltrane::vtk
