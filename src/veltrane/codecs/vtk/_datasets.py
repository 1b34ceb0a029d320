"""Assembly of a dataset from its sections, and the checks that need the whole
file: sections that must agree in size, point indices inside the points,
polyhedron face lists that fill their cells, structured grids whose parts fit
their dimensions."""

from __future__ import annotations

import math

import numpy as np

from ._cells import all_below, swap_hexahedron_edges
from ._keywords import CELL_SECTIONS, POLYHEDRON
from ._mesh import CellBlock, Mesh
from ._sections import SectionReader


def finish(mesh: Mesh, sections: SectionReader, start: int) -> None:
    """Fills in what a file left out and checks that its parts agree; `start` is
    where the sections began, which errors about a missing one point at."""
    if mesh.dataset in CELL_SECTIONS:
        _finish_cells(mesh, sections)
    elif mesh.dataset != "FIELD":
        _finish_structured(mesh, sections, start)
    counts = sections.data.counts
    for kw, n_want in (("POINT_DATA", mesh.n_points), ("CELL_DATA", mesh.n_cells)):
        if kw in counts and counts[kw][0] != n_want:
            n, at = counts[kw]
            what = "points" if kw == "POINT_DATA" else "cells"
            sections.source.fail(at, f"{kw} {n} does not match the {n_want} {what} of the file")


def _finish_structured(mesh: Mesh, sections: SectionReader, start: int) -> None:
    source, dataset = sections.source, mesh.dataset
    if mesh.dimensions is None:
        source.fail(start, f"{dataset} has no DIMENSIONS section")
    n_points = math.prod(mesh.dimensions)
    if dataset == "STRUCTURED_POINTS":
        if mesh.origin is None or not mesh.origin.any():
            # An origin of zeros is the default, which has no negative zeros.
            mesh.origin = np.zeros(3)
        if mesh.spacing is None:
            mesh.spacing = np.ones(3)
    elif dataset == "STRUCTURED_GRID":
        if mesh.points_type is None:
            mesh.points = np.zeros((0, 3))
        if len(mesh.points) != n_points:
            at = sections.seen.get("POINTS", sections.seen["DIMENSIONS"])
            source.fail(
                at, f"{dataset}: DIMENSIONS make {n_points} points, POINTS holds {len(mesh.points)}"
            )
    else:
        for k, axis in enumerate("XYZ"):
            kw = f"{axis}_COORDINATES"
            if kw not in sections.seen:
                source.fail(start, f"{dataset} has no {kw} section")
            assert mesh.coordinates is not None
            if len(mesh.coordinates[k]) != mesh.dimensions[k]:
                source.fail(
                    sections.seen[kw],
                    f"{kw} holds {len(mesh.coordinates[k])} values, DIMENSIONS say "
                    f"{mesh.dimensions[k]}",
                )
        declared = sections.coordinate_types
        types = (declared["X"], declared["Y"], declared["Z"])
        mesh.points_type = types[0] if len(set(types)) == 1 else types


def _finish_cells(mesh: Mesh, sections: SectionReader) -> None:
    source, seen = sections.source, sections.seen
    if mesh.points_type is None:
        mesh.points = np.zeros((0, 3), np.float64)  # a file without POINTS has none
    n_points = len(mesh.points)
    # Cells are numbered in the order of the sections, whatever the file's order.
    mesh.cells = {
        kw: mesh.cells[kw] if kw in mesh.cells else CellBlock.empty()
        for kw in CELL_SECTIONS[mesh.dataset]
    }
    if mesh.dataset == "UNSTRUCTURED_GRID":
        n_cells = len(mesh.cells["CELLS"])
        if mesh.cell_types is None:
            if n_cells:
                source.fail(
                    seen["CELLS"],
                    f"CELLS lists {n_cells} cells, but the file has no CELL_TYPES section",
                )
            mesh.cell_types = np.zeros(0, np.uint8)
        elif len(mesh.cell_types) != n_cells:
            source.fail(
                seen["CELL_TYPES"],
                f"CELL_TYPES lists {len(mesh.cell_types)} cells, CELLS {n_cells}",
            )
    for kw, block in mesh.cells.items():
        _check_indices(mesh, sections, kw, block, n_points)
    if mesh.dataset == "UNSTRUCTURED_GRID" and _major(mesh.version) < 5:
        assert mesh.cell_types is not None
        mesh.cells["CELLS"] = swap_hexahedron_edges(mesh.cells["CELLS"], mesh.cell_types)


def _major(version: str) -> int:
    try:
        return int(version.split(".")[0])
    except ValueError:
        return 5


def _check_indices(
    mesh: Mesh, sections: SectionReader, kw: str, block: CellBlock, n_points: int
) -> None:
    conn = block.connectivity
    heads = None
    if kw == "CELLS" and mesh.cell_types is not None:
        poly = np.flatnonzero(mesh.cell_types == POLYHEDRON)
        if poly.size:
            # A polyhedron stores "faces, size, ids.., size, ids.."; only the
            # ids are point indices.
            heads = _polyhedron_heads(sections, kw, block, poly)
    if not conn.size or heads is None and all_below(conn, n_points):
        return
    bad = (conn < 0) | (conn >= n_points)
    if heads is not None:
        bad[heads] = False
    if bad.any():
        k = int(np.flatnonzero(bad)[0])
        expected = f"0 .. {n_points - 1}" if n_points else "the empty range: no points"
        sections.source.fail_line(
            sections.cell_sources[kw](k), f"{kw}: point index {conn[k]} is outside {expected}"
        )


def _polyhedron_heads(
    sections: SectionReader, kw: str, block: CellBlock, cells: np.ndarray
) -> np.ndarray:
    """Positions of the face counts and face sizes of the polyhedron cells."""
    conn = block.connectivity.tolist()
    offsets = block.offsets
    heads = []
    for j in cells.tolist():
        lo, hi = int(offsets[j]), int(offsets[j + 1])
        p = lo
        ok = p < hi and conn[p] >= 0
        if ok:
            heads.append(p)
            n_faces = conn[p]
            p += 1
            for _ in range(n_faces):
                if p >= hi or conn[p] < 0:
                    ok = False
                    break
                heads.append(p)
                p += conn[p] + 1
            ok = ok and p == hi
        if not ok:
            reason = (
                f"{kw}: the face list of polyhedron cell {j} does not fill its {hi - lo} numbers"
            )
            if hi > lo:
                sections.source.fail_line(sections.cell_sources[kw](min(p, hi - 1)), reason)
            # An empty cell has no number to point at: its section's header stands in.
            sections.source.fail(sections.seen[kw], reason)
    return np.array(heads, dtype=np.int64)
