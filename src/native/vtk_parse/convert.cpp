// Item access, split() and float and int conversion of tokens. Text tokens
// are read in place by the scanning core where it can judge them whole;
// everything else goes to the interpreter's own conversion, so values and
// errors are float()'s and int()'s.
#include "convert.hpp"

#include <cstdint>
#include <string_view>

#include "scan.hpp"
#include "state.hpp"

namespace veltrane::vtk {
namespace {

double from_float_object(PyObject* value) {
  if (value == nullptr) return -1.0;
  double v = PyFloat_AS_DOUBLE(value);
  Py_DECREF(value);
  return v;
}

double text_to_double(PyObject* token, std::string_view text) {
  double v;
  if (scan::parse_double(text, v) == scan::Verdict::Clean) return v;
  return from_float_object(PyFloat_FromString(token));
}

Ref text_to_long(PyObject* token, std::string_view text) {
  std::int64_t v;
  if (scan::parse_int64(text, v) == scan::Verdict::Clean) return Ref::steal(PyLong_FromLongLong(v));
  return Ref::steal(PyNumber_Long(token));
}

}  // namespace

Ref item_at(PyObject* seq, Py_ssize_t i, PyObject* index_obj) {
  if (PyList_CheckExact(seq)) {
    if (i >= PyList_GET_SIZE(seq)) {
      PyErr_SetString(PyExc_IndexError, "list index out of range");
      return Ref();
    }
    return Ref::borrow(PyList_GET_ITEM(seq, i));
  }
  if (PyTuple_CheckExact(seq)) return Ref::borrow(PyTuple_GET_ITEM(seq, i));
  Ref index;
  if (index_obj == nullptr) {
    index = Ref::steal(PyLong_FromSsize_t(i));
    if (!index) return Ref();
    index_obj = index.get();
  }
  return Ref::steal(PyObject_GetItem(seq, index_obj));
}

Ref numpy_attr(PyObject* attr) {
  Ref np = Ref::steal(lookup_global(g.c.str_np));
  if (!np) return Ref();
  return Ref::steal(PyObject_GetAttr(np.get(), attr));
}

Ref split_line(PyObject* line) {
  if (PyUnicode_CheckExact(line)) return Ref::steal(PyUnicode_Split(line, nullptr, -1));
  return Ref::steal(PyObject_CallMethodNoArgs(line, g.c.str_split));
}

double to_double(PyObject* token) {
  if (PyFloat_CheckExact(token)) return PyFloat_AS_DOUBLE(token);
  if (PyLong_CheckExact(token)) return PyLong_AsDouble(token);
  if (PyUnicode_CheckExact(token)) {
    if (!PyUnicode_IS_ASCII(token)) return from_float_object(PyFloat_FromString(token));
    return text_to_double(token, std::string_view(static_cast<const char*>(PyUnicode_DATA(token)),
                                                  PyUnicode_GET_LENGTH(token)));
  }
  if (PyBytes_CheckExact(token))
    return text_to_double(token,
                          std::string_view(PyBytes_AS_STRING(token), PyBytes_GET_SIZE(token)));
  if (PyByteArray_CheckExact(token))
    return text_to_double(
        token, std::string_view(PyByteArray_AS_STRING(token), PyByteArray_GET_SIZE(token)));

  PyNumberMethods* nb = Py_TYPE(token)->tp_as_number;
  if (nb == nullptr || nb->nb_float == nullptr)
    return from_float_object(
        PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyFloat_Type), token));
  PyObject* value = nb->nb_float(token);
  if (value != nullptr && !PyFloat_Check(value)) {
    PyErr_Format(PyExc_TypeError, "__float__ returned non-float (type %.200s)",
                 Py_TYPE(value)->tp_name);
    Py_DECREF(value);
    return -1.0;
  }
  return from_float_object(value);
}

Ref to_long(PyObject* token) {
  if (PyLong_CheckExact(token)) return Ref::borrow(token);
  // Non-ASCII text may hold other decimal digits or Unicode spaces; the
  // interpreter reads those.
  if (PyUnicode_CheckExact(token) && PyUnicode_IS_ASCII(token))
    return text_to_long(token, std::string_view(static_cast<const char*>(PyUnicode_DATA(token)),
                                                PyUnicode_GET_LENGTH(token)));
  if (PyBytes_CheckExact(token))
    return text_to_long(token, std::string_view(PyBytes_AS_STRING(token), PyBytes_GET_SIZE(token)));
  return Ref::steal(PyNumber_Long(token));
}

}  // namespace veltrane::vtk
