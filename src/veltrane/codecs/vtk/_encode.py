"""Values as the bytes of a block: text as ASCII files spell them, or raw
big-endian values as BINARY files hold them, a piece at a time.

The two encoders answer the same four calls, so the layout never asks which
one it has. Each call yields the block's bytes in pieces of CHUNK values or
fewer, made as they are written, so that no piece is the size of the mesh.
Numbers and cells take their text from the native formatter; `number_words`
is the same text made in Python, for header words.

Values come in checked: numbers exactly of their type code's type, in any
dtype that holds them (a piece is cast as it goes); str for strings; uint8
for colours.
"""

from __future__ import annotations

from collections.abc import Callable, Iterable, Iterator
from typing import Protocol

import numpy as np

from ._chunks import CHUNK, spans
from ._keywords import escape
from ._native import blocks

# What an encoder yields: pieces to write one after the other.
Piece = bytes | memoryview | np.ndarray
Pieces = Iterator[Piece]
# A run of cells: its offsets (int64, from any value) and its indices.
Run = tuple[np.ndarray, np.ndarray]

# The file's dtype for each type code of a BINARY block. vtkIdType ('n') is
# 32 bits there, as the VTK library writes and reads it.
_BIG = {
    code: np.dtype(big)
    for code, big in zip("cbBhHiInqQfd", "i1 i1 u1 >i2 >u2 >i4 >u4 >i4 >i8 >u8 >f4 >f8".split())
}
# The dtype whose text each type code's values get.
_TEXT = {code: big.newbyteorder("=") for code, big in _BIG.items()} | {"?": np.dtype(np.bool_)}

# A colour byte b as the fraction b/255 in six digits: VTK's reader turns it
# back into b (float32, times 255 in double, plus a half, truncated), and so
# does this package's.
_COLOR_WORDS = ["%g" % (b / 255.0) for b in range(256)]


class Encoder(Protocol):
    binary: bool

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Pieces:
        """Numeric values of a type code, `per_line` to a line in text (a 2-D
        array's row length)."""
        ...

    def cells(self, runs: Iterable[Run]) -> Pieces:
        """Cells in the 4.2 layout, 'size i0 i1 ...', one run after another."""
        ...

    def colors(self, values: np.ndarray, per_line: int) -> Pieces:
        """Colour components, uint8."""
        ...

    def strings(self, values: np.ndarray) -> Pieces:
        """String values."""
        ...


class TextEncoder:
    """Values as text: the shortest that reads back to the same value."""

    binary = False

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Pieces:
        dtype = _TEXT[code]
        return _text(
            values, per_line, lambda v, k: blocks.format_numbers(v.astype(dtype, copy=False), k)
        )

    def cells(self, runs: Iterable[Run]) -> Pieces:
        for offsets, conn in runs:
            if len(offsets) == 2 and len(conn) > CHUNK:
                # A cell too big for one piece: its row as a line of numbers.
                yield b"%d " % len(conn)
                yield from self.numbers(conn, "q", len(conn))
            else:
                yield blocks.format_cells(offsets, conn.astype(np.int64, copy=False))

    def colors(self, values: np.ndarray, per_line: int) -> Pieces:
        return _text(values, per_line, lambda v, k: _lines(_color_words(v), k))

    def strings(self, values: np.ndarray) -> Pieces:
        # One to a line, as VTK's writer puts them; an empty string is an empty line.
        return _batches(values, lambda v: (escape(v) + "\n").encode("ascii"))


class BinaryEncoder:
    """Values as raw big-endian bytes, each block followed by a newline."""

    binary = True

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Pieces:
        if code == "?":
            yield from _bits(values, per_line)
        else:
            for part, _ in _parts(values, per_line):
                yield part.astype(_BIG[code]).reshape(-1).view(np.uint8)
        yield b"\n"

    def cells(self, runs: Iterable[Run]) -> Pieces:
        for offsets, conn in runs:
            if len(offsets) == 2 and len(conn) > CHUNK:
                yield np.array([len(conn)], ">i4").view(np.uint8)
                for part, _ in _parts(conn, 1):
                    yield part.astype(">i4").view(np.uint8)
            else:
                yield _stream(offsets, conn).view(np.uint8)
        yield b"\n"

    def colors(self, values: np.ndarray, per_line: int) -> Pieces:
        for part, _ in _parts(values, per_line):
            yield part.astype(np.uint8).reshape(-1)
        yield b"\n"

    def strings(self, values: np.ndarray) -> Pieces:
        yield from _batches(values, _prefixed)
        yield b"\n"


def _parts(values: np.ndarray, per_line: int) -> Iterator[tuple[np.ndarray, bool]]:
    """The values in C order, in views of CHUNK values or fewer: whole lines of
    `per_line` (a 2-D array's row length), or, of lines longer than CHUNK,
    parts of one line; each with whether it ends a line."""
    if per_line <= CHUNK:
        step = CHUNK // per_line * (per_line if values.ndim == 1 else 1)
        for lo in range(0, len(values), step):
            yield values[lo : lo + step], True
        return
    lines: Iterable[np.ndarray] = values
    if values.ndim == 1:
        lines = (values[i : i + per_line] for i in range(0, len(values), per_line))
    for line in lines:
        for lo in range(0, len(line), CHUNK):
            yield line[lo : lo + CHUNK], lo + CHUNK >= len(line)


def _text(values: np.ndarray, per_line: int, fmt: Callable[[np.ndarray, int], bytes]) -> Pieces:
    """The text of the values by `fmt(part, per_line)`, piece by piece; a line
    longer than a piece is joined from the text of its parts."""
    wide = per_line > CHUNK
    for part, ends_line in _parts(values, per_line):
        text = fmt(part, part.size if wide else per_line)
        if ends_line:
            yield text
        else:
            yield memoryview(text)[:-1]
            yield b" "


def _bits(values: np.ndarray, per_line: int) -> Pieces:
    # Most significant bit first, the last byte padded with zeros; a part's
    # bits beyond a whole byte go with the next part.
    rest = np.zeros(0, np.bool_)
    for part, _ in _parts(values, per_line):
        flat = np.concatenate([rest, part.reshape(-1)])
        whole = len(flat) - len(flat) % 8
        yield np.packbits(flat[:whole]).tobytes()
        rest = flat[whole:]
    if rest.size:
        yield np.packbits(rest).tobytes()


def _stream(offsets: np.ndarray, conn: np.ndarray) -> np.ndarray:
    """A run of cells as 'size i0 i1 ... size ...' in big-endian int32."""
    sizes = np.diff(offsets)
    n = len(sizes)
    out = np.empty(n + len(conn), ">i4")
    if n and (sizes == sizes[0]).all():
        # Cells of one size are the rows of a table.
        rows = out.reshape(n, -1)
        rows[:, 0] = sizes[0]
        rows[:, 1:] = conn.reshape(n, -1)
        return out
    heads = offsets[:-1] - offsets[0] + np.arange(n)
    out[heads] = sizes
    body = np.ones(len(out), np.bool_)
    body[heads] = False
    out[body] = conn
    return out


def _batches(values: np.ndarray, encode: Callable[[str], bytes]) -> Pieces:
    """The bytes of each string by `encode`, joined a batch of CHUNK bytes at a time."""
    batch: list[bytes] = []
    size = 0
    flat = values.reshape(-1)
    for lo, hi in spans(len(flat)):
        for v in flat[lo:hi].tolist():
            raw = encode(v)
            batch.append(raw)
            size += len(raw)
            if size >= CHUNK:
                yield b"".join(batch)
                batch, size = [], 0
    yield b"".join(batch)


def _prefixed(v: str) -> bytes:
    raw = v.encode("utf-8", "surrogateescape")
    return _length_prefix(len(raw)) + raw


def _length_prefix(n: int) -> bytes:
    """The length before a BINARY string: its top two bits say its own size,
    11 one byte, 10 two, 01 four, 00 eight."""
    if n < 1 << 6:
        return bytes([0xC0 | n])
    if n < 1 << 14:
        return (0x8000 | n).to_bytes(2, "big")
    if n < 1 << 30:
        return (0x40000000 | n).to_bytes(4, "big")
    return n.to_bytes(8, "big")


def _color_words(values: np.ndarray) -> list[str]:
    return [_COLOR_WORDS[b] for b in values.reshape(-1).tolist()]


def _lines(words: list[str], per_line: int) -> bytes:
    if not words:
        return b""
    if per_line == 1:
        return ("\n".join(words) + "\n").encode("ascii")
    return "".join(
        " ".join(words[i : i + per_line]) + "\n" for i in range(0, len(words), per_line)
    ).encode("ascii")


def number_words(values: np.ndarray, code: str) -> list[str]:
    """The values as words: floats the shortest text that reads back to the same
    value of their own width, integers in decimal, bits 0 and 1."""
    flat = values.ravel()
    if code == "d":
        return _signed_nans(flat, list(map(repr, flat.tolist())))
    if code == "f":
        return _signed_nans(flat, _float32_words(flat))
    if code == "?":
        return ["1" if v else "0" for v in flat.tolist()]
    return list(map(str, flat.tolist()))


def _float32_words(flat: np.ndarray) -> list[str]:
    # NumPy prints a float32 scalar in the fewest digits that make it again.
    # A reader that parses them as a double before narrowing could round twice;
    # any word that does not survive that gets the float's exact double value.
    words = list(map(str, flat))
    with np.errstate(over="ignore", invalid="ignore"):
        back = np.array(words, dtype=np.float64).astype(np.float32)
    bad = np.flatnonzero((back.view(np.uint32) != flat.view(np.uint32)) & ~np.isnan(flat))
    for k in bad.tolist():
        words[k] = repr(float(flat[k]))
    return words


def _signed_nans(flat: np.ndarray, words: list[str]) -> list[str]:
    """Keeps the sign of a NaN, which repr drops: 'nan' and '-nan'."""
    for k in np.flatnonzero(np.isnan(flat) & np.signbit(flat)).tolist():
        words[k] = "-nan"
    return words


def encoder(binary: bool) -> Encoder:
    return BinaryEncoder() if binary else TextEncoder()
