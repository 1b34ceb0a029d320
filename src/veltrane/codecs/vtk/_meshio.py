"""meshio interop: ``to_meshio``, ``from_meshio`` and ``register_meshio``, which
makes this package meshio's reader and writer of .vtk files. meshio is no
dependency of the package: it is imported inside these functions only."""

from __future__ import annotations

import functools
import os
from typing import TYPE_CHECKING, Literal

import numpy as np

from ._keywords import POLYHEDRON
from ._mesh import CellBlock, Mesh
from ._meshio_cells import MESHIO_NAMES, meshio_data, runs, typed_cells, vtk_cells
from ._read import read
from ._source import Input
from ._write import write

if TYPE_CHECKING:
    import meshio


def to_meshio(mesh: Mesh) -> meshio.Mesh:
    """Converts a Mesh into a ``meshio.Mesh``.

    Cells become meshio cell blocks, one for each run of consecutive cells of
    one type and size, in the mesh's order, as meshio's own reader makes
    them. The cell types both know:

    ==========================================  ==========================
    VTK cell type (number)                      meshio cell type
    ==========================================  ==========================
    VERTEX (1), LINE (3), TRIANGLE (5)          vertex, line, triangle
    POLYGON (7), QUAD (9), TETRA (10)           polygon, quad, tetra
    HEXAHEDRON (12), WEDGE (13), PYRAMID (14)   hexahedron, wedge, pyramid
    QUADRATIC_EDGE (21), CUBIC_LINE (35)        line3, line4
    QUADRATIC_TRIANGLE (22)                     triangle6
    QUADRATIC_QUAD (23), BIQUADRATIC_QUAD (28)  quad8, quad9
    QUADRATIC_TETRA (24)                        tetra10
    QUADRATIC_HEXAHEDRON (25)                   hexahedron20
    TRIQUADRATIC_HEXAHEDRON (29)                hexahedron27
    BIQUADRATIC_QUADRATIC_WEDGE (32)            wedge18
    POLYHEDRON (42)                             polyhedron<n>
    LAGRANGE_CURVE (68) ... _PYRAMID (74)       VTK_LAGRANGE_CURVE ... _PYRAMID
    ==========================================  ==========================

    A wedge's nodes are reordered to meshio's order (0, 2, 1, 3, 5, 4), the
    others kept. Polygons of different sizes go to separate 'polygon' blocks.
    A polyhedron of n distinct points is a 'polyhedron<n>' cell: a list of its
    faces, each an int64 array of point indices.

    POLYDATA sections are typed as VTK types them: VERTICES of one point are
    'vertex' cells, LINES of two 'line', POLYGONS of three and four points
    'triangle' and 'quad', other POLYGONS 'polygon'. Poly-vertices, polylines
    and triangle strips have no meshio type and raise.

    STRUCTURED_POINTS, STRUCTURED_GRID and RECTILINEAR_GRID give their points
    (x index fastest) and the grid's cells, numbered as VTK numbers them:
    'hexahedron' cells, or 'quad', 'line' or one 'vertex' where fewer axes
    have more than one point. A FIELD file gives no points and no cells.

    Parameters
    ----------
    mesh : Mesh
        As ``read`` returns it, of any dataset.

    Returns
    -------
    meshio.Mesh
        ``points``: (n, 3) float64. ``cells``: list of ``meshio.CellBlock``,
        each holding an (m, k) int64 array (a list of cells for polyhedra).
        ``point_data`` and ``field_data``: the mesh's arrays, the same array
        objects, in their own dtypes. ``cell_data``: for each name a list of
        one array per cell block, views of the mesh's array.

    Raises
    ------
    ValueError
        For cells of a type meshio has no name for (PIXEL, VOXEL, POLY_LINE,
        TRIANGLE_STRIP, QUADRATIC_WEDGE, ...: the message names each), a
        polyhedron whose face list does not fill its cell, or cell data whose
        length is not the number of cells.
    ImportError
        When meshio is not installed.

    Notes
    -----
    meshio has one set of field data: ``mesh.more_fields`` (later FIELD
    blocks) are left out, and so is how each array was declared
    (``point_info`` and the like).
    """
    import meshio

    try:
        block, types = typed_cells(mesh)
        groups = runs(block, types)
    except ValueError as e:
        raise ValueError(f"to_meshio: {mesh.dataset}: {e}") from None
    cells = [
        meshio.CellBlock(
            f"polyhedron{k}" if t == POLYHEDRON else MESHIO_NAMES[t], meshio_data(block, t, a, b)
        )
        for t, k, a, b in groups
    ]
    cell_data = {}
    for name, values in mesh.cell_data.items():
        if len(values) != len(types):
            raise ValueError(
                f"to_meshio: cell_data {name!r} has {len(values)} rows for {len(types)} cells"
            )
        cell_data[name] = [values[a:b] for _, _, a, b in groups]
    return meshio.Mesh(
        np.asarray(mesh.points, np.float64),
        cells,
        point_data=dict(mesh.point_data),
        cell_data=cell_data,
        field_data=dict(mesh.field_data),
    )


def from_meshio(m: meshio.Mesh) -> Mesh:
    """Converts a ``meshio.Mesh`` into an UNSTRUCTURED_GRID Mesh.

    The inverse of ``to_meshio`` for unstructured grids, with the same table
    of cell types: cell blocks are joined in their order into one 'CELLS'
    block with ``cell_types``, and each cell data array's blocks into one
    array. ``from_meshio(to_meshio(mesh))`` gives back an unstructured grid's
    points, cells and data arrays as they were (POLYDATA and structured
    datasets come back as the unstructured grid of their cells).

    Parameters
    ----------
    m : meshio.Mesh
        Points of 1 to 3 coordinates (missing ones are 0), cell blocks of the
        types in ``to_meshio``'s table.

    Returns
    -------
    Mesh
        ``dataset`` 'UNSTRUCTURED_GRID'; ``points`` (n, 3) float64;
        ``cells["CELLS"]`` with int64 ``connectivity`` and ``offsets`` (a
        polyhedron's entry is its face list, 'faces, size, ids.., size, ids..');
        ``cell_types`` uint8; ``point_data``, ``cell_data`` and ``field_data``
        as NumPy arrays in the dtypes meshio held.

    Raises
    ------
    ValueError
        For a cell type VTK has no number for (the message names it and its
        block), a block that is not a 2-D integer array, points of more than
        three coordinates, or cell data that does not give one array per
        block.

    Notes
    -----
    VTK's legacy format has no place for meshio's ``point_sets``,
    ``cell_sets``, ``gmsh_periodic`` and ``info``; they are left out.
    """
    points = np.asarray(m.points, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] > 3:
        raise ValueError(f"from_meshio: points of shape {points.shape}, not (n, 1 to 3)")
    if points.shape[1] < 3:
        points = np.hstack([points, np.zeros((len(points), 3 - points.shape[1]))])
    conns, sizes, types = [], [], []
    for k, c in enumerate(m.cells):
        try:
            number, (conn, size) = vtk_cells(c.type, c.data, k)
        except ValueError as e:
            raise ValueError(f"from_meshio: {e}") from None
        conns.append(conn)
        sizes.append(size)
        types.append(np.full(len(size), number, np.uint8))
    offsets = np.zeros(sum(len(s) for s in sizes) + 1, np.int64)
    if sizes:
        np.cumsum(np.concatenate(sizes), out=offsets[1:])
    conn = np.concatenate(conns) if conns else np.zeros(0, np.int64)
    cell_data = {}
    for name, blocks in m.cell_data.items():
        if len(blocks) != len(m.cells):
            raise ValueError(
                f"from_meshio: cell_data {name!r} has {len(blocks)} arrays "
                f"for {len(m.cells)} cell blocks"
            )
        arrays = [np.asarray(b) for b in blocks]
        cell_data[name] = np.concatenate(arrays) if arrays else np.zeros(0)
    return Mesh(
        points,
        {"CELLS": CellBlock(conn, offsets)},
        np.concatenate(types) if types else np.zeros(0, np.uint8),
        point_data={k: np.asarray(v) for k, v in m.point_data.items()},
        cell_data=cell_data,
        field_data={k: np.asarray(v) for k, v in m.field_data.items()},
    )


def register_meshio() -> None:
    """Makes this package meshio's reader and writer of '.vtk' files.

    After it, in this process, ``meshio.read("x.vtk")`` returns
    ``to_meshio(vtk.read("x.vtk"))``, and ``meshio.write("x.vtk", m)`` (or
    ``file_format="vtk"``) writes ``from_meshio(m)`` with ``vtk.write``, as
    do the formats 'vtk42' and 'vtk51'. meshio's writer options keep their
    meaning and defaults: ``binary=True`` and ``fmt_version="5.1"`` (or
    "4.2"). The file is a path: ``vtk.write`` writes no buffers.

    A file that cannot be read raises ``VtkFormatError`` naming the line,
    where meshio's own reader may print a message and exit.

    Raises
    ------
    ImportError
        When meshio is not installed.
    """
    import meshio

    # Once is enough: '.vtk' already leads to the format named 'vtk'.
    known = "vtk" in meshio.extension_to_filetypes.get(".vtk", [])
    writers = {
        "vtk": _write,
        "vtk42": functools.partial(_write, fmt_version="4.2"),
        "vtk51": functools.partial(_write, fmt_version="5.1"),
    }
    meshio.register_format("vtk", [] if known else [".vtk"], _read, writers)


def _read(filename: Input) -> meshio.Mesh:
    return to_meshio(read(filename))


def _write(
    filename: str | os.PathLike[str],
    mesh: meshio.Mesh,
    binary: bool = True,
    fmt_version: Literal["4.2", "5.1"] = "5.1",
) -> None:
    write(filename, from_meshio(mesh), version=fmt_version, binary=binary)
