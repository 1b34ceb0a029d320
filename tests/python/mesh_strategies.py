"""Hypothesis strategies for meshes the writer takes: every dataset, cells whose
sizes fit their types, and arrays of every dtype in every role, with the
declarations (ArrayInfo) that a file would give them."""

import numpy as np
from hypothesis import strategies as st

from veltrane.codecs import vtk
from veltrane.codecs.vtk._mesh import structured_cells

DATASETS = ["UNSTRUCTURED_GRID", "POLYDATA", "STRUCTURED_POINTS", "STRUCTURED_GRID"]
DATASETS += ["RECTILINEAR_GRID", "FIELD"]
FLOATS = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True, width=64)
DTYPES = ["f8", "f4", "i1", "u1", "i2", "u2", "i4", "u4", "i8", "u8", "?"]
TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=4)
# Two names mean something else in place of a FIELD array's name.
NAMES = st.one_of(
    st.text(st.characters(blacklist_categories=("Cs",)), min_size=1, max_size=6),
    st.sampled_from(["METADATA", "null_array"]),
)
# role -> the component counts it takes
ROLES = {
    "field": (1, 2, 3),
    "scalars": (1, 2, 4),
    "color_scalars": (1, 3, 4),
    "vectors": (3,),
    "normals": (3,),
    "texture_coordinates": (1, 2, 3),
    "tensors": (9,),
    "tensors6": (6,),
    "global_ids": (1,),
    "pedigree_ids": (1,),
    "edge_flags": (1,),
    "rational_weights": (1,),
    "higherorderdegrees": (3,),
}
# Declared type names, some of which VTK's reader refuses, by dtype.
DECLARED = {
    "i1": "signed_char",
    "i8": "vtkIdType",
    "u8": "unsigned_long_long",
    "f4": "vtktypefloat32",
}
# (cell type, sizes it takes); a polyhedron's entry is drawn apart.
CELLS = [(0, (0, 2)), (1, (1,)), (2, (1, 3)), (3, (2,)), (4, (2, 4)), (5, (3,)), (7, (3, 5))]
CELLS += [(9, (4,)), (10, (4,)), (12, (8,)), (72, (27,)), (79, (27,)), (29, (27,))]
POLY_LEAST = {"VERTICES": 1, "LINES": 2, "POLYGONS": 3, "TRIANGLE_STRIPS": 3}


def plain_nan(a):
    """Text keeps a NaN's sign but not its payload: the generated data hold plain ones."""
    a = np.array(a)
    nan = np.isnan(a)
    a[nan] = np.copysign(np.nan, a[nan])
    return a


@st.composite
def meshes(draw):
    dataset = draw(st.sampled_from(DATASETS))
    points_type = draw(st.sampled_from([None, "float", "double"]))
    kw = {"dataset": dataset, "points_type": points_type}

    def coords(n, narrow):
        values = plain_nan(draw(st.lists(FLOATS, min_size=n, max_size=n)))
        if narrow:
            with np.errstate(over="ignore"):
                values = values.astype(np.float32).astype(np.float64)
        return values

    narrow = draw(st.booleans())
    n_points = n_cells = 0
    if dataset in ("UNSTRUCTURED_GRID", "POLYDATA"):
        n_points = draw(st.integers(0, 6))
        kw["points"] = coords(3 * n_points, narrow).reshape(n_points, 3)
        if dataset == "UNSTRUCTURED_GRID":
            cells, types = draw(grid_cells(n_points))
            kw["cells"], kw["cell_types"] = {"CELLS": cells}, types
        else:
            kw["cells"] = {s: draw(poly_cells(n_points, k)) for s, k in POLY_LEAST.items()}
        n_cells = sum(len(b) for b in kw["cells"].values())
    elif dataset != "FIELD":
        dims = tuple(draw(st.lists(st.integers(0, 3), min_size=3, max_size=3)))
        n_points = int(np.prod(dims))
        n_cells = structured_cells(dims)
        kw["dimensions"] = dims
        if dataset == "STRUCTURED_POINTS":
            origin = coords(3, False)
            # An origin of zeros is the default, read back without a -0.0.
            kw["origin"] = origin if origin.any() else np.zeros(3)
            kw["spacing"] = coords(3, False)
        elif dataset == "STRUCTURED_GRID":
            kw["points"] = coords(3 * n_points, narrow).reshape(n_points, 3)
        else:
            kw["coordinates"] = tuple(coords(d, narrow) for d in dims)
    if dataset != "FIELD":
        kw["point_data"], kw["point_info"] = draw(arrays(n_points, True))
        kw["cell_data"], kw["cell_info"] = draw(arrays(n_cells, True))
    kw["field_data"], kw["field_info"] = draw(arrays(None, False))
    kw["more_fields"] = [
        (draw(NAMES), draw(arrays(None, False))[0]) for _ in range(draw(st.integers(0, 2)))
    ]
    title = draw(st.binary(max_size=30).filter(lambda b: b"\n" not in b and b"\r" not in b))
    return vtk.Mesh(title=title.decode("utf-8", "surrogateescape"), **kw)


@st.composite
def grid_cells(draw, n_points):
    if not n_points:
        return vtk.CellBlock.empty(), np.zeros(0, np.uint8)
    index = st.integers(0, n_points - 1)
    rows, types = [], []
    for _ in range(draw(st.integers(0, 4))):
        if draw(st.integers(0, 7)) == 0:
            faces = draw(st.lists(st.lists(index, min_size=1, max_size=4), max_size=3))
            rows.append([len(faces)] + [x for f in faces for x in [len(f), *f]])
            types.append(vtk.CELL_TYPES["POLYHEDRON"])
            continue
        cell_type, sizes = draw(st.sampled_from(CELLS if n_points > 1 else CELLS[:-3]))
        size = draw(st.sampled_from(sizes))
        if size == 27:
            # Nodes 18 and 19 differ, so that their order shows.
            rows.append([x % n_points for x in draw(st.permutations(range(27)))])
            rows[-1][18], rows[-1][19] = 0, 1
        else:
            rows.append(draw(st.lists(index, min_size=size, max_size=size)))
        types.append(cell_type)
    return vtk.CellBlock.from_cells(rows), np.array(types, np.uint8)


@st.composite
def poly_cells(draw, n_points, least):
    if not n_points:
        return vtk.CellBlock.empty()
    cell = st.lists(st.integers(0, n_points - 1), min_size=least, max_size=least + 2)
    return vtk.CellBlock.from_cells(draw(st.lists(cell, max_size=3)))


@st.composite
def arrays(draw, rows, roles):
    """(arrays, infos): `rows` tuples each (any number when None), in roles when
    `roles`, else all plain with component names now and then."""
    out, infos = {}, {}
    n = draw(st.integers(0, 3)) if rows is None else rows
    for i, name in enumerate(draw(st.lists(NAMES, max_size=3, unique=True))):
        role = draw(st.sampled_from(list(ROLES))) if roles else "field"
        k = draw(st.sampled_from(ROLES[role]))
        text = role in ("field", "pedigree_ids") and draw(st.integers(0, 3)) == 0
        if text:
            values = np.array(draw(st.lists(TEXT, min_size=n * k, max_size=n * k)), np.str_)
            code = "U"
        else:
            code = "u1" if role == "color_scalars" else draw(st.sampled_from(DTYPES))
            dt = np.dtype(code)
            size = n * k * dt.itemsize
            raw = draw(st.binary(min_size=size, max_size=size))
            values = np.frombuffer(raw, dtype=np.uint8 if dt.kind == "b" else dt).copy()
            values = (values & 1).astype(bool) if dt.kind == "b" else values
            values = plain_nan(values) if dt.kind == "f" else values
        out[name] = values if k == 1 else values.reshape(n, k)
        info = vtk.ArrayInfo(role)
        if draw(st.booleans()):
            info.type_name = DECLARED.get(code)
        if draw(st.integers(0, 3)) == 0:
            info.component_names = draw(st.lists(TEXT, min_size=k, max_size=k))
        if role == "scalars" and draw(st.booleans()):
            info.lookup_table = f"table {i}"
            if draw(st.booleans()):
                m = draw(st.integers(0, 3))
                info.table = np.frombuffer(
                    draw(st.binary(min_size=4 * m, max_size=4 * m)), np.uint8
                )
                info.table = info.table.reshape(m, 4)
        if roles or info.component_names or info.type_name or draw(st.booleans()):
            infos[name] = info
    return out, infos
