"""vtk.write where round trips cannot look: what it refuses, and that a refused
or failed write leaves no file behind; a title's bytes; gzip output; that a
file written a piece at a time is the same file whatever the pieces' size,
and that the pieces are all the writer holds besides the mesh.
(Round trips are in test_reader.py and test_vtk_truth.py.)"""

import gzip
import itertools
import re
import tracemalloc

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from mesh_strategies import meshes

from veltrane.codecs import vtk
from veltrane.codecs.vtk import ArrayInfo, CellBlock, Mesh, _chunks, _encode, _write_data


def grid(cells=(), types=(), n=3, **kw):
    return Mesh(
        points=np.zeros((n, 3)),
        cells={"CELLS": CellBlock.from_cells(cells)},
        cell_types=np.array(types, np.int64),
        **kw,
    )


def one_array(values, info=None, **kw):
    return grid(point_data={"a": values}, point_info={} if info is None else {"a": info}, **kw)


LUT = np.zeros((1, 4), np.uint8)
REFUSALS = [
    (Mesh(points=np.zeros((1, 2)), cells={}), "shape"),
    (Mesh(points=np.zeros((1, 3)), cells={}, title="a\nb"), "single line"),
    (Mesh(points=np.zeros((1, 3)), cells={}, point_data={"": np.zeros(1)}), "non-empty"),
    (Mesh(points=np.zeros((1, 3)), cells={}, point_data={"x": np.zeros(2)}), "1 rows"),
    (
        Mesh(points=np.zeros((1, 3)), cells={"CELLS": CellBlock.from_cells([[0]])}),
        "cell_types has 0 entries for 1 cells",
    ),
    (grid(title="é" * 128), "the title must fit in 255 bytes, not 256"),
    (grid(dataset="TABLE"), "cannot write DATASET 'TABLE'"),
    (Mesh(dataset="POLYDATA", cells={"CELLS": CellBlock.empty()}), "no cell section 'CELLS'"),
    (
        Mesh(points=np.zeros((2, 3)), cells={"CELLS": CellBlock([0, 1], [1, 2])}, cell_types=[3]),
        "CELLS: offsets must start at 0, never decrease and end at the length",
    ),
    (grid([[0, 3]], [3]), "CELLS: cell 0 has point index 3, outside 0 .. 2"),
    (grid([[0, -1]], [3]), "point index -1"),
    (grid([[2, 3, 0, 1, 2, 3, 0, 1]], [42]), "face list of polyhedron cell 0 does not fill its 8"),
    (grid([[0], [0, 1, 2, 0]], [1, 5]), "cell 1 is a TRIANGLE of 4 points, where 3 belong"),
    (grid([[0, 1]], [7]), "cell 0 is a POLYGON of 2 points, where at least 3 belong"),
    (grid([[0]], [256]), "cell types must be integers in 0 .. 255"),
    (
        Mesh(
            points=np.zeros((2, 3)),
            dataset="POLYDATA",
            cells={"LINES": CellBlock.from_cells([[0]])},
        ),
        "LINES: cell 0 has 1 points, fewer than the 2",
    ),
    (Mesh(dataset="STRUCTURED_POINTS"), "STRUCTURED_POINTS needs dimensions"),
    (
        Mesh(dataset="STRUCTURED_GRID", dimensions=(2, 1, 1), points=np.zeros((3, 3))),
        "dimensions (2, 1, 1) make 2 points, points holds 3",
    ),
    (
        Mesh(dataset="RECTILINEAR_GRID", dimensions=(2, 1, 1), coordinates=([0], [0], [0])),
        "X_COORDINATES must hold the 2 values dimensions say, not shape (1,)",
    ),
    (Mesh(dataset="FIELD", point_data={"a": np.zeros(0)}), "a FIELD file holds field data only"),
    (one_array(np.zeros((3, 2)), ArrayInfo("vectors")), "vectors have 3 components, not 2"),
    (one_array(np.zeros((3, 4)), ArrayInfo("texture_coordinates")), "1, 2 or 3 components, not 4"),
    (
        one_array(np.zeros(3), ArrayInfo("color_scalars")),
        "colour scalars must be uint8, not float64",
    ),
    (one_array(np.array(["x"] * 3), ArrayInfo("scalars")), "scalars must be numbers, not strings"),
    (one_array(np.zeros((3, 2)), ArrayInfo(component_names=["x"])), "must be 2 str"),
    (one_array(np.zeros(3, np.float16)), "cannot write arrays of dtype float16"),
    (one_array(np.array([1, "x", 2], object)), "object arrays must hold only str"),
    (one_array(np.array(["x", "\ud800", ""])), "'\\ud800' stands for no bytes"),
    (grid(title="\udfff"), "the title: '\\udfff' stands for no bytes"),
    (one_array(np.zeros(3), ArrayInfo("scalars", table=np.zeros((2, 3)))), "(n, 4) uint8"),
    (
        grid(
            point_data={"a": np.zeros(3), "b": np.zeros(3)},
            point_info={
                "a": ArrayInfo("scalars", lookup_table="t", table=LUT),
                "b": ArrayInfo("scalars", lookup_table="t", table=LUT + 1),
            },
        ),
        "'b': another array gives lookup table 't' other colours",
    ),
]


@pytest.mark.parametrize("mesh, message", REFUSALS, ids=[m for _, m in REFUSALS])
def test_refuses_what_would_not_read_back_and_leaves_no_file(tmp_path, mesh, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        vtk.write(tmp_path / "x.vtk", mesh)
    assert list(tmp_path.iterdir()) == []


def test_a_failed_write_leaves_the_old_file_whole(tmp_path, monkeypatch):
    target = tmp_path / "x.vtk"
    target.write_bytes(b"old")

    def fail(*args):
        raise OSError("disk full")

    monkeypatch.setattr(_encode.TextEncoder, "numbers", fail)
    with pytest.raises(OSError, match="disk full"):
        vtk.write(target, grid())
    assert list(tmp_path.iterdir()) == [target] and target.read_bytes() == b"old"


@pytest.mark.parametrize("binary", [False, True], ids=["ascii", "binary"])
def test_title_bytes_and_gzip(tmp_path, binary):
    # A title read from a file that is not UTF-8 keeps its bytes as surrogate
    # escapes, and goes back out as the same bytes.
    title = b"caf\xe9 \xff\xfe \xc2\xb5 ok".decode("utf-8", "surrogateescape")
    mesh = grid([[0, 1, 2]], [5], title=title, point_data={"t": np.arange(3.0)})
    vtk.write(tmp_path / "t.vtk", mesh, binary=binary)
    raw = (tmp_path / "t.vtk").read_bytes()
    assert raw.split(b"\n")[1] == b"caf\xe9 \xff\xfe \xc2\xb5 ok"
    vtk.write(tmp_path / "t.vtk.gz", mesh, binary=binary)
    assert gzip.decompress((tmp_path / "t.vtk.gz").read_bytes()) == raw
    back = vtk.read(tmp_path / "t.vtk.gz")
    assert back.title == title and back.point_data["t"].tolist() == [0, 1, 2]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["t.vtk", "t.vtk.gz"]


def test_binary_strings_of_every_length_prefix(tmp_path):
    # One, two and four bytes of length before a BINARY string: the edges of each.
    values = ["µ" * (n // 2) + "x" * (n % 2) for n in (0, 63, 64, 16383, 16384, 70001)]
    mesh = Mesh(dataset="FIELD", field_data={"s": np.array(values)})
    vtk.write(tmp_path / "s.vtk", mesh, binary=True)
    assert vtk.read(tmp_path / "s.vtk").field_data["s"].tolist() == values


def small_pieces(mp, size):
    for module in (_chunks, _encode, _write_data):
        mp.setattr(module, "CHUNK", size)


def pieces_mesh():
    """A cell and a row longer than a small piece, bits and strings that do not
    fill one, colours, hexahedra whose nodes the 4.2 layout reorders."""
    n = 27
    return Mesh(
        points=np.arange(3.0 * n).reshape(n, 3) / 7,
        cells={"CELLS": CellBlock.from_cells([list(range(n)), [0, 1, 2], list(range(27))])},
        cell_types=[2, 5, 72],
        point_data={
            "wide": np.arange(n * 7.0).reshape(n, 7),
            "bits": np.arange(n) % 3 == 0,
            "s": np.array(["x" * i for i in range(n)]),
            "c": np.arange(4 * n, dtype=np.uint8).reshape(n, 4),
        },
        point_info={"c": ArrayInfo("color_scalars")},
        cell_data={"f": np.array([0.1, -2.5, 1e30], np.float32)},
    )


def written(path, mesh, version, binary, size=None):
    with pytest.MonkeyPatch.context() as mp:
        if size is not None:
            small_pieces(mp, size)
        vtk.write(path, mesh, version=version, binary=binary)
    return path.read_bytes()


@pytest.mark.parametrize("version, binary", list(itertools.product(["4.2", "5.1"], [False, True])))
def test_small_pieces_make_the_same_file(tmp_path, version, binary):
    mesh = pieces_mesh()
    whole = written(tmp_path / "m.vtk", mesh, version, binary)
    for size in (1, 3, 8):
        assert written(tmp_path / "m.vtk", mesh, version, binary, size) == whole, size
    back = vtk.read(tmp_path / "m.vtk")
    assert back.cells["CELLS"].connectivity.tolist() == mesh.cells["CELLS"].connectivity.tolist()
    assert back.point_data["s"].tolist() == mesh.point_data["s"].tolist()
    assert back.point_data["bits"].tolist() == mesh.point_data["bits"].tolist()


@settings(
    max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(
    mesh=meshes(),
    version=st.sampled_from(["4.2", "5.1"]),
    binary=st.booleans(),
    size=st.integers(1, 9),
)
def test_any_mesh_in_any_pieces(tmp_path, mesh, version, binary, size):
    whole = written(tmp_path / "m.vtk", mesh, version, binary)
    assert written(tmp_path / "m.vtk", mesh, version, binary, size) == whole


@pytest.mark.parametrize("mesh, message", REFUSALS, ids=[m for _, m in REFUSALS])
def test_refusals_a_piece_at_a_time(tmp_path, monkeypatch, mesh, message):
    small_pieces(monkeypatch, 1)
    with pytest.raises(ValueError, match=re.escape(message)):
        vtk.write(tmp_path / "x.vtk", mesh)


@pytest.mark.parametrize("name, binary", [("m.vtk", False), ("m.vtk", True), ("m.vtk.gz", False)])
def test_holds_a_few_pieces_besides_the_mesh(tmp_path, name, binary):
    # 54 MB of arrays and 87 MB of text: the writer's checks, text and
    # big-endian copies go a piece at a time, each a few MiB at most.
    n = 600_000
    rng = np.random.default_rng(0)
    mesh = Mesh(
        points=rng.uniform(-1, 1, (n, 3)),
        cells={"CELLS": CellBlock(rng.integers(0, n, 4 * n), np.arange(0, 4 * n + 1, 4))},
        cell_types=np.full(n, 10, np.uint8),
        point_data={"v": rng.uniform(size=(n, 3)), "b": rng.integers(0, 2, n).astype(bool)},
        point_info={"v": ArrayInfo("vectors")},
    )
    tracemalloc.start()
    try:
        vtk.write(tmp_path / name, mesh, binary=binary)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 10 * 2**20
