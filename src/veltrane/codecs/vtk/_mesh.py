"""What a legacy file holds, as the reader returns it and the writer takes it."""

from __future__ import annotations

import math
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import overload

import numpy as np
import numpy.typing as npt

# The role a data array plays, as the section that held it says: the section
# keyword in lower case; 'field' for arrays of FIELD blocks.
ROLES = (
    "scalars",
    "color_scalars",
    "vectors",
    "normals",
    "texture_coordinates",
    "tensors",
    "tensors6",
    "global_ids",
    "pedigree_ids",
    "edge_flags",
    "rational_weights",
    "higherorderdegrees",
    "field",
)


class CellBlock:
    """Cells in compressed-row form: cell j is connectivity[offsets[j]:offsets[j + 1]].

    A sequence of cells: ``len(block)``, ``block[j]`` (negative j counts from
    the end) and iteration give the cells as int64 index arrays.
    """

    def __init__(self, connectivity: npt.ArrayLike, offsets: npt.ArrayLike) -> None:
        self.connectivity: npt.NDArray[np.int64] = np.asarray(connectivity)
        self.offsets: npt.NDArray[np.int64] = np.asarray(offsets)

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def cell(self, j: int) -> npt.NDArray[np.int64]:
        """The point indices of cell j; a negative j counts from the end."""
        n = len(self)
        k = j + n if j < 0 else j
        if not 0 <= k < n:
            raise IndexError(f"cell index {j} out of range for {n} cells")
        return self.connectivity[self.offsets[k] : self.offsets[k + 1]]

    @overload
    def __getitem__(self, j: int) -> npt.NDArray[np.int64]: ...
    @overload
    def __getitem__(self, j: slice) -> list[npt.NDArray[np.int64]]: ...
    def __getitem__(self, j: int | slice) -> npt.NDArray[np.int64] | list[npt.NDArray[np.int64]]:
        if isinstance(j, slice):
            return [self.cell(k) for k in range(*j.indices(len(self)))]
        return self.cell(int(j))

    def __iter__(self) -> Iterator[npt.NDArray[np.int64]]:
        conn, bounds = self.connectivity, self.offsets.tolist()
        for lo, hi in zip(bounds, bounds[1:]):
            yield conn[lo:hi]

    def __repr__(self) -> str:
        return f"CellBlock({len(self)} cells, {len(self.connectivity)} indices)"

    @classmethod
    def empty(cls) -> CellBlock:
        """A block of no cells."""
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
class ArrayInfo:
    """How a data array was declared, so that writing it back keeps its meaning.

    ``role`` is the section that held it ('scalars', 'vectors', 'normals',
    'texture_coordinates', 'tensors', 'color_scalars', 'global_ids',
    'pedigree_ids', ..., or 'field'); ``type_name`` the data type the file
    named ('float', 'vtkIdType', ...); ``lookup_table`` the table name of a
    SCALARS section, and ``table`` that table's RGBA bytes, (n, 4) uint8, when
    the file defines it; ``component_names`` the names METADATA gave.
    """

    role: str = "field"
    type_name: str | None = None
    lookup_table: str | None = None
    table: npt.NDArray[np.uint8] | None = None
    component_names: list[str] | None = None


class Mesh:
    """What a legacy file holds.

    ``dataset`` is one of UNSTRUCTURED_GRID, POLYDATA, STRUCTURED_POINTS,
    STRUCTURED_GRID, RECTILINEAR_GRID or FIELD.

    ``points`` is an (n, 3) float64 array for every dataset. For
    STRUCTURED_POINTS (from ``dimensions``, ``origin`` and ``spacing``) and
    RECTILINEAR_GRID (from ``coordinates``, the x, y and z values) it is
    computed when first asked for, x index fastest, then y, then z; FIELD
    files have none.

    ``cells`` maps a section keyword to its block: ``'CELLS'`` for an
    unstructured grid, with ``cell_types`` (uint8, one per cell);
    ``'VERTICES'``, ``'LINES'``, ``'POLYGONS'`` and ``'TRIANGLE_STRIPS'`` for
    polydata, whose cells are numbered in that order for ``cell_data``. The
    structured datasets and FIELD have no cell sections.

    ``points_type`` is the type name the file declared for POINTS, or for a
    rectilinear grid's coordinates (a tuple for x, y and z when they differ);
    the writer declares the same where the values allow it.

    ``point_data``, ``cell_data`` and ``field_data`` map names to arrays, 1-D
    for one component and (n, k) for k, in the type the file declares (float
    as float32, double as float64, integers at their width, bit as bool,
    strings as str). ``point_info``, ``cell_info`` and ``field_info`` say how
    each array was declared (see ArrayInfo). ``field_data`` holds the first
    FIELD block of the dataset as a whole; ``more_fields`` every later one, as
    (block name, arrays).
    """

    def __init__(
        self,
        points: npt.ArrayLike | None = None,
        cells: dict[str, CellBlock] | None = None,
        cell_types: npt.ArrayLike | None = None,
        point_data: dict[str, np.ndarray] | None = None,
        cell_data: dict[str, np.ndarray] | None = None,
        field_data: dict[str, np.ndarray] | None = None,
        title: str = "",
        version: str = "4.2",
        dataset: str = "UNSTRUCTURED_GRID",
        *,
        dimensions: tuple[int, int, int] | None = None,
        origin: npt.ArrayLike | None = None,
        spacing: npt.ArrayLike | None = None,
        coordinates: tuple[npt.ArrayLike, npt.ArrayLike, npt.ArrayLike] | None = None,
        points_type: str | tuple[str, str, str] | None = None,
        point_info: dict[str, ArrayInfo] | None = None,
        cell_info: dict[str, ArrayInfo] | None = None,
        field_info: dict[str, ArrayInfo] | None = None,
        more_fields: list[tuple[str, dict[str, np.ndarray]]] | None = None,
    ) -> None:
        self._points = None if points is None else np.asarray(points)
        self.cells = {} if cells is None else cells
        self.cell_types = None if cell_types is None else np.asarray(cell_types)
        self.point_data = {} if point_data is None else point_data
        self.cell_data = {} if cell_data is None else cell_data
        self.field_data = {} if field_data is None else field_data
        self.title = title
        self.version = version
        self.dataset = dataset
        self.dimensions = None if dimensions is None else tuple(int(d) for d in dimensions)
        self.origin = None if origin is None else np.asarray(origin, dtype=np.float64)
        self.spacing = None if spacing is None else np.asarray(spacing, dtype=np.float64)
        self.coordinates = (
            None
            if coordinates is None
            else tuple(np.asarray(c, dtype=np.float64) for c in coordinates)
        )
        self.points_type = points_type
        self.point_info = {} if point_info is None else point_info
        self.cell_info = {} if cell_info is None else cell_info
        self.field_info = {} if field_info is None else field_info
        self.more_fields = [] if more_fields is None else more_fields

    @property
    def points(self) -> npt.NDArray[np.float64]:
        if self._points is None:
            self._points = self._grid_points()
        return self._points

    @points.setter
    def points(self, value: npt.ArrayLike) -> None:
        self._points = np.asarray(value)

    def _grid_points(self) -> npt.NDArray[np.float64]:
        """The points of an image or a rectilinear grid, x index fastest."""
        if self.coordinates is not None:
            x, y, z = self.coordinates
        elif self.dimensions is not None and self.origin is not None and self.spacing is not None:
            # Huge spacings overflow to infinities, as in the VTK library.
            with np.errstate(over="ignore", invalid="ignore"):
                x, y, z = (
                    self.origin[k]
                    + np.arange(self.dimensions[k], dtype=np.float64) * self.spacing[k]
                    for k in range(3)
                )
        else:
            return np.zeros((0, 3), np.float64)
        points = np.empty((len(z), len(y), len(x), 3), np.float64)
        points[..., 0] = x
        points[..., 1] = y[:, None]
        points[..., 2] = z[:, None, None]
        return points.reshape(-1, 3)

    @property
    def n_points(self) -> int:
        """The number of points, without computing the points of a grid."""
        if (
            self._points is None
            and self.dimensions is not None
            and self.dataset
            in (
                "STRUCTURED_POINTS",
                "RECTILINEAR_GRID",
            )
        ):
            return math.prod(self.dimensions)
        return len(self.points)

    @property
    def n_cells(self) -> int:
        """The number of cells: of all cell sections, or of the structured grid."""
        if self.dataset in ("STRUCTURED_POINTS", "STRUCTURED_GRID", "RECTILINEAR_GRID"):
            return structured_cells(self.dimensions)
        return sum(len(b) for b in self.cells.values())

    def __repr__(self) -> str:
        parts = [self.dataset, f"{self.n_points} points", f"{self.n_cells} cells"]
        if self.dimensions is not None:
            parts.append("dimensions " + "x".join(map(str, self.dimensions)))
        for label, arrays in (
            ("point_data", self.point_data),
            ("cell_data", self.cell_data),
            ("field_data", self.field_data),
        ):
            if arrays:
                shown = ", ".join(f"{k!r}{tuple(np.shape(v))}" for k, v in arrays.items())
                parts.append(f"{label} {shown}")
        return f"Mesh({'; '.join(parts)})"


def structured_cells(dimensions: tuple[int, ...] | None) -> int:
    """The cells of a structured grid: one fewer than points along each axis
    that has more than one, a single cell for a single point."""
    if dimensions is None or 0 in dimensions:
        return 0
    return math.prod([d - 1 if d > 1 else 1 for d in dimensions])
