"""What a legacy file holds, as the reader returns it and the writer takes it."""

from __future__ import annotations

from collections.abc import Iterable
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt


@dataclass(eq=False)
class CellBlock:
    """Cells in compressed-row form: cell j is connectivity[offsets[j]:offsets[j + 1]]."""

    connectivity: npt.NDArray[np.int64]
    offsets: npt.NDArray[np.int64]

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def cell(self, j: int) -> npt.NDArray[np.int64]:
        return self.connectivity[self.offsets[j] : self.offsets[j + 1]]

    @classmethod
    def empty(cls) -> CellBlock:
        return cls(np.zeros(0, np.int64), np.zeros(1, np.int64))

    @classmethod
    def from_cells(cls, cells: Iterable[Iterable[int]]) -> CellBlock:
        """Builds a block from a sequence of index sequences."""
        rows = [list(c) for c in cells]
        sizes = np.array([len(c) for c in rows], dtype=np.int64)
        offsets = np.zeros(len(rows) + 1, np.int64)
        np.cumsum(sizes, out=offsets[1:])
        flat = [i for c in rows for i in c]
        return cls(np.array(flat, dtype=np.int64), offsets)


@dataclass(eq=False)
class Mesh:
    """What a legacy file holds.

    ``cells`` maps a section keyword to its block: ``'CELLS'`` for an unstructured
    grid; ``'VERTICES'``, ``'LINES'``, ``'POLYGONS'`` and ``'TRIANGLE_STRIPS'`` for
    polydata, whose cells are numbered in that order for ``cell_data``. Data arrays
    are 1-D for one component and (n, k) for k. ``field_data`` holds the FIELD
    arrays that belong to the dataset as a whole.
    """

    points: npt.NDArray[np.float64]
    cells: dict[str, CellBlock]
    cell_types: npt.NDArray[np.uint8] | None = None
    point_data: dict[str, np.ndarray] = field(default_factory=dict)
    cell_data: dict[str, np.ndarray] = field(default_factory=dict)
    field_data: dict[str, np.ndarray] = field(default_factory=dict)
    title: str = ""
    version: str = "4.2"
    dataset: str = "UNSTRUCTURED_GRID"

    @property
    def n_cells(self) -> int:
        return sum(len(b) for b in self.cells.values())
