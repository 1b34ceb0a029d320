"""Cell blocks from either layout, whatever the encoding: the 4.2 stream of
counts and indices cut into cells, the 5.1 offsets checked, and the node order
of higher-order hexahedra, which changed between the two layouts."""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

from . import _native
from ._mesh import CellBlock
from ._source import Source

Locator = Callable[[int], int]  # value k of a block -> its line


def all_below(indices: np.ndarray, n: int) -> bool:
    """Whether every index is in 0 .. n - 1, in one pass: seen as unsigned, a
    negative index is larger than any count."""
    if indices.dtype.kind == "i":
        return bool(indices.view(indices.dtype.str.replace("i", "u")).max() < n)
    return bool(indices.min() >= 0 and indices.max() < n)


def split_stream(
    stream: np.ndarray, n: int, kw: str, where: Locator, header_pos: int, source: Source
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
            header_pos, f"{kw}: the size field says {size} numbers, but the {n} cells hold {p}"
        )
    if p >= size:
        source.fail(header_pos, f"{kw}: the size field {size} leaves no room for cell {j} of {n}")
    if stream[p] < 0:
        source.fail_line(
            where(p), f"{kw}: cell {j} declares a negative number of points ({stream[p]})"
        )
    source.fail_line(where(p), f"{kw}: cell {j} runs past the size field {size}")


def check_offsets(
    offsets: np.ndarray, size: int, kw: str, where: Locator, header_pos: int, source: Source
) -> np.ndarray:
    """The offsets of a 5.1 cell section, checked against the connectivity's size."""
    if len(offsets) == 0:
        if size:
            source.fail(header_pos, f"{kw}: {size} connectivity entries but no offsets")
        return np.zeros(1, np.int64)
    if offsets[0] != 0:
        source.fail_line(where(0), f"{kw}: the first offset is {offsets[0]}, not 0")
    steps = np.diff(offsets)
    if steps.size and steps.min() < 0:
        k = int(np.flatnonzero(steps < 0)[0]) + 1
        source.fail_line(where(k), f"{kw}: offset {offsets[k]} is smaller than the one before it")
    if offsets[-1] != size:
        source.fail_line(
            where(len(offsets) - 1),
            f"{kw}: the last offset is {offsets[-1]}, but the header "
            f"declares {size} connectivity entries",
        )
    return offsets.astype(np.int64, copy=False)


# Lagrange and Bezier hexahedra. Files of the 4.2 layout hold their nodes in
# an order that puts the nodes of edges 10 and 11 the other way round; the
# VTK library swaps them when it reads such a file and when it writes one.
_RENUMBERED = (72, 79)


def swap_hexahedron_edges(block: CellBlock, cell_types: np.ndarray) -> CellBlock:
    """The block with the nodes of edges 10 and 11 swapped in every complete
    Lagrange or Bezier hexahedron; the swap is its own inverse."""
    cells = np.flatnonzero(np.isin(cell_types, _RENUMBERED))
    if not cells.size:
        return block
    conn = block.connectivity.copy()
    offsets = block.offsets
    for j in cells.tolist():
        lo, hi = int(offsets[j]), int(offsets[j + 1])
        order = round((hi - lo) ** (1 / 3)) - 1
        if order < 2 or (order + 1) ** 3 != hi - lo:
            continue
        per_edge = order - 1
        a = lo + 8 + 10 * per_edge
        b = a + per_edge
        conn[a:b], conn[b : b + per_edge] = conn[b : b + per_edge].copy(), conn[a:b].copy()
    return CellBlock(conn, offsets)
