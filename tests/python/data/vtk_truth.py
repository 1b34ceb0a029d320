"""What the VTK library's own legacy reader returns for a .vtk file, as a dict of
NumPy arrays ready for np.savez: the ground truth stored beside each fixture in
tests/python/data/fixtures/. Imported by make_vtk_fixtures.py and
make_vtk_handwritten.py; needs the VTK library's Python bindings (see those
scripts for how to run them). fixtures/README.md lists the keys.
"""

import gzip
import pathlib
import re

import numpy as np
import vtk
from vtk.util.numpy_support import vtk_to_numpy

DATASETS = (
    ("vtkUnstructuredGrid", "UNSTRUCTURED_GRID"),
    ("vtkPolyData", "POLYDATA"),
    ("vtkStructuredPoints", "STRUCTURED_POINTS"),
    ("vtkImageData", "STRUCTURED_POINTS"),
    ("vtkStructuredGrid", "STRUCTURED_GRID"),
    ("vtkRectilinearGrid", "RECTILINEAR_GRID"),
)
ROLES = (
    ("scalars", "GetScalars"),
    ("vectors", "GetVectors"),
    ("normals", "GetNormals"),
    ("tcoords", "GetTCoords"),
    ("tensors", "GetTensors"),
    ("global_ids", "GetGlobalIds"),
    ("pedigree_ids", "GetPedigreeIds"),
)
POLY_SECTIONS = (
    ("VERTICES", "GetVerts"),
    ("LINES", "GetLines"),
    ("POLYGONS", "GetPolys"),
    ("TRIANGLE_STRIPS", "GetStrips"),
)


last_messages = ""


class Captured:
    """Collects what VTK prints as errors and warnings while it is alive."""

    def __enter__(self):
        vtk.vtkLogger.SetStderrVerbosity(vtk.vtkLogger.VERBOSITY_OFF)
        self.window = vtk.vtkStringOutputWindow()
        self.previous = vtk.vtkOutputWindow.GetInstance()
        vtk.vtkOutputWindow.SetInstance(self.window)
        return self

    def __exit__(self, *exc):
        self.text = self.window.GetOutput()
        vtk.vtkOutputWindow.SetInstance(self.previous)


def file_bytes(path):
    raw = pathlib.Path(path).read_bytes()
    return gzip.decompress(raw) if raw[:2] == b"\x1f\x8b" else raw


def run_reader(raw, cls=None):
    """VTK's generic legacy reader run over the bytes of a file, every attribute
    of every kind asked for. Returns (reader, data object, messages).

    The generic reader fails on a file of FIELD data alone (it makes an empty
    vtkDataObject and reports "Could not read file"); for such a file, the
    one whose fourth line starts with FIELD, VTK's vtkDataObjectReader is run
    instead."""
    if cls is None:
        lines = raw.split(b"\n", 4)
        field = len(lines) > 3 and lines[3].strip()[:5].upper() == b"FIELD"
        cls = vtk.vtkDataObjectReader if field else vtk.vtkGenericDataObjectReader
    r = cls()
    r.ReadFromInputStringOn()
    r.SetBinaryInputString(raw, len(raw))
    for flag in ("Scalars", "Vectors", "Normals", "Tensors", "ColorScalars", "TCoords", "Fields"):
        getattr(r, f"ReadAll{flag}On")()
    with Captured() as log:
        r.Update()
    global last_messages
    last_messages = log.text
    return r, r.GetOutput(), log.text


def array_values(a):
    """One array as VTK holds it: 1-D for one component, (n, k) for k."""
    n, k = a.GetNumberOfTuples(), a.GetNumberOfComponents()
    if isinstance(a, vtk.vtkStringArray):
        values = np.array([a.GetValue(i) for i in range(n * k)], dtype=np.str_)
    elif isinstance(a, vtk.vtkVariantArray):
        values = np.array([a.GetValue(i).ToString() for i in range(n * k)], dtype=np.str_)
    elif isinstance(a, vtk.vtkBitArray):
        values = np.array([a.GetValue(i) for i in range(n * k)], dtype=np.bool_)
    else:
        values = vtk_to_numpy(a).copy()
    return values.reshape(n, k) if k > 1 else values.reshape(n)


def lookup_table(a):
    lut = a.GetLookupTable() if hasattr(a, "GetLookupTable") else None
    if lut is None:
        return None
    table = lut.GetTable()
    return vtk_to_numpy(table).copy().reshape(-1, 4)


def attributes(out, prefix, data):
    names = []
    for i in range(data.GetNumberOfArrays()):
        a = data.GetAbstractArray(i)
        name = a.GetName()
        names.append(name)
        out[f"{prefix}/{name}"] = array_values(a)
        lut = lookup_table(a)
        if lut is not None:
            out[f"lookup/{prefix}/{name}"] = lut
        k = a.GetNumberOfComponents()
        comp = [a.GetComponentName(j) for j in range(k)] if a.HasAComponentName() else []
        if comp:
            out[f"components/{prefix}/{name}"] = np.array(
                [c if c is not None else "" for c in comp], dtype=np.str_
            )
    if len(set(names)) != len(names):
        raise ValueError(f"{prefix}: two arrays share a name in {names}")
    if prefix == "field_data":
        return
    for role, getter in ROLES:
        a = getattr(data, getter)()
        if a is not None:
            out[f"active/{prefix}/{role}"] = np.array(a.GetName())


def version_line(raw):
    first = raw.split(b"\n", 1)[0].decode("latin-1")
    m = re.search(r"[Vv]ersion\s+(\S+)", first)
    return m.group(1) if m else ""


def truth(raw, strict=False):
    """The dict of arrays VTK's reader gives for the file's bytes; raises when
    the reader reports an error, or with strict=True when it says anything."""
    r, d, messages = run_reader(raw)
    if "ERROR" in messages or d is None or (strict and messages.strip()):
        raise ValueError(f"VTK's reader failed: {messages.strip()}")
    out = {
        "meta/version": np.array(version_line(raw)),
        "meta/title": np.array(r.GetHeader() or ""),
        "meta/binary": np.array(r.GetFileType() == vtk.VTK_BINARY),
    }
    kind = next((name for cls, name in DATASETS if d.IsA(cls)), None)
    out["meta/dataset"] = np.array(kind or "FIELD")
    if kind in ("UNSTRUCTURED_GRID", "POLYDATA", "STRUCTURED_GRID"):
        pts = d.GetPoints()
        out["points"] = vtk_to_numpy(pts.GetData()).copy() if pts else np.zeros((0, 3), np.float32)
    elif kind in ("STRUCTURED_POINTS", "RECTILINEAR_GRID"):
        n = d.GetNumberOfPoints()
        out["points"] = np.array([d.GetPoint(i) for i in range(n)], dtype=np.float64).reshape(n, 3)
    if kind in ("STRUCTURED_POINTS", "STRUCTURED_GRID", "RECTILINEAR_GRID"):
        dims = [0, 0, 0]
        d.GetDimensions(dims)
        out["dimensions"] = np.array(dims, dtype=np.int64)
    if kind == "STRUCTURED_POINTS":
        out["origin"] = np.array(d.GetOrigin(), dtype=np.float64)
        out["spacing"] = np.array(d.GetSpacing(), dtype=np.float64)
    if kind == "RECTILINEAR_GRID":
        for axis in "xyz":
            c = getattr(d, f"Get{axis.upper()}Coordinates")()
            out[f"coordinates/{axis}"] = array_values(c)
    if kind == "UNSTRUCTURED_GRID":
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
    if kind == "POLYDATA":
        for section, getter in POLY_SECTIONS:
            ca = getattr(d, getter)()
            out[f"cells/{section}/connectivity"] = vtk_to_numpy(ca.GetConnectivityArray()).astype(
                np.int64
            )
            out[f"cells/{section}/offsets"] = vtk_to_numpy(ca.GetOffsetsArray()).astype(np.int64)
    if kind is not None:
        attributes(out, "point_data", d.GetPointData())
        attributes(out, "cell_data", d.GetCellData())
    attributes(out, "field_data", d.GetFieldData())
    return out


def truth_of_file(path):
    return truth(file_bytes(path))
