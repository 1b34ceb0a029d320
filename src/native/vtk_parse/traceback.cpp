// Traceback entries: a frame made for the purpose, whose code object names
// the function and carries the line as its first line, so the traceback
// shows that line. Code objects are made once per (line, function) and kept
// for the life of the process in a table sorted by that key.
#include "traceback.hpp"

#include <frameobject.h>

#include <iterator>

#include "state.hpp"

namespace veltrane::vtk {

const char kSourcePath[] = "veltrane/codecs/_vtk_parse.cpp";

namespace {

constexpr const char* kFuncNames[] = {
    "init veltrane.codecs._vtk_parse",
    "veltrane.codecs._vtk_parse.parse_ascii_coords",
    "veltrane.codecs._vtk_parse.parse_ascii_cells_v42",
    "numpy.import_array",
};

// The file each function's entries name, indexed like kFuncNames.
constexpr const char* kFuncFiles[] = {
    kSourcePath,
    kSourcePath,
    kSourcePath,
    VELTRANE_NUMPY_API_HEADER,
};

struct Entry {
  long key;
  PyObject* code;
};

// Changed only with the global lock held.
struct CodeTable {
  Entry* entries = nullptr;
  Py_ssize_t size = 0;
  Py_ssize_t capacity = 0;
} table;

constexpr Py_ssize_t kGrowBy = 64;

constexpr long kFuncCount = static_cast<long>(std::size(kFuncNames));
static_assert(std::size(kFuncFiles) == std::size(kFuncNames));

long key_of(Func func, int line) {
  return static_cast<long>(line) * kFuncCount + static_cast<int>(func);
}

// Index of the first entry whose key is not below `key`.
Py_ssize_t lower_bound(long key) {
  Py_ssize_t lo = 0, hi = table.size;
  while (lo < hi) {
    Py_ssize_t mid = lo + (hi - lo) / 2;
    if (table.entries[mid].key < key)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Keeps `code` (a new reference it takes over) when the table can hold it;
// a table that cannot grow just does not keep it.
void keep(Py_ssize_t at, long key, PyObject* code) {
  if (table.size == table.capacity) {
    Py_ssize_t want = table.capacity + kGrowBy;
    auto* grown = static_cast<Entry*>(PyMem_Realloc(table.entries, sizeof(Entry) * want));
    if (grown == nullptr) return;
    table.entries = grown;
    table.capacity = want;
  }
  for (Py_ssize_t i = table.size; i > at; --i) table.entries[i] = table.entries[i - 1];
  table.entries[at] = Entry{key, Py_NewRef(code)};
  ++table.size;
}

// A new reference to the code object for (func, line), or nullptr with an
// exception set.
PyObject* code_for(Func func, int line) {
  long key = key_of(func, line);
  Py_ssize_t at = lower_bound(key);
  if (at < table.size && table.entries[at].key == key) return Py_NewRef(table.entries[at].code);
  auto* code = reinterpret_cast<PyObject*>(PyCode_NewEmpty(
      kFuncFiles[static_cast<int>(func)], kFuncNames[static_cast<int>(func)], line));
  if (code == nullptr) return nullptr;
  keep(at, key, code);
  return code;
}

}  // namespace

void add_traceback_entry(Func func, int line) {
  // The code object is made with the pending exception set aside; a failure
  // to make it replaces that exception.
  PyObject* exc = PyErr_GetRaisedException();
  PyObject* code = code_for(func, line);
  if (code == nullptr) {
    Py_XDECREF(exc);
    return;
  }
  PyErr_SetRaisedException(exc);
  PyFrameObject* frame =
      PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), g.globals, nullptr);
  Py_DECREF(code);
  if (frame == nullptr) return;
  PyTraceBack_Here(frame);
  Py_DECREF(frame);
}

}  // namespace veltrane::vtk
