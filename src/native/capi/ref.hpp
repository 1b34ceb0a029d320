// Owning handles for Python references and buffer views, shared by both
// extensions: every path that leaves a function releases what the handles
// hold, so error paths stay one `return` long. Header only; no module state.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace veltrane {

class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    // Store first: the old object's finaliser may run Python code.
    PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
    Py_XDECREF(old);
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept { *this = Ref(); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

// A Py_buffer that is released with its owner.
class BufferView {
 public:
  BufferView() = default;
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() { release(); }

  // Returns -1 with the exporter's exception set on failure.
  int acquire(PyObject* obj, int flags) noexcept {
    release();
    if (PyObject_GetBuffer(obj, &view_, flags) < 0) return -1;
    held_ = true;
    return 0;
  }
  void release() noexcept {
    if (held_) {
      held_ = false;
      PyBuffer_Release(&view_);
    }
  }
  const Py_buffer& view() const noexcept { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace veltrane
