"""Every fixture against what the VTK library's own reader returns for it
(tests/python/data/fixtures: real writers' files in both encodings and every
dataset, hand-written ones in old writers' habits): every array, every cell and
every declared attribute, bit for bit; then each written back in both encodings
and layouts reads to the same mesh."""

import pathlib

import numpy as np
import pytest

from veltrane.codecs import vtk

DATA = pathlib.Path(__file__).parent / "data" / "fixtures"
FIXTURES = sorted(p.name for p in DATA.glob("*.vtk*"))
GROUPS = ("point_data", "cell_data", "field_data")
# The roles VTK reports active, and the sections that give each.
ACTIVE = {
    "scalars": ("scalars", "color_scalars"),
    "vectors": ("vectors",),
    "normals": ("normals",),
    "tcoords": ("texture_coordinates",),
    "tensors": ("tensors", "tensors6"),
    "global_ids": ("global_ids",),
    "pedigree_ids": ("pedigree_ids",),
}


def truth(name):
    stem = name.removesuffix(".gz").removesuffix(".vtk")
    with np.load(DATA / f"{stem}.npz") as npz:
        want = dict(npz)
    # Where this reader keeps what the VTK library's loses, on purpose: the
    # second of two GLOBAL_IDS arrays, which VTK drops; string values of a
    # CRLF file, where VTK keeps the CR as part of the value.
    if stem == "hw_duplicates":
        want["point_data/g2"] = np.array([12, 13], np.int32)
    for key, values in want.items():
        if values.dtype.kind == "U" and key.startswith(GROUPS):
            want[key] = np.char.rstrip(values, "\r")
    return want


def same(ours, theirs, what):
    """Equal in dtype, shape and bits (so -0.0 and NaN signs count); strings as text."""
    ours, theirs = np.asarray(ours), np.asarray(theirs)
    if theirs.dtype.kind == "U":
        assert ours.tolist() == theirs.tolist(), what
        return
    assert (ours.dtype, ours.shape) == (theirs.dtype, theirs.shape), what
    assert ours.tobytes() == theirs.tobytes(), what


def geometry_matches(mesh, want):
    if "points" in want:
        points = mesh.points
        assert points.dtype == np.float64
        # Point sets are float64 whatever the file declares: a float32 truth
        # is met by them rounded, exactly, as both read the same text.
        theirs = want["points"]
        same(points.astype(theirs.dtype), theirs, "points")
    for key in ("dimensions", "origin", "spacing"):
        if key in want:
            same(np.asarray(getattr(mesh, key), dtype=want[key].dtype), want[key], key)
    if "coordinates/x" in want:
        for axis, ours in zip("xyz", mesh.coordinates):
            theirs = want[f"coordinates/{axis}"]
            same(ours, theirs.astype(np.float64), f"coordinates {axis}")
    sections = {k.split("/")[1] for k in want if k.startswith("cells/")}
    assert set(mesh.cells) == sections
    for kw in sections:
        same(mesh.cells[kw].connectivity, want[f"cells/{kw}/connectivity"], kw)
        same(mesh.cells[kw].offsets, want[f"cells/{kw}/offsets"], kw)
    if "cell_types" in want:
        same(mesh.cell_types, want["cell_types"], "cell types")
    else:
        assert mesh.cell_types is None


def data_matches(mesh, want):
    for group in GROUPS:
        ours = getattr(mesh, group)
        theirs = {k.split("/", 1)[1]: v for k, v in want.items() if k.startswith(group + "/")}
        assert sorted(ours) == sorted(theirs), group
        for name, values in theirs.items():
            same(ours[name], values, f"{group} {name!r}")
        infos = getattr(mesh, group.replace("data", "info"))
        for name, info in infos.items():
            names = want.get(f"components/{group}/{name}")
            assert info.component_names == (None if names is None else names.tolist()), name
            table = want.get(f"lookup/{group}/{name}")
            if table is None:
                assert info.table is None, name
            else:
                same(info.table, table, f"lookup table of {name!r}")
        for role, sections in ACTIVE.items():
            first = next((n for n, i in infos.items() if i.role in sections), None)
            active = want.get(f"active/{group}/{role}")
            assert first == (None if active is None else str(active)), (group, role)


@pytest.mark.parametrize("name", FIXTURES)
def test_reads_what_vtk_reads(name):
    want = truth(name)
    mesh = vtk.read(DATA / name)
    assert mesh.dataset == str(want["meta/dataset"])
    assert mesh.version == str(want["meta/version"])
    assert mesh.title == str(want["meta/title"])
    geometry_matches(mesh, want)
    data_matches(mesh, want)


@pytest.mark.parametrize("binary", [False, True], ids=["ascii", "binary"])
@pytest.mark.parametrize("name", FIXTURES)
def test_writes_back_what_it_read(tmp_path, name, binary):
    mesh = vtk.read(DATA / name)
    want = truth(name)
    for version in ("4.2", "5.1"):
        path = tmp_path / f"back_{version}.vtk"
        vtk.write(path, mesh, version=version, binary=binary)
        back = vtk.read(path)
        assert back.dataset == mesh.dataset and back.title == mesh.title
        geometry_matches(back, want)
        data_matches(back, want)
