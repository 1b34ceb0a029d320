"""Checks vtk.write against the VTK library's own reader, in two steps, since the
package (built for CPython 3.15) and the VTK bindings (in the bench
environment's python3.14) never share an interpreter. From the checkout's top:

    tools/in-env python tests/python/data/check_writer.py write build/written
    VELTRANE_ENV=bench VELTRANE_SKIP_BUILD=1 tools/in-env \\
        python3.14 tests/python/data/check_writer.py compare build/written

`write` writes every fixture back, as read by this package, in each layout
and encoding (STEM__VERSION_ENCODING.vtk), and a synthetic mesh of what the
fixtures lack with what VTK should make of it (synthetic.npz). `compare` reads
each with VTK as vtk_truth.py reads the fixtures: the same arrays bit for bit,
active attributes, lookup tables and component names. Differences made
knowingly (NaN and infinities in ASCII, which VTK stops at; doubles no float
holds; axes of several types) are shown with their reason; anything else
makes the exit status 1.
"""

import pathlib
import sys

import numpy as np

FIXTURES = pathlib.Path(__file__).resolve().parent / "fixtures"
LAYOUTS = [(v, e) for v in ("4.2", "5.1") for e in ("ascii", "binary")]


def write_all(out):
    from veltrane.codecs import vtk

    out.mkdir(parents=True, exist_ok=True)
    meshes = {p.name.split(".")[0]: vtk.read(p) for p in FIXTURES.glob("*.vtk*")}
    meshes["synthetic"] = synthetic(vtk)
    np.savez(out / "synthetic.npz", **expected(meshes["synthetic"]))
    for stem, mesh in sorted(meshes.items()):
        for version, encoding in LAYOUTS:
            target = out / f"{stem}__{version}_{encoding}.vtk"
            vtk.write(target, mesh, version=version, binary=encoding == "binary")
    print(f"wrote {len(LAYOUTS)} files for each of {len(meshes)} meshes into {out}")


def synthetic(vtk):
    """What the fixtures lack: Lagrange and polyhedron cells, bits of 3 components,
    big vtkIdType values, long strings, float extremes, every role in both."""
    info = vtk.ArrayInfo
    rng = np.random.default_rng(3)
    grid = np.stack(np.meshgrid(*[np.arange(3.0)] * 3, indexing="ij"), -1).reshape(-1, 3)
    poly = [4, 3, 0, 1, 2, 3, 0, 1, 9, 3, 1, 2, 9, 3, 0, 2, 9]
    cells = [list(rng.permutation(27)), poly, [0, 1, 3, 9], [5]]
    lut = rng.integers(0, 256, (3, 4)).astype(np.uint8)
    f32 = np.array([1e-45, 3.4028235e38, -0.0, 0.1, 1.17549435e-38, -3.3333333, 16777217, 2, 7])
    return vtk.Mesh(
        points=(grid * 0.5 - 0.1).astype(np.float32).astype(np.float64),
        points_type="float",
        cells={"CELLS": vtk.CellBlock.from_cells(cells)},
        cell_types=np.array([72, 42, 10, 1], np.uint8),
        point_data={
            "s": rng.random((27, 2)).astype(np.float32),
            "rgb": rng.integers(0, 256, (27, 3)).astype(np.uint8),
            "ids": np.arange(27) * 2**33 - 5,
            "bits3": rng.integers(0, 2, (27, 3)).astype(bool),
            "n": rng.standard_normal((27, 3)),
            "tc": rng.random((27, 2)).astype(np.float32),
            "ped": np.array([f"p {k} %\nµ" * (k * k) for k in range(27)]),
            "f32": np.tile(f32.astype(np.float32), 3),
            "c": np.arange(-128, 128, 9, dtype=np.int8)[:27],
            "edges": rng.integers(0, 2, 27).astype(np.uint8),
        },
        point_info={
            "s": info("scalars", "float", "lut", lut, ["a b", ""]),
            "rgb": info("color_scalars"),
            "ids": info("global_ids", "vtkIdType"),
            "n": info("normals", component_names=["x", "y", "z"]),
            "tc": info("texture_coordinates"),
            "ped": info("pedigree_ids", "string"),
            "c": info("field", "signed_char"),
            "edges": info("edge_flags"),
        },
        cell_data={
            "t9": rng.standard_normal((4, 9)),
            "t6": rng.standard_normal((4, 6)).astype(np.float32),
            "edges": np.array([1, 0, 1, 1], np.uint8),
            "weights": np.array([0.5, 1, 2, 4]),
            "u64": np.array([0, 1, 2**64 - 1, 2**63], np.uint64),
            "v": np.arange(12, dtype=np.int16).reshape(4, 3),
            "tc1": np.array([0.5, 1, 2, 4], np.float32),
            "gid": np.array([4, 3, 2, 1], np.int32),
        },
        cell_info={
            "t9": info("tensors"),
            "t6": info("tensors6"),
            "edges": info("edge_flags"),
            "weights": info("rational_weights"),
            "v": info("vectors"),
            "tc1": info("texture_coordinates"),
            "gid": info("global_ids"),
        },
        field_data={"TimeValue": np.array([0.25]), "names": np.array(["a", "", "b c"])},
        title="synthetic: every role, \xe9",
    )


def expected(mesh):
    """What VTK's reader should make of a written mesh, in the fixtures' keys."""
    out = {"meta/dataset": np.array(mesh.dataset), "meta/title": np.array(mesh.title)}
    out["points"] = mesh.points.astype(np.float32)
    out["cells/CELLS/connectivity"] = mesh.cells["CELLS"].connectivity
    out["cells/CELLS/offsets"] = mesh.cells["CELLS"].offsets
    out["cell_types"] = mesh.cell_types
    active = {"scalars": "scalars", "color_scalars": "scalars", "vectors": "vectors"}
    active.update(normals="normals", texture_coordinates="tcoords", tensors="tensors")
    active.update(tensors6="tensors", global_ids="global_ids", pedigree_ids="pedigree_ids")
    for group in ("point_data", "cell_data", "field_data"):
        infos = getattr(mesh, group.replace("data", "info"))
        for name, values in getattr(mesh, group).items():
            out[f"{group}/{name}"] = values
            i = infos.get(name)
            role = active.get(i.role) if i else None
            if role and f"active/{group}/{role}" not in out:
                out[f"active/{group}/{role}"] = np.array(name)
            if i and i.component_names:
                out[f"components/{group}/{name}"] = np.array(i.component_names)
            if i and i.table is not None:
                out[f"lookup/{group}/{name}"] = i.table
    return out


def bits(a):
    a = np.asarray(a)
    if a.dtype.kind == "U":
        return ("U", a.shape, [s.rstrip("\r") for s in a.ravel().tolist()])
    return (a.dtype.str, a.shape, np.ascontiguousarray(a).tobytes())


def why(key, got, want, layout):
    """The reason for a difference that the writer makes on purpose, or None."""
    g, w = np.asarray(got), np.asarray(want)
    if layout.endswith("ascii") and w.dtype.kind == "f" and not np.isfinite(w).all():
        return "VTK's reader stops at NaN and infinities in ASCII"
    if g.dtype == np.float64 and w.dtype.kind in "fi" and w.dtype != g.dtype and g.shape == w.shape:
        if key == "points" and np.array_equal(g.astype(w.dtype), w):
            # Text that is not exactly a float: VTK rounded it to one, this
            # package keeps the double, and a raw float cannot hold it.
            return "points read from text as doubles that no float holds, raw as double"
        if key.startswith("coordinates/") and np.array_equal(g, w.astype(np.float64)):
            return "the axes were declared of different types; a Mesh keeps one"
    return None


def compare_all(out):
    sys.path.insert(0, str(FIXTURES.parent))
    import vtk_truth

    counts = {"equal": 0, "explained": 0, "differ": 0}
    for path in sorted(out.glob("*__*.vtk")):
        stem, layout = path.stem.split("__")
        with np.load(
            out / "synthetic.npz" if stem == "synthetic" else FIXTURES / f"{stem}.npz"
        ) as npz:
            want = dict(npz)
        try:
            got = vtk_truth.truth(path.read_bytes())
        except ValueError as e:
            counts["differ"] += 1
            print(f"{stem} {layout}: {str(e).splitlines()[0][:160]}")
            continue
        keys = {k for k in set(got) | set(want) if k not in ("meta/version", "meta/binary")}
        lines, unexplained = [], False
        for key in sorted(keys):
            g, w = got.get(key), want.get(key)
            if g is None or w is None:
                lines.append(f"    {key}: {'missing' if g is None else 'extra'}")
                unexplained = True
            elif bits(g) != bits(w):
                reason = why(key, g, w, layout)
                unexplained |= reason is None
                shown = f"ours {g.dtype}{g.shape}, the fixture's {w.dtype}{w.shape}"
                lines.append(f"    {key}: {reason or shown}")
        counts["equal" if not lines else "differ" if unexplained else "explained"] += 1
        if lines:
            print(f"{stem} {layout}:", *lines, sep="\n")
    print(
        f"{sum(counts.values())} files: {counts['equal']} read by VTK as the fixture, "
        f"{counts['explained']} with the differences explained above, "
        f"{counts['differ']} differ otherwise"
    )
    return counts["differ"]


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("write", "compare"):
        sys.exit(__doc__)
    where = pathlib.Path(sys.argv[2])
    if sys.argv[1] == "write":
        write_all(where)
    elif compare_all(where):
        sys.exit(1)
