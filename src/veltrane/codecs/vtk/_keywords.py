"""Names the legacy format uses: data types, cell types, datasets and sections."""

from __future__ import annotations

import re

import numpy as np

# Data type names as the writers spell them, lower-cased, with the dtype an
# array of the type is read into and its type code: NumPy's character codes,
# and two of the format's own. 'c' is a signed byte that writers print as an
# unsigned one (-1 as 255), so its ASCII form takes both spellings. 'n' is
# vtkIdType: 64 bits in memory, but 32 bits in BINARY files, which is what
# the VTK library writes and reads there. 'long' is 64 bits wide on the LP64
# platforms that write these files.
TYPES: dict[str, tuple[type[np.generic], str]] = {
    "bit": (np.bool_, "?"),
    "char": (np.int8, "c"),
    "signed_char": (np.int8, "c"),
    "unsigned_char": (np.uint8, "B"),
    "short": (np.int16, "h"),
    "unsigned_short": (np.uint16, "H"),
    "int": (np.int32, "i"),
    "unsigned_int": (np.uint32, "I"),
    "long": (np.int64, "q"),
    "unsigned_long": (np.uint64, "Q"),
    "long_long": (np.int64, "q"),
    "unsigned_long_long": (np.uint64, "Q"),
    "__int64": (np.int64, "q"),
    "unsigned___int64": (np.uint64, "Q"),
    "vtkidtype": (np.int64, "n"),
    "vtktypeint8": (np.int8, "b"),
    "vtktypeuint8": (np.uint8, "B"),
    "vtktypeint16": (np.int16, "h"),
    "vtktypeuint16": (np.uint16, "H"),
    "vtktypeint32": (np.int32, "i"),
    "vtktypeuint32": (np.uint32, "I"),
    "vtktypeint64": (np.int64, "q"),
    "vtktypeuint64": (np.uint64, "Q"),
    "float": (np.float32, "f"),
    "double": (np.float64, "d"),
    "vtktypefloat32": (np.float32, "f"),
    "vtktypefloat64": (np.float64, "d"),
}
# The byte size of a value of each code in a BINARY file; bits are packed.
BINARY_SIZES = {"c": 1, "b": 1, "B": 1, "h": 2, "H": 2, "i": 4, "I": 4, "n": 4}
BINARY_SIZES.update({"q": 8, "Q": 8, "f": 4, "d": 8})
TEXT_TYPES = {"string", "utf8_string", "variant"}

# Names the writer uses for each integer dtype: the classic ones, which the
# VTK reader takes in every version (it rejects vtktypeint32 and the other
# sized names but for the two 64-bit ones). For 64 bits, 'long' in 4.2 files
# and vtktypeint64 in 5.1 files, the names that meshio reads in each layout.
WRITE_TYPES = {
    np.dtype(np.bool_): "bit",
    np.dtype(np.int8): "char",
    np.dtype(np.uint8): "unsigned_char",
    np.dtype(np.int16): "short",
    np.dtype(np.uint16): "unsigned_short",
    np.dtype(np.int32): "int",
    np.dtype(np.uint32): "unsigned_int",
}
WRITE_TYPES_64 = {
    "4.2": {np.dtype(np.int64): "long", np.dtype(np.uint64): "unsigned_long"},
    "5.1": {np.dtype(np.int64): "vtktypeint64", np.dtype(np.uint64): "vtktypeuint64"},
}

CELL_TYPE_NAMES: dict[int, str] = {
    0: "EMPTY_CELL",
    1: "VERTEX",
    2: "POLY_VERTEX",
    3: "LINE",
    4: "POLY_LINE",
    5: "TRIANGLE",
    6: "TRIANGLE_STRIP",
    7: "POLYGON",
    8: "PIXEL",
    9: "QUAD",
    10: "TETRA",
    11: "VOXEL",
    12: "HEXAHEDRON",
    13: "WEDGE",
    14: "PYRAMID",
    15: "PENTAGONAL_PRISM",
    16: "HEXAGONAL_PRISM",
    21: "QUADRATIC_EDGE",
    22: "QUADRATIC_TRIANGLE",
    23: "QUADRATIC_QUAD",
    24: "QUADRATIC_TETRA",
    25: "QUADRATIC_HEXAHEDRON",
    26: "QUADRATIC_WEDGE",
    27: "QUADRATIC_PYRAMID",
    28: "BIQUADRATIC_QUAD",
    29: "TRIQUADRATIC_HEXAHEDRON",
    30: "QUADRATIC_LINEAR_QUAD",
    31: "QUADRATIC_LINEAR_WEDGE",
    32: "BIQUADRATIC_QUADRATIC_WEDGE",
    33: "BIQUADRATIC_QUADRATIC_HEXAHEDRON",
    34: "BIQUADRATIC_TRIANGLE",
    35: "CUBIC_LINE",
    36: "QUADRATIC_POLYGON",
    37: "TRIQUADRATIC_PYRAMID",
    41: "CONVEX_POINT_SET",
    42: "POLYHEDRON",
    51: "PARAMETRIC_CURVE",
    52: "PARAMETRIC_SURFACE",
    53: "PARAMETRIC_TRI_SURFACE",
    54: "PARAMETRIC_QUAD_SURFACE",
    55: "PARAMETRIC_TETRA_REGION",
    56: "PARAMETRIC_HEX_REGION",
    60: "HIGHER_ORDER_EDGE",
    61: "HIGHER_ORDER_TRIANGLE",
    62: "HIGHER_ORDER_QUAD",
    63: "HIGHER_ORDER_POLYGON",
    64: "HIGHER_ORDER_TETRAHEDRON",
    65: "HIGHER_ORDER_WEDGE",
    66: "HIGHER_ORDER_PYRAMID",
    67: "HIGHER_ORDER_HEXAHEDRON",
    68: "LAGRANGE_CURVE",
    69: "LAGRANGE_TRIANGLE",
    70: "LAGRANGE_QUADRILATERAL",
    71: "LAGRANGE_TETRAHEDRON",
    72: "LAGRANGE_HEXAHEDRON",
    73: "LAGRANGE_WEDGE",
    74: "LAGRANGE_PYRAMID",
    75: "BEZIER_CURVE",
    76: "BEZIER_TRIANGLE",
    77: "BEZIER_QUADRILATERAL",
    78: "BEZIER_TETRAHEDRON",
    79: "BEZIER_HEXAHEDRON",
    80: "BEZIER_WEDGE",
    81: "BEZIER_PYRAMID",
}
CELL_TYPES: dict[str, int] = {name: number for number, name in CELL_TYPE_NAMES.items()}
POLYHEDRON = CELL_TYPES["POLYHEDRON"]

# The cell sections of each dataset, in the order its cells are numbered.
CELL_SECTIONS = {
    "UNSTRUCTURED_GRID": ("CELLS",),
    "POLYDATA": ("VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS"),
}
# The geometry sections each dataset may hold.
GEOMETRY = {
    "UNSTRUCTURED_GRID": ("POINTS", "CELLS", "CELL_TYPES"),
    "POLYDATA": ("POINTS", "VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS"),
    "STRUCTURED_POINTS": ("DIMENSIONS", "ORIGIN", "SPACING", "ASPECT_RATIO"),
    "STRUCTURED_GRID": ("DIMENSIONS", "POINTS"),
    "RECTILINEAR_GRID": ("DIMENSIONS", "X_COORDINATES", "Y_COORDINATES", "Z_COORDINATES"),
    "FIELD": (),
}
DATASETS = tuple(GEOMETRY)
STRUCTURED = ("STRUCTURED_POINTS", "STRUCTURED_GRID", "RECTILINEAR_GRID")
# Datasets of the format that this reader does not take.
OTHER_DATASETS = {"TABLE", "GRAPH", "TREE", "MOLECULE", "HYPER_TREE_GRID"}
ALL_GEOMETRY = {kw for sections in GEOMETRY.values() for kw in sections}

# Attribute sections of POINT_DATA and CELL_DATA whose header is
# "KEYWORD name type" and whose tuples have a fixed number of components.
FIXED_ATTRIBUTES = {
    "VECTORS": 3,
    "NORMALS": 3,
    "TENSORS": 9,
    "TENSORS6": 6,
    "GLOBAL_IDS": 1,
    "PEDIGREE_IDS": 1,
    "EDGE_FLAGS": 1,
    "RATIONAL_WEIGHTS": 1,
    "HIGHERORDERDEGREES": 3,
}
ATTRIBUTES = {
    "SCALARS",
    "COLOR_SCALARS",
    "TEXTURE_COORDINATES",
    "LOOKUP_TABLE",
    *FIXED_ATTRIBUTES,
}

# Every keyword that opens a section, in any dataset.
SECTION_KEYWORDS = ALL_GEOMETRY | ATTRIBUTES | {"POINT_DATA", "CELL_DATA", "FIELD", "METADATA"}

VERSION_LINE = re.compile(r"\s*#\s*vtk\s+datafile\s+version\s+(\S+)", re.IGNORECASE)
_ESCAPE = re.compile(rb"%([0-9A-Fa-f]{2})")


def decode_name(name: str) -> str:
    """Undoes the writers' %XX escapes (a blank is written %20)."""
    if "%" not in name:
        return name
    raw = name.encode("utf-8", "surrogateescape")
    raw = _ESCAPE.sub(lambda m: bytes([int(m.group(1), 16)]), raw)
    return raw.decode("utf-8", "surrogateescape")


def escape(text: str) -> str:
    """%XX for every byte that would end or split a name: blanks, '%', controls."""
    raw = text.encode("utf-8", "surrogateescape")
    return "".join(chr(b) if 0x20 < b < 0x7F and b != 0x25 else f"%{b:02X}" for b in raw)
