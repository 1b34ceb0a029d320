"""Blocks of an ASCII file: runs of numbers, cell rows and strings, read from its bytes.

The native code reads each numeric block straight from the file's bytes, in
one pass, into an array of its final type, on several threads when the block
is large; it reads a block whole or declines it, saying where it stopped. A
declined block is looked at again here, only to say what is wrong with it and
on which line.
"""

from __future__ import annotations

import sys
from collections.abc import Callable
from typing import NoReturn

import numpy as np

from . import _native
from ._cells import Locator, split_stream
from ._keywords import decode_name
from ._mesh import CellBlock
from ._source import Cursor, Source, show

# For each integer type code, the range its values must lie in. 'c' takes
# a byte written signed or unsigned.
_INTEGER_RANGES = {
    "?": (0, 1),
    "c": (-128, 255),
    **{
        code: (int(np.iinfo(t).min), int(np.iinfo(t).max))
        for code, t in zip("bBhHiIqQ", "i1 u1 i2 u2 i4 u4 i8 u8".split())
    },
}
# vtkIdType is 64 bits wide in memory and in text.
_TEXT_CODES = {"n": "q"}


class AsciiDecoder:
    """Reads the blocks of an ASCII file from a cursor over its bytes, on up to
    `threads` threads."""

    binary = False

    def __init__(self, source: Source, cursor: Cursor, threads: int = 1) -> None:
        self.source = source
        self.cursor = cursor
        self.data = source.data
        self.threads = threads
        # (block, 'native', why), for the summary.
        self.paths: list[tuple[str, str, str]] = []

    def begin(self, at: int) -> None:
        """A block's header has been read; in text its data simply follows."""

    def locator(self, start: int) -> Locator:
        """Value k of the run that starts at `start` -> its line."""
        data, source = self.data, self.source
        return lambda k: source.line_of(_native.blocks.token_offset(data, start, k))

    # numbers -------------------------------------------------------------------

    def numbers(self, count: int, code: str, what: str, type_name: str | None = None) -> np.ndarray:
        """The next `count` numbers of a type code, however they are spread over
        the lines; `type_name` is the type the file declares, for messages about
        values outside it. The run must end at the end of a line: numbers left
        over there mean the header undercounts them."""
        code = _TEXT_CODES.get(code, code)
        start = self.cursor.pos
        # A count beyond 64 bits cannot be met by any file; the native reader
        # scans what is there and says where it ends.
        read = _native.blocks.read_ascii
        got = read(self.data, start, min(count, sys.maxsize), code, self.threads)
        got = self._up_to_section(
            got, start, count, lambda data: read(data, start, count, code, self.threads)
        )
        if got[0] is None:
            self._explain(start, count, code, what, type_name, got[1])
        values, self.cursor.pos = got
        return values

    def _up_to_section(
        self, got: tuple, start: int, count: int, read: Callable[[memoryview], tuple]
    ) -> tuple:
        """`got` of a run from `start`, or, where only a word after its last
        number declined it, `read` again of the data cut there: old writers
        start the next section on the line where a block ends."""
        if got[0] is None and self._next_section_follows(start, count, got[1]):
            with memoryview(self.data) as view:
                return read(view[: got[1]])
        return got

    def _next_section_follows(self, start: int, count: int, where: int) -> bool:
        """Whether a run was declined only for a word after its last number."""
        data = self.data
        if where >= len(data) or _native.blocks.count_tokens(data, start, where) < count:
            return False
        token = self.cursor.word_at(where)
        try:
            float(token)
        except ValueError:
            return True
        return False

    def _explain(
        self, start: int, count: int, code: str, what: str, type_name: str | None, where: int
    ) -> NoReturn:
        """Raises the error for a run that the native reader declined at `where`."""
        data, blocks, source = self.data, _native.blocks, self.source
        if where >= len(data):
            k = blocks.count_tokens(data, start, len(data))
            source.fail(where, f"{what}: the file ends after {k} of {count} numbers")
        token = self.cursor.word_at(where)
        k = blocks.count_tokens(data, start, where)
        if k >= count:
            line_end = data.find(source.eol, where)
            more = blocks.count_tokens(data, where, len(data) if line_end < 0 else line_end)
            source.fail(
                where,
                f"{what}: {more} more number(s) on this line than the {count} that the "
                "header declares",
            )
        integer = code in _INTEGER_RANGES
        try:
            value = int(token) if integer else float(token)
        except ValueError:
            line_start = data.rfind(source.eol, 0, where) + 1
            if token[:1].isalpha() and not data[line_start:where].strip():
                # Most likely the next section's keyword: say so.
                source.fail(
                    where,
                    f"found {show(token)} after {k} of {count} numbers: the block holds "
                    "fewer numbers than its header declares",
                )
            noun = "an integer" if integer else "a number"
            source.fail(where, f"{what}: expected {noun}, found {show(token)}")
        if type_name is None:
            source.fail(where, f"{what}: {show(token)} is out of range")
        source.fail(where, f"{what}: {value} does not fit the declared type {type_name}")

    def points(self, n: int, code: str) -> np.ndarray:
        """n points as float64, each exactly the double its text spells, whatever
        type the header names."""
        self.paths.append(("POINTS", "native", ""))
        return self.numbers(3 * n, "d", "POINTS").reshape(n, 3)

    def colors(self, count: int, what: str) -> np.ndarray:
        """Colour components written as fractions of 255, as the bytes they stand
        for: read as float32, scaled in double and rounded half up, as the VTK
        library does. A value that makes no byte is an error."""
        start = self.cursor.pos
        values = self.numbers(count, "f", what)
        with np.errstate(invalid="ignore"):  # NaN is refused below
            scaled = np.trunc(values.astype(np.float64) * 255.0 + 0.5)
        bad = ~((scaled >= 0) & (scaled <= 255))
        if bad.any():
            k = int(np.flatnonzero(bad)[0])
            self.source.fail_line(
                self.locator(start)(k), f"{what}: {float(values[k])!r} is outside 0 .. 1"
            )
        return scaled.astype(np.uint8)

    # cells ---------------------------------------------------------------------

    def cells(self, kw: str, n: int, size: int, at: int) -> tuple[CellBlock, Locator]:
        """A cell section in the 4.2 layout: n cells in `size` numbers; `at` is
        where its header stands."""
        start = self.cursor.pos
        self.paths.append((kw, "native", ""))
        where = self.locator(start)
        # Sizes beyond 64 bits no file can meet: the run reader says where it ends.
        got: tuple = (None, start)
        if size <= sys.maxsize:
            read = _native.blocks.read_cells
            got = read(self.data, start, n, size, self.threads)
            got = self._up_to_section(
                got, start, size, lambda data: read(data, start, n, size, self.threads)
            )
        if got[0] is not None:
            offsets, conn, self.cursor.pos = got
            block = CellBlock(conn, offsets)
        else:
            # Read again as numbers and cut apart, which says what is wrong.
            stream = self.numbers(size, "q", kw)
            block = split_stream(stream, n, kw, where, at, self.source)
        # Connectivity entry k of cell j is stream value k + j + 1: each cell
        # before it and this one have a count in front.
        return block, lambda k: where(k + int(np.searchsorted(block.offsets, k, side="right")))

    def cell_types(self, n: int) -> tuple[np.ndarray, Locator]:
        start = self.cursor.pos
        return self.numbers(n, "q", "CELL_TYPES"), self.locator(start)

    # text ------------------------------------------------------------------------

    def strings(self, count: int, what: str, at: int) -> list[str]:
        """String values, one to a line from the line after the header on, with
        the writers' %XX escapes undone."""
        cursor, source = self.cursor, self.source
        if not cursor.rest_is_blank():
            source.fail(at, f"{what}: string values start on the line after the header")
        cursor.pos = cursor.next_line_start()
        out = []
        for k in range(count):
            line = cursor.line()
            if line is None:
                source.fail(len(self.data), f"{what}: the file ends after {k} of {count} strings")
            if line.endswith(b"\r"):
                line = line[:-1]  # a CRLF line end
            out.append(decode_name(line.decode("utf-8", "surrogateescape")))
        return out
