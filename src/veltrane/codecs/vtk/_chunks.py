"""How much of an array the writer takes at a time, so that what it holds
besides the mesh stays small whatever the mesh's size: its checks, its text
and its big-endian copies all go a piece at a time.
"""

from __future__ import annotations

from collections.abc import Iterator

import numpy as np

# Values in a piece: their text is under 4 MiB (25 bytes a double at most),
# a copy of them 1 MiB.
CHUNK = 1 << 17


def spans(n: int, step: int = 0) -> Iterator[tuple[int, int]]:
    """[lo, hi) over range(n), `step` (CHUNK unless given) at a time."""
    step = step or CHUNK
    for lo in range(0, n, step):
        yield lo, min(lo + step, n)


def cell_runs(offsets: np.ndarray) -> Iterator[tuple[int, int]]:
    """Runs of cells [j0, j1) that hold CHUNK indices or fewer and are CHUNK
    cells or fewer; a cell bigger than that is a run of its own."""
    n = len(offsets) - 1
    j0 = 0
    while j0 < n:
        end = int(np.searchsorted(offsets, int(offsets[j0]) + CHUNK, side="right")) - 1
        j1 = max(j0 + 1, min(end, j0 + CHUNK, n))
        yield j0, j1
        j0 = j1
