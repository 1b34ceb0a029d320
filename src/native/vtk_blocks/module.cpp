// veltrane.codecs._vtk_blocks: the module definition, its docstrings and its
// exec step, which fetches NumPy's C-API table through the code both
// extensions share. The functions keep no state between calls; the sizes
// that _tune() sets for the tests are the module's only state.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "args.hpp"
#include "blocks.hpp"
#include "numpy_api.hpp"
#include "parallel.hpp"

namespace veltrane::blocks {
namespace {

constexpr char kModuleDoc[] =
    "The VTK reader's work on a file's bytes: runs of numbers, tokens, lines\n"
    "and cells, by byte offset.\n"
    "\n"
    "`data` is any object that exports a C-contiguous buffer of bytes. Readers\n"
    "return a tuple whose first item is the result, or None where they cannot\n"
    "take the block whole, followed by where: (value..., end) or (None, where...).\n"
    "A decline never raises; exceptions are for bad arguments and MemoryError.\n"
    "\n"
    "The formatters go the other way, for the writer: arrays in, the text of an\n"
    "ASCII block out as bytes, made from a private copy with the GIL released.";

constexpr char kReadAsciiDoc[] =
    "read_ascii($module, data, pos, count, type, threads=1, /)\n--\n\n"
    "The next `count` whitespace-separated numbers from byte `pos` on, however\n"
    "they are spread over lines.\n"
    "\n"
    "`type` is a struct code: 'd' float64, 'f' float32, 'b' 'B' 'h' 'H' 'i' 'I'\n"
    "'q' 'Q' the integers, '?' bool from 0 and 1, 'c' int8 from -128..255 (128..255\n"
    "stored as value - 256). Values are float()'s, or int()'s within the type's\n"
    "range; float32 is the decimal rounded once, straight to float32.\n"
    "\n"
    "Returns (array, end), `end` just past the last number, or (None, where):\n"
    "the offset of the first token that is no number of the type, of the first\n"
    "token left on the run's last line, or len(data) when the data ends first.\n"
    "\n"
    "A large run of a read-only buffer (bytes, a read-only mmap) is read\n"
    "without the GIL. With threads > 1 a run large enough to gain is read on\n"
    "that many threads; the answer is the same, values and decline alike.";

constexpr char kReadCellsDoc[] =
    "read_cells($module, data, pos, n, size, threads=1, /)\n--\n\n"
    "n cells of the layout 'count i0 .. i(count-1) count ...' in the next `size`\n"
    "numbers from byte `pos` on, read as read_ascii reads type 'q' and cut into\n"
    "cells as they come.\n"
    "\n"
    "Returns (offsets, connectivity, end) as int64 arrays, offsets with n + 1\n"
    "values from 0, when the n cells use exactly `size` numbers and the run ends\n"
    "its line. Otherwise (None, where): the offset at which the block first fails\n"
    "(read_ascii and split_cells tell what is wrong there). The GIL and threads\n"
    "as for read_ascii.";

constexpr char kCountTokensDoc[] =
    "count_tokens($module, data, start, stop, /)\n--\n\n"
    "The number of whitespace-separated tokens in data[start:stop]; the bounds\n"
    "are clamped into 0..len(data).";

constexpr char kTokenOffsetDoc[] =
    "token_offset($module, data, start, k, /)\n--\n\n"
    "The byte offset of token k (from 0) counted from `start`, or len(data) when\n"
    "there are not that many.";

constexpr char kLineEndDoc[] =
    "line_end($module, data, pos, n, eol, /)\n--\n\n"
    "The offset of the end of the n-th line (n >= 1) counted from `pos`: where\n"
    "its `eol` byte (b'\\n' or b'\\r') is, or len(data) for a last line without\n"
    "one. -1 when fewer than n lines start at or after `pos`.";

constexpr char kLineOfDoc[] =
    "line_of($module, data, pos, eol, /)\n--\n\n"
    "The number, from 1, of the line that holds byte `pos`: one more than the\n"
    "`eol` bytes (b'\\n' or b'\\r') before it.";

constexpr char kSplitCellsDoc[] =
    "split_cells($module, stream, n, /)\n--\n\n"
    "Splits n cells of the layout 'count i0 .. i(count-1) count ...' held in a\n"
    "1-D integer array of any integer type and byte order.\n"
    "\n"
    "Returns (offsets, connectivity) as int64 arrays, offsets with n + 1 values\n"
    "from 0, when the n cells fill the stream exactly. Otherwise (None, j, p):\n"
    "cell j, whose count is at p, has a negative count, runs past the end or\n"
    "holds an index beyond int64; p == len(stream) when no room is left for\n"
    "it; j == n with p values used when they do not fill the stream.\n"
    "\n"
    "A long read-only stream is walked without the GIL.";

constexpr char kTuneDoc[] =
    "_tune($module, release_count, thread_count, chunk_bytes, /)\n--\n\n"
    "For the tests: sets the numbers from which a scan lets go of the GIL and\n"
    "takes threads, and the least bytes of a chunk, so that small blocks take\n"
    "every path. Returns the previous three.";

// _tune: the sizes are process-wide, as the module's functions keep no other
// state; nothing but the tests calls it.
PyObject* tune(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("_tune", nargs, 3)) return nullptr;
  Py_ssize_t release, threads, chunk;
  if (!to_count(args[0], "release_count", 0, release) ||
      !to_count(args[1], "thread_count", 0, threads) || !to_count(args[2], "chunk_bytes", 1, chunk))
    return nullptr;
  const parallel::Tuning old = parallel::tuning();
  parallel::set_tuning({release, threads, chunk});
  return Py_BuildValue("(nnn)", old.release_count, old.thread_count, old.chunk_bytes);
}

constexpr char kFormatNumbersDoc[] =
    "format_numbers($module, values, per_line, /)\n--\n\n"
    "The values of an array of bools, integers, float32 or float64, in C order,\n"
    "as text: `per_line` to a line, a space between them, each line ended by\n"
    "'\\n', the last one too when it is short.\n"
    "\n"
    "Floats are the shortest text that reads back to the same value in their\n"
    "own width; a float32 whose text a reader going through a double would\n"
    "round twice gets its double's text instead. NaN is 'nan' or '-nan' by its\n"
    "sign bit, the infinities 'inf' and '-inf'. Bools are 0 and 1.";

constexpr char kFormatCellsDoc[] =
    "format_cells($module, offsets, connectivity, /)\n--\n\n"
    "Cells as the rows of the classic layout, one to a line: 'size i0 i1 ...'.\n"
    "\n"
    "Both are 1-D int64 arrays. Cell j holds connectivity[offsets[j] - offsets[0]\n"
    ":offsets[j + 1] - offsets[0]], so that a run of cells takes its slice of\n"
    "each; the offsets must never decrease and span the whole connectivity.";

template <PyObject* (*f)(PyObject*, PyObject* const*, Py_ssize_t)>
PyCFunction fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef methods[] = {
    {"read_ascii", fastcall<read_ascii>(), METH_FASTCALL, kReadAsciiDoc},
    {"count_tokens", fastcall<count_tokens>(), METH_FASTCALL, kCountTokensDoc},
    {"token_offset", fastcall<token_offset>(), METH_FASTCALL, kTokenOffsetDoc},
    {"line_end", fastcall<line_end>(), METH_FASTCALL, kLineEndDoc},
    {"line_of", fastcall<line_of>(), METH_FASTCALL, kLineOfDoc},
    {"split_cells", fastcall<split_cells>(), METH_FASTCALL, kSplitCellsDoc},
    {"read_cells", fastcall<read_cells>(), METH_FASTCALL, kReadCellsDoc},
    {"_tune", fastcall<tune>(), METH_FASTCALL, kTuneDoc},
    {"format_numbers", fastcall<format_numbers>(), METH_FASTCALL, kFormatNumbersDoc},
    {"format_cells", fastcall<format_cells>(), METH_FASTCALL, kFormatCellsDoc},
    {nullptr, nullptr, 0, nullptr},
};

int exec(PyObject*) {
  if (numpy_api::fetch_table() == 0) return 0;
  numpy_api::chain_import_error();
  return -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "veltrane.codecs._vtk_blocks",
    kModuleDoc,
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace veltrane::blocks

PyMODINIT_FUNC PyInit__vtk_blocks() { return PyModuleDef_Init(&veltrane::blocks::module_def); }
