"""How a user's code reads and writes meshes; checked by mypy, not run."""

from pathlib import Path

import numpy as np
import numpy.typing as npt

from veltrane.codecs import vtk
from veltrane.codecs._vtk_parse import parse_ascii_cells_v42, parse_ascii_coords


def bounding_box(path: Path) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    mesh: vtk.Mesh = vtk.read(path)
    return mesh.points.min(axis=0), mesh.points.max(axis=0)


def triangles(mesh: vtk.Mesh) -> list[npt.NDArray[np.int64]]:
    block = mesh.cells["CELLS"]
    return [block.cell(j) for j in range(len(block)) if len(block.cell(j)) == 3]


def copy(src: str, dst: str) -> None:
    try:
        mesh = vtk.read(src)
    except vtk.VtkFormatError as e:
        print(e.path, e.lineno, e.reason)
        return
    vtk.write(dst, mesh, version="5.1")


def parse(lines: list[str]) -> int:
    points = parse_ascii_coords(lines, 1, 2)
    conn, offsets = parse_ascii_cells_v42(lines, 3, 1)
    return int(points.shape[0] + conn.size + offsets[-1])
