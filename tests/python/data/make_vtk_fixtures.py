"""Makes the writer-made fixtures in tests/python/data/fixtures/: every legacy
dataset written by the VTK library's own writers (ASCII and BINARY, file
versions 4.2 and 5.1), unstructured grids written by meshio in each layout it
writes, and two of them gzipped. Beside each NAME.vtk (or NAME.vtk.gz) it puts
NAME.npz, what VTK's reader returns for the file (vtk_truth.py;
fixtures/README.md lists the keys). make_vtk_handwritten.py makes the rest.

Needs Python 3.14 with the VTK library's bindings (9.6.2), meshio 5.3.5 and
NumPy, as in the bench environment. From the checkout's top:

    VELTRANE_ENV=bench VELTRANE_SKIP_BUILD=1 tools/in-env \\
        python3.14 tests/python/data/make_vtk_fixtures.py

Seeded: a rerun with the same libraries writes the same bytes.
"""

import gzip
import pathlib
import sys
import zipfile

import meshio
import numpy as np
import vtk
from vtk.util.numpy_support import numpy_to_vtk

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import vtk_truth  # noqa: E402

OUT = HERE / "fixtures"


# -- writing a fixture and its truth ------------------------------------------------


def save_npz(path, arrays):
    """np.savez_compressed with a fixed time stamp, so reruns give equal bytes."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for key in sorted(arrays):
            info = zipfile.ZipInfo(key + ".npy", date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            with z.open(info, "w", force_zip64=True) as f:
                np.lib.format.write_array(f, np.asanyarray(arrays[key]), allow_pickle=False)


def record(name, raw, writer, gz=False, strict=False):
    """Writes NAME.vtk (or NAME.vtk.gz) and NAME.npz; returns a line for the list."""
    truth = vtk_truth.truth(raw, strict)
    if vtk_truth.last_messages.strip():
        print(f"{name}: VTK's reader said: {vtk_truth.last_messages.strip()}")
    path = OUT / (f"{name}.vtk.gz" if gz else f"{name}.vtk")
    path.write_bytes(gzip.compress(raw, compresslevel=9, mtime=0) if gz else raw)
    save_npz(OUT / f"{name}.npz", truth)
    enc = "BINARY" if truth["meta/binary"] else "ASCII"
    return (
        path.name,
        str(truth["meta/dataset"]),
        enc,
        str(truth["meta/version"]),
        writer,
        path.stat().st_size,
    )


def vtk_write(obj, binary, version=None, writer=None):
    """The bytes VTK's legacy writer makes for obj."""
    w = writer or vtk.vtkGenericDataObjectWriter()
    w.SetInputData(obj)
    w.SetFileName(str(OUT / "tmp.vtk"))
    if version is not None:
        w.SetFileVersion(version)
    w.SetFileTypeToBinary() if binary else w.SetFileTypeToASCII()
    with vtk_truth.Captured() as log:
        ok = w.Write()
    if not ok or "ERROR" in log.text:
        raise RuntimeError(f"VTK could not write: {log.text}")
    tmp = OUT / "tmp.vtk"
    raw = tmp.read_bytes()
    tmp.unlink()
    return raw


# -- arrays ---------------------------------------------------------------------------


def add(data, name, values, vtk_type=None):
    a = numpy_to_vtk(np.ascontiguousarray(values), deep=True, array_type=vtk_type)
    a.SetName(name)
    data.AddArray(a)
    return a


INTS = [
    ("char", np.int8, vtk.VTK_CHAR),
    ("signed char", np.int8, vtk.VTK_SIGNED_CHAR),
    ("unsigned char", np.uint8, vtk.VTK_UNSIGNED_CHAR),
    ("short", np.int16, vtk.VTK_SHORT),
    ("unsigned short", np.uint16, vtk.VTK_UNSIGNED_SHORT),
    ("int", np.int32, vtk.VTK_INT),
    ("unsigned int", np.uint32, vtk.VTK_UNSIGNED_INT),
    ("long", np.int64, vtk.VTK_LONG),
    ("unsigned long", np.uint64, vtk.VTK_UNSIGNED_LONG),
    ("long long", np.int64, vtk.VTK_LONG_LONG),
    ("unsigned long long", np.uint64, vtk.VTK_UNSIGNED_LONG_LONG),
    ("vtkIdType", np.int64, vtk.VTK_ID_TYPE),
]
STRINGS = ["a b", "", "100%", "µ-é", "tab\there", "x" * 300, "trailing ", "#hash"]


def floats32(n, rng):
    v = (rng.standard_normal(n) * 10.0 ** rng.integers(-5, 6, size=n)).astype(np.float32)
    v[:6] = [
        np.float32(0.1),
        -0.0,
        np.float32(1e-45),
        np.float32(1.1754942e-38),
        np.finfo(np.float32).max,
        np.float32(16777217.0),
    ][: min(6, n)]
    return v


# VTK's ASCII writer prints doubles to 11 digits, the largest one as
# 1.7976931349e+308, which its reader then refuses as out of range: ASCII
# fixtures get a top value a little below it.
BIG64 = {False: 1.797693134e308, True: np.finfo(np.float64).max}
binary_build = False


def floats64(n, rng):
    v = rng.standard_normal(n) * 10.0 ** rng.integers(-300, 300, size=n)
    v[:6] = [0.1, -0.0, 5e-324, 2.2250738585072009e-308, BIG64[binary_build], 1 / 3][: min(6, n)]
    return v


def typed_arrays(data, n, rng, suffix=""):
    """One array of each type VTK's writer spells, extremes first, some with
    several components, component names on two."""
    for name, dt, vt in INTS:
        info = np.iinfo(dt)
        k = 3 if name in ("short", "unsigned long long") else 1
        v = rng.integers(info.min, info.max, size=n * k, dtype=dt, endpoint=True)
        v[:2] = [info.min, info.max]
        a = add(data, name + suffix, v.reshape(n, k) if k > 1 else v, vt)
        if name == "short":
            a.SetComponentName(0, "first part")
            a.SetComponentName(2, "z")
    add(data, "float" + suffix, floats32(n, rng))
    a = add(data, "double" + suffix, np.stack([floats64(n, rng), floats64(n, rng)], axis=1))
    a.SetComponentName(0, "re")
    a.SetComponentName(1, "im")
    bits = vtk.vtkBitArray()
    bits.SetName("bit" + suffix)
    # In BINARY, VTK's writer puts down ceil(tuples / 8) bytes of a bit array
    # whatever its components, and its reader takes ceil(values / 8): a bit
    # array of several components comes back garbled, and so does what follows.
    k = 1 if binary_build else 2
    bits.SetNumberOfComponents(k)
    for v in rng.integers(0, 2, size=k * n):
        bits.InsertNextValue(int(v))
    data.AddArray(bits)
    strings = vtk.vtkStringArray()
    strings.SetName("string" + suffix)
    for i in range(n):
        strings.InsertNextValue(STRINGS[i % len(STRINGS)])
    data.AddArray(strings)


def named(values, name, vtk_type=None):
    a = numpy_to_vtk(np.ascontiguousarray(values), deep=True, array_type=vtk_type)
    a.SetName(name)
    return a


def own_lookup_table():
    lut = vtk.vtkLookupTable()
    lut.SetNumberOfTableValues(5)
    lut.Build()
    for i, rgba in enumerate(
        [
            (0.0, 0.1, 0.2, 1.0),
            (1 / 255, 0.5, 127.5 / 255, 0.0),
            (1.0, 1.0, 1.0, 0.25),
            (0.3, 0.7, 0.999, 0.5),
            (0.0019, 0.002, 0.998, 0.9981),
        ]
    ):
        lut.SetTableValue(i, *rgba)
    return lut


# -- datasets -------------------------------------------------------------------------

CELL_SHAPES = [
    (vtk.VTK_VERTEX, 1),
    (vtk.VTK_POLY_VERTEX, 3),
    (vtk.VTK_LINE, 2),
    (vtk.VTK_POLY_LINE, 4),
    (vtk.VTK_TRIANGLE, 3),
    (vtk.VTK_TRIANGLE_STRIP, 5),
    (vtk.VTK_POLYGON, 6),
    (vtk.VTK_PIXEL, 4),
    (vtk.VTK_QUAD, 4),
    (vtk.VTK_TETRA, 4),
    (vtk.VTK_VOXEL, 8),
    (vtk.VTK_HEXAHEDRON, 8),
    (vtk.VTK_WEDGE, 6),
    (vtk.VTK_PYRAMID, 5),
    (vtk.VTK_PENTAGONAL_PRISM, 10),
    (vtk.VTK_HEXAGONAL_PRISM, 12),
    (vtk.VTK_QUADRATIC_EDGE, 3),
    (vtk.VTK_QUADRATIC_TRIANGLE, 6),
    (vtk.VTK_QUADRATIC_QUAD, 8),
    (vtk.VTK_QUADRATIC_TETRA, 10),
    (vtk.VTK_QUADRATIC_HEXAHEDRON, 20),
    (vtk.VTK_LAGRANGE_CURVE, 4),
    (vtk.VTK_LAGRANGE_QUADRILATERAL, 9),
    (vtk.VTK_LAGRANGE_HEXAHEDRON, 27),
]


def point_set(obj, n, rng, double=False):
    pts = vtk.vtkPoints()
    values = rng.standard_normal((n, 3)) * 10.0 ** rng.integers(-3, 4, size=(n, 1))
    pts.SetData(named(values if double else values.astype(np.float32), "Points"))
    obj.SetPoints(pts)


def unstructured_grid(rng, bare=False):
    g = vtk.vtkUnstructuredGrid()
    n_points = 30
    point_set(g, n_points, rng)
    for t, k in CELL_SHAPES:
        g.InsertNextCell(t, k, rng.choice(n_points, size=k, replace=False).tolist())
        if t == vtk.VTK_TRIANGLE:
            p = rng.choice(n_points, size=8, replace=False).tolist()
            faces = [
                [p[0], p[1], p[2], p[3]],
                [p[4], p[5], p[6]],
                [p[4], p[6], p[7]],
                [p[0], p[1], p[5], p[4]],
                [p[1], p[2], p[6], p[5]],
                [p[2], p[3], p[7], p[6]],
                [p[3], p[0], p[4], p[7]],
            ]
            ids = vtk.vtkIdList()
            for x in [len(faces)] + [x for f in faces for x in [len(f)] + f]:
                ids.InsertNextId(x)
            g.InsertNextCell(vtk.VTK_POLYHEDRON, ids)
    if bare:
        return g
    n_cells = g.GetNumberOfCells()
    pd, cd = g.GetPointData(), g.GetCellData()
    s = named(floats32(n_points, rng), "temperature")
    s.SetLookupTable(own_lookup_table())
    pd.SetScalars(s)
    pd.SetVectors(named(rng.standard_normal((n_points, 3)), "velocity"))
    pd.SetNormals(named(rng.standard_normal((n_points, 3)).astype(np.float32), "normals"))
    pd.SetTCoords(named(rng.random((n_points, 2)).astype(np.float32), "uv"))
    pd.SetTensors(named(rng.standard_normal((n_points, 9)), "stress"))
    pd.SetGlobalIds(named(np.arange(n_points, dtype=np.int64) * 7, "global ids", vtk.VTK_ID_TYPE))
    typed_arrays(pd, n_points, rng)
    cd.SetScalars(named(rng.integers(-5, 5, size=(n_cells, 2), dtype=np.int32), "material"))
    cd.SetPedigreeIds(
        named(np.arange(n_cells, dtype=np.int64) + 100, "origin cell", vtk.VTK_LONG_LONG)
    )
    typed_arrays(cd, n_cells, rng, " (cells)")
    add(g.GetFieldData(), "TimeValue", np.array([1.25]))
    add(g.GetFieldData(), "cycle", np.array([7, 8, 9], dtype=np.int32))
    return g


def polydata(rng):
    p = vtk.vtkPolyData()
    n_points = 24
    point_set(p, n_points, rng, double=True)

    def cells(sizes):
        ca = vtk.vtkCellArray()
        for k in sizes:
            ca.InsertNextCell(k, rng.choice(n_points, size=k, replace=False).tolist())
        return ca

    p.SetVerts(cells([1, 1, 3]))
    p.SetLines(cells([2, 5, 9]))
    p.SetPolys(cells([3, 4, 5, 3, 7]))
    p.SetStrips(cells([4, 6]))
    n_cells = p.GetNumberOfCells()
    pd, cd = p.GetPointData(), p.GetCellData()
    pd.SetScalars(named(rng.integers(0, 256, size=(n_points, 4), dtype=np.uint8), "rgba"))
    pd.SetNormals(named(rng.standard_normal((n_points, 3)), "normals"))
    pd.SetTCoords(named(rng.random((n_points, 3)).astype(np.float32), "uvw"))
    pd.SetTensors(named(rng.standard_normal((n_points, 6)).astype(np.float32), "symmetric"))
    ped = vtk.vtkStringArray()
    ped.SetName("point name")
    for i in range(n_points):
        ped.InsertNextValue(f"p{i} {STRINGS[i % 4]}")
    pd.SetPedigreeIds(ped)
    typed_arrays(pd, n_points, rng)
    cd.SetScalars(named(rng.standard_normal((n_cells, 2)), "cell pair"))
    cd.SetVectors(named(rng.standard_normal((n_cells, 3)).astype(np.float32), "flux"))
    cd.SetGlobalIds(named(np.arange(n_cells, dtype=np.int64), "cell ids", vtk.VTK_ID_TYPE))
    add(cd, "rgb", rng.integers(0, 256, size=(n_cells, 3), dtype=np.uint8))
    add(p.GetFieldData(), "note", np.array([np.pi, np.e]))
    return p


def image(rng, dims, origin, spacing):
    im = vtk.vtkStructuredPoints()
    im.SetDimensions(*dims)
    im.SetOrigin(*origin)
    im.SetSpacing(*spacing)
    n_points, n_cells = im.GetNumberOfPoints(), im.GetNumberOfCells()
    pd, cd = im.GetPointData(), im.GetCellData()
    pd.SetScalars(named(rng.integers(-999, 999, size=n_points, dtype=np.int16), "level"))
    pd.SetVectors(named(rng.standard_normal((n_points, 3)).astype(np.float32), "gradient"))
    add(pd, "double", floats64(n_points, rng))
    add(pd, "unsigned char", rng.integers(0, 256, size=(n_points, 3), dtype=np.uint8))
    s = named(floats32(n_cells, rng), "cell value")
    s.SetLookupTable(own_lookup_table())
    cd.SetScalars(s)
    add(cd, "int", rng.integers(-(2**31), 2**31, size=n_cells, dtype=np.int32))
    return im


def structured_grid(rng):
    g = vtk.vtkStructuredGrid()
    g.SetDimensions(3, 2, 2)
    point_set(g, 12, rng, double=True)
    pd, cd = g.GetPointData(), g.GetCellData()
    pd.SetScalars(named(floats32(12, rng), "pressure"))
    pd.SetVectors(named(rng.standard_normal((12, 3)), "velocity"))
    typed_arrays(pd, 12, rng)
    cd.SetScalars(named(np.array([3, 1], dtype=np.uint16), "zone"))
    cd.SetNormals(named(rng.standard_normal((2, 3)).astype(np.float32), "face normal"))
    add(g.GetFieldData(), "TimeValue", np.array([0.5]))
    return g


def rectilinear_grid(rng, dtype):
    g = vtk.vtkRectilinearGrid()
    g.SetDimensions(4, 3, 2)
    for axis, values in zip("XYZ", ([-1.5, -0.1, 0.3, 2.75], [1e-3, 1 / 3, 12.0], [-7.25, 0.1])):
        getattr(g, f"Set{axis}Coordinates")(named(np.array(values, dtype=dtype), axis.lower()))
    pd, cd = g.GetPointData(), g.GetCellData()
    pd.SetScalars(named(floats64(24, rng), "phi"))
    pd.SetTCoords(named(rng.random((24, 3)), "uvw"))
    add(pd, "unsigned int", rng.integers(0, 2**32, size=24, dtype=np.uint32))
    cd.SetScalars(named(rng.integers(0, 256, size=(6, 3), dtype=np.uint8), "colour"))
    cd.SetTensors(named(rng.standard_normal((6, 9)).astype(np.float32), "strain"))
    return g


def field_only(rng):
    d = vtk.vtkDataObject()
    typed_arrays(d.GetFieldData(), 9, rng)
    add(d.GetFieldData(), "TimeValue", np.array([3.5]))
    return d


def meshio_mesh(rng, only_64bit):
    pts = rng.standard_normal((20, 3))

    def pick(n, k):
        return np.array([rng.choice(20, size=k, replace=False) for _ in range(n)])

    cells = [
        ("tetra", pick(3, 4)),
        ("hexahedron", pick(2, 8)),
        ("triangle", pick(4, 3)),
        ("line", pick(2, 2)),
        ("vertex", pick(2, 1)),
        ("wedge", pick(1, 6)),
        ("tetra", pick(1, 4)),
        ("quad", pick(2, 4)),
        ("pyramid", pick(1, 5)),
    ]
    n_cells = sum(len(c) for _, c in cells)
    point_data = {
        "density": floats64(20, rng),
        "speed": rng.random((20, 3)).astype(np.float32),
        "count": rng.integers(-(2**62), 2**62, size=20, dtype=np.int64),
    }
    if not only_64bit:
        # VTK's reader knows none of the sized names meshio's 5.1 layout gives
        # the narrower integers (vtktypeint32 ...): those go in 4.2 only.
        point_data["label"] = rng.integers(-9, 9, size=20).astype(np.int32)
        point_data["byte"] = rng.integers(0, 256, size=(20, 2)).astype(np.uint8)
    split = np.cumsum([len(c) for _, c in cells])[:-1]
    cell_data = {
        "pressure": np.split(floats32(n_cells, rng), split),
        "cell_id": np.split(np.arange(n_cells, dtype=np.int64), split),
    }
    return meshio.Mesh(
        pts,
        cells,
        point_data=point_data,
        cell_data=cell_data,
        field_data={"TimeValue": np.array([0.25])},
    )


# -- the set -------------------------------------------------------------------------


def make():
    OUT.mkdir(exist_ok=True)
    made = []
    datasets = [
        ("ugrid", lambda rng: unstructured_grid(rng)),
        ("ugrid_bare", lambda rng: unstructured_grid(rng, bare=True)),
        ("polydata", polydata),
        ("image3d", lambda rng: image(rng, (3, 4, 2), (-1.5, 0.1, -2.25e-3), (0.1, -0.35, 2.5))),
        ("image2d", lambda rng: image(rng, (5, 3, 1), (1 / 3, -7.7, 1e10), (0.3, 1 / 7, 1.0))),
        ("sgrid", structured_grid),
        ("rgrid_float", lambda rng: rectilinear_grid(rng, np.float32)),
        ("rgrid_double", lambda rng: rectilinear_grid(rng, np.float64)),
    ]
    global binary_build
    written = {}
    for seed, (name, build) in enumerate(datasets):
        for binary in (False, True):
            binary_build = binary
            obj = build(np.random.default_rng(2026_1200 + seed))
            for version in (42, 51):
                fixture = f"vtk_{name}_{'binary' if binary else 'ascii'}_{version}"
                raw = vtk_write(obj, binary, version)
                written[fixture] = raw
                made.append(record(fixture, raw, "vtkGenericDataObjectWriter"))
    for binary in (False, True):
        binary_build = binary
        obj = field_only(np.random.default_rng(2026_1300))
        fixture = f"vtk_field_{'binary' if binary else 'ascii'}_51"
        raw = vtk_write(obj, binary, writer=vtk.vtkDataObjectWriter())
        made.append(record(fixture, raw, "vtkDataObjectWriter"))
    binary_build = False
    for version in ("4.2", "5.1"):
        mesh = meshio_mesh(np.random.default_rng(2026_1400), only_64bit=version == "5.1")
        for binary in (False, True):
            fixture = f"meshio_ugrid_{'binary' if binary else 'ascii'}_{version.replace('.', '')}"
            tmp = OUT / "tmp.vtk"
            meshio.vtk.write(tmp, mesh, binary=binary, fmt_version=version)
            raw = tmp.read_bytes()
            tmp.unlink()
            made.append(record(fixture, raw, "meshio"))
    for fixture in ("vtk_ugrid_binary_51", "vtk_polydata_ascii_42"):
        made.append(
            record(f"{fixture}_gz", written[fixture], "vtkGenericDataObjectWriter", gz=True)
        )
    return made


if __name__ == "__main__":
    for row in make():
        print("| " + " | ".join(str(x) for x in row) + " |")
