"""The command line: a summary of each file named, its points, cells and arrays."""

from __future__ import annotations

import argparse
import math
import sys
import time
from collections.abc import Sequence

import numpy as np

from ._errors import VtkFormatError
from ._keywords import CELL_TYPE_NAMES
from ._mesh import Mesh
from ._read import read_with_paths


def _range_text(values):
    if values.size == 0:
        return "empty"
    if values.dtype.kind in "US":
        return f"text, e.g. {str(values.flat[0])!r}"
    if values.dtype.kind == "f":
        finite = values[~np.isnan(values)]
        nan = values.size - finite.size
        if finite.size == 0:
            return "all NaN"
        text = f"{finite.min():.6g} .. {finite.max():.6g}"
        return text + (f" ({nan} NaN)" if nan else "")
    return f"{values.min()} .. {values.max()}"


def summary(
    mesh: Mesh,
    paths: Sequence[tuple[str, str, str]] = (),
    seconds: float | None = None,
    path: str | None = None,
) -> str:
    """The text that the command line prints for a mesh."""
    out = []
    if path is not None:
        out.append(f"file:      {path}")
    out.append(f"title:     {mesh.title}")
    out.append(f"version:   {mesh.version}")
    out.append(f"dataset:   {mesh.dataset}")
    if mesh.dimensions is not None:
        out.append("dimensions: " + " x ".join(map(str, mesh.dimensions)))
    n_points = mesh.n_points
    out.append(f"points:    {n_points}")
    if n_points:
        lo, hi = _bounds(mesh)
        out.append(
            "bounds:    "
            + "  ".join(f"{axis} [{a:.6g}, {b:.6g}]" for axis, a, b in zip("xyz", lo, hi))
        )
    out.append(f"cells:     {mesh.n_cells}")
    if mesh.cell_types is not None:
        types, counts = np.unique(mesh.cell_types, return_counts=True)
        for t, c in zip(types.tolist(), counts.tolist()):
            out.append(f"  {CELL_TYPE_NAMES.get(t, f'type {t}'):<28} {c}")
    else:
        for kw, block in mesh.cells.items():
            out.append(f"  {kw:<28} {len(block)}")
    for label, arrays in (
        ("point data", mesh.point_data),
        ("cell data", mesh.cell_data),
        ("field data", mesh.field_data),
    ):
        if not arrays:
            continue
        out.append(f"{label}:")
        for name, a in arrays.items():
            out.append(f"  {name!r:<28} {str(a.shape):<12} {str(a.dtype):<8} {_range_text(a)}")
    if seconds is not None:
        out.append(f"read in {seconds:.3f} s")
    fast = [blk for blk, how, _ in paths if how == "fast"]
    if fast:
        out.append(f"fast path: {', '.join(fast)}")
    for how, label in (("native", "re-read natively"), ("binary", "raw BINARY")):
        slow = [f"{blk} ({why})" if why else blk for blk, h, why in paths if h == how]
        if slow:
            out.append(f"{label}: {', '.join(slow)}")
    return "\n".join(out)


def _bounds(mesh):
    """The smallest and largest finite coordinates; a grid's from its axes, so
    that an image's points are not made for it."""
    if mesh.dataset == "RECTILINEAR_GRID" and mesh.coordinates is not None:
        axes = mesh.coordinates
    elif mesh.dataset == "STRUCTURED_POINTS" and mesh.dimensions is not None:
        axes = [
            mesh.origin[k] + np.array([0, max(mesh.dimensions[k] - 1, 0)]) * mesh.spacing[k]
            for k in range(3)
        ]
    else:
        axes = None
    if axes is not None:
        finite = [a[np.isfinite(a)] for a in axes]
        if all(len(a) for a in finite):
            return [a.min() for a in finite], [a.max() for a in finite]
        return [math.nan] * 3, [math.nan] * 3
    points = mesh.points
    with np.errstate(invalid="ignore"):
        finite = points[np.all(np.isfinite(points), axis=1)]
    if not len(finite):
        return [math.nan] * 3, [math.nan] * 3
    return finite.min(axis=0), finite.max(axis=0)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m veltrane.codecs.vtk",
        description="Print a summary of VTK legacy files.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    status = 0
    for i, path in enumerate(args.files):
        if i:
            print()
        t0 = time.perf_counter()
        try:
            mesh, paths = read_with_paths(path)
        except (VtkFormatError, OSError) as e:
            print(f"error: {e}", file=sys.stderr)
            status = 1
            continue
        print(summary(mesh, paths, time.perf_counter() - t0, path))
    return status
