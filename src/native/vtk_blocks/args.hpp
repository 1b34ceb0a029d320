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
  // Whether the export is read-only: bytes, a read-only mmap. Such data is
  // taken as nothing else changes during the call, and scanned without the
  // GIL; a writer through another view could change only the numbers read,
  // never where the scan reads.
  bool readonly() const noexcept { return view_.view().readonly != 0; }
  // The most numbers the bytes from `pos` on can hold: n numbers take
  // 2 * n - 1 bytes at least.
  Py_ssize_t holdable(Py_ssize_t pos) const noexcept { return (size() - pos + 1) / 2; }
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
// TypeError unless the call has `least` to `most` arguments.
bool check_nargs_between(const char* name, Py_ssize_t nargs, Py_ssize_t least, Py_ssize_t most);

// A byte position in 0..data.size(), by int() semantics of __index__.
bool to_position(PyObject* obj, const char* what, const Data& data, Py_ssize_t& out);

// A number that is `least` or more.
bool to_count(PyObject* obj, const char* what, Py_ssize_t least, Py_ssize_t& out);

// A slice bound, clamped into 0..data.size() as slicing clamps it.
bool to_clamped(PyObject* obj, const Data& data, Py_ssize_t& out);

// The `threads` argument: 1 or more, more than parallel::kMaxThreads taken
// as that many.
bool to_threads(PyObject* obj, int& out);

// The `eol` argument: b'\n' or b'\r', as its byte.
bool to_eol(PyObject* obj, char& out);

}  // namespace veltrane::blocks
