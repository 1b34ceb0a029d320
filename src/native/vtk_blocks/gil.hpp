// Letting go of the GIL while a scan reads a buffer nothing else can change,
// and taking it back for the interpreter's part. Header only; nothing here
// outlives the scope that made it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace veltrane::blocks {

// Releases the GIL when asked to, for as long as it lives.
class Unlocked {
 public:
  explicit Unlocked(bool release) {
    if (release) save_ = PyEval_SaveThread();
  }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;
  ~Unlocked() {
    if (save_ != nullptr) PyEval_RestoreThread(save_);
  }

  // f() with the GIL held, released again after it; an exception it leaves
  // set stays with the thread state meanwhile.
  template <class F>
  auto locked(F&& f) {
    if (save_ != nullptr) PyEval_RestoreThread(save_);
    auto result = f();
    if (save_ != nullptr) save_ = PyEval_SaveThread();
    return result;
  }

 private:
  PyThreadState* save_ = nullptr;
};

}  // namespace veltrane::blocks
