"""Writing a Mesh as a legacy ASCII file."""

from __future__ import annotations

import os

import numpy as np

from ._keywords import CELL_SECTIONS, WRITE_TYPES, WRITE_TYPES_64, escape
from ._mesh import Mesh


def _float_text(values):
    """Shortest text that float() reads back to the same double, sign of NaN kept."""
    flat = np.ascontiguousarray(values, dtype=np.float64).ravel()
    out = list(map(repr, flat.tolist()))
    nan = np.flatnonzero(np.isnan(flat) & np.signbit(flat))
    for k in nan.tolist():
        out[k] = "-nan"
    return out


def _encode_name(name):
    if not isinstance(name, str) or not name:
        raise ValueError(f"array names must be non-empty strings, not {name!r}")
    return escape(name)


def _rows(words, width):
    return "".join(" ".join(words[i : i + width]) + "\n" for i in range(0, len(words), width))


def _array_text(values, version):
    """(type name, words, words to a line) for a data array."""
    if values.dtype.kind == "f":
        return "double", _float_text(values), None
    if values.dtype.kind in "UO":
        # One string to a line, as the VTK writer puts them; an empty string
        # is an empty line.
        strings = values.ravel().tolist()
        if not all(isinstance(v, str) for v in strings):
            raise ValueError("object arrays must hold only str")
        return "string", [escape(v) for v in strings], 1
    dtype = values.dtype.newbyteorder("=")
    name = WRITE_TYPES.get(dtype) or WRITE_TYPES_64[version].get(dtype)
    if name is None:
        raise ValueError(f"cannot write arrays of dtype {values.dtype}")
    if values.dtype.kind == "b":
        return name, ["1" if v else "0" for v in values.ravel().tolist()], None
    return name, list(map(str, values.ravel().tolist())), None


def _field_text(label, arrays, n, version):
    """A FIELD block; `n` is the tuple count every array must have, or None."""
    parts = [f"FIELD FieldData {len(arrays)}\n"]
    for name, values in arrays.items():
        values = np.asarray(values)
        if values.ndim not in (1, 2) or (n is not None and len(values) != n):
            rows = "" if n is None else f"{n} rows and "
            raise ValueError(
                f"{label} array {name!r} must have {rows}1 or 2 "
                f"dimensions, not shape {values.shape}"
            )
        n_comp = 1 if values.ndim == 1 else values.shape[1]
        if n_comp < 1:
            raise ValueError(f"{label} array {name!r} has no components")
        type_name, words, width = _array_text(values, version)
        parts.append(f"{_encode_name(name)} {n_comp} {len(values)} {type_name}\n")
        parts.append(_rows(words, width or n_comp))
    return "".join(parts)


def _check_cells(kw, block):
    offsets = np.asarray(block.offsets)
    conn = np.asarray(block.connectivity)
    if (
        offsets.ndim != 1
        or len(offsets) < 1
        or offsets[0] != 0
        or np.any(np.diff(offsets) < 0)
        or offsets[-1] != len(conn)
    ):
        raise ValueError(
            f"{kw}: offsets must start at 0, never decrease and end at "
            "the length of the connectivity"
        )
    return conn.astype(np.int64).tolist(), offsets.astype(np.int64).tolist()


def write(path: str | os.PathLike[str], mesh: Mesh, version: str = "4.2") -> None:
    """Writes a Mesh as a VTK legacy ASCII file, in the '4.2' or the '5.1' layout.

    Floating-point data are written as double with the shortest text that reads
    back to the same bits (a NaN keeps its sign, not its payload). NaN and
    infinities are written as Python spells them ('nan', '-nan', 'inf', '-inf'):
    this reader takes them, the VTK library's reader rejects them. Integer and
    bool arrays keep their type, str arrays are written as strings, and names
    and strings with blanks or other special characters get %XX escapes.
    Point, cell and field data all go out as FIELD arrays.
    """
    if version not in ("4.2", "5.1"):
        raise ValueError(f"version must be '4.2' or '5.1', not {version!r}")
    dataset = mesh.dataset.upper()
    if dataset not in CELL_SECTIONS:
        raise ValueError(f"cannot write DATASET {mesh.dataset!r}")
    title = mesh.title or ""
    if "\n" in title or "\r" in title:
        raise ValueError("the title must be a single line")
    if len(title.encode("utf-8")) > 255:
        raise ValueError("the title must fit in 255 bytes: VTK's reader cuts longer ones")
    points = np.asarray(mesh.points, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] != 3:
        raise ValueError(f"points must have shape (n, 3), not {points.shape}")
    unknown = set(mesh.cells) - set(CELL_SECTIONS[dataset])
    if unknown:
        raise ValueError(f"{dataset} has no cell section {sorted(unknown)[0]!r}")
    n_points = len(points)
    parts = [f"# vtk DataFile Version {version}\n{title}\nASCII\nDATASET {dataset}\n"]
    if mesh.field_data:
        parts.append(_field_text("field_data", mesh.field_data, None, version))
    parts.append(f"POINTS {n_points} double\n")
    parts.append(_rows(_float_text(points), 3))
    n_cells = 0
    for kw in CELL_SECTIONS[dataset]:
        block = mesh.cells.get(kw)
        if block is None or len(block) == 0:
            # Left out as the VTK writer leaves it out; it reads back as empty.
            continue
        conn, offsets = _check_cells(kw, block)
        n = len(offsets) - 1
        n_cells += n
        if version == "4.2":
            parts.append(f"{kw} {n} {n + len(conn)}\n")
            parts.extend(
                " ".join(
                    map(str, [offsets[j + 1] - offsets[j]] + conn[offsets[j] : offsets[j + 1]])
                )
                + "\n"
                for j in range(n)
            )
        else:
            parts.append(f"{kw} {n + 1} {len(conn)}\nOFFSETS vtktypeint64\n")
            parts.append(_rows(list(map(str, offsets)), 9))
            parts.append("CONNECTIVITY vtktypeint64\n")
            parts.append(_rows(list(map(str, conn)), 9))
    if dataset == "UNSTRUCTURED_GRID":
        types = np.asarray(mesh.cell_types if mesh.cell_types is not None else [], dtype=np.int64)
        if len(types) != n_cells:
            raise ValueError(f"cell_types has {len(types)} entries for {n_cells} cells")
        if types.size and (types.min() < 0 or types.max() > 255):
            raise ValueError("cell types must lie in 0 .. 255")
        if n_cells:
            parts.append(f"CELL_TYPES {n_cells}\n")
            parts.append(_rows(list(map(str, types.tolist())), 1))
    for kw, arrays, n in (
        ("POINT_DATA", mesh.point_data, n_points),
        ("CELL_DATA", mesh.cell_data, n_cells),
    ):
        if arrays:
            parts.append(f"{kw} {n}\n" + _field_text(kw, arrays, n, version))
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.writelines(parts)
