"""meshio interop: round trips over every fixture, agreement with meshio's own
reader and writer, the cell shapes of each dataset, refusals, and
register_meshio routing meshio's .vtk reading and writing through vtk."""

import pathlib

import numpy as np
import pytest
from conftest import run_python

from veltrane.codecs import vtk

meshio = pytest.importorskip("meshio")

DATA = pathlib.Path(__file__).parent / "data"
FILES = sorted(DATA.glob("fixtures/*.vtk*")) + sorted(DATA.glob("real/*.vtk"))
IDS = [f"{p.parent.name}/{p.name}" for p in FILES]

# meshio's name of each VTK cell type both know, written out here rather than
# taken from the module: (VTK number, points of a cell; a polygon's is free).
NAMES = {"vertex": (1, 1), "line": (3, 2), "triangle": (5, 3), "polygon": (7, 5)}
NAMES |= {"quad": (9, 4), "tetra": (10, 4), "hexahedron": (12, 8), "wedge": (13, 6)}
NAMES |= {"pyramid": (14, 5), "line3": (21, 3), "triangle6": (22, 6), "quad8": (23, 8)}
NAMES |= {"tetra10": (24, 10), "hexahedron20": (25, 20), "quad9": (28, 9)}
NAMES |= {"hexahedron27": (29, 27), "wedge18": (32, 18), "line4": (35, 4)}
LAGRANGE = ["CURVE", "TRIANGLE", "QUADRILATERAL", "TETRAHEDRON", "HEXAHEDRON", "WEDGE"]
for t, (shape, k) in enumerate(zip(LAGRANGE + ["PYRAMID"], [4, 10, 16, 20, 27, 18, 14]), 68):
    NAMES[f"VTK_LAGRANGE_{shape}"] = (t, k)
KNOWN = {t for t, _ in NAMES.values()} | {42}
# How VTK types the cells of each POLYDATA section by their size.
POLYDATA = {"VERTICES": ({1: 1}, 2), "LINES": ({2: 3}, 4), "POLYGONS": ({3: 5, 4: 9}, 7)}
POLYDATA["TRIANGLE_STRIPS"] = ({}, 6)
# Files meshio's own reader reads (it exits or fails on the others).
MESHIO_READS = ["hw_float_digits", "hw_lagrange_hex_51", "hw_v30_image_aspect_lut"]
MESHIO_READS += [f"meshio_ugrid_{e}_{v}" for e in ("ascii", "binary") for v in ("42", "51")]
MESHIO_READS += ["vtk_image2d_ascii_42", "vtk_image3d_ascii_42"]
MESHIO_READS = [f"fixtures/{n}.vtk" for n in MESHIO_READS]
MESHIO_READS += ["real/meshio_ugrid_42.vtk", "real/meshio_ugrid_51.vtk"]


def bits(a):
    """dtype (native byte order), shape and bytes: -0.0 and NaN signs count."""
    a = np.asarray(a)
    if a.dtype.kind == "U":
        return a.dtype.str, a.shape, a.tolist()
    a = np.ascontiguousarray(a.astype(a.dtype.newbyteorder("=")))
    return a.dtype.str, a.shape, a.tobytes()


def typed(mesh):
    """[(VTK type, indices)] of every cell in cell_data's order, None for grids."""
    if mesh.dataset == "UNSTRUCTURED_GRID":
        block = mesh.cells.get("CELLS", vtk.CellBlock.empty())
        types = [] if mesh.cell_types is None else mesh.cell_types.tolist()
        return [(t, c.tolist()) for t, c in zip(types, block)]
    if mesh.dataset == "POLYDATA":
        out = []
        for kw, (by_size, other) in POLYDATA.items():
            out += [(by_size.get(len(c), other), c.tolist()) for c in mesh.cells.get(kw, [])]
        return out
    return None


def blocks(m):
    """A meshio mesh's cells as (type, nested lists)."""
    return [
        (c.type, [[f.tolist() for f in cell] for cell in c.data])
        if c.type.startswith("polyhedron")
        else (c.type, c.data.tolist())
        for c in m.cells
    ]


def same_data(ours, theirs):
    for group in ("point_data", "cell_data", "field_data"):
        a, b = getattr(ours, group), getattr(theirs, group)
        assert list(a) == list(b), group
        for name in a:
            assert bits(a[name]) == bits(b[name]), (group, name)


@pytest.mark.parametrize("path", FILES, ids=IDS)
def test_round_trip(path):
    mesh = vtk.read(path)
    cells = typed(mesh)
    unknown = sorted({t for t, _ in cells or []} - KNOWN)
    if unknown:
        with pytest.raises(ValueError) as e:
            vtk.to_meshio(mesh)
        for t in unknown:
            assert f"{vtk.CELL_TYPE_NAMES[t]} (VTK cell type {t})" in str(e.value)
        # The rest goes through: the cells of known types and their rows.
        keep = [j for j, (t, _) in enumerate(cells) if t in KNOWN]
        cells = [cells[j] for j in keep]
        mesh = vtk.Mesh(
            mesh.points,
            {"CELLS": vtk.CellBlock.from_cells([c for _, c in cells])},
            [t for t, _ in cells],
            point_data=mesh.point_data,
            cell_data={k: v[keep] for k, v in mesh.cell_data.items()},
            field_data=mesh.field_data,
        )
    m = vtk.to_meshio(mesh)
    assert all(isinstance(c.data, list) or c.data.dtype == np.int64 for c in m.cells)
    back = vtk.from_meshio(m)
    assert back.dataset == "UNSTRUCTURED_GRID" and back.cell_types.dtype == np.uint8
    assert bits(back.points) == bits(m.points) == bits(np.asarray(mesh.points, np.float64))
    got = list(zip(back.cell_types.tolist(), (c.tolist() for c in back.cells["CELLS"])))
    if cells is None:
        # A grid's cells: as many as it has, of one shape.
        shapes = {t for t, _ in got}
        assert len(got) == mesh.n_cells and len(shapes) <= 1 and shapes <= {1, 3, 9, 12}
    else:
        assert got == cells
    same_data(back, mesh)


@pytest.mark.parametrize("name", MESHIO_READS)
def test_agrees_with_meshio_reader(name):
    path = DATA / name
    ours, theirs = vtk.to_meshio(vtk.read(path)), meshio.read(path)
    assert [c.type for c in ours.cells] == [c.type for c in theirs.cells]
    for a, b in zip(ours.cells, theirs.cells):
        # meshio keeps the file's integer type and byte order; ours are int64.
        assert a.data.tolist() == b.data.tolist()
    if "image" in name:
        # meshio spaces an image's points with linspace, VTK (and this
        # package) as origin + i * spacing; its arrays are (n, 1) and keep %20.
        np.testing.assert_allclose(ours.points, theirs.points, rtol=0, atol=1e-15)
        return
    # Points are float64 here whatever the file declares; meshio keeps float.
    assert bits(ours.points) == bits(theirs.points.astype(np.float64))
    # Joined back, the data are the same: names, dtypes (up to byte order), values.
    same_data(vtk.from_meshio(ours), vtk.from_meshio(theirs))


@pytest.mark.parametrize("version", ["4.2", "5.1"])
@pytest.mark.parametrize("binary", [False, True])
def test_cell_types_agree_with_meshio_writer(tmp_path, version, binary):
    """One block of every type both know: meshio's own writer gives the VTK
    numbers and node orders that from_meshio gives, and to_meshio turns the
    file back into meshio's blocks."""
    rng = np.random.default_rng(7)
    # meshio's 4.2 writer puts a Lagrange hexahedron's nodes down in the 5.1
    # order, which VTK reads otherwise; its 4.2 reader takes no Lagrange cell.
    names = {n: tk for n, tk in NAMES.items() if version == "5.1" or tk[0] < 68}
    m = meshio.Mesh(
        rng.random((60, 3)),
        [(n, np.stack([rng.permutation(60)[:k] for _ in "ab"])) for n, (_, k) in names.items()],
    )
    path = tmp_path / "m.vtk"
    meshio.vtk.write(path, m, fmt_version=version, binary=binary)
    mesh, ours = vtk.read(path), vtk.from_meshio(m)
    assert mesh.cell_types.tolist() == [t for t, _ in names.values() for _ in "ab"]
    assert bits(mesh.cell_types) == bits(ours.cell_types)
    assert bits(mesh.cells["CELLS"].connectivity) == bits(ours.cells["CELLS"].connectivity)
    assert blocks(vtk.to_meshio(mesh)) == blocks(m)


CUBE = [[0, 3, 2, 1], [4, 5, 6, 7], [0, 1, 5, 4], [1, 2, 6, 5], [2, 3, 7, 6], [3, 0, 4, 7]]
TETRA_FACES = [[0, 1, 2], [0, 1, 8], [1, 2, 8], [2, 0, 8]]


def _stream(faces):
    return [len(faces)] + [i for f in faces for i in (len(f), *f)]


def _polydata(**sections):
    cells = {kw: vtk.CellBlock.from_cells(c) for kw, c in sections.items()}
    return vtk.Mesh(np.zeros((9, 3)), cells, dataset="POLYDATA")


def _grid(dims, **kw):
    return vtk.Mesh(
        dataset="STRUCTURED_POINTS", dimensions=dims, origin=[0, 0, 0], spacing=[1, 1, 1], **kw
    )


def _cells(types, cells):
    return vtk.Mesh(np.zeros((9, 3)), {"CELLS": vtk.CellBlock.from_cells(cells)}, types)


POLYGONS = [[0, 1, 2], [1, 2, 3], [0, 1, 2, 3], [0, 1, 2, 3, 4], [4, 3, 2, 1, 0, 5]]
SHAPES = [
    # Polyhedra: named by their distinct points, held as lists of faces.
    (
        _cells([42] * 3, map(_stream, [CUBE, CUBE, TETRA_FACES])),
        [("polyhedron8", [CUBE, CUBE]), ("polyhedron4", [TETRA_FACES])],
    ),
    # Polydata: sections in VTK's order, typed by size; a polygon block per
    # run of one size, as meshio's reader makes them.
    (
        _polydata(POLYGONS=POLYGONS, LINES=[[0, 1]], VERTICES=[[4], [5]]),
        [("vertex", [[4], [5]]), ("line", [[0, 1]]), ("triangle", POLYGONS[:2])]
        + [("quad", POLYGONS[2:3]), ("polygon", POLYGONS[3:4]), ("polygon", POLYGONS[4:])],
    ),
    # Grids: x fastest; corners round each face; flat axes dropped.
    (_grid((3, 2, 1)), [("quad", [[0, 1, 4, 3], [1, 2, 5, 4]])]),
    (_grid((1, 2, 2)), [("quad", [[0, 1, 3, 2]])]),
    (_grid((2, 2, 2)), [("hexahedron", [[0, 1, 3, 2, 4, 5, 7, 6]])]),
    (_grid((1, 3, 1)), [("line", [[0, 1], [1, 2]])]),
    (_grid((1, 1, 1)), [("vertex", [[0]])]),
    (_grid((0, 2, 2)), []),
    (vtk.Mesh(dataset="FIELD", field_data={"t": np.array([0.5])}), []),
    # Refusals, by their messages.
    (
        _cells([8], [range(4)]),
        "UNSTRUCTURED_GRID: meshio has no cell type for PIXEL (VTK cell type 8)",
    ),
    (
        _polydata(TRIANGLE_STRIPS=[[0, 1, 2, 3]], LINES=[[0, 1, 2]]),
        "POLY_LINE (VTK cell type 4), TRIANGLE_STRIP (VTK cell type 6)",
    ),
    (_cells([42], [[2, 1, 0]]), "the face list of polyhedron cell 0 does not fill its entry"),
    (_grid((2, 1, 1), cell_data={"c": np.zeros(2)}), "cell_data 'c' has 2 rows for 1 cells"),
    (
        meshio.Mesh(np.zeros((10, 3)), [("triangle10", [range(10)])]),
        "from_meshio: cell block 0: VTK has no cell type for meshio's 'triangle10'",
    ),
    (meshio.Mesh(np.zeros((1, 4)), []), "points of shape (1, 4), not (n, 1 to 3)"),
]


@pytest.mark.parametrize(("mesh", "want"), SHAPES)
def test_shapes(mesh, want):
    convert = vtk.to_meshio if isinstance(mesh, vtk.Mesh) else vtk.from_meshio
    if isinstance(want, str):
        with pytest.raises(ValueError) as e:
            convert(mesh)
        assert want in str(e.value)
        return
    m = convert(mesh)
    assert blocks(m) == want
    assert bits(m.points) == bits(mesh.points)
    assert m.field_data.keys() == mesh.field_data.keys()


def test_from_meshio_fills_flat_points():
    mesh = vtk.from_meshio(meshio.Mesh(np.array([[1, 2], [3, 4]], np.int32), []))
    assert bits(mesh.points) == bits(np.array([[1, 2, 0], [3, 4, 0.0]]))


def test_register_meshio(tmp_path):
    """meshio.read and meshio.write of .vtk go through this package: files its
    own reader refuses read, errors are vtk's, the written file is vtk.write's."""
    bad = "# vtk DataFile Version 4.2\nt\nASCII\nDATASET POLYDATA\nCELLS 0 0\n"
    (tmp_path / "bad.vtk").write_text(bad)
    run_python(
        f"""
        import pathlib, sys
        sys.path.insert(0, {str(pathlib.Path(__file__).parent)!r})
        import meshio
        from veltrane.codecs import vtk
        from test_meshio import FILES, bits, blocks, same_data
        vtk.register_meshio()
        vtk.register_meshio()
        assert meshio.extension_to_filetypes[".vtk"].count("vtk") == 1
        tmp = pathlib.Path({str(tmp_path)!r})
        read = 0
        for path in FILES:
            if path.suffix != ".vtk":
                continue
            try:
                want = vtk.to_meshio(vtk.read(path))
            except ValueError:
                continue
            got = meshio.read(path)
            read += 1
            assert bits(got.points) == bits(want.points)
            assert blocks(got) == blocks(want)
            same_data(vtk.from_meshio(got), vtk.from_meshio(want))
            for fmt, kw, head in [
                (None, {{}}, [b"# vtk DataFile Version 5.1", b"", b"BINARY"]),
                ("vtk42", {{"binary": False}}, [b"# vtk DataFile Version 4.2", b"", b"ASCII"]),
            ]:
                meshio.write(tmp / "w.vtk", got, file_format=fmt, **kw)
                assert (tmp / "w.vtk").read_bytes().split(b"\\n")[:3] == head
                mesh, ours = vtk.read(tmp / "w.vtk"), vtk.from_meshio(got)
                same_data(mesh, ours)
                assert bits(mesh.cell_types) == bits(ours.cell_types)
        assert read >= 40, read
        try:
            meshio.read(tmp / "bad.vtk")
        except vtk.VtkFormatError as e:
            assert e.lineno == 5, e
        else:
            raise AssertionError("no error")
        """
    )
