// The two int64 arrays that a cell block splits into, made before the scan
// that fills them, so that the scan can run without the GIL.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "ref.hpp"

namespace veltrane::blocks {

struct Csr {
  Ref offsets, conn;
  std::int64_t* offsets_out = nullptr;
  std::int64_t* conn_out = nullptr;
};

// Offsets for n cells, offsets[0] already 0, and room for conn_len
// indices; false with MemoryError set. In cells.cpp.
bool make_csr(Py_ssize_t n, Py_ssize_t conn_len, Csr& out);

}  // namespace veltrane::blocks
