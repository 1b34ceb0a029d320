"""Blocks of an ASCII file: runs of numbers, cell rows and strings, read from its bytes.

The native code reads a block whole or declines it, saying where it stopped;
a declined block is looked at again here, only to say what is wrong with it and
on which line. Blocks written one record to a line go to the line parsers of
``_vtk_parse`` first, as any caller that holds lines would use them.
"""

from __future__ import annotations

import sys
from collections.abc import Callable

import numpy as np

from . import _native
from ._keywords import decode_name
from ._mesh import CellBlock
from ._source import Cursor, Header, Source, show

# For each type code, whether its numbers are integers, and the range an
# integer of the code must lie in.
_INTEGER_RANGES = {
    "?": (0, 1),
    "c": (-128, 255),
    **{
        code: (int(np.iinfo(t).min), int(np.iinfo(t).max))
        for code, t in zip("bBhHiIqQ", "i1 u1 i2 u2 i4 u4 i8 u8".split())
    },
}

Locator = Callable[[int], int]


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

    # where blocks start --------------------------------------------------------

    def begin(self, header: Header, words: int) -> None:
        """Data follows the header's first `words` words, on its line or the next."""
        self.cursor.pos = header.after(words - 1)

    def _line_start(self) -> int | None:
        """Where the block's first line starts, if nothing but blanks precede it on its line."""
        data, pos = self.data, self.cursor.pos
        end = data.find(self.source.eol, pos)
        if end < 0 or data[pos:end].strip():
            return None
        return end + 1

    def locator(self, start: int) -> Locator:
        """Value k of the run that starts at `start` -> its line."""
        data, source = self.data, self.source
        return lambda k: source.line_of(_native.blocks.token_offset(data, start, k))

    # numbers -------------------------------------------------------------------

    def numbers(self, count: int, code: str, what: str, type_name: str | None = None) -> np.ndarray:
        """The next `count` numbers, however they are spread over the lines.

        `code` is the native reader's type code; `type_name` the type the file
        declares, for messages about values outside it. The run must end at the
        end of a line: numbers left over there mean the header undercounts them.
        """
        start = self.cursor.pos
        # A count beyond 64 bits cannot be met by any file; the native reader
        # scans what is there and says where it ends.
        got = _native.blocks.read_ascii(self.data, start, min(count, sys.maxsize), code)
        if got[0] is None:
            self._explain(start, count, code, what, type_name, got[1])
        values, self.cursor.pos = got
        return values

    def _explain(
        self, start: int, count: int, code: str, what: str, type_name: str | None, where: int
    ) -> None:
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

    def points(self, n: int) -> np.ndarray:
        """A POINTS block of n points."""
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
        start = self._line_start()
        if start is None:
            return None, "data on the header line"
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

    def cells(self, kw: str, n: int, size: int, header: Header) -> tuple[CellBlock, Locator]:
        """A cell section in the 4.2 layout: n cells in `size` numbers."""
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
        block = split_stream(stream, n, kw, where, header.pos, self.source)
        # Connectivity entry k of cell j is stream value k + j + 1: each cell
        # before it and this one have a count in front.
        return block, lambda k: where(k + int(np.searchsorted(block.offsets, k, side="right")))

    # text ------------------------------------------------------------------------

    def strings(self, count: int, what: str) -> list[str]:
        """String values, one to a line, from the line after the header on."""
        cursor = self.cursor
        cursor.pos = cursor.next_line_start()
        out = []
        for k in range(count):
            line = cursor.line()
            if line is None:
                self.source.fail(
                    len(self.data), f"{what}: the file ends after {k} of {count} strings"
                )
            out.append(decode_name(line.strip().decode("utf-8", "surrogateescape")))
        return out


def split_stream(
    stream: np.ndarray,
    n: int,
    kw: str,
    where: Locator,
    header_pos: int,
    source: Source,
) -> CellBlock:
    """Cuts the 4.2 stream 'count i0 i1 ... count ...' into n cells; `where` gives
    the line of a value, `header_pos` where the section's header stands."""
    size = len(stream)
    got = _native.blocks.split_cells(stream, n)
    if got[0] is not None:
        offsets, conn = got
        return CellBlock(conn, offsets)
    j, p = got[1], got[2]
    if j == n:
        source.fail(
            header_pos,
            f"{kw}: the size field says {size} numbers, but the {n} cells hold {p}",
        )
    if p >= size:
        source.fail(
            header_pos,
            f"{kw}: the size field {size} leaves no room for cell {j} of {n}",
        )
    if stream[p] < 0:
        source.fail_line(
            where(p), f"{kw}: cell {j} declares a negative number of points ({stream[p]})"
        )
    source.fail_line(where(p), f"{kw}: cell {j} runs past the size field {size}")
