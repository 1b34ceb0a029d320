// read_ascii: a run of whitespace-separated numbers of one type from the
// data, however it is spread over lines, into a new array. The scanning core
// takes the common token whole; a token it cannot judge goes to the
// interpreter's float() or int(), so acceptance is theirs. A run the reader
// cannot take whole is declined with the byte offset that shows why, never
// with an exception: the reader reads it again to say what is wrong. A large
// run of a buffer nothing else can change is read without the GIL, and on
// threads when asked; run.hpp keeps the answer the same.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "args.hpp"
#include "blocks.hpp"
#include "convert.hpp"
#include "ref.hpp"
#include "run.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::blocks {
namespace {

// The run on threads, chunk by chunk straight into `out`.
template <class Conv, class Sink>
Outcome read_threaded(const char* from, const char* stop, std::ptrdiff_t count,
                      typename Conv::Out* out, int threads, Sink&& store, Unlocked& gil) {
  Chunked run;
  if (!read_chunks<Conv>(from, stop, count, out, threads, run))
    return scan_alone<Conv>(from, stop, 0, count, store, gil);
  return finish_chunks<Conv>(run, run.first_failure(), stop, count, store, gil);
}

// The run from `pos`, into a new array when the bytes left can hold it, else
// only scanned for where it fails: (array, end) or (None, where) as
// read_ascii answers.
template <class Conv>
PyObject* read_run(const Data& data, Py_ssize_t pos, Py_ssize_t count, int threads) {
  // A count the bytes left cannot hold sizes no memory: the run is scanned
  // for where it fails.
  const Py_ssize_t holdable = data.holdable(pos);
  Ref array;
  typename Conv::Out* out = nullptr;
  if (count <= holdable) {
    npy_intp dims[] = {count};
    array = Ref::steal(PyArray_SimpleNew(1, dims, Conv::kType));
    if (!array) return nullptr;
    out = static_cast<typename Conv::Out*>(
        PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  }
  if (count == 0) return Py_BuildValue("(On)", array.get(), pos);

  const char* from = data.bytes().data() + pos;
  const char* stop = data.bytes().data() + data.size();
  const Py_ssize_t work = std::min(count, holdable);
  const parallel::Tuning tune = parallel::tuning();
  Outcome outcome{Outcome::kError, nullptr};
  {
    Unlocked gil(data.readonly() && work >= tune.release_count);
    auto store = [out](std::ptrdiff_t k, typename Conv::Out v) {
      if (out != nullptr) out[k] = v;
      return true;
    };
    if (out != nullptr && threads > 1 && work >= tune.thread_count) {
      outcome = read_threaded<Conv>(from, stop, count, out, threads, store, gil);
    } else {
      outcome = scan_alone<Conv>(from, stop, 0, count, store, gil);
    }
  }
  switch (outcome.kind) {
    case Outcome::kRead:
      return Py_BuildValue("(On)", array.get(), data.offset(outcome.at));
    case Outcome::kDeclined:
      return Py_BuildValue("(On)", Py_None, data.offset(outcome.at));
    default:
      return nullptr;
  }
}

using Reader = PyObject* (*)(const Data&, Py_ssize_t, Py_ssize_t, int);

// The reader for a type code; nullptr with ValueError or TypeError.
Reader reader_for(PyObject* type) {
  if (!PyUnicode_Check(type) || PyUnicode_GET_LENGTH(type) != 1) {
    PyErr_Format(PyExc_TypeError, "type must be a str of one character, not %R", type);
    return nullptr;
  }
  switch (PyUnicode_READ_CHAR(type, 0)) {
    case 'd':
      return read_run<Float64>;
    case 'f':
      return read_run<Float32>;
    case 'b':
      return read_run<Full<std::int8_t, NPY_INT8>>;
    case 'B':
      return read_run<Unsigned<std::uint8_t, NPY_UINT8>>;
    case 'h':
      return read_run<Full<std::int16_t, NPY_INT16>>;
    case 'H':
      return read_run<Unsigned<std::uint16_t, NPY_UINT16>>;
    case 'i':
      return read_run<Full<std::int32_t, NPY_INT32>>;
    case 'I':
      return read_run<Unsigned<std::uint32_t, NPY_UINT32>>;
    case 'q':
      return read_run<Full<std::int64_t, NPY_INT64>>;
    case 'Q':
      return read_run<Unsigned<std::uint64_t, NPY_UINT64>>;
    case '?':
      return read_run<Integer<npy_bool, NPY_BOOL, 0, 1>>;
    case 'c':
      return read_run<Integer<std::int8_t, NPY_INT8, -128, 255>>;
    default:
      PyErr_Format(PyExc_ValueError, "type must be one of 'dfbBhHiIqQ?c', not %R", type);
      return nullptr;
  }
}

}  // namespace

PyObject* read_ascii(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs_between("read_ascii", nargs, 4, 5)) return nullptr;
  Data data;
  Py_ssize_t pos, count;
  int threads = 1;
  if (!data.acquire(args[0]) || !to_position(args[1], "pos", data, pos) ||
      !to_count(args[2], "count", 0, count))
    return nullptr;
  Reader read = reader_for(args[3]);
  if (read == nullptr || (nargs == 5 && !to_threads(args[4], threads))) return nullptr;
  return read(data, pos, count, threads);
}

}  // namespace veltrane::blocks
