// Function objects and call binding. The binding holds its arguments in three
// fixed slots, matches keywords by identity before comparing contents, and
// adds one traceback entry for its own failures and the outer entry at the
// definition line for a body's.
#include "binding.hpp"

#include <structmember.h>

#include "ref.hpp"
#include "state.hpp"

namespace veltrane::vtk {
namespace {

constexpr Py_ssize_t kParams = 3;

// The functions are objects of a type of their own rather than builtins:
// callers and their tools see them as Python functions, with __code__,
// __globals__, __defaults__ and a <function ...> repr, and bind arguments
// by position or keyword as a def does.
struct FunctionObject {
  PyObject_HEAD vectorcallfunc vectorcall;
  const FunctionDef* def;
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;
  PyObject* code;
  PyObject* globals;
};

PyObject* const* param_names(const FunctionDef& def, PyObject* (&out)[kParams]) {
  out[0] = g.c.kw_lines;
  out[1] = g.c.kw_start;
  out[2] = *def.count_kw;
  return out;
}

PyObject* fail(const FunctionDef& def, Line line) {
  add_traceback_entry(def.func, line);
  return nullptr;
}

PyObject* count_error(const FunctionDef& def, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               def.name, "exactly", kParams, "s", given);
  return fail(def, def.def_line);
}

// Exact str against an interned parameter name: hash, length and width
// decide most misses before the characters are compared.
bool same_text(PyObject* key, PyObject* name) {
  Py_hash_t h = PyObject_Hash(key);
  if (h == -1) {
    PyErr_Clear();
    return false;
  }
  if (h != PyObject_Hash(name) || PyUnicode_GET_LENGTH(key) != PyUnicode_GET_LENGTH(name) ||
      PyUnicode_KIND(key) != PyUnicode_KIND(name))
    return false;
  return memcmp(PyUnicode_DATA(key), PyUnicode_DATA(name),
                PyUnicode_GET_LENGTH(key) * PyUnicode_KIND(key)) == 0;
}

// 1 if equal, 0 if not, -1 with an exception set. Exact str compares by
// value; a subclass by Python equality, so its __eq__ takes part.
int keyword_equals(PyObject* key, PyObject* name, bool exact) {
  if (exact) return same_text(key, name) ? 1 : 0;
  return PyObject_RichCompareBool(name, key, Py_EQ);
}

// Binds one keyword into `slots`; 0 on success, -1 with an exception set.
// The first position in [from, to) whose name equals `key`: -1 if none,
// -2 with an exception set if a comparison raised.
Py_ssize_t find_keyword(PyObject* key, PyObject* const names[kParams], Py_ssize_t from,
                        Py_ssize_t to, bool exact) {
  for (Py_ssize_t p = from; p < to; ++p) {
    int eq = keyword_equals(key, names[p], exact);
    if (eq < 0) return -2;
    if (eq) return p;
  }
  return -1;
}

int bind_keyword(const FunctionDef& def, PyObject* const names[kParams], Py_ssize_t nargs,
                 PyObject* key, PyObject* value, Ref slots[kParams]) {
  Py_ssize_t p = -1;
  for (Py_ssize_t q = nargs; q < kParams && p < 0; ++q) {
    if (key == names[q]) p = q;
  }
  if (p < 0) {
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def.name);
      return -1;
    }
    bool exact = PyUnicode_CheckExact(key);
    p = find_keyword(key, names, nargs, kParams, exact);
    if (p == -1) {
      // Not a free parameter: bound by position already, or no parameter.
      Py_ssize_t bound = find_keyword(key, names, 0, nargs, exact);
      if (bound == -2) return -1;
      if (bound >= 0)
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                     def.name, key);
      else
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", def.name,
                     key);
      return -1;
    }
    if (p == -2) return -1;
  }
  slots[p] = Ref::borrow(value);
  return 0;
}

PyObject* call(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Ref slots[kParams];
  Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (nkw == 0) {
    if (nargs != kParams) return count_error(def, nargs);
    for (Py_ssize_t i = 0; i < kParams; ++i) slots[i] = Ref::borrow(args[i]);
  } else {
    if (nargs > kParams) return count_error(def, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = Ref::borrow(args[i]);
    PyObject* names[kParams];
    param_names(def, names);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
      if (bind_keyword(def, names, nargs, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots) < 0)
        return fail(def, def.def_line);
    }
    for (Py_ssize_t p = nargs; p < kParams; ++p) {
      if (!slots[p]) return count_error(def, p);
    }
  }
  Py_ssize_t start = 0, count = 0;
  if (to_size(slots[1].get(), start) < 0) return fail(def, def.start_line);
  if (to_size(slots[2].get(), count) < 0) return fail(def, def.count_line);
  PyObject* result = def.body(slots[0].get(), start, count);
  if (result == nullptr) return fail(def, def.def_line);
  return result;
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return call(*f->def, args, PyVectorcall_NARGS(nargsf), kwnames);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->module);
  Py_VISIT(f->doc);
  Py_VISIT(f->code);
  Py_VISIT(f->globals);
  return 0;
}

int function_clear(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->doc);
  Py_CLEAR(f->code);
  Py_CLEAR(f->globals);
  return 0;
}

void function_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  function_clear(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* function_repr(PyObject* self) {
  auto* f = reinterpret_cast<FunctionObject*>(self);
  return PyUnicode_FromFormat("<function %U.%U>", f->module, f->qualname);
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }
PyObject* get_annotations(PyObject*, void*) { return PyDict_New(); }

PyMemberDef function_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY,
     nullptr},
    {"__name__", Py_T_OBJECT_EX, offsetof(FunctionObject, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(FunctionObject, qualname), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(FunctionObject, doc), Py_READONLY, nullptr},
    {"__code__", Py_T_OBJECT_EX, offsetof(FunctionObject, code), Py_READONLY, nullptr},
    {"__globals__", Py_T_OBJECT_EX, offsetof(FunctionObject, globals), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_members, function_members},
    {Py_tp_getset, function_getset},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "veltrane.codecs._vtk_parse.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

}  // namespace

int to_size(PyObject* obj, Py_ssize_t& out) {
  if (PyLong_Check(obj)) {
    out = PyLong_AsSsize_t(obj);
  } else {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) return -1;
    out = PyLong_AsSsize_t(index.get());
  }
  return out == -1 && PyErr_Occurred() ? -1 : 0;
}

int make_function_type() {
  PyObject* type = PyType_FromSpec(&function_spec);
  if (type == nullptr) return -1;
  Py_XSETREF(g.function_type, reinterpret_cast<PyTypeObject*>(type));
  return 0;
}

PyObject* make_function(const FunctionDef& def) {
  auto* f = PyObject_GC_New(FunctionObject, g.function_type);
  if (f == nullptr) return nullptr;
  f->vectorcall = function_vectorcall;
  f->def = &def;
  f->name = nullptr;
  f->qualname = nullptr;
  f->module = nullptr;
  f->doc = nullptr;
  f->code = Py_NewRef(*def.code);
  f->globals = Py_NewRef(g.globals);
  Ref self = Ref::steal(reinterpret_cast<PyObject*>(f));
  f->name = PyUnicode_InternFromString(def.name);
  if (f->name == nullptr) return nullptr;
  f->qualname = Py_NewRef(f->name);
  f->module = PyUnicode_InternFromString(kModuleName);
  if (f->module == nullptr) return nullptr;
  f->doc = PyUnicode_FromString(def.doc);
  if (f->doc == nullptr) return nullptr;
  PyObject_GC_Track(self.get());
  return self.release();
}

}  // namespace veltrane::vtk
