// Argument checks; see args.hpp. Messages name the parameter and the value.
#include "args.hpp"

#include "parallel.hpp"

namespace veltrane::blocks {
namespace {

bool to_ssize(PyObject* obj, Py_ssize_t& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return false;
  out = PyLong_AsSsize_t(index.get());
  return !(out == -1 && PyErr_Occurred());
}

}  // namespace

bool Data::acquire(PyObject* obj) {
  // Strides and format are asked for so that every exporter answers, and the
  // layout is judged here with one message for all of them.
  if (view_.acquire(obj, PyBUF_FULL_RO) < 0) {
    if (PyErr_ExceptionMatches(PyExc_BufferError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "data must export a buffer of bytes, not %.200s",
                   Py_TYPE(obj)->tp_name);
    }
    return false;
  }
  const Py_buffer& b = view_.view();
  if (b.itemsize != 1) {
    PyErr_Format(PyExc_TypeError, "data must hold bytes, not items of %zd bytes", b.itemsize);
    return false;
  }
  if (!PyBuffer_IsContiguous(&b, 'C')) {
    PyErr_SetString(PyExc_ValueError, "data must be C-contiguous");
    return false;
  }
  bytes_ = std::string_view(static_cast<const char*>(b.buf), static_cast<std::size_t>(b.len));
  return true;
}

bool check_nargs(const char* name, Py_ssize_t nargs, Py_ssize_t want) {
  if (nargs == want) return true;
  PyErr_Format(PyExc_TypeError, "%s expected %zd arguments, got %zd", name, want, nargs);
  return false;
}

bool check_nargs_between(const char* name, Py_ssize_t nargs, Py_ssize_t least, Py_ssize_t most) {
  if (nargs >= least && nargs <= most) return true;
  PyErr_Format(PyExc_TypeError, "%s expected %zd to %zd arguments, got %zd", name, least, most,
               nargs);
  return false;
}

bool to_position(PyObject* obj, const char* what, const Data& data, Py_ssize_t& out) {
  if (!to_ssize(obj, out)) return false;
  if (out >= 0 && out <= data.size()) return true;
  PyErr_Format(PyExc_ValueError, "%s must lie in 0..len(data) = 0..%zd, not %zd", what, data.size(),
               out);
  return false;
}

bool to_count(PyObject* obj, const char* what, Py_ssize_t least, Py_ssize_t& out) {
  if (!to_ssize(obj, out)) return false;
  if (out >= least) return true;
  PyErr_Format(PyExc_ValueError, "%s must be %zd or more, not %zd", what, least, out);
  return false;
}

bool to_clamped(PyObject* obj, const Data& data, Py_ssize_t& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return false;
  // Saturates beyond 64 bits instead of raising, as a slice bound does.
  out = PyNumber_AsSsize_t(index.get(), nullptr);
  if (out == -1 && PyErr_Occurred()) return false;
  out = out < 0 ? 0 : out > data.size() ? data.size() : out;
  return true;
}

bool to_threads(PyObject* obj, int& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return false;
  // Saturates beyond 64 bits: any huge count means "as many as may be".
  Py_ssize_t n = PyNumber_AsSsize_t(index.get(), nullptr);
  if (n == -1 && PyErr_Occurred()) return false;
  if (n < 1) {
    PyErr_Format(PyExc_ValueError, "threads must be 1 or more, not %zd", n);
    return false;
  }
  out = static_cast<int>(n < parallel::kMaxThreads ? n : parallel::kMaxThreads);
  return true;
}

bool to_eol(PyObject* obj, char& out) {
  if (!PyBytes_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "eol must be bytes, not %.200s", Py_TYPE(obj)->tp_name);
    return false;
  }
  if (PyBytes_GET_SIZE(obj) != 1 ||
      (PyBytes_AS_STRING(obj)[0] != '\n' && PyBytes_AS_STRING(obj)[0] != '\r')) {
    PyErr_Format(PyExc_ValueError, "eol must be b'\\n' or b'\\r', not %R", obj);
    return false;
  }
  out = PyBytes_AS_STRING(obj)[0];
  return true;
}

}  // namespace veltrane::blocks
