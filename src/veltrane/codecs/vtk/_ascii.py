"""Blocks of an ASCII file: runs of numbers, cell rows and strings, read from its bytes.

The native code reads a block whole or declines it, saying where it stopped;
a declined block is looked at again here, only to say what is wrong with it and
on which line. Blocks written one record to a line go to the line parsers of
``_vtk_parse`` first, as any caller that holds lines would use them.
"""

from __future__ import annotations

import sys
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
    """Reads the blocks of an ASCII file from a cursor over its bytes."""

    binary = False
    # Blocks laid out one record to a line go to _vtk_parse first; tests turn
    # this off to read every block the other way.
    use_line_parsers = True

    def __init__(self, source: Source, cursor: Cursor) -> None:
        self.source = source
        self.cursor = cursor
        self.data = source.data
        # (block, 'fast' or 'native', why), for the summary.
        self.paths: list[tuple[str, str, str]] = []
        self._block = (0, 0)  # where the lines of the last line-cut block lie

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
        got = read(self.data, start, min(count, sys.maxsize), code)
        if got[0] is None and self._next_section_follows(start, count, got[1]):
            # Old writers start the next section on the line where a block
            # ends: the run is whole up to there.
            got = read(memoryview(self.data)[: got[1]], start, count, code)
        if got[0] is None:
            self._explain(start, count, code, what, type_name, got[1])
        values, self.cursor.pos = got
        return values

    def _next_section_follows(self, start: int, count: int, where: int) -> bool:
        """Whether a run was declined only for a word after its last number."""
        data = self.data
        if where >= len(data) or _native.blocks.count_tokens(data, start, where) < count:
            return False
        token = data[where:].split(None, 1)[0]
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
        token = data[where:].split(None, 1)[0].decode("utf-8", "surrogateescape")
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
        lines, why = self._lines(n, 3, "points")
        if lines is not None:
            try:
                points = _native.parse.parse_ascii_coords(lines, 0, n)
            except ValueError:
                why = "not one point to a line"
            else:
                self.cursor.pos = self._block[1]
                self.paths.append(("POINTS", "fast", ""))
                return points
        flat = self.numbers(3 * n, "d", "POINTS")
        self.paths.append(("POINTS", "native", why))
        return flat.reshape(n, 3)

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

    def _lines(self, n: int, width: int | None, noun: str) -> tuple[list[bytes] | None, str]:
        """The block's n lines, when it may be one record to a line (and the first
        holds `width` numbers, if given); else None and why not."""
        if not self.use_line_parsers:
            return None, "line parsers off"
        if n > sys.maxsize:
            return None, f"fewer lines than {noun}"
        if not n:
            self._block = (self.cursor.pos, self.cursor.pos)
            return [], ""
        if not self.cursor.rest_is_blank():
            return None, "data on the header line"
        start = self.cursor.next_line_start()
        blocks, eol = _native.blocks, self.source.eol
        end = blocks.line_end(self.data, start, n, eol)
        if end < 0:
            return None, f"fewer lines than {noun}"
        if (
            width is not None
            and blocks.count_tokens(self.data, start, blocks.line_end(self.data, start, 1, eol))
            != width
        ):
            # Several points to a line, as the VTK library writes them: the
            # parser would refuse the first line, so the block goes straight
            # to the native run reader without being cut into lines.
            return None, "not one point to a line"
        self._block = (start, end)
        return self.data[start:end].split(eol), ""

    # cells ---------------------------------------------------------------------

    def cells(self, kw: str, n: int, size: int, at: int) -> tuple[CellBlock, Locator]:
        """A cell section in the 4.2 layout: n cells in `size` numbers; `at` is
        where its header stands."""
        lines, why = self._lines(n, None, "cells")
        if lines is not None:
            start, end = self._block
            try:
                conn, offsets = _native.parse.parse_ascii_cells_v42(lines, 0, n)
            except ValueError:
                why = "not one cell to a line"
            except OverflowError:
                why = "numbers beyond 32 bits"
            else:
                # The line parser skips surplus numbers at the end of a row, so
                # its answer stands only if the rows hold exactly `size` numbers.
                if (
                    n + int(offsets[-1]) == size
                    and _native.blocks.count_tokens(self.data, start, end) == size
                ):
                    self.cursor.pos = end
                    self.paths.append((kw, "fast", ""))
                    source = self.source
                    return (
                        CellBlock(conn.astype(np.int64), offsets.astype(np.int64)),
                        lambda k: (
                            source.line_of(start)
                            + int(np.searchsorted(offsets, k, side="right"))
                            - 1
                        ),
                    )
                why = "rows hold more numbers than their cells"
        start = self.cursor.pos
        stream = self.numbers(size, "q", kw)
        self.paths.append((kw, "native", why))
        where = self.locator(start)
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
