// parse_ascii_coords: a POINTS block, one vertex of three numbers to a line,
// into an (n_verts, 3) float64 array.
#include "coords.hpp"

#include "convert.hpp"
#include "ref.hpp"
#include "state.hpp"
#include "traceback.hpp"

namespace veltrane::vtk {
namespace {

PyObject* fail(Line line) {
  add_traceback_entry(Func::kCoords, line);
  return nullptr;
}

PyObject* fail_with(PyObject* type, const char* message, Line line) {
  PyErr_SetString(type, message);
  return fail(line);
}

// np.empty((n_verts, 3), dtype=np.float64)
Ref make_result(Py_ssize_t n_verts) {
  Ref empty = numpy_attr(g.c.str_empty);
  if (!empty) return Ref();
  Ref n = Ref::steal(PyLong_FromSsize_t(n_verts));
  if (!n) return Ref();
  Ref shape = Ref::steal(PyTuple_Pack(2, n.get(), g.c.int_3));
  if (!shape) return Ref();
  Ref float64 = numpy_attr(g.c.str_float64);
  if (!float64) return Ref();
  PyObject* args[] = {shape.get(), float64.get()};
  return Ref::steal(PyObject_Vectorcall(empty.get(), args, 1, g.c.kw_dtype));
}

const char* describe_format(char c) {
  switch (c) {
    case '?':
      return "'bool'";
    case 'c':
      return "'char'";
    case 'b':
      return "'signed char'";
    case 'B':
      return "'unsigned char'";
    case 'h':
      return "'short'";
    case 'H':
      return "'unsigned short'";
    case 'i':
      return "'int'";
    case 'I':
      return "'unsigned int'";
    case 'l':
      return "'long'";
    case 'L':
      return "'unsigned long'";
    case 'q':
      return "'long long'";
    case 'Q':
      return "'unsigned long long'";
    case 'e':
      return "'half'";
    case 'f':
      return "'float'";
    case 'd':
      return "'double'";
    case 'g':
      return "'long double'";
    case 'Z':
      return "'complex'";
    case 'T':
      return "a struct";
    case 'O':
      return "Python object";
    case 'P':
      return "a pointer";
    case 's':
    case 'p':
      return "a string";
    case '\0':
      return "end of string";
    default:
      return "unparsable format string";
  }
}

// The element format must be a native double: "d", optionally after a
// byte-order mark that means native order here.
int check_format(const char* format) {
  const char* f = format == nullptr ? "B" : format;
  bool swapped = false;
  if (*f == '@' || *f == '=' || *f == '<' || *f == '>' || *f == '!') {
    swapped = (*f == '>' || *f == '!') == (PY_LITTLE_ENDIAN != 0);
    ++f;
  }
  if (!swapped && f[0] == 'd' && f[1] == '\0') return 0;
  PyErr_Format(PyExc_ValueError, "Buffer dtype mismatch, expected %s%s%s but got %s", "'", "double",
               "'", swapped && f[0] == 'd' ? "'byte-swapped double'" : describe_format(f[0]));
  return -1;
}

// A writable, C-contiguous (n_verts, 3) view of doubles, or -1 with a
// ValueError. The shape test keeps a rebound `np.empty` from handing back a
// smaller buffer that the loop would overrun.
int check_view(const Py_buffer& b, Py_ssize_t n_verts) {
  constexpr int kNdim = 2;
  constexpr Py_ssize_t kItem = sizeof(double);
  if (b.ndim != kNdim) {
    PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)",
                 kNdim, b.ndim);
    return -1;
  }
  if (check_format(b.format) < 0) return -1;
  if (b.itemsize != kItem) {
    PyErr_Format(PyExc_ValueError,
                 "Item size of buffer (%zu byte%s) does not match size of '%s' (%zu byte%s)",
                 static_cast<size_t>(b.itemsize), b.itemsize > 1 ? "s" : "", "double",
                 static_cast<size_t>(kItem), "s");
    return -1;
  }
  if (b.len > 0) {
    for (int dim = 0; dim < kNdim; ++dim) {
      if (b.shape[dim] > 1) {
        if (b.strides != nullptr) {
          Py_ssize_t stride = b.strides[dim];
          bool contiguous = dim == kNdim - 1 ? stride == b.itemsize
                                             : (stride < 0 ? -stride : stride) >= b.itemsize;
          if (!contiguous) {
            PyErr_SetString(PyExc_ValueError,
                            "Buffer and memoryview are not contiguous in the same dimension.");
            return -1;
          }
        } else if (b.suboffsets != nullptr) {
          PyErr_SetString(PyExc_ValueError, "Buffer exposes suboffsets but no strides");
          return -1;
        }
      }
      if (b.suboffsets != nullptr && b.suboffsets[dim] >= 0) {
        PyErr_Format(PyExc_ValueError, "Buffer not compatible with direct access in dimension %d.",
                     dim);
        return -1;
      }
    }
    if (b.strides != nullptr) {
      Py_ssize_t stride = 1;
      for (int dim = kNdim - 1; dim >= 0; --dim) {
        if (stride * b.itemsize != b.strides[dim] && b.shape[dim] > 1) {
          PyErr_SetString(PyExc_ValueError, "Buffer not C contiguous.");
          return -1;
        }
        stride *= b.shape[dim];
      }
    }
  }
  if (b.shape[0] != n_verts || b.shape[1] != 3) {
    PyErr_Format(PyExc_ValueError, "Buffer has wrong shape (expected (%zd, 3), got (%zd, %zd))",
                 n_verts, b.shape[0], b.shape[1]);
    return -1;
  }
  return 0;
}

// Scans lines[i] in place when it is an exact str of ASCII characters or
// exact bytes holding three plain numbers; false leaves the line to the
// general path. `lines` is an exact list or tuple.
bool scan_line(PyObject* lines, Py_ssize_t i, double* out) {
  std::string_view text;
  scan::Separators seps;
  if (!scannable_line(lines, i, text, seps)) return false;
  return scan::parse_xyz(text, seps, out) == scan::Verdict::Clean;
}

}  // namespace

PyObject* parse_ascii_coords(PyObject* lines, Py_ssize_t start, Py_ssize_t n_verts) {
  static constexpr char kPastEnd[] = "POINTS block runs past the end of the file";
  if (start < 0 || n_verts < 0) return fail_with(PyExc_IndexError, kPastEnd, Line::kCoordsBlock);
  Py_ssize_t len = length_of(lines);
  if (len < 0) return fail(Line::kCoordsLen);
  // Both are non-negative, so len - start cannot wrap.
  if (n_verts > len - start) return fail_with(PyExc_IndexError, kPastEnd, Line::kCoordsBlock);

  Ref result = make_result(n_verts);
  if (!result) return fail(Line::kCoordsEmpty);
  BufferView view;
  if (view.acquire(result.get(), PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) < 0 ||
      check_view(view.view(), n_verts) < 0)
    return fail(Line::kCoordsBuffer);

  auto* row = static_cast<char*>(view.view().buf);
  Py_ssize_t row_stride =
      view.view().strides != nullptr ? view.view().strides[0] : 3 * sizeof(double);
  // Exact str and bytes lines of an exact list or tuple are scanned in
  // place; any line the scan cannot take whole goes the general way below,
  // which decides its value or error.
  const bool direct = PyList_CheckExact(lines) || PyTuple_CheckExact(lines);
  Ref tokens;
  for (Py_ssize_t i = 0; i < n_verts; ++i, row += row_stride) {
    if (direct && scan_line(lines, start + i, reinterpret_cast<double*>(row))) continue;
    Ref line = item_at(lines, start + i);
    if (!line) return fail(Line::kCoordsFetch);
    Ref split = split_line(line.get());
    if (!split) return fail(Line::kCoordsFetch);
    line.reset();
    tokens = std::move(split);  // at most one token list alive at a time
    Py_ssize_t n_tokens = length_of(tokens.get());
    if (n_tokens < 0) return fail(Line::kCoordsTokens);
    if (n_tokens != 3)
      return fail_with(PyExc_ValueError, "POINTS line does not hold exactly one vertex",
                       Line::kCoordsVertex);
    auto* out = reinterpret_cast<double*>(row);
    for (int j = 0; j < 3; ++j) {
      Line at = static_cast<Line>(static_cast<int>(Line::kCoordsToken0) + j);
      Ref token = item_at(tokens.get(), j, g.c.small_ints[j]);
      if (!token) return fail(at);
      double v = to_double(token.get());
      if (v == -1.0 && PyErr_Occurred()) return fail(at);
      out[j] = v;
    }
  }

  // A rebound np.empty may hand back any writable buffer of the right
  // shape; the values are written into it, but the result must be an array.
  if (!PyObject_TypeCheck(result.get(), g.ndarray_type)) {
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(result.get())->tp_name,
                 g.ndarray_type->tp_name);
    return fail(Line::kCoordsType);
  }
  return result.release();
}

}  // namespace veltrane::vtk
