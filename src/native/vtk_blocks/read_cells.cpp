// read_cells: a cell block of the classic layout, "count i0 .. count ...",
// read from the data's text and cut into offsets and connectivity in one
// pass, straight into the final arrays. What is wrong with a block is the
// reader's to say (read_ascii and split_cells tell it exactly): this says
// only where the block first fails. On threads the numbers are read chunk by
// chunk and cut as the chunks come in; the answer is the one alone.
#include <algorithm>
#include <cstdint>

#include "args.hpp"
#include "blocks.hpp"
#include "convert.hpp"
#include "csr.hpp"
#include "ref.hpp"
#include "run.hpp"

#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>

namespace veltrane::blocks {
namespace {

// Cuts the numbers of a run into n cells as they come. A count fails where
// its cell, and a number for each cell after it, would not fit in the
// `size` numbers; so does a number after the n-th cell. Cells that pass
// use exactly `size` numbers, and their indices fit the connectivity.
class Cutter {
 public:
  Cutter(Py_ssize_t n, Py_ssize_t size, std::int64_t* offsets, std::int64_t* conn)
      : n_(n), size_(size), offsets_(offsets), conn_(conn) {}

  // Takes the next number; false where the cells cannot come out whole.
  bool take(std::int64_t v) {
    const Py_ssize_t k = taken_++;
    if (left_ > 0) {
      if (conn_ != nullptr) conn_[k - cells_] = v;
      --left_;
      return true;
    }
    // Both sides of the subtraction are 0 or more: it cannot wrap.
    if (cells_ == n_ || v < 0 || v > (size_ - k - 1) - (n_ - cells_ - 1)) return false;
    if (offsets_ != nullptr) offsets_[cells_ + 1] = offsets_[cells_] + v;
    ++cells_;
    left_ = v;
    return true;
  }

  // Takes numbers[from..to) where they were read into the connectivity's own
  // buffer, as the threaded read leaves them: a cell's indices move down
  // by the counts before them, a cell at a time. Returns `to`, or where a
  // number was refused.
  std::ptrdiff_t take_in_place(std::int64_t* numbers, std::ptrdiff_t from, std::ptrdiff_t to) {
    std::ptrdiff_t k = from;
    while (k < to) {
      if (left_ == 0) {
        if (!take(numbers[k])) return k;
        ++k;
        continue;
      }
      const std::ptrdiff_t m = std::min<std::ptrdiff_t>(left_, to - k);
      // The target starts below the source (a count came first): a forward
      // copy moves the overlap right.
      std::copy(numbers + k, numbers + k + m, numbers + (k - cells_));
      taken_ += m;
      left_ -= m;
      k += m;
    }
    return to;
  }

  bool whole() const { return cells_ == n_ && left_ == 0 && taken_ == size_; }

 private:
  Py_ssize_t n_, size_;
  std::int64_t* offsets_;
  std::int64_t* conn_;
  Py_ssize_t taken_ = 0, cells_ = 0;
  std::int64_t left_ = 0;
};

// Where number k of a chunked run starts.
const char* token_at(const Chunked& run, std::ptrdiff_t k) {
  auto after =
      std::upper_bound(run.chunks.begin(), run.chunks.end(), k,
                       [](std::ptrdiff_t v, const parallel::Chunk& c) { return v < c.first; });
  const parallel::Chunk& c = *(after - 1);
  scan::Tokenizer tokens(span(c.begin, c.end), scan::Separators::Bytes);
  std::string_view token;
  for (std::ptrdiff_t i = c.first; i <= k; ++i) tokens.next(token);
  return start(token);
}

// The run on threads: its numbers read chunk by chunk into `numbers`, room
// for all `size` of them, and cut there in place by this thread, chunk after
// chunk in order as they are read, while the other threads read on. The
// cutter writes each index at or before where it was read, into chunks
// already read. The first chunk that did not read whole decides the rest.
template <class Cut>
Outcome read_threaded(const char* from, const char* stop, Py_ssize_t size, Cutter& cutter, Cut& cut,
                      std::int64_t* numbers, int threads, Unlocked& gil) {
  Chunked run;
  if (!plan_chunks(from, stop, size, threads, run))
    return scan_alone<Int64>(from, stop, 0, size, cut, gil);
  std::size_t failed = run.used;
  std::ptrdiff_t refused = -1;
  parallel::run_in_order(
      run.used, threads, [&](std::size_t i) { read_chunk<Int64>(run, i, size, numbers); },
      [&](std::size_t i) {
        // Up to the chunk's end, its bad number, or nothing of a chunk to
        // be read again: each part's index says where.
        const Part& part = run.parts[i];
        const std::ptrdiff_t k = cutter.take_in_place(numbers, run.chunks[i].first, part.index);
        if (k < part.index) {
          refused = k;
          return false;
        }
        if (part.kind == Part::kWhole) return true;
        failed = i;
        return false;
      });
  if (refused >= 0) return {Outcome::kDeclined, token_at(run, refused)};
  return finish_chunks<Int64>(run, failed, stop, size, cut, gil);
}

}  // namespace

PyObject* read_cells(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs_between("read_cells", nargs, 4, 5)) return nullptr;
  Data data;
  Py_ssize_t pos, n, size;
  int threads = 1;
  if (!data.acquire(args[0]) || !to_position(args[1], "pos", data, pos) ||
      !to_count(args[2], "n", 0, n) || !to_count(args[3], "size", 0, size) ||
      (nargs == 5 && !to_threads(args[4], threads)))
    return nullptr;
  // Arrays only for a block that can be whole: each cell takes a number at
  // least, and `size` numbers 2 * size - 1 bytes. Otherwise the block is
  // only scanned for where it fails, and nothing is sized by n or size. On
  // threads the connectivity first holds all the numbers, cut in place.
  const Py_ssize_t holdable = data.holdable(pos);
  const parallel::Tuning tune = parallel::tuning();
  const bool whole = n <= size && size <= holdable;
  const bool threaded = whole && threads > 1 && size >= tune.thread_count;
  Csr csr;
  if (whole && !make_csr(n, threaded ? size : size - n, csr)) return nullptr;
  // No numbers: whole for no cells, with nothing read and no line to end.
  if (size == 0) {
    if (n == 0) return Py_BuildValue("(OOn)", csr.offsets.get(), csr.conn.get(), pos);
    return Py_BuildValue("(On)", Py_None, pos);
  }

  const char* from = data.bytes().data() + pos;
  const char* stop = data.bytes().data() + data.size();
  Cutter cutter(n, size, csr.offsets_out, csr.conn_out);
  Outcome outcome{Outcome::kError, nullptr};
  {
    Unlocked gil(data.readonly() && std::min(size, holdable) >= tune.release_count);
    auto cut = [&cutter](std::ptrdiff_t, std::int64_t v) { return cutter.take(v); };
    if (threaded) {
      outcome = read_threaded(from, stop, size, cutter, cut, csr.conn_out, threads, gil);
    } else {
      outcome = scan_alone<Int64>(from, stop, 0, size, cut, gil);
    }
  }
  if (outcome.kind == Outcome::kError) return nullptr;
  // A run read whole has been cut whole; the test only guards that promise.
  if (outcome.kind == Outcome::kDeclined || !cutter.whole())
    return Py_BuildValue("(On)", Py_None, data.offset(outcome.at));
  if (threaded) {
    // The n counts are gone from the front: the tail is given back.
    npy_intp dims[] = {size - n};
    PyArray_Dims shape = {dims, 1};
    Ref none = Ref::steal(
        PyArray_Resize(reinterpret_cast<PyArrayObject*>(csr.conn.get()), &shape, 0, NPY_CORDER));
    if (!none) return nullptr;
  }
  return Py_BuildValue("(OOn)", csr.offsets.get(), csr.conn.get(), data.offset(outcome.at));
}

}  // namespace veltrane::blocks
