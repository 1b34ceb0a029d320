"""Assembly of a dataset from its sections, and the checks that need the whole file:
sections that must agree in size, point indices inside the points, polyhedron
face lists that fill their cells."""

from __future__ import annotations

import numpy as np

from ._keywords import DATASETS, POLYHEDRON
from ._mesh import CellBlock, Mesh
from ._sections import SectionReader


def finish(mesh: Mesh, sections: SectionReader) -> None:
    """Fills in the sections a file left out and checks that the parts agree."""
    source, seen = sections.source, sections.seen
    n_points = len(mesh.points)
    for kw in DATASETS[mesh.dataset]:
        mesh.cells.setdefault(kw, CellBlock.empty())
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
    for kw, n_want in (("POINT_DATA", n_points), ("CELL_DATA", mesh.n_cells)):
        if kw in sections.data_counts and sections.data_counts[kw][0] != n_want:
            n, at = sections.data_counts[kw]
            what = "points" if kw == "POINT_DATA" else "cells"
            source.fail(at, f"{kw} {n} does not match the {n_want} {what} of the file")


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
    if not conn.size or heads is None and conn.min() >= 0 and conn.max() < n_points:
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
