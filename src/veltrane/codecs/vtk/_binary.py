"""Blocks of a BINARY file: raw big-endian values after an ASCII header line.

A block starts right after the newline that ends its header line, and its
size follows from the header: each is checked against the bytes left before
anything is made, so a count that the file cannot hold is an error naming the
header's line, never an allocation sized by it or a short read. Bits are
packed most significant first; strings carry a length prefix.
"""

from __future__ import annotations

import numpy as np

from ._cells import Locator, split_stream
from ._keywords import BINARY_SIZES
from ._mesh import CellBlock
from ._source import Cursor, Source, show

# The file's dtype and the array's for each type code.
_DTYPES = {
    code: (np.dtype(big), np.dtype(native))
    for code, big, native in (
        ("c", "i1", "i1"),
        ("b", "i1", "i1"),
        ("B", "u1", "u1"),
        ("h", ">i2", "i2"),
        ("H", ">u2", "u2"),
        ("i", ">i4", "i4"),
        ("I", ">u4", "u4"),
        ("n", ">i4", "i8"),
        ("q", ">i8", "i8"),
        ("Q", ">u8", "u8"),
        ("f", ">f4", "f4"),
        ("d", ">f8", "f8"),
    )
}


class BinaryDecoder:
    """Reads the blocks of a BINARY file from a cursor over its bytes."""

    binary = True

    def __init__(self, source: Source, cursor: Cursor) -> None:
        self.source = source
        self.cursor = cursor
        self.data = source.data
        self.paths: list[tuple[str, str, str]] = []
        self.at = 0  # where the header of the block being read stands

    def begin(self, at: int) -> None:
        """A block's header has been read: its bytes start on the next line."""
        cursor = self.cursor
        if not cursor.rest_is_blank():
            word = cursor.peek_word()
            assert word is not None
            self.source.fail(
                at, f"found {show(word.text)} after a header whose block is BINARY, on its own line"
            )
        cursor.pos = cursor.next_line_start()
        self.at = at

    def locator(self, start: int) -> Locator:
        # Binary values sit on no line of their own: errors name the header's.
        source, at = self.source, self.at
        return lambda k: source.line_of(at)

    def _take(self, nbytes: int, what: str) -> int:
        """Where the next `nbytes` bytes start, moving past them."""
        pos = self.cursor.pos
        left = len(self.data) - pos
        if nbytes > left:
            self.source.fail(
                self.at, f"{what}: the file ends inside the block: {nbytes} bytes, {left} left"
            )
        self.cursor.pos = pos + nbytes
        return pos

    def numbers(self, count: int, code: str, what: str, type_name: str | None = None) -> np.ndarray:
        if count == 0:
            self._take(0, what)
            return np.zeros(0, np.bool_ if code == "?" else _DTYPES[code][1])
        if code == "?":
            pos = self._take((count + 7) // 8, what)
            packed = np.frombuffer(self.data, np.uint8, (count + 7) // 8, pos)
            return np.unpackbits(packed, count=count).astype(np.bool_)
        big, native = _DTYPES[code]
        pos = self._take(count * BINARY_SIZES[code], what)
        return np.frombuffer(self.data, big, count, pos).astype(native)

    def points(self, n: int, code: str) -> np.ndarray:
        """n points as float64: a float is widened exactly."""
        self.paths.append(("POINTS", "binary", ""))
        values = self.numbers(3 * n, code, "POINTS")
        # Widening quiets a signalling NaN, which is no error here.
        with np.errstate(invalid="ignore"):
            return values.astype(np.float64, copy=False).reshape(n, 3)

    def colors(self, count: int, what: str) -> np.ndarray:
        """Colour components, one byte each."""
        return self.numbers(count, "B", what)

    def cells(self, kw: str, n: int, size: int, at: int) -> tuple[CellBlock, Locator]:
        """A cell section in the 4.2 layout: `size` int32 counts and indices."""
        pos = self._take(size * 4, kw)
        stream = np.frombuffer(self.data, ">i4", size, pos)
        self.paths.append((kw, "binary", ""))
        where = self.locator(pos)
        return split_stream(stream, n, kw, where, at, self.source), where

    def cell_types(self, n: int) -> tuple[np.ndarray, Locator]:
        return self.numbers(n, "i", "CELL_TYPES"), self.locator(self.cursor.pos)

    def strings(self, count: int, what: str, at: int) -> list[str]:
        """String values, each after a big-endian length whose top two bits say
        its size: 11 one byte, 10 two, 01 four, 00 eight."""
        data = self.data
        out = []
        for _ in range(count):
            pos = self._take(1, what)
            width = (1, 2, 4, 8)[3 - (data[pos] >> 6)]
            self.cursor.pos = pos
            pos = self._take(width, what)
            mask = (1 << (8 * width - 2)) - 1
            length = int.from_bytes(data[pos : pos + width], "big") & mask
            pos = self._take(length, what)
            out.append(data[pos : pos + length].decode("utf-8", "surrogateescape"))
        return out
