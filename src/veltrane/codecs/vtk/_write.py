"""Writing a Mesh as a legacy file: the public ``write``, the layout of each
dataset (preamble, geometry, cells, data sections), and the file itself, which
appears under its name only once it is whole. The layout refers to the mesh's
arrays; their bytes are made a piece at a time as the file is written.
"""

from __future__ import annotations

import contextlib
import gzip
import math
import os
import secrets
from collections.abc import Iterator
from typing import Literal

import numpy as np

from ._cells import swap_hexahedron_edges
from ._chunks import cell_runs
from ._encode import Encoder, Pieces, Run, encoder, number_words
from ._mesh import CellBlock, Mesh, structured_cells
from ._write_checks import (
    cell_blocks,
    check_dataset,
    check_no_cells,
    check_version,
    coordinates_of,
    dimensions_of,
    name_word,
    points_of,
    title_bytes,
    triple,
)
from ._write_data import Block, coordinate_block, data_blocks, dataset_field, declared_points_type


def write(
    path: str | os.PathLike[str],
    mesh: Mesh,
    version: Literal["4.2", "5.1"] = "4.2",
    binary: bool = False,
) -> None:
    """Write a Mesh as a VTK legacy file.

    Every dataset the reader returns can be written, and each array keeps its
    meaning: the section of its role (SCALARS with its lookup table,
    COLOR_SCALARS, VECTORS, ...; arrays without an ArrayInfo, and the roles
    the VTK library's reader refuses, as FIELD arrays), its declared type name
    where the dtype matches it, its component names, and its place in the
    order, so that reading the file back, with this package or with the VTK
    library, gives the same arrays and the same active attributes.

    Parameters
    ----------
    path : str or os.PathLike
        Where to write; a path ending in '.gz' is written gzip-compressed. The
        file is written beside it under a temporary name and renamed over it
        when complete, so no partial file is ever left behind.
    mesh : Mesh
        What to write.
    version : {'4.2', '5.1'}
        The layout of cell sections: counts and indices (4.2), or OFFSETS and
        CONNECTIVITY (5.1).
    binary : bool
        BINARY (big-endian raw values, every bit kept) instead of ASCII. In
        ASCII, floats are the shortest text that reads back to the same value
        in their own width (a NaN keeps its sign, not its payload; NaN and
        infinities are spelled 'nan' and 'inf', which the VTK library's reader
        does not take). Names and strings are %XX-escaped.

    Raises
    ------
    ValueError
        Naming what is wrong, before anything is written, for a mesh that
        cannot be written: cell indices outside the points, cells too small
        for their types, arrays of the wrong length, names or titles that
        cannot be written, an unknown version.
    OSError
        When the file cannot be written.
    """
    blocks = layout(mesh, version, bool(binary))
    _write_file(os.fsdecode(os.fspath(path)), blocks, encoder(bool(binary)))


def layout(mesh: Mesh, version: str, binary: bool) -> list[Block]:
    """The whole file as blocks, every check done."""
    version = check_version(version)
    dataset = check_dataset(mesh)
    title = title_bytes(mesh.title).decode("utf-8", "surrogateescape")
    head = f"# vtk DataFile Version {version}\n{title}\n{'BINARY' if binary else 'ASCII'}\n"
    if dataset == "FIELD":
        if mesh.point_data or mesh.cell_data or len(mesh.points):
            raise ValueError("a FIELD file holds field data only: no points, no point or cell data")
        check_no_cells(mesh, dataset)
        # The first block is there even when empty: it is what keeps the
        # others from becoming the first.
        return [Block(head), *_fields(mesh, version, always=True)]
    blocks = [Block(f"{head}DATASET {dataset}\n")]
    if dataset in ("UNSTRUCTURED_GRID", "POLYDATA"):
        n_points, n_cells = _cell_geometry(blocks, mesh, dataset, version, binary)
    else:
        check_no_cells(mesh, dataset)
        dims = dimensions_of(mesh, dataset)
        n_points, n_cells = math.prod(dims), structured_cells(dims)
        blocks.append(Block("DIMENSIONS {} {} {}\n".format(*dims)))
        _structured_geometry(blocks, mesh, dataset, dims, binary)
    # After the geometry rather than before it, where VTK's writer puts it:
    # VTK's reader, sizing a BINARY structured grid from its first lines,
    # warns about a FIELD block that stands before DIMENSIONS.
    blocks.extend(_fields(mesh, version, always=False))
    for kw, arrays, infos, n in (
        ("POINT_DATA", mesh.point_data, mesh.point_info, n_points),
        ("CELL_DATA", mesh.cell_data, mesh.cell_info, n_cells),
    ):
        if arrays:
            blocks.append(Block(f"{kw} {n}\n"))
            blocks.extend(data_blocks(kw.lower(), arrays, infos, n, version))
    return blocks


def _fields(mesh: Mesh, version: str, always: bool) -> list[Block]:
    """The FIELD blocks of the dataset as a whole: field_data, then more_fields."""
    out = []
    if mesh.field_data or mesh.more_fields or always:
        out = dataset_field("FieldData", mesh.field_data, mesh.field_info, version, "field_data")
    for entry in mesh.more_fields:
        if not (isinstance(entry, tuple) and len(entry) == 2 and isinstance(entry[1], dict)):
            raise ValueError("more_fields holds (block name, arrays) pairs")
        name, arrays = entry
        name_word(name, "more_fields")
        out.extend(dataset_field(name, arrays, {}, version, f"more_fields {name!r}"))
    return out


def _cell_geometry(
    blocks: list[Block], mesh: Mesh, dataset: str, version: str, binary: bool
) -> tuple[int, int]:
    points = points_of(mesh)
    n_points = len(points)
    cells, types = cell_blocks(mesh, dataset, n_points)
    if n_points or mesh.points_type is not None:
        # A file without POINTS reads back as none; one of 0 points keeps its type.
        declared = declared_points_type(mesh)
        blocks.append(coordinate_block(f"POINTS {n_points}", points, declared, binary))
    n_cells = 0
    for kw, (conn, offsets) in cells.items():
        n = len(offsets) - 1
        n_cells += n
        if version == "5.1":
            blocks.append(
                Block(
                    f"{kw} {n + 1} {len(conn)}\nOFFSETS vtktypeint64\n",
                    offsets,
                    code="q",
                    per_line=9,
                )
            )
            blocks.append(Block("CONNECTIVITY vtktypeint64\n", conn, code="q", per_line=9))
            continue
        blocks.append(Block(f"{kw} {n} {n + len(conn)}\n", (conn, offsets, types), "cells"))
    if types is not None and n_cells:
        blocks.append(Block(f"CELL_TYPES {n_cells}\n", types, code="i"))
    return n_points, n_cells


def _structured_geometry(
    blocks: list[Block], mesh: Mesh, dataset: str, dims: tuple[int, int, int], binary: bool
) -> None:
    if dataset == "STRUCTURED_POINTS":
        # Header words even in BINARY files, each the shortest that reads back.
        for kw, values in (
            ("SPACING", triple(mesh.spacing, 1.0, "spacing")),
            ("ORIGIN", triple(mesh.origin, 0.0, "origin")),
        ):
            words = " ".join(number_words(values, "d"))
            blocks.append(Block(f"{kw} {words}\n"))
    elif dataset == "STRUCTURED_GRID":
        points = points_of(mesh)
        if len(points) != math.prod(dims):
            raise ValueError(
                f"STRUCTURED_GRID: dimensions {dims} make {math.prod(dims)} points, "
                f"points holds {len(points)}"
            )
        declared = declared_points_type(mesh)
        blocks.append(coordinate_block(f"POINTS {len(points)}", points, declared, binary))
    else:
        types = mesh.points_type if mesh.points_type is not None else "double"
        per_axis = (types,) * 3 if isinstance(types, str) else types
        for axis, values, declared in zip("XYZ", coordinates_of(mesh, dims), per_axis):
            header = f"{axis}_COORDINATES {len(values)}"
            blocks.append(coordinate_block(header, values, declared, binary))


def _pieces(blocks: list[Block], enc: Encoder) -> Pieces:
    for b in blocks:
        yield b.header.encode("utf-8", "surrogateescape")
        if b.values is not None:
            yield from _encoded(b, enc)
        if b.after:
            yield b.after.encode("ascii")


def _encoded(b: Block, enc: Encoder) -> Pieces:
    if b.kind == "cells":
        return enc.cells(_runs(*b.values))
    if b.kind == "colors":
        return enc.colors(b.values, b.per_line)
    if b.kind == "strings":
        return enc.strings(b.values)
    return enc.numbers(b.values, b.code, b.per_line)


def _runs(conn: np.ndarray, offsets: np.ndarray, types: np.ndarray | None) -> Iterator[Run]:
    """The cells of a section run by run, offsets as int64, and the
    hexahedra of an unstructured grid in the node order of the 4.2 layout."""
    for j0, j1 in cell_runs(offsets):
        run = offsets[j0 : j1 + 1].astype(np.int64)
        ids = conn[run[0] : run[-1]]
        if types is not None:
            ids = swap_hexahedron_edges(CellBlock(ids, run - run[0]), types[j0:j1]).connectivity
        yield run, ids


def _write_file(target: str, blocks: list[Block], enc: Encoder) -> None:
    """Writes the blocks under a temporary name beside the target, then renames
    it over the target; on any failure the temporary file is removed."""
    tmp, fd = _temporary(target)
    try:
        with os.fdopen(fd, "wb") as raw:
            if target.endswith(".gz"):
                with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0) as packed:
                    for piece in _pieces(blocks, enc):
                        packed.write(piece)
            else:
                for piece in _pieces(blocks, enc):
                    raw.write(piece)
        os.replace(tmp, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise


def _temporary(target: str) -> tuple[str, int]:
    directory, base = os.path.split(target)
    while True:
        tmp = os.path.join(directory, f".{base}.{secrets.token_hex(6)}.tmp")
        try:
            # 0o666 less the umask, as the target would get from open().
            return tmp, os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
        except FileExistsError:
            continue
