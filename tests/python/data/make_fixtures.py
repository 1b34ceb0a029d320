"""Makes the real-writer fixtures under tests/python/data/real/ and examples/grid.vtk.gz.

Needs a Python with the VTK library's bindings (`vtk`, 9.x), meshio and NumPy,
none of which the test environment has: in Debian sid, python3-vtk9,
python3-meshio and python3-numpy under the distribution's python3. The tests
only read what this script leaves behind. A throwaway root made with

    debootstrap --variant=minbase --include=python3-vtk9,python3-meshio,python3-numpy \\
        sid ROOT http://deb.debian.org/debian

runs it with the checkout bind-mounted at ROOT/src:

    unshare -m sh -c 'mount --bind "$PWD" ROOT/src &&
        chroot ROOT python3 /src/tests/python/data/make_fixtures.py'

For each fixture NAME it writes NAME.vtk, made by VTK's or meshio's own
writer, and NAME.npz, what that library's own reader returns for the file:
keys 'points', 'cell_types', 'cells/SECTION/connectivity', 'cells/SECTION/offsets',
'point_data/NAME', 'cell_data/NAME', 'field_data/NAME' and 'meta/...'.

The writer is checked against VTK's reader by check_writer.py beside this file.
"""

import argparse
import pathlib

import meshio
import numpy as np
import vtk
from vtk.util.numpy_support import numpy_to_vtk, vtk_to_numpy

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parents[2]
OUT = HERE / "real"


# -- what the libraries' own readers return -----------------------------------


def vtk_array(a):
    """One array as VTK's reader holds it: 1-D for one component, (n, k) else."""
    n, k = a.GetNumberOfTuples(), a.GetNumberOfComponents()
    if isinstance(a, vtk.vtkStringArray):
        values = np.array([a.GetValue(i) for i in range(n * k)], dtype=np.str_)
    elif isinstance(a, vtk.vtkBitArray):
        values = np.array([a.GetValue(i) for i in range(n * k)], dtype=np.bool_)
    else:
        values = vtk_to_numpy(a).copy()
    return values.reshape(n, k) if k > 1 else values.reshape(n)


def vtk_oracle(path):
    r = vtk.vtkDataSetReader()
    r.SetFileName(str(path))
    r.ReadAllScalarsOn()
    r.ReadAllVectorsOn()
    r.ReadAllNormalsOn()
    r.ReadAllTensorsOn()
    r.ReadAllColorScalarsOn()
    r.ReadAllTCoordsOn()
    r.ReadAllFieldsOn()
    r.Update()
    d = r.GetOutput()
    out = {
        "meta/title": np.array(r.GetHeader()),
        "meta/version": np.array(f"{r.GetFileMajorVersion()}.{r.GetFileMinorVersion()}"),
    }
    pts = d.GetPoints()
    out["points"] = vtk_to_numpy(pts.GetData()).copy() if pts else np.zeros((0, 3))
    if isinstance(d, vtk.vtkUnstructuredGrid):
        out["meta/dataset"] = np.array("UNSTRUCTURED_GRID")
        conn, offsets, types = [], [0], []
        ids = vtk.vtkIdList()
        for c in range(d.GetNumberOfCells()):
            t = d.GetCellType(c)
            if t == vtk.VTK_POLYHEDRON:
                d.GetFaceStream(c, ids)
            else:
                d.GetCellPoints(c, ids)
            conn.extend(ids.GetId(i) for i in range(ids.GetNumberOfIds()))
            offsets.append(len(conn))
            types.append(t)
        out["cells/CELLS/connectivity"] = np.array(conn, dtype=np.int64)
        out["cells/CELLS/offsets"] = np.array(offsets, dtype=np.int64)
        out["cell_types"] = np.array(types, dtype=np.uint8)
    else:
        out["meta/dataset"] = np.array("POLYDATA")
        for kw, ca in (
            ("VERTICES", d.GetVerts()),
            ("LINES", d.GetLines()),
            ("POLYGONS", d.GetPolys()),
            ("TRIANGLE_STRIPS", d.GetStrips()),
        ):
            out[f"cells/{kw}/connectivity"] = vtk_to_numpy(ca.GetConnectivityArray()).astype(
                np.int64
            )
            out[f"cells/{kw}/offsets"] = vtk_to_numpy(ca.GetOffsetsArray()).astype(np.int64)
    for prefix, fd in (
        ("point_data", d.GetPointData()),
        ("cell_data", d.GetCellData()),
        ("field_data", d.GetFieldData()),
    ):
        for i in range(fd.GetNumberOfArrays()):
            a = fd.GetAbstractArray(i)
            out[f"{prefix}/{a.GetName()}"] = vtk_array(a)
    return out


def meshio_oracle(path):
    m = meshio.read(path)
    conn, offsets, types = [], [0], []
    for block in m.cells:
        data = np.asarray(block.data)
        if block.type == "wedge":
            # meshio numbers a wedge's nodes in its own order; the file, like
            # VTK, holds each triangle in the other direction.
            data = data[:, [0, 2, 1, 3, 5, 4]]
        for row in data:
            conn.extend(row.tolist())
            offsets.append(len(conn))
            types.append(meshio._vtk_common.meshio_to_vtk_type[block.type])
    out = {
        "points": m.points,
        "meta/dataset": np.array("UNSTRUCTURED_GRID"),
        "cells/CELLS/connectivity": np.array(conn, dtype=np.int64),
        "cells/CELLS/offsets": np.array(offsets, dtype=np.int64),
        "cell_types": np.array(types, dtype=np.uint8),
    }
    for name, a in m.point_data.items():
        out[f"point_data/{name}"] = a
    for name, blocks in m.cell_data.items():
        out[f"cell_data/{name}"] = np.concatenate(blocks)
    return out


# -- the fixtures ---------------------------------------------------------------


def add(data, name, values, vtk_type=None):
    a = numpy_to_vtk(np.ascontiguousarray(values), deep=True, array_type=vtk_type)
    a.SetName(name)
    data.AddArray(a)
    return a


def typed_arrays(data, n, rng):
    """One array of each type the writer spells, with extreme values in range."""
    kinds = [
        ("int8 values", np.int8, vtk.VTK_SIGNED_CHAR),
        ("char", np.int8, vtk.VTK_CHAR),
        ("uint8", np.uint8, None),
        ("int16", np.int16, None),
        ("uint16", np.uint16, None),
        ("int32", np.int32, None),
        ("uint32", np.uint32, None),
        ("long", np.int64, vtk.VTK_LONG),
        ("unsigned long", np.uint64, vtk.VTK_UNSIGNED_LONG),
        ("int64", np.int64, vtk.VTK_LONG_LONG),
        ("uint64", np.uint64, vtk.VTK_UNSIGNED_LONG_LONG),
        ("ids", np.int64, vtk.VTK_ID_TYPE),
    ]
    for name, dt, vt in kinds:
        info = np.iinfo(dt)
        v = rng.integers(info.min, info.max, size=n, dtype=dt, endpoint=True)
        v[:2] = [info.min, info.max]
        add(data, name, v, vt)
    bits = vtk.vtkBitArray()
    bits.SetName("flags")
    for v in rng.integers(0, 2, size=n):
        bits.InsertNextValue(int(v))
    data.AddArray(bits)
    strings = vtk.vtkStringArray()
    strings.SetName("labels")
    for i in range(n):
        strings.InsertNextValue(["a b", "c%d", "", "µ"][i % 4] + str(i))
    data.AddArray(strings)
    f32 = (rng.standard_normal(n) * 1e3).astype(np.float32)
    f32[:3] = [np.float32(0.1), -0.0, np.float32(3.4e38)]
    add(data, "single precision", f32)
    f64 = rng.standard_normal((n, 2)) * 10.0 ** rng.integers(-300, 300, size=(n, 2))
    add(data, "double pair", f64)


def unstructured_grid(rng):
    g = vtk.vtkUnstructuredGrid()
    n_points = 120
    pts = vtk.vtkPoints()
    pts.SetData(numpy_to_vtk(rng.random((n_points, 3)).astype(np.float32), deep=True))
    g.SetPoints(pts)

    def pick(k):
        return rng.choice(n_points, size=k, replace=False).tolist()

    shapes = [
        (vtk.VTK_VERTEX, 1),
        (vtk.VTK_POLY_VERTEX, 5),
        (vtk.VTK_LINE, 2),
        (vtk.VTK_POLY_LINE, 4),
        (vtk.VTK_TRIANGLE, 3),
        (vtk.VTK_POLYGON, 6),
        (vtk.VTK_QUAD, 4),
        (vtk.VTK_TETRA, 4),
        (vtk.VTK_HEXAHEDRON, 8),
        (vtk.VTK_WEDGE, 6),
        (vtk.VTK_PYRAMID, 5),
        (vtk.VTK_QUADRATIC_TETRA, 10),
        (vtk.VTK_QUADRATIC_HEXAHEDRON, 20),
        (vtk.VTK_TRIANGLE_STRIP, 5),
    ]
    for i in range(40):
        t, k = shapes[i % len(shapes)]
        g.InsertNextCell(t, k, pick(k))
        if i % 13 == 5:
            # A polyhedron given as its faces: a cube with one split side.
            p = pick(8)
            faces = [
                [p[0], p[1], p[2], p[3]],
                [p[4], p[5], p[6]],
                [p[4], p[6], p[7]],
                [p[0], p[1], p[5], p[4]],
                [p[1], p[2], p[6], p[5]],
                [p[2], p[3], p[7], p[6]],
                [p[3], p[0], p[4], p[7]],
            ]
            stream = [len(faces)] + [x for f in faces for x in [len(f)] + f]
            ids = vtk.vtkIdList()
            for x in stream:
                ids.InsertNextId(x)
            g.InsertNextCell(vtk.VTK_POLYHEDRON, ids)
    n_cells = g.GetNumberOfCells()
    pd, cd = g.GetPointData(), g.GetCellData()
    s = numpy_to_vtk(rng.random(n_points).astype(np.float32), deep=True)
    s.SetName("temperature in K")
    pd.SetScalars(s)
    v = numpy_to_vtk(rng.standard_normal((n_points, 3)), deep=True)
    v.SetName("velocity")
    pd.SetVectors(v)
    v.GetRange(-1)  # leaves an information key that the writer puts in METADATA
    nrm = numpy_to_vtk(rng.standard_normal((n_points, 3)).astype(np.float32), deep=True)
    nrm.SetName("normals")
    pd.SetNormals(nrm)
    t = numpy_to_vtk(rng.standard_normal((n_points, 9)), deep=True)
    t.SetName("stress")
    pd.SetTensors(t)
    tc = numpy_to_vtk(rng.random((n_points, 2)).astype(np.float32), deep=True)
    tc.SetName("uv")
    pd.SetTCoords(tc)
    gid = numpy_to_vtk(np.arange(n_points, dtype=np.int64), deep=True, array_type=vtk.VTK_ID_TYPE)
    gid.SetName("global ids")
    pd.SetGlobalIds(gid)
    typed_arrays(pd, n_points, rng)
    named = add(pd, "xyzw", rng.random((n_points, 4)))
    named.SetComponentName(0, "first one")
    named.SetComponentName(3, "last")
    cs = numpy_to_vtk(rng.integers(0, 4, size=n_cells, dtype=np.int32), deep=True)
    cs.SetName("material id")
    cd.SetScalars(cs)
    typed_arrays(cd, n_cells, rng)
    add(g.GetFieldData(), "TimeValue", np.array([1.25]))
    add(g.GetFieldData(), "step", np.array([7, 8, 9], dtype=np.int32))
    return g


def polydata(rng):
    p = vtk.vtkPolyData()
    n_points = 64
    pts = vtk.vtkPoints()
    pts.SetDataTypeToDouble()
    pts.SetData(numpy_to_vtk(rng.standard_normal((n_points, 3)) / 3, deep=True))
    p.SetPoints(pts)

    def cells(sizes):
        ca = vtk.vtkCellArray()
        for k in sizes:
            ca.InsertNextCell(k, rng.choice(n_points, size=k, replace=False).tolist())
        return ca

    p.SetVerts(cells([1, 1, 3, 1]))
    p.SetLines(cells([2, 2, 5, 9]))
    p.SetPolys(cells([3, 3, 4, 5, 3, 7, 4]))
    p.SetStrips(cells([4, 6, 5]))
    n_cells = p.GetNumberOfCells()
    pd, cd = p.GetPointData(), p.GetCellData()
    rgb = numpy_to_vtk(rng.integers(0, 256, size=(n_points, 3), dtype=np.uint8), deep=True)
    rgb.SetName("colour")
    pd.SetScalars(rgb)
    nrm = numpy_to_vtk(rng.standard_normal((n_points, 3)), deep=True)
    nrm.SetName("normals")
    pd.SetNormals(nrm)
    tc = numpy_to_vtk(rng.random((n_points, 3)), deep=True)
    tc.SetName("uvw")
    pd.SetTCoords(tc)
    t = numpy_to_vtk(rng.standard_normal((n_points, 9)).astype(np.float32), deep=True)
    t.SetName("tensor")
    pd.SetTensors(t)
    typed_arrays(pd, n_points, rng)
    sc = numpy_to_vtk(rng.standard_normal((n_cells, 2)), deep=True)
    sc.SetName("cell pair")
    cd.SetScalars(sc)
    vec = numpy_to_vtk(rng.standard_normal((n_cells, 3)).astype(np.float32), deep=True)
    vec.SetName("flux")
    cd.SetVectors(vec)
    typed_arrays(cd, n_cells, rng)
    return p


def sphere():
    s = vtk.vtkSphereSource()
    s.SetThetaResolution(48)
    s.SetPhiResolution(24)
    e = vtk.vtkElevationFilter()
    e.SetInputConnection(s.GetOutputPort())
    e.Update()
    return e.GetOutput()


def points_only(rng):
    g = vtk.vtkUnstructuredGrid()
    pts = vtk.vtkPoints()
    pts.SetData(numpy_to_vtk(rng.random((10, 3)), deep=True))
    g.SetPoints(pts)
    add(g.GetPointData(), "height", rng.random(10))
    return g


def write_vtk(data, path, version):
    w = vtk.vtkDataSetWriter()
    w.SetInputData(data)
    w.SetFileName(str(path))
    w.SetFileTypeToASCII()
    w.SetFileVersion(version)
    if not w.Write():
        raise RuntimeError(f"VTK could not write {path}")


def meshio_mesh(rng):
    pts = np.round(rng.random((40, 3)), 6)

    def pick(n, k):
        return np.array([rng.choice(40, size=k, replace=False) for _ in range(n)])

    cells = [
        ("tetra", pick(6, 4)),
        ("hexahedron", pick(3, 8)),
        ("tetra", pick(2, 4)),
        ("triangle", pick(5, 3)),
        ("line", pick(4, 2)),
        ("vertex", pick(2, 1)),
        ("wedge", pick(2, 6)),
    ]
    n_cells = sum(len(c[1]) for c in cells)
    point_data = {
        "density": rng.random(40),
        "speed": rng.random((40, 3)).astype(np.float32),
        "label": rng.integers(-9, 9, size=40).astype(np.int32),
        "count": rng.integers(0, 2**40, size=40).astype(np.int64),
    }
    cell_values = rng.standard_normal(n_cells)
    cell_ids = np.arange(n_cells, dtype=np.int64)
    split = np.cumsum([len(c[1]) for c in cells])[:-1]
    cell_data = {"pressure": np.split(cell_values, split), "cell id": np.split(cell_ids, split)}
    cell_data["cell_id"] = cell_data.pop("cell id")  # meshio refuses blanks in names
    return meshio.Mesh(pts, cells, point_data=point_data, cell_data=cell_data)


def make_fixtures():
    OUT.mkdir(exist_ok=True)
    made = []
    rng = np.random.default_rng(20261207)
    for name, data in (("vtk_ugrid", unstructured_grid(rng)), ("vtk_polydata", polydata(rng))):
        for version in (42, 51):
            made.append((f"{name}_{version}", data, version))
    made.append(("vtk_sphere_42", sphere(), 42))
    made.append(("vtk_points_only_51", points_only(rng), 51))
    for name, data, version in made:
        path = OUT / f"{name}.vtk"
        write_vtk(data, path, version)
        np.savez_compressed(OUT / f"{name}.npz", **vtk_oracle(path))
    mesh = meshio_mesh(rng)
    for version in ("4.2", "5.1"):
        name = f"meshio_ugrid_{version.replace('.', '')}"
        path = OUT / f"{name}.vtk"
        meshio.vtk.write(path, mesh, binary=False, fmt_version=version)
        oracle = meshio_oracle(path)
        oracle["meta/version"] = np.array(version)
        np.savez_compressed(OUT / f"{name}.npz", **oracle)
        made.append((name, None, version))
    for name, *_ in made:
        print(f"{name}.vtk: {(OUT / f'{name}.vtk').stat().st_size} bytes")


def make_example():
    """A VTK-written unstructured grid of 287,496 points: a warped block of
    hexahedra whose one corner is cut into tetrahedra, with point and cell data."""
    import gzip

    n = 66
    ax = np.linspace(0.0, 1.0, n)
    x, y, z = np.meshgrid(ax, ax, ax, indexing="ij")
    x = x + 0.05 * np.sin(2 * np.pi * y) * z
    pts = np.stack([x, y, z], axis=-1).reshape(-1, 3)
    idx = np.arange(n**3).reshape(n, n, n)
    c = idx[:-1, :-1, :-1]
    hexes = np.stack(
        [c, c + n * n, c + n * n + n, c + n, c + 1, c + n * n + 1, c + n * n + n + 1, c + n + 1],
        axis=-1,
    )
    corner = np.zeros((n - 1,) * 3, bool)
    corner[:16, :16, :16] = True
    h = hexes[~corner].reshape(-1, 8)
    k = hexes[corner].reshape(-1, 8)
    tets = np.concatenate(
        [
            k[:, [0, 1, 3, 4]],
            k[:, [1, 2, 3, 6]],
            k[:, [1, 4, 5, 6]],
            k[:, [3, 4, 6, 7]],
            k[:, [1, 3, 4, 6]],
        ]
    )
    sizes = np.concatenate([np.full(len(h), 8), np.full(len(tets), 4)])
    conn = np.concatenate([h.ravel(), tets.ravel()])
    offsets = np.concatenate([[0], np.cumsum(sizes)])
    types = np.concatenate(
        [np.full(len(h), vtk.VTK_HEXAHEDRON), np.full(len(tets), vtk.VTK_TETRA)]
    ).astype(np.uint8)
    ca = vtk.vtkCellArray()
    ca.SetData(
        numpy_to_vtk(offsets.astype(np.int64), deep=True, array_type=vtk.VTK_ID_TYPE),
        numpy_to_vtk(conn.astype(np.int64), deep=True, array_type=vtk.VTK_ID_TYPE),
    )
    g = vtk.vtkUnstructuredGrid()
    vp = vtk.vtkPoints()
    vp.SetData(numpy_to_vtk(pts.astype(np.float32), deep=True))
    g.SetPoints(vp)
    g.SetCells(numpy_to_vtk(types, deep=True, array_type=vtk.VTK_UNSIGNED_CHAR), ca)
    temp = numpy_to_vtk((300 + 50 * pts[:, 2] * pts[:, 0]).astype(np.float32), deep=True)
    temp.SetName("temperature")
    g.GetPointData().SetScalars(temp)
    vel = numpy_to_vtk(
        np.stack([pts[:, 1], -pts[:, 0], 0 * pts[:, 2]], axis=1).astype(np.float32), deep=True
    )
    vel.SetName("velocity")
    g.GetPointData().SetVectors(vel)
    region = numpy_to_vtk((types == vtk.VTK_TETRA).astype(np.int32), deep=True)
    region.SetName("region id")
    g.GetCellData().AddArray(region)
    w = vtk.vtkUnstructuredGridWriter()
    w.SetInputData(g)
    w.SetFileTypeToASCII()
    w.SetFileVersion(42)
    w.SetHeader("veltrane example: warped block, hexahedra and tetrahedra")
    w.WriteToOutputStringOn()
    w.Write()
    text = w.GetOutputStdString().encode()
    out = REPO / "examples" / "grid.vtk.gz"
    out.parent.mkdir(exist_ok=True)
    # mtime=0 keeps the archive the same from run to run.
    out.write_bytes(gzip.compress(text, compresslevel=9, mtime=0))
    print(f"{out}: {out.stat().st_size} bytes ({len(text)} unpacked)")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--example", action="store_true", help="also make examples/grid.vtk.gz")
    args = parser.parse_args()
    make_fixtures()
    if args.example:
        make_example()
