// NumPy compatibility gate: type sizes at fetch time and the C-API import.
// NumPy's headers give the struct sizes and the table's accessors; their
// import machinery is not used, so a failed import leaves no table behind.
#include "numpy_gate.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include <cstddef>
#include <iterator>

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

int runtime_error(const char* message) {
  PyErr_SetString(PyExc_RuntimeError, message);
  return -1;
}

// NumPy's table import with its checks; 0 with the table stored, or -1.
int import_table() {
  Ref module = Ref::steal(PyImport_ImportModule("numpy._core._multiarray_umath"));
  // NumPy 1.x keeps it under numpy.core. Any other failure is NumPy's answer.
  if (!module && PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) {
    PyErr_Clear();
    module = Ref::steal(PyImport_ImportModule("numpy.core._multiarray_umath"));
  }
  if (!module) return -1;
  Ref capsule = Ref::steal(PyObject_GetAttrString(module.get(), "_ARRAY_API"));
  if (!capsule) return -1;
  if (!PyCapsule_CheckExact(capsule.get()))
    return runtime_error("_ARRAY_API is not PyCapsule object");
  auto** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
  if (table == nullptr) {
    // A named capsule fails the look-up with its own error; the table is
    // just as unusable.
    PyErr_Clear();
    return runtime_error("_ARRAY_API is NULL pointer");
  }

  // The header's accessors index a table by this name; the local one is the
  // table just fetched, so the slots are those NumPy's C API fixes.
  void** PyArray_API = table;
  unsigned abi = PyArray_GetNDArrayCVersion();
  if (abi > NPY_VERSION) {
    PyErr_Format(PyExc_RuntimeError,
                 "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                 NPY_VERSION, static_cast<int>(abi));
    return -1;
  }
  unsigned feature = PyArray_GetNDArrayCFeatureVersion();
  if (feature < NPY_FEATURE_VERSION) {
    PyErr_Format(
        PyExc_RuntimeError,
        "module was compiled against NumPy C-API version 0x%x (NumPy " NPY_FEATURE_VERSION_STRING
        ") but the running NumPy has C-API version 0x%x. Check the section C-API "
        "incompatibility at the Troubleshooting ImportError section at "
        "https://numpy.org/devdocs/user/troubleshooting-importerror.html"
        "#c-api-incompatibility for indications on how to solve this problem.",
        NPY_FEATURE_VERSION, static_cast<int>(feature));
    return -1;
  }
  int order = PyArray_GetEndianness();
  if (order == NPY_CPU_UNKNOWN_ENDIAN)
    return runtime_error("FATAL: module compiled as unknown endian");
#if NPY_BYTE_ORDER == NPY_BIG_ENDIAN
  if (order != NPY_CPU_BIG)
    return runtime_error(
        "FATAL: module compiled as big endian, but detected different endianness at runtime");
#else
  if (order != NPY_CPU_LITTLE)
    return runtime_error(
        "FATAL: module compiled as little endian, but detected different endianness at runtime");
#endif
  g.numpy_api = table;
  return 0;
}

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
  if (import_table() == 0) return 0;
  add_traceback_entry(Func::kImportArray, kImportArrayCallLine);
  // Only an Exception becomes NumPy's ImportError; KeyboardInterrupt and
  // the like must reach the importer as they are.
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return -1;
  Ref first = Ref::steal(PyErr_GetRaisedException());
  PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
  Ref raised = Ref::steal(PyErr_GetRaisedException());
  PyException_SetContext(raised.get(), first.release());
  PyErr_SetRaisedException(raised.release());
  add_traceback_entry(Func::kImportArray, kImportArrayRaiseLine);
  return -1;
}

}  // namespace veltrane::vtk
