// One-dimensional int32 NumPy arrays filled in place and grown as needed,
// owned by NumPy from the start, so the caller gets an ordinary array that
// owns its data.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "ref.hpp"

namespace veltrane::vtk {

class Int32Array {
 public:
  // A new array with room for `capacity` values; false with an exception set.
  bool init(Py_ssize_t capacity);
  bool push(std::int32_t v) {
    if (size_ == capacity_ && !grow()) return false;
    data_[size_++] = v;
    return true;
  }
  Py_ssize_t size() const { return size_; }
  std::int32_t operator[](Py_ssize_t i) const { return data_[i]; }
  void truncate(Py_ssize_t n) { size_ = n; }
  // The array cut to its values, as a new reference; nullptr with an
  // exception set. The object is empty afterwards.
  PyObject* finish();
  void reset() {
    array_.reset();
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  bool resize(Py_ssize_t capacity);
  bool grow();

  Ref array_;
  std::int32_t* data_ = nullptr;
  Py_ssize_t size_ = 0;
  Py_ssize_t capacity_ = 0;
};

}  // namespace veltrane::vtk
