"""Cells between this package's layout and meshio's: the cell types both know,
the runs of cells that become meshio's blocks, and the cells of a structured
grid. NumPy only; meshio is imported by the callers, in ``_meshio``."""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from ._keywords import CELL_TYPE_NAMES, CELL_TYPES, POLYHEDRON
from ._mesh import CellBlock, Mesh

# VTK cell type number -> meshio's name for it. Only the types whose name
# meshio 5.3.5 holds in a mesh; its VTK reader also names quadratic wedges
# and pyramids and a few others, but then cannot build a block of them.
MESHIO_NAMES: dict[int, str] = {
    CELL_TYPES["VERTEX"]: "vertex",
    CELL_TYPES["LINE"]: "line",
    CELL_TYPES["TRIANGLE"]: "triangle",
    CELL_TYPES["POLYGON"]: "polygon",
    CELL_TYPES["QUAD"]: "quad",
    CELL_TYPES["TETRA"]: "tetra",
    CELL_TYPES["HEXAHEDRON"]: "hexahedron",
    CELL_TYPES["WEDGE"]: "wedge",
    CELL_TYPES["PYRAMID"]: "pyramid",
    CELL_TYPES["QUADRATIC_EDGE"]: "line3",
    CELL_TYPES["QUADRATIC_TRIANGLE"]: "triangle6",
    CELL_TYPES["QUADRATIC_QUAD"]: "quad8",
    CELL_TYPES["QUADRATIC_TETRA"]: "tetra10",
    CELL_TYPES["QUADRATIC_HEXAHEDRON"]: "hexahedron20",
    CELL_TYPES["BIQUADRATIC_QUAD"]: "quad9",
    CELL_TYPES["TRIQUADRATIC_HEXAHEDRON"]: "hexahedron27",
    CELL_TYPES["BIQUADRATIC_QUADRATIC_WEDGE"]: "wedge18",
    CELL_TYPES["CUBIC_LINE"]: "line4",
    **{
        CELL_TYPES[f"LAGRANGE_{shape}"]: f"VTK_LAGRANGE_{shape}"
        for shape in (
            "CURVE",
            "TRIANGLE",
            "QUADRILATERAL",
            "TETRAHEDRON",
            "HEXAHEDRON",
            "WEDGE",
            "PYRAMID",
        )
    },
}
VTK_NUMBERS = {name: number for number, name in MESHIO_NAMES.items()}

# meshio numbers the corners of a wedge's triangles the other way round;
# each list is its own inverse.
_ORDER = {CELL_TYPES["WEDGE"]: [0, 2, 1, 3, 5, 4]}

# POLYDATA sections -> the cell type of a cell of each size, as VTK types
# them: one point a VERTEX, two a LINE, three and four a TRIANGLE and a QUAD;
# other sizes POLY_VERTEX, POLY_LINE, POLYGON; every strip a TRIANGLE_STRIP.
_POLYDATA_TYPES = {
    "VERTICES": ({1: 1}, 2),
    "LINES": ({2: 3}, 4),
    "POLYGONS": ({3: 5, 4: 9}, 7),
    "TRIANGLE_STRIPS": ({}, 6),
}
# A structured grid's cells by how many of its axes have more than one point.
_GRID_TYPES = {0: 1, 1: 3, 2: 9, 3: 12}


def typed_cells(mesh: Mesh) -> tuple[CellBlock, npt.NDArray[np.uint8]]:
    """Every cell of the mesh in one block, with its VTK cell type, in the
    order cell_data numbers them."""
    if mesh.dataset == "UNSTRUCTURED_GRID":
        block = mesh.cells.get("CELLS", CellBlock.empty())
        types = np.zeros(0, np.int64) if mesh.cell_types is None else mesh.cell_types
        if len(types) != len(block):
            raise ValueError(f"{len(types)} cell types for {len(block)} cells")
        if types.size and not (
            np.issubdtype(types.dtype, np.integer) and 0 <= types.min() <= types.max() <= 255
        ):
            raise ValueError("cell types must be integers in 0 .. 255")
        return block, types.astype(np.uint8, copy=False)
    if mesh.dataset == "POLYDATA":
        return _polydata_cells(mesh)
    if mesh.dataset in ("STRUCTURED_POINTS", "STRUCTURED_GRID", "RECTILINEAR_GRID"):
        if mesh.dimensions is None:
            raise ValueError(f"{mesh.dataset} without dimensions")
        return grid_cells(mesh.dimensions)
    return CellBlock.empty(), np.zeros(0, np.uint8)


def _polydata_cells(mesh: Mesh) -> tuple[CellBlock, npt.NDArray[np.uint8]]:
    conns, sizes, types = [], [], []
    for kw, (by_size, other) in _POLYDATA_TYPES.items():
        block = mesh.cells.get(kw)
        if block is None:
            continue
        n = np.diff(block.offsets)
        t = np.full(len(n), other, np.uint8)
        for size, number in by_size.items():
            t[n == size] = number
        conns.append(block.connectivity)
        sizes.append(n)
        types.append(t)
    if not conns:
        return CellBlock.empty(), np.zeros(0, np.uint8)
    all_sizes = np.concatenate(sizes)
    offsets = np.zeros(len(all_sizes) + 1, np.int64)
    np.cumsum(all_sizes, out=offsets[1:])
    return CellBlock(np.concatenate(conns), offsets), np.concatenate(types)


def grid_cells(dimensions: tuple[int, ...]) -> tuple[CellBlock, npt.NDArray[np.uint8]]:
    """The cells of a structured grid, numbered as VTK numbers them, x fastest:
    hexahedra, or quads, lines or one vertex as fewer axes have more than one
    point. Corners go round each face counter-clockwise, as in a QUAD and a
    HEXAHEDRON (VTK's own PIXEL and VOXEL of an image go row by row)."""
    dims = [int(d) for d in dimensions]
    if 0 in dims:
        return CellBlock.empty(), np.zeros(0, np.uint8)
    strides = [1, dims[0], dims[0] * dims[1]]
    axes = [a for a in range(3) if dims[a] > 1]
    base = np.zeros(1, np.int64)
    # Outer sums from the slowest axis in, so that the first axis runs fastest.
    for a in reversed(axes):
        base = np.add.outer(base, np.arange(dims[a] - 1, dtype=np.int64) * strides[a]).ravel()
    s = [strides[a] for a in axes]
    corners = [0]
    if len(s) == 1:
        corners = [0, s[0]]
    elif len(s) >= 2:
        corners = [0, s[0], s[0] + s[1], s[1]]
    if len(s) == 3:
        corners += [c + s[2] for c in corners]
    conn = (base[:, None] + np.array(corners, np.int64)).ravel()
    k = len(corners)
    offsets = np.arange(len(base) + 1, dtype=np.int64) * k
    return CellBlock(conn, offsets), np.full(len(base), _GRID_TYPES[len(axes)], np.uint8)


def runs(block: CellBlock, types: npt.NDArray[np.uint8]) -> list[tuple[int, int, int, int]]:
    """Consecutive cells of one type and size, as meshio's own reader groups
    them: (VTK type, size, first cell, end). A polyhedron's size is its number
    of distinct points, which meshio's name for it carries."""
    if not len(types):
        return []
    sizes = np.diff(block.offsets)
    unknown = sorted(set(np.unique(types).tolist()) - MESHIO_NAMES.keys() - {POLYHEDRON})
    if unknown:
        raise ValueError(
            "meshio has no cell type for "
            + ", ".join(
                f"{CELL_TYPE_NAMES[t]} (VTK cell type {t})"
                if t in CELL_TYPE_NAMES
                else f"VTK cell type {t}"
                for t in unknown
            )
        )
    key = sizes.copy()
    for j in np.flatnonzero(types == POLYHEDRON).tolist():
        key[j] = len(np.unique(_faces_of(block.cell(j), j).connectivity))
    cut = np.flatnonzero((types[1:] != types[:-1]) | (key[1:] != key[:-1])) + 1
    starts = [0, *cut.tolist()]
    ends = [*cut.tolist(), len(types)]
    return [(int(types[a]), int(key[a]), a, b) for a, b in zip(starts, ends)]


def meshio_data(block: CellBlock, t: int, a: int, b: int) -> Any:
    """Cells a..b of one type and size as meshio holds them: an (n, k) int64
    array, or for polyhedra a list of cells, each a list of its faces."""
    if t == POLYHEDRON:
        return [list(_faces_of(block.cell(j), j)) for j in range(a, b)]
    lo, hi = int(block.offsets[a]), int(block.offsets[b])
    size = (hi - lo) // (b - a)
    data = block.connectivity[lo:hi].astype(np.int64, copy=False).reshape(b - a, size)
    order = _ORDER.get(t)
    return data if order is None else data[:, order]


def _faces_of(stream: npt.NDArray[np.int64], j: int) -> CellBlock:
    """A polyhedron's 'faces, size, ids.., size, ids..' entry as a block of faces."""
    heads, p = [0], 1
    n = int(stream[0]) if len(stream) else -1
    for _ in range(max(n, 0)):
        if p >= len(stream) or stream[p] < 0:
            break
        heads.append(p)
        p += 1 + int(stream[p])
    if n < 0 or len(heads) != n + 1 or p != len(stream):
        raise ValueError(f"the face list of polyhedron cell {j} does not fill its entry")
    keep = np.ones(len(stream), bool)
    keep[heads] = False
    offsets = np.zeros(n + 1, np.int64)
    np.cumsum(stream[heads[1:]], out=offsets[1:])
    return CellBlock(stream[keep].astype(np.int64, copy=False), offsets)


def vtk_cells(cell_type: str, data: Any, k: int) -> tuple[int, list[npt.NDArray[np.int64]]]:
    """meshio block k's cells as VTK holds them: (VTK type, [connectivity,
    sizes]), a polyhedron's entry its face list."""
    if cell_type[:10] == "polyhedron" and (cell_type[10:] == "" or cell_type[10:].isdigit()):
        # Each cell becomes 'faces, size, ids.., size, ids..'.
        parts, sizes = [], []
        for cell in data:
            faces = [np.asarray(f, np.int64).ravel() for f in cell]
            parts.append(np.array([len(faces)], np.int64))
            for f in faces:
                parts += [np.array([len(f)], np.int64), f]
            sizes.append(1 + sum(1 + len(f) for f in faces))
        conn = np.concatenate(parts) if parts else np.zeros(0, np.int64)
        return POLYHEDRON, [conn, np.array(sizes, np.int64)]
    number = VTK_NUMBERS.get(cell_type)
    if number is None:
        raise ValueError(f"cell block {k}: VTK has no cell type for meshio's {cell_type!r}")
    arr = np.asarray(data)
    if arr.ndim != 2 or not (np.issubdtype(arr.dtype, np.integer) or arr.size == 0):
        raise ValueError(
            f"cell block {k} ({cell_type}): expected a 2-D integer array, "
            f"got shape {arr.shape} of {arr.dtype}"
        )
    order = _ORDER.get(number)
    arr = arr.astype(np.int64, copy=False) if order is None else arr[:, order].astype(np.int64)
    return number, [arr.ravel(), np.full(len(arr), arr.shape[1], np.int64)]
