"""The checks a mesh must pass before the writer puts down a byte: version and
title, the geometry of its dataset, its cells, and the names and shapes of its
data arrays. Each failure is a ValueError that says what is wrong; what passes
comes back in the form the writer lays out, the mesh's own arrays where they
can be, never a copy of one: big arrays are checked a piece at a time.
"""

from __future__ import annotations

import numpy as np

from ._cells import all_below
from ._chunks import cell_runs, spans
from ._keywords import CELL_SECTIONS, CELL_TYPE_NAMES, CELL_TYPES, DATASETS, POLYHEDRON, escape
from ._mesh import Mesh

VERSIONS = ("4.2", "5.1")

# Point counts of the cell types whose size is fixed, and the least count of
# those whose size is not; other types go unchecked.
_EXACT = np.full(256, -1, np.int64)
for _name, _k in (
    ("VERTEX", 1), ("LINE", 2), ("TRIANGLE", 3), ("PIXEL", 4), ("QUAD", 4), ("TETRA", 4),
    ("VOXEL", 8), ("HEXAHEDRON", 8), ("WEDGE", 6), ("PYRAMID", 5), ("PENTAGONAL_PRISM", 10),
    ("HEXAGONAL_PRISM", 12), ("QUADRATIC_EDGE", 3), ("QUADRATIC_TRIANGLE", 6),
    ("QUADRATIC_QUAD", 8), ("QUADRATIC_TETRA", 10), ("QUADRATIC_HEXAHEDRON", 20),
    ("QUADRATIC_WEDGE", 15), ("QUADRATIC_PYRAMID", 13), ("BIQUADRATIC_QUAD", 9),
    ("TRIQUADRATIC_HEXAHEDRON", 27), ("QUADRATIC_LINEAR_QUAD", 6),
    ("QUADRATIC_LINEAR_WEDGE", 12), ("BIQUADRATIC_QUADRATIC_WEDGE", 18),
    ("BIQUADRATIC_QUADRATIC_HEXAHEDRON", 24), ("BIQUADRATIC_TRIANGLE", 7), ("CUBIC_LINE", 4),
    ("TRIQUADRATIC_PYRAMID", 19),
):  # fmt: skip
    _EXACT[CELL_TYPES[_name]] = _k
_LEAST = np.zeros(256, np.int64)
for _name, _k in (("POLY_VERTEX", 1), ("POLY_LINE", 2), ("POLYGON", 3), ("TRIANGLE_STRIP", 3)):
    _LEAST[CELL_TYPES[_name]] = _k
# The least size of a cell in each polydata section.
_SECTION_LEAST = {"VERTICES": 1, "LINES": 2, "POLYGONS": 3, "TRIANGLE_STRIPS": 3}

# Words that mean something in place of an array's name in a FIELD block.
_FIELD_WORDS = ("NULL_ARRAY", "METADATA")


def check_version(version: object) -> str:
    if version not in VERSIONS:
        raise ValueError(f"version must be '4.2' or '5.1', not {version!r}")
    return str(version)


def check_dataset(mesh: Mesh) -> str:
    dataset = mesh.dataset.upper() if isinstance(mesh.dataset, str) else mesh.dataset
    if dataset not in DATASETS:
        raise ValueError(f"cannot write DATASET {mesh.dataset!r}")
    return dataset


def title_bytes(title: object) -> bytes:
    """The title line. A title read from a file keeps the bytes that were not
    UTF-8 as surrogate escapes, and goes back out as those bytes."""
    if not isinstance(title, str):
        raise ValueError(f"the title must be a str, not {type(title).__name__}")
    if "\n" in title or "\r" in title:
        raise ValueError("the title must be a single line")
    raw = text_bytes(title, "the title")
    if len(raw) > 255:
        raise ValueError(
            f"the title must fit in 255 bytes, not {len(raw)}: VTK's reader cuts longer ones"
        )
    return raw


def text_bytes(text: str, what: str) -> bytes:
    """Text as the bytes it stands for: UTF-8, and the bytes that a surrogate
    escape kept of a file that was not."""
    try:
        return text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError as e:
        raise ValueError(f"{what}: {text[e.start : e.end]!r} stands for no bytes") from None


def name_word(name: object, what: str, in_field: bool = False) -> str:
    """A name as one word of a header, %XX-escaped. In a FIELD block a name that
    reads as NULL_ARRAY or METADATA gets its first letter escaped."""
    if not isinstance(name, str) or not name:
        raise ValueError(f"{what}: names must be non-empty strings, not {name!r}")
    text_bytes(name, what)
    word = escape(name)
    if in_field and word.upper() in _FIELD_WORDS:
        word = f"%{ord(word[0]):02X}{word[1:]}"
    return word


def table(values: object, n: int | None, what: str) -> np.ndarray:
    """An array as rows of components: 1-D or 2-D, `n` rows when n is given, in
    the machine's byte order; strings as a str array."""
    a = np.asarray(values)
    if a.ndim not in (1, 2) or (n is not None and len(a) != n):
        rows = "" if n is None else f"{n} rows and "
        raise ValueError(f"{what} must have {rows}1 or 2 dimensions, not shape {a.shape}")
    if a.ndim == 2 and a.shape[1] < 1:
        raise ValueError(f"{what} has no components")
    kind = a.dtype.kind
    if kind == "O":
        if not all(isinstance(v, str) for v in a.ravel().tolist()):
            raise ValueError(f"{what}: object arrays must hold only str")
        a = a.astype(np.str_)
        kind = "U"
    if kind == "U":
        flat = a.reshape(-1)
        for lo, hi in spans(len(flat)):
            text_bytes("".join(flat[lo:hi].tolist()), what)
        return a
    if kind in "biu" and a.dtype.itemsize in (1, 2, 4, 8):
        return a.astype(a.dtype.newbyteorder("="), copy=False)
    if kind == "f" and a.dtype.itemsize in (4, 8):
        return a.astype(a.dtype.newbyteorder("="), copy=False)
    raise ValueError(f"{what}: cannot write arrays of dtype {a.dtype}")


def points_of(mesh: Mesh) -> np.ndarray:
    """The points, numbers of any dtype the writer takes as float64."""
    points = np.asarray(mesh.points)
    if points.ndim != 2 or points.shape[1] != 3:
        raise ValueError(f"points must have shape (n, 3), not {points.shape}")
    if points.dtype.kind not in "biuf":
        raise ValueError(f"points must be numbers, not {points.dtype}")
    return points


def dimensions_of(mesh: Mesh, dataset: str) -> tuple[int, int, int]:
    dims = mesh.dimensions
    if dims is None or len(dims) != 3 or min(dims) < 0:
        raise ValueError(f"{dataset} needs dimensions: three counts, not {dims!r}")
    return (int(dims[0]), int(dims[1]), int(dims[2]))


def triple(values: object, default: float, what: str) -> np.ndarray:
    out = np.full(3, default) if values is None else np.asarray(values, dtype=np.float64)
    if out.shape != (3,):
        raise ValueError(f"{what} must hold 3 numbers, not shape {out.shape}")
    return out


def coordinates_of(mesh: Mesh, dims: tuple[int, int, int]) -> list[np.ndarray]:
    coords = mesh.coordinates
    if coords is None or len(coords) != 3:
        raise ValueError("RECTILINEAR_GRID needs coordinates: the x, y and z values")
    out = []
    for axis, values, d in zip("XYZ", coords, dims):
        c = np.asarray(values, dtype=np.float64)
        if c.shape != (d,):
            raise ValueError(
                f"{axis}_COORDINATES must hold the {d} values dimensions say, not shape {c.shape}"
            )
        out.append(c)
    return out


def check_no_cells(mesh: Mesh, dataset: str) -> None:
    if any(len(block) for block in mesh.cells.values()):
        raise ValueError(f"{dataset} has no cell sections")
    if mesh.cell_types is not None and len(mesh.cell_types):
        raise ValueError(f"{dataset} has no cell_types")


def cell_blocks(
    mesh: Mesh, dataset: str, n_points: int
) -> tuple[dict[str, tuple[np.ndarray, np.ndarray]], np.ndarray | None]:
    """Each non-empty cell section as (connectivity, offsets), checked; the cell
    types of an unstructured grid. All are 1-D integer arrays as given."""
    sections = CELL_SECTIONS[dataset]
    unknown = [kw for kw in mesh.cells if kw not in sections]
    if unknown:
        raise ValueError(f"{dataset} has no cell section {unknown[0]!r}")
    blocks = {}
    for kw in sections:
        block = mesh.cells.get(kw)
        if block is not None:
            conn, offsets = _arrays(kw, block.connectivity, block.offsets)
            if len(offsets) > 1:
                blocks[kw] = (conn, offsets)
    n_cells = sum(len(offsets) - 1 for _, offsets in blocks.values())
    types = None
    if dataset == "UNSTRUCTURED_GRID":
        types = _cell_types(mesh.cell_types, n_cells)
    elif mesh.cell_types is not None and len(mesh.cell_types):
        raise ValueError(f"{dataset} has no cell_types: they belong to UNSTRUCTURED_GRID")
    for kw, (conn, offsets) in blocks.items():
        for lo, hi in spans(len(offsets) - 1):
            sizes = np.diff(offsets[lo : hi + 1].astype(np.int64))
            if types is not None:
                _check_sizes(kw, sizes, types[lo:hi].astype(np.intp), lo)
            else:
                bad = np.flatnonzero(sizes < _SECTION_LEAST[kw])
                if bad.size:
                    j = int(bad[0])
                    raise ValueError(
                        f"{kw}: cell {lo + j} has {sizes[j]} points, fewer than the "
                        f"{_SECTION_LEAST[kw]} a cell of this section needs"
                    )
        for j0, j1 in cell_runs(offsets):
            heads = None if types is None else _polyhedron_heads(kw, conn, offsets, types, j0, j1)
            _check_indices(kw, conn, offsets, (int(offsets[j0]), int(offsets[j1])), heads, n_points)
    return blocks, types


def _arrays(kw: str, connectivity: object, offsets: object) -> tuple[np.ndarray, np.ndarray]:
    conn, offs = np.asarray(connectivity), np.asarray(offsets)
    for what, a in (("connectivity", conn), ("offsets", offs)):
        if a.ndim != 1 or (a.size and a.dtype.kind not in "iu"):
            raise ValueError(f"{kw}: the {what} must be a 1-D array of integers")
    if len(offs) < 1 or offs[0] != 0 or not _never_decrease(offs) or offs[-1] != len(conn):
        raise ValueError(
            f"{kw}: offsets must start at 0, never decrease and end at "
            "the length of the connectivity"
        )
    if not conn.size:
        conn = conn.astype(np.int64)
    return conn, offs


def _never_decrease(a: np.ndarray) -> bool:
    return not any((a[lo + 1 : hi + 1] < a[lo:hi]).any() for lo, hi in spans(len(a) - 1))


def _cell_types(cell_types: object, n_cells: int) -> np.ndarray:
    types = np.asarray([] if cell_types is None else cell_types)
    if types.ndim != 1 or len(types) != n_cells:
        raise ValueError(f"cell_types has {len(types)} entries for {n_cells} cells")
    if not types.size:
        return types.astype(np.int64)
    if types.dtype.kind not in "iu" or types.min() < 0 or types.max() > 255:
        raise ValueError("cell types must be integers in 0 .. 255")
    return types


def _check_sizes(kw: str, sizes: np.ndarray, types: np.ndarray, first: int) -> None:
    """Sizes and types of the cells from `first` on."""
    exact, least = _EXACT[types], _LEAST[types]
    bad = np.flatnonzero(((exact >= 0) & (sizes != exact)) | (sizes < least))
    if bad.size:
        j = int(bad[0])
        name = CELL_TYPE_NAMES.get(int(types[j]), str(types[j]))
        need = f"{exact[j]}" if exact[j] >= 0 else f"at least {least[j]}"
        raise ValueError(
            f"{kw}: cell {first + j} is a {name} of {sizes[j]} points, where {need} belong"
        )


def _polyhedron_heads(
    kw: str, conn: np.ndarray, offsets: np.ndarray, types: np.ndarray, j0: int, j1: int
) -> np.ndarray | None:
    """Where the face counts and face sizes of the polyhedra among cells j0 .. j1
    stand: their entry is 'faces, size, ids.., size, ids..', and only the ids
    are point indices."""
    cells = j0 + np.flatnonzero(types[j0:j1] == POLYHEDRON)
    if not cells.size:
        return None
    heads = []
    for j in cells.tolist():
        lo, hi = int(offsets[j]), int(offsets[j + 1])
        stream = conn[lo:hi].tolist()
        p, ok = 0, bool(stream) and stream[0] >= 0
        if ok:
            heads.append(lo)
            p = 1
            for _ in range(stream[0]):
                if p >= len(stream) or stream[p] < 0:
                    ok = False
                    break
                heads.append(lo + p)
                p += stream[p] + 1
            ok = ok and p == len(stream)
        if not ok:
            raise ValueError(
                f"{kw}: the face list of polyhedron cell {j} does not fill its {hi - lo} numbers"
            )
    return np.array(heads, np.int64)


def _check_indices(
    kw: str,
    conn: np.ndarray,
    offsets: np.ndarray,
    span: tuple[int, int],
    heads: np.ndarray | None,
    n_points: int,
) -> None:
    """The point indices in conn[span], a piece at a time: the bounds alone where
    no heads stand among them."""
    for lo, hi in spans(span[1] - span[0]):
        lo, hi = lo + span[0], hi + span[0]
        part = conn[lo:hi]
        if heads is None and all_below(part, n_points):
            continue
        bad = (part < 0) | (part >= n_points)
        if heads is not None:
            bad[heads[(heads >= lo) & (heads < hi)] - lo] = False
        where = np.flatnonzero(bad)
        if where.size:
            k = lo + int(where[0])
            j = int(np.searchsorted(offsets, k, side="right")) - 1
            inside = f"0 .. {n_points - 1}" if n_points else "the empty range: there are no points"
            raise ValueError(f"{kw}: cell {j} has point index {conn[k]}, outside {inside}")
