// count_tokens, token_offset, line_end and line_of: where tokens and lines
// lie in the data, for the reader's headers and its messages. Tokens are split at the
// whitespace bytes.split() splits at; lines end at the one eol byte given.
#include <cstring>
#include <string_view>

#include "args.hpp"
#include "blocks.hpp"
#include "gil.hpp"
#include "parallel.hpp"
#include "scan.hpp"

namespace veltrane::blocks {

PyObject* count_tokens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("count_tokens", nargs, 3)) return nullptr;
  Data data;
  Py_ssize_t start, stop;
  if (!data.acquire(args[0]) || !to_clamped(args[1], data, start) ||
      !to_clamped(args[2], data, stop))
    return nullptr;
  if (stop <= start) return PyLong_FromLong(0);
  std::string_view slice =
      data.bytes().substr(static_cast<std::size_t>(start), static_cast<std::size_t>(stop - start));
  return PyLong_FromSize_t(scan::count_tokens(slice));
}

PyObject* token_offset(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("token_offset", nargs, 3)) return nullptr;
  Data data;
  Py_ssize_t start, k;
  if (!data.acquire(args[0]) || !to_position(args[1], "start", data, start) ||
      !to_count(args[2], "k", 0, k))
    return nullptr;
  scan::Tokenizer tokens(data.bytes().substr(static_cast<std::size_t>(start)),
                         scan::Separators::Bytes);
  std::string_view token;
  // Ends with the data however large k is.
  for (Py_ssize_t i = 0; i <= k; ++i) {
    if (!tokens.next(token)) return PyLong_FromSsize_t(data.size());
  }
  return PyLong_FromSsize_t(data.offset(token));
}

PyObject* line_end(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("line_end", nargs, 4)) return nullptr;
  Data data;
  Py_ssize_t pos, n;
  if (!data.acquire(args[0]) || !to_position(args[1], "pos", data, pos) ||
      !to_count(args[2], "n", 1, n))
    return nullptr;
  char byte;
  if (!to_eol(args[3], byte)) return nullptr;
  const char* p = data.bytes().data() + pos;
  const char* stop = data.bytes().data() + data.size();
  for (Py_ssize_t line = 1;; ++line) {
    // A line starts only where a byte is left for it.
    if (p == stop) return PyLong_FromLong(-1);
    const void* found = std::memchr(p, byte, static_cast<std::size_t>(stop - p));
    if (line == n)
      return PyLong_FromSsize_t(found ? data.offset(static_cast<const char*>(found)) : data.size());
    if (found == nullptr) return PyLong_FromLong(-1);
    p = static_cast<const char*>(found) + 1;
  }
}

PyObject* line_of(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!check_nargs("line_of", nargs, 3)) return nullptr;
  Data data;
  Py_ssize_t pos;
  char byte;
  if (!data.acquire(args[0]) || !to_position(args[1], "pos", data, pos) || !to_eol(args[2], byte))
    return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(data.bytes().data());
  const auto eol = static_cast<unsigned char>(byte);
  std::size_t lines = 1;
  {
    // A count of bytes the compiler runs over many at once: quicker than
    // memchr from one line end to the next when lines are short.
    Unlocked gil(data.readonly() && pos >= 64 * parallel::tuning().release_count);
    for (Py_ssize_t i = 0; i < pos; ++i) lines += p[i] == eol;
  }
  return PyLong_FromSize_t(lines);
}

}  // namespace veltrane::blocks
