// The fetch of NumPy's C-API table and the definitions of the two globals its
// header macros read. NumPy's own import machinery (import_array()) is not
// used: it prints the error it replaces and leaves a half-checked table
// behind when a check fails.
#include "numpy_api.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

#include "ref.hpp"

// Declared by NumPy's header; defined here once per extension. Built against
// NumPy 1.x headers the runtime version is a macro, not a variable.
void** PyArray_API = nullptr;
#if NPY_ABI_VERSION >= 0x02000000
int PyArray_RUNTIME_VERSION = 0;
#endif

namespace veltrane::numpy_api {
namespace {

int runtime_error(const char* message) {
  PyErr_SetString(PyExc_RuntimeError, message);
  return -1;
}

// The checks NumPy's import makes on a table, before it is used for
// anything else. `feature` gets the table's C-API feature version. The
// header's accessor macros index a table by the name PyArray_API, so the
// parameter carries that name: the slots read are those of the candidate.
int check_table(void** PyArray_API, unsigned& feature) {
  unsigned abi = PyArray_GetNDArrayCVersion();
  if (abi > NPY_VERSION) {
    PyErr_Format(PyExc_RuntimeError,
                 "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                 NPY_VERSION, static_cast<int>(abi));
    return -1;
  }
  feature = PyArray_GetNDArrayCFeatureVersion();
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
  return 0;
}

}  // namespace

int fetch_table() {
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
  unsigned feature = 0;
  if (check_table(table, feature) < 0) return -1;
  PyArray_API = table;
#if NPY_ABI_VERSION >= 0x02000000
  // Descriptor accessors built for both 1.x and 2.x pick their layout by it.
  PyArray_RUNTIME_VERSION = static_cast<int>(feature);
#endif
  return 0;
}

bool chain_import_error() {
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
  Ref first = Ref::steal(PyErr_GetRaisedException());
  PyErr_SetString(PyExc_ImportError, "numpy._core.multiarray failed to import");
  Ref raised = Ref::steal(PyErr_GetRaisedException());
  PyException_SetContext(raised.get(), first.release());
  PyErr_SetRaisedException(raised.release());
  return true;
}

}  // namespace veltrane::numpy_api
