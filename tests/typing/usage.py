"""How a user's code reads and writes meshes; checked by mypy, not run."""

from pathlib import Path

import numpy as np
import numpy.typing as npt

from veltrane.codecs import _vtk_blocks, vtk
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


def read_block(data: bytes, count: int) -> npt.NDArray[np.float32] | int:
    values, end = _vtk_blocks.read_ascii(data, 0, count, "f")
    if values is None:
        return end
    return values


def split(stream: npt.NDArray[np.int32], n: int) -> npt.NDArray[np.int64] | None:
    got = _vtk_blocks.split_cells(stream, n)
    if got[0] is None:
        return None
    offsets, connectivity = got
    return connectivity[offsets[0] : offsets[-1]]


def through_meshio(path: str) -> vtk.Mesh:
    vtk.register_meshio()
    return vtk.from_meshio(vtk.to_meshio(vtk.read(path)))


def read_points_on_threads(data: bytes, n: int) -> npt.NDArray[np.float64] | int:
    values, end = _vtk_blocks.read_ascii(data, 0, 3 * n, "d", 2)
    return end if values is None else values.reshape(n, 3)


def read_cell_block(data: bytes, pos: int, n: int, size: int) -> tuple[int, int]:
    got = _vtk_blocks.read_cells(data, pos, n, size, 2)
    if got[0] is None:
        return -1, _vtk_blocks.line_of(data, got[1], b"\n")
    offsets, connectivity, end = got
    return int(offsets[-1] + connectivity.size), end
