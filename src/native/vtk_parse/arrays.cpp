// Int32Array through NumPy's C API, whose table the import gate fetched
// (numpy_api.cpp holds it).
#include "arrays.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::vtk {

bool Int32Array::init(Py_ssize_t capacity) {
  reset();
  npy_intp dims[] = {capacity};
  array_ = Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT32));
  if (!array_) return false;
  data_ = static_cast<std::int32_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array_.get())));
  capacity_ = capacity;
  return true;
}

bool Int32Array::resize(Py_ssize_t capacity) {
  npy_intp dims[] = {capacity};
  PyArray_Dims shape = {dims, 1};
  // Nothing else refers to the array yet, so no reference check is needed,
  // and NumPy's allocator grows or shrinks the data in place where it can.
  auto* array = reinterpret_cast<PyArrayObject*>(array_.get());
  Ref none = Ref::steal(PyArray_Resize(array, &shape, 0, NPY_CORDER));
  if (!none) return false;
  data_ = static_cast<std::int32_t*>(PyArray_DATA(array));
  capacity_ = capacity;
  return true;
}

bool Int32Array::grow() {
  Py_ssize_t want = capacity_ < 1024 ? 1024 : capacity_ + capacity_ / 2;
  return resize(want);
}

PyObject* Int32Array::finish() {
  if (size_ != capacity_ && !resize(size_)) return nullptr;
  PyObject* result = array_.release();
  reset();
  return result;
}

}  // namespace veltrane::vtk
