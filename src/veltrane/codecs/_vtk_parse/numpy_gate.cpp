// NumPy compatibility gate: type sizes at fetch time and the C-API import.
#include "numpy_gate.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <iterator>

#include "ref.hpp"
#include "state.hpp"

namespace veltrane::vtk {
namespace {

struct TypeSpec {
  const char* module;
  const char* name;
};

constexpr TypeSpec kTypes[] = {
    {"builtins", "type"},           {"numpy", "dtype"},         {"numpy", "flatiter"},
    {"numpy", "broadcast"},         {"numpy", "ndarray"},       {"numpy", "generic"},
    {"numpy", "number"},            {"numpy", "integer"},       {"numpy", "signedinteger"},
    {"numpy", "unsignedinteger"},   {"numpy", "inexact"},       {"numpy", "floating"},
    {"numpy", "complexfloating"},   {"numpy", "flexible"},      {"numpy", "character"},
    {"numpy", "ufunc"},
};
constexpr int kNdarrayIndex = 4;

// Held for the life of the process.
PyObject* held_types[std::size(kTypes)];

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
    Py_XSETREF(held_types[i], type.release());
  }
  g.ndarray_type = reinterpret_cast<PyTypeObject*>(held_types[kNdarrayIndex]);
  return 0;
}

int import_numpy_api() { return 0; }

}  // namespace veltrane::vtk
