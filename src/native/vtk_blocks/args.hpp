// Argument checks for the module's functions: the byte buffer and the
// positions and counts into it. Each check leaves TypeError, ValueError or
// OverflowError set when it fails; none of them reads the data's content.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "ref.hpp"

namespace veltrane::blocks {

// The `data` argument, held as a C-contiguous buffer of bytes for the call.
class Data {
 public:
  // False with TypeError for an object that exports no buffer of bytes and
  // ValueError for one that is not C-contiguous.
  bool acquire(PyObject* obj);
  std::string_view bytes() const noexcept { return bytes_; }
  Py_ssize_t size() const noexcept { return static_cast<Py_ssize_t>(bytes_.size()); }
  // The byte offset of `p`, which points into the data or just past it.
  Py_ssize_t offset(const char* p) const noexcept { return p - bytes_.data(); }
  // The byte offset at which `part`, a view into the data, starts.
  Py_ssize_t offset(std::string_view part) const noexcept { return offset(part.begin()); }

 private:
  BufferView view_;
  std::string_view bytes_;
};

// TypeError unless the call has exactly `want` arguments.
bool check_nargs(const char* name, Py_ssize_t nargs, Py_ssize_t want);

// A byte position in 0..data.size(), by int() semantics of __index__.
bool to_position(PyObject* obj, const char* what, const Data& data, Py_ssize_t& out);

// A number that is `least` or more.
bool to_count(PyObject* obj, const char* what, Py_ssize_t least, Py_ssize_t& out);

// A slice bound, clamped into 0..data.size() as slicing clamps it.
bool to_clamped(PyObject* obj, const Data& data, Py_ssize_t& out);

}  // namespace veltrane::blocks
