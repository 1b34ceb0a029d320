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
    """Cells in compressed-row form: cell j is ``connectivity[offsets[j]:offsets[j + 1]]``.

    A sequence of cells: ``len(block)``, ``block[j]`` (a negative j counts from
    the end; a slice gives a list), and iteration give each cell's point
    indices.

    Parameters
    ----------
    connectivity : array_like of int, shape (m,)
        The point indices of all cells, cell after cell; int64 as the reader
        gives it. A polyhedron's entry is its face stream: the number of
        faces, then each face's point count and point indices.
    offsets : array_like of int, shape (n + 1,)
        Where each cell starts in `connectivity`: 0 first, never decreasing,
        ``len(connectivity)`` last.
    """

    def __init__(self, connectivity: npt.ArrayLike, offsets: npt.ArrayLike) -> None:
        self.connectivity: npt.NDArray[np.int64] = np.asarray(connectivity)
        self.offsets: npt.NDArray[np.int64] = np.asarray(offsets)

    def __len__(self) -> int:
        """The number of cells."""
        return len(self.offsets) - 1

    def cell(self, j: int) -> npt.NDArray[np.int64]:
        """The point indices of cell `j`.

        Parameters
        ----------
        j : int
            The cell's number; a negative one counts from the end.

        Returns
        -------
        numpy.ndarray of int64, shape (k,)
            A view into `connectivity`.

        Raises
        ------
        IndexError
            If there is no cell `j`.
        """
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
        """A block of no cells: connectivity ``[]``, offsets ``[0]``, both int64."""
        return cls(np.zeros(0, np.int64), np.zeros(1, np.int64))

    @classmethod
    def from_cells(cls, cells: Iterable[Iterable[int]]) -> CellBlock:
        """A block of the given cells.

        Parameters
        ----------
        cells : iterable of iterables of int
            Each cell's point indices, in order.

        Returns
        -------
        CellBlock
            With int64 connectivity and offsets.
        """
        rows = [list(c) for c in cells]
        sizes = np.array([len(c) for c in rows], dtype=np.int64)
        offsets = np.zeros(len(rows) + 1, np.int64)
        np.cumsum(sizes, out=offsets[1:])
        flat = [i for c in rows for i in c]
        return cls(np.array(flat, dtype=np.int64), offsets)


@dataclass(eq=False)
class ArrayInfo:
    """How a data array was declared, so that writing it back keeps its meaning.

    Attributes
    ----------
    role : str
        The section that held the array: 'scalars', 'color_scalars',
        'vectors', 'normals', 'texture_coordinates', 'tensors', 'tensors6',
        'global_ids', 'pedigree_ids', 'edge_flags', 'rational_weights',
        'higherorderdegrees', or 'field' for an array of a FIELD block. The
        first array of a role in a section is the one the VTK library makes
        active.
    type_name : str or None
        The data type the file named ('float', 'vtkIdType', 'signed_char', ...).
    lookup_table : str or None
        The lookup table a SCALARS section names ('default' for none).
    table : numpy.ndarray of uint8, shape (n, 4), or None
        That table's RGBA bytes, when the file defines a table of that name.
    component_names : list of str or None
        The component names METADATA gave ('' for an unnamed one).
    """

    role: str = "field"
    type_name: str | None = None
    lookup_table: str | None = None
    table: npt.NDArray[np.uint8] | None = None
    component_names: list[str] | None = None


class Mesh:
    """What a legacy file holds; every parameter is also an attribute.

    Parameters
    ----------
    points : array_like of float, shape (n, 3), optional
        The points, float64. For STRUCTURED_POINTS and RECTILINEAR_GRID leave
        it out: ``mesh.points`` is then computed from the grid when first asked
        for, x index fastest, then y, then z, as the VTK library gives them.
        A FIELD file has none: shape (0, 3).
    cells : dict of str to CellBlock, optional
        By section keyword: ``'CELLS'`` for an unstructured grid;
        ``'VERTICES'``, ``'LINES'``, ``'POLYGONS'`` and ``'TRIANGLE_STRIPS'``
        for polydata, in that order, which numbers its cells for `cell_data`.
        Empty for the structured datasets and FIELD.
    cell_types : array_like of uint8, shape (n_cells,), optional
        One VTK cell type per cell of an unstructured grid (see
        ``vtk.CELL_TYPES``); None for every other dataset.
    point_data, cell_data, field_data : dict of str to numpy.ndarray, optional
        Arrays by name: one value per point, per cell, or of any length; 1-D
        for one component and (n, k) for k. The reader gives them in the type
        the file declares: float32 for float, float64 for double, each integer
        type at its width and signedness, bool for bit, str for strings.
        `field_data` is the first FIELD block of the dataset as a whole.
    title : str
        The title line; bytes that are not UTF-8 are kept as surrogate escapes.
    version : str
        The file version, such as '4.2' or '5.1'.
    dataset : str
        UNSTRUCTURED_GRID, POLYDATA, STRUCTURED_POINTS, STRUCTURED_GRID,
        RECTILINEAR_GRID or FIELD.
    dimensions : tuple of three int, optional
        Points along x, y and z of the three structured datasets; else None.
    origin, spacing : array_like of float, shape (3,), optional
        Of STRUCTURED_POINTS, float64; else None.
    coordinates : tuple of three 1-D arrays, optional
        The x, y and z values of a RECTILINEAR_GRID, float64; else None.
    points_type : str or tuple of three str, optional
        The type name the file declared for POINTS, or for a rectilinear
        grid's coordinates (a tuple for x, y and z where they differ); the
        writer declares the same where the values allow it.
    point_info, cell_info, field_info : dict of str to ArrayInfo, optional
        How each array of `point_data`, `cell_data` and `field_data` was
        declared: its role, type name, lookup table and component names.
    more_fields : list of (str, dict of str to numpy.ndarray), optional
        Every FIELD block of the dataset as a whole after the first, as (block
        name, arrays): a file of time steps, say, whose arrays share names.
        The VTK library keeps only the first block.
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
        """The points, (n, 3) float64; a grid's are computed when first asked for."""
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
        """The number of points, found without computing a grid's points."""
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
        """The number of cells: of all cell sections, or of a structured grid
        (one fewer than points along each axis of more than one point)."""
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
