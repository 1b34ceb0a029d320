"""What the command line says of a mesh: its facts as plain data, as text and as JSON.

`record` gathers the facts (counts, bounds, arrays with their ranges) as
numbers, strings, lists and dicts; `summary` lays them out for people and the
command line's --json prints them as they are, so that both say the same.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any

import numpy as np

from ._keywords import CELL_TYPE_NAMES
from ._mesh import Mesh
from ._source import show

# How each block was read, for --verbose: the reader's word, in plain words.
_HOW = {
    "native": "scanned from the file's bytes",
    "binary": "straight from BINARY bytes",
}


def printable(text: str) -> str:
    """`text` with every character a terminal would act on escaped; a byte that
    was no UTF-8 (decoded with surrogateescape) shows as \\xNN."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() else _escape(c) for c in text)


def _escape(c: str) -> str:
    n = ord(c)
    if 0xDC80 <= n <= 0xDCFF:
        return f"\\x{n - 0xDC00:02x}"
    return repr(c)[1:-1]


def _number(value: Any) -> int | float:
    """A NumPy scalar as JSON takes it: an int, or a float written as briefly
    as its own type allows (a float32 297.501 stays 297.501)."""
    if isinstance(value, (np.integer, np.bool_, bool, int)):
        return int(value)
    return float(str(value))


def _array(name: str, values: np.ndarray) -> dict[str, Any]:
    """An array's name, shape, dtype and range; a float array's range leaves
    out NaN and infinities, which it counts."""
    out: dict[str, Any] = {
        "name": name,
        "shape": list(values.shape),
        "dtype": "str" if values.dtype.kind == "U" else str(values.dtype),
        "min": None,
        "max": None,
    }
    kind = values.dtype.kind
    if kind in "US":
        out["example"] = str(values.flat[0]) if values.size else None
        return out
    if kind in "fc":
        nan = np.isnan(values)
        finite = values[np.isfinite(values)]
        out["nan"] = int(np.count_nonzero(nan))
        out["infinite"] = values.size - finite.size - out["nan"]
        values = finite
    if values.size:
        out["min"], out["max"] = _number(values.min()), _number(values.max())
    return out


def _bounds(mesh: Mesh) -> dict[str, list[float]] | None:
    """The smallest and largest finite coordinates; a grid's from its axes, so
    that an image's points are not made for it."""
    if mesh.dataset == "RECTILINEAR_GRID" and mesh.coordinates is not None:
        axes = list(mesh.coordinates)
    elif (
        mesh.dataset == "STRUCTURED_POINTS"
        and mesh.dimensions is not None
        and mesh.origin is not None
        and mesh.spacing is not None
    ):
        with np.errstate(over="ignore", invalid="ignore"):
            axes = [
                mesh.origin[k] + np.array([0, max(mesh.dimensions[k] - 1, 0)]) * mesh.spacing[k]
                for k in range(3)
            ]
    else:
        points = mesh.points
        with np.errstate(invalid="ignore"):
            finite = points[np.all(np.isfinite(points), axis=1)]
        if not len(finite):
            return None
        return {"min": finite.min(axis=0).tolist(), "max": finite.max(axis=0).tolist()}
    kept = [a[np.isfinite(a)] for a in axes]
    if not all(len(a) for a in kept):
        return None
    return {"min": [float(a.min()) for a in kept], "max": [float(a.max()) for a in kept]}


def _cell_counts(mesh: Mesh) -> dict[str, int]:
    """Cells by type for an unstructured grid, by section for polydata; no empty ones."""
    if mesh.cell_types is not None:
        types, counts = np.unique(mesh.cell_types, return_counts=True)
        return {
            CELL_TYPE_NAMES.get(t, f"type {t}"): c for t, c in zip(types.tolist(), counts.tolist())
        }
    return {kw: len(block) for kw, block in mesh.cells.items() if len(block)}


def record(
    mesh: Mesh,
    paths: Sequence[tuple[str, str, str]] = (),
    seconds: float | None = None,
    path: str | None = None,
) -> dict[str, Any]:
    """The facts of a mesh as plain data, the keys in the order they are shown.

    'file', 'seconds' and 'blocks' are there only when given; points, bounds
    and cells only for datasets that have them (not FIELD).
    """
    out: dict[str, Any] = {} if path is None else {"file": path}
    out.update(title=mesh.title, version=mesh.version, dataset=mesh.dataset)
    if mesh.dimensions is not None:
        out["dimensions"] = list(mesh.dimensions)
    if mesh.dataset != "FIELD":
        out["points"] = mesh.n_points
        out["bounds"] = _bounds(mesh) if out["points"] else None
        out["cells"] = mesh.n_cells
        out["cell_counts"] = _cell_counts(mesh)
    for key, arrays in (
        ("point_data", mesh.point_data),
        ("cell_data", mesh.cell_data),
        ("field_data", mesh.field_data),
    ):
        out[key] = [_array(name, a) for name, a in arrays.items()]
    out["more_fields"] = [
        {"name": name, "arrays": [_array(n, a) for n, a in arrays.items()]}
        for name, arrays in mesh.more_fields
    ]
    if seconds is not None:
        out["seconds"] = round(seconds, 6)
    if paths:
        out["blocks"] = [{"block": b, "read": how, "why": why} for b, how, why in paths]
    return out


def _range_text(a: dict[str, Any]) -> str:
    if "example" in a:
        return "empty" if a["example"] is None else f"text, e.g. {show(a['example'])}"
    odd = [f"{a[k]} {label}" for k, label in (("nan", "NaN"), ("infinite", "infinite")) if a.get(k)]
    if a["min"] is None:
        text = "empty" if not odd else "no finite values"
    elif isinstance(a["min"], float):
        text = f"{a['min']:.6g} .. {a['max']:.6g}"
    else:
        text = f"{a['min']} .. {a['max']}"
    return text + (f" ({', '.join(odd)})" if odd else "")


def _arrays_text(label: str, arrays: list[dict[str, Any]]) -> list[str]:
    out = [f"{label}:"]
    for a in arrays:
        shape = str(tuple(a["shape"]))
        out.append(f"  {show(a['name']):<28} {shape:<12} {a['dtype']:<8} {_range_text(a)}")
    return out


def _blocks_text(blocks: list[dict[str, str]]) -> list[str]:
    out = ["how the blocks were read:"]
    for b in blocks:
        kw, how = b["block"], _HOW.get(b["read"], b["read"])
        if b["why"]:
            how += f" ({b['why']})"
        out.append(f"  {kw:<16} {how}")
    return out


def summary(
    mesh: Mesh,
    paths: Sequence[tuple[str, str, str]] = (),
    seconds: float | None = None,
    path: str | None = None,
) -> str:
    """The summary of a mesh that the command line prints, as text.

    Parameters
    ----------
    mesh : Mesh
        What was read.
    paths : sequence of (block, how, why), optional
        How each block was read, as `read_with_paths` tells: 'native'
        (scanned from the file's text) or 'binary'.
        Listed in plain words at the end; nothing when empty.
    seconds : float, optional
        How long the read took, shown when given.
    path : str, optional
        The file's name, shown first when given.

    Returns
    -------
    str
        Lines without a final newline: title, version and dataset; the
        dimensions of a structured dataset; points, bounds and cells (by cell
        type, or by polydata section, empty ones left out); each array's
        name, shape, dtype and range, NaN and infinities counted apart; each
        later FIELD block by name. Everything taken from the file is escaped
        where a terminal would act on it.
    """
    r = record(mesh, paths, seconds, path)
    out = []
    if path is not None:
        out.append(f"file:      {printable(path)}")
    title = printable(r["title"])
    # A legacy title holds at most 256 characters; a damaged file's may be any line.
    out.append(f"title:     {title if len(title) <= 256 else title[:253] + '...'}")
    out.append(f"version:   {r['version']}")
    out.append(f"dataset:   {r['dataset']}")
    if "dimensions" in r:
        out.append("dimensions: " + " x ".join(map(str, r["dimensions"])))
    if "points" in r:
        out.append(f"points:    {r['points']}")
        if r["bounds"] is not None:
            lo, hi = r["bounds"]["min"], r["bounds"]["max"]
            spans = (f"{axis} [{a:.6g}, {b:.6g}]" for axis, a, b in zip("xyz", lo, hi))
            out.append("bounds:    " + "  ".join(spans))
        elif r["points"]:
            out.append("bounds:    none (no point has finite coordinates)")
        out.append(f"cells:     {r['cells']}")
        out.extend(f"  {name:<28} {count}" for name, count in r["cell_counts"].items())
    for key, label in (
        ("point_data", "point data"),
        ("cell_data", "cell data"),
        ("field_data", "field data"),
    ):
        if r[key]:
            out.extend(_arrays_text(label, r[key]))
    for block in r["more_fields"]:
        out.extend(_arrays_text(f"field data, block {show(block['name'])}", block["arrays"]))
    if seconds is not None:
        out.append(f"read in {seconds:.3f} s")
    if paths:
        out.extend(_blocks_text(r["blocks"]))
    return "\n".join(out)
