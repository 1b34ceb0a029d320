"""Makes the hand-written fixtures in tests/python/data/fixtures/ (names hw_*):
files in the habits of old writers that the VTK library's legacy reader still
takes without a word (versions 1.0 to 3.0, data on the section header lines,
ASPECT_RATIO, lower-case keywords, CRLF line ends, lookup tables, several
FIELD blocks, METADATA, exact float digits ...), each with NAME.npz, what
VTK's reader returns for it (vtk_truth.py; fixtures/README.md lists the keys).
A file the reader complains about in any way stops the script.

Run it like make_vtk_fixtures.py, from the checkout's top:

    VELTRANE_ENV=bench VELTRANE_SKIP_BUILD=1 tools/in-env \\
        python3.14 tests/python/data/make_vtk_handwritten.py
"""

import pathlib
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from make_vtk_fixtures import OUT, record  # noqa: E402


def head(version, title, dataset=None, encoding="ASCII"):
    lines = [f"# vtk DataFile Version {version}", title, encoding]
    if dataset:
        lines.append(f"DATASET {dataset}")
    return "\n".join(lines) + "\n"


def numbers(values):
    return " ".join(str(v) for v in values)


FILES = {}

# Version 1.0: every section's data on its header line.
FILES["hw_v10_ugrid_inline"] = head(
    "1.0", "an old grid, data on the header lines", "UNSTRUCTURED_GRID"
) + (
    "POINTS 6 float 0 0 0 1 0 0 1 1 0 0 1 0 0.5 0.5 1 2.5 -1e-3 3.25\n"
    "CELLS 3 14 4 0 1 2 3 5 0 1 2 3 4 2 4 5\n"
    "CELL_TYPES 3 9 14 3\n"
    "POINT_DATA 6\n"
    "SCALARS height float LOOKUP_TABLE default 0 0.25 0.5 0.75 1 1.25\n"
    "VECTORS flow float 1 0 0 0 1 0 0 0 1 1 1 0 0 1 1 1 0 1\n"
    "CELL_DATA 3\n"
    "SCALARS zone int 1 LOOKUP_TABLE default 1 2 3\n"
    "FIELD FieldData 1 weight 1 3 double 0.5 1.5 2.5\n"
)

# Version 2.0 polydata: one line cell of 347 points on its header line.
_line = [(7 * i) % 12 for i in range(347)]
_pts = [
    0,
    0,
    0,
    1,
    0,
    0,
    2,
    0.5,
    0,
    3,
    1,
    0,
    0,
    1,
    1,
    1,
    1,
    1,
    2,
    1.5,
    1,
    3,
    2,
    1,
    0,
    2,
    2,
    1,
    2,
    2,
    2,
    2.5,
    2,
    3,
    3,
    2,
]
_rgb = [
    0,
    0.5039215,
    1,
    0.7862745,
    0.0019607,
    0.9980392,
    1,
    1,
    1,
    0.25,
    0.5,
    0.75,
    0.00392157,
    0.00784314,
    0.0117647,
    0.996078,
    0.5,
    0.501961,
    0,
    0,
    0,
    0.1,
    0.2,
    0.3,
    0.9941176,
    0.4980392,
    0.5019608,
    0.33,
    0.66,
    0.99,
    1,
    0,
    1,
    0.6,
    0.4,
    0.2,
]
FILES["hw_v20_polydata_inline"] = head("2.0", "polyline written on its header line", "POLYDATA") + (
    f"POINTS 12 float {numbers(_pts)}\n"
    "VERTICES 2 5 1 0 2 5 7\n"
    f"LINES 1 348 347 {numbers(_line)}\n"
    "POLYGONS 2 9 3 0 1 2 4 3 4 5 6\n"
    "TRIANGLE_STRIPS 1 6 5 6 7 8 9 10\n"
    "POINT_DATA 12\n"
    f"NORMALS n float {numbers([0, 0, 1] * 12)}\n"
    f"COLOR_SCALARS rgb 3 {numbers(_rgb)}\n"
    "CELL_DATA 6\n"
    "SCALARS id int LOOKUP_TABLE default 0 1 2 3 4 5\n"
)

# Version 3.0 image: keywords out of the writer's order, ASPECT_RATIO for
# SPACING, a SCALARS section with its own LOOKUP_TABLE of RGBA floats.
FILES["hw_v30_image_aspect_lut"] = head(
    "3.0", "image with ASPECT_RATIO and its own table", "STRUCTURED_POINTS"
) + (
    "ORIGIN -1.5 0.1 -2.25e-3\n"
    "DIMENSIONS 3 4 2\n"
    "ASPECT_RATIO 0.1 -0.35 2.5\n"
    "POINT_DATA 24\n"
    "SCALARS level float 1\n"
    "LOOKUP_TABLE ramp\n"
    f"{numbers([round(0.125 * i - 1, 3) for i in range(24)])}\n"
    "LOOKUP_TABLE ramp 4\n"
    "0 0 0 1\n"
    "0.5 0.25 0.125 1\n"
    "1 0.50392156 0.7862745 0.5\n"
    "1 1 1 0\n"
    "CELL_DATA 6\n"
    "SCALARS c unsigned_char\n"
    "LOOKUP_TABLE default\n"
    "0 1 2 3 4 255\n"
)

# Lower-case keywords and CRLF line ends (string values keep the CR).
FILES["hw_lowercase_crlf_rgrid"] = (
    (
        head("4.2", "lower-case keywords, CRLF line ends")
        + (
            "ascii\n"
            "dataset rectilinear_grid\n"
            "dimensions 3 2 1\n"
            "x_coordinates 3 double\n-1 0.5 2.75\n"
            "y_coordinates 2 float\n0 1e-3\n"
            "z_coordinates 1 int\n7\n"
            "point_data 6\n"
            "scalars temp double\nlookup_table default\n1.5 2.5 3.5 4.5 5.5 6.5\n"
            "texture_coordinates uv 2 float\n0 0 1 0 2 0 0 1 1 1 2 1\n"
            "cell_data 2\n"
            "field fielddata 1\nlabel 1 2 string\nleft side\nright%20side\n"
        )
    )
    .replace("ASCII\nascii\n", "ascii\n")
    .replace("\n", "\r\n")
)

# A file of FIELD data alone, one block per time step, the names shared.
FILES["hw_field_timesteps"] = head("3.0", "time steps as FIELD blocks") + "".join(
    f"FIELD step{t} 2\ntime 1 1 double\n{0.5 * t}\n"
    f"pressure 2 2 float\n{numbers([t + 0.25 * k for k in range(4)])}\n"
    for t in range(3)
)

# METADATA as VTK's writer puts it: INFORMATION keys and COMPONENT_NAMES.
FILES["hw_metadata"] = head("4.2", "arrays with METADATA", "UNSTRUCTURED_GRID") + (
    "POINTS 2 double\n0 0 0 1 0 0\n"
    "POINT_DATA 2\n"
    "VECTORS vel%20ocity double\n0.5 1 1.5 -2 0 2\n"
    "METADATA\n"
    "COMPONENT_NAMES\nx%20comp\n\nz%25comp\n"
    "INFORMATION 2\n"
    "NAME L2_NORM_RANGE LOCATION vtkDataArray\nDATA 2 1.87083 2.82843\n"
    "NAME UNITS_LABEL LOCATION vtkDataArray\nDATA m/s%20and%20more\n"
    "\n"
    "FIELD FieldData 2\n"
    "pair 2 2 int\n1 2 3 4\n"
    "METADATA\nCOMPONENT_NAMES\nfirst\nsecond%20one\n\n"
    "plain 1 2 float\n7 8\n"
    "METADATA\nINFORMATION 0\n\n"
)

# ASCII floats with every digit: 9 for float, 17 for double, subnormals, -0.
_f32 = [
    "0.100000001",
    "1.40129846e-45",
    "-0",
    "3.40282347e+38",
    "1.17549435e-38",
    "16777217",
    "-1.99999988",
    "1e-50",
    "0.333333343",
]
_f64 = [
    "0.10000000000000001",
    "4.9406564584124654e-324",
    "2.2250738585072014e-308",
    "1.7976931348623157e+308",
    "-0.0",
    "1e-320",
    "9007199254740993",
    "0.30000000000000004",
    "-2.2250738585072009e-308",
]
FILES["hw_float_digits"] = head("5.1", "floats to the last digit", "UNSTRUCTURED_GRID") + (
    "POINTS 3 double\n"
    f"{' '.join(_f64)}\n"
    "CELLS 2 3\nOFFSETS vtktypeint64\n0 3\nCONNECTIVITY vtktypeint64\n0 1 2\n"
    "CELL_TYPES 1\n5\n"
    "POINT_DATA 3\n"
    f"FIELD FieldData 2\nsingle 3 3 float\n{' '.join(_f32)}\n"
    f"double 3 3 double\n{' '.join(reversed(_f64))}\n"
)

# Integer tokens the reader takes without a word, extremes of each type; a
# negative value of an unsigned type is taken as its two's complement. (Values
# outside what that allows, which the VTK library wraps round or saturates,
# are not here: this project's reader refuses them.)
FILES["hw_integer_tokens"] = head("4.2", "integer extremes and odd tokens", "UNSTRUCTURED_GRID") + (
    "POINTS 4 float\n0 0 0 1 0 0 2 0 0 3 0 0\n"
    "POINT_DATA 4\n"
    "FIELD FieldData 12\n"
    "char 1 4 char\n255 -1 128 -128\n"
    "signed_char 1 4 signed_char\n-128 127 +5 010\n"
    "unsigned_char 1 4 unsigned_char\n0 255 -1 -128\n"
    "short 1 4 short\n-32768 32767 -0 +12\n"
    "unsigned_short 1 4 unsigned_short\n0 65535 -1 -32768\n"
    "int 1 4 int\n-2147483648 2147483647 007 -7\n"
    "unsigned_int 1 4 unsigned_int\n0 4294967295 -1 -2147483648\n"
    "long 1 4 long\n-9223372036854775808 9223372036854775807 0 -1\n"
    "unsigned_long 1 4 unsigned_long\n0 18446744073709551615 -1 -9223372036854775808\n"
    "long_long 1 4 vtktypeint64\n-9223372036854775808 9223372036854775807 1 -1\n"
    "ulong_long 1 4 vtktypeuint64\n0 18446744073709551615 -1 +1\n"
    "ids 1 4 vtkIdType\n-2147483648 2147483647 0 -1\n"
)

# Version 2.0 structured grid, data on the header lines.
FILES["hw_v20_sgrid_inline"] = head("2.0", "structured grid, old style", "STRUCTURED_GRID") + (
    "DIMENSIONS 2 2 2\n"
    "POINTS 8 double 0 0 0 1 0 0 0 1 0 1 1 0 0 0 1 1 0 1 0 1 1 1.5 1.5 1.5\n"
    "CELL_DATA 1\n"
    "SCALARS volume double LOOKUP_TABLE default 1.125\n"
    "POINT_DATA 8\n"
    "VECTORS displacement float 0 0 0 0.1 0 0 0 0.1 0 0.1 0.1 0 0 0 0.1 0.1 0 0.1 0 0.1 0.1 "
    "0.1 0.1 0.1\n"
    "SCALARS flag bit LOOKUP_TABLE default 1 0 1 1 0 0 1 0\n"
)

# Two of a role, and names met twice: the reader's own way of settling them.
FILES["hw_duplicates"] = head("4.2", "attributes met twice", "UNSTRUCTURED_GRID") + (
    "POINTS 2 float\n0 0 0 1 0 0\n"
    "POINT_DATA 2\n"
    "SCALARS first float\nLOOKUP_TABLE default\n1 2\n"
    "VECTORS v1 float\n1 2 3 4 5 6\n"
    "SCALARS second float\nLOOKUP_TABLE default\n3 4\n"
    "VECTORS v2 double\n7 8 9 1 2 3\n"
    "GLOBAL_IDS g1 int\n10 11\n"
    "GLOBAL_IDS g2 int\n12 13\n"
    "FIELD FieldData 2\nfirst 1 2 int\n5 6\nextra 1 2 short\n-1 -2\n"
    "NORMALS extra float\n1 0 0 0 1 0\n"
)

# 5.1 cells on their header lines, with integer type names other than the writer's.
FILES["hw_v51_cells_inline"] = head("5.1", "5.1 cells on the header lines", "UNSTRUCTURED_GRID") + (
    "POINTS 5 float 0 0 0 1 0 0 1 1 0 0 1 0 0.5 0.5 1\n"
    "CELLS 4 12 OFFSETS vtkIdType 0 4 9 12 CONNECTIVITY int 0 1 2 3 0 1 2 3 4 0 2 4\n"
    "CELL_TYPES 3 9 14 5\n"
    "CELL_DATA 3\n"
    "SCALARS part unsigned_short 1 LOOKUP_TABLE default 7 8 65535\n"
)

# Every role but the common ones, odd component counts, NULL_ARRAY, strings.
FILES["hw_attributes"] = head("4.2", "roles, odd widths and strings", "UNSTRUCTURED_GRID") + (
    "POINTS 3 float\n0 0 0 1 0 0 2 0 0\n"
    "CELLS 1 4\n3 0 1 2\nCELL_TYPES 1\n5\n"
    "POINT_DATA 3\n"
    "GLOBAL_IDS gid vtkIdType\n100 101 102\n"
    "PEDIGREE_IDS origin string\npoint%20a\nb c\n\n"
    "TENSORS6 sym float\n1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18\n"
    "EDGE_FLAGS edge unsigned_char\n1 0 1\n"
    "TEXTURE_COORDINATES u 1 double\n0.25 0.5 0.75\n"
    "COLOR_SCALARS rgba 4\n0.5039215 0.7862745 -0.001 1.0000001 0.998 0.0019607841 1 0 "
    "0.25 0.1 0.998039186 0.5\n"
    "FIELD FieldData 3\n"
    "a 1 3 int\n1 2 3\n"
    "NULL_ARRAY\n"
    "text 1 3 string\nwith%20escape%25\nwith spaces  \n%C2%B5\n"
    "CELL_DATA 1\n"
    "PEDIGREE_IDS cell%20ped long\n-9\n"
    "TENSORS whole double\n1 2 3 4 5 6 7 8 9\n"
)

# Lagrange hexahedra in the 4.2 and 5.1 cell layouts: the reader renumbers
# the first, not the second.
_hex = numbers(range(27))
_hex_pts = (
    "POINTS 27 float\n"
    + numbers([c for k in range(3) for j in range(3) for i in range(3) for c in (i, j, k)])
    + "\n"
)
FILES["hw_lagrange_hex_42"] = head("4.2", "a Lagrange hexahedron", "UNSTRUCTURED_GRID") + (
    _hex_pts + f"CELLS 2 30\n27 {_hex}\n1 0\nCELL_TYPES 2\n72\n1\n"
)
FILES["hw_lagrange_hex_51"] = head("5.1", "a Lagrange hexahedron", "UNSTRUCTURED_GRID") + (
    _hex_pts + f"CELLS 3 28\nOFFSETS vtktypeint64\n0 27 28\nCONNECTIVITY vtktypeint64\n"
    f"{_hex} 0\nCELL_TYPES 2\n72\n1\n"
)


def binary_v30():
    """A BINARY version 3.0 grid with CRLF after its header lines."""
    be = struct.pack
    parts = [
        head("3.0", "binary, CRLF after the header lines", "UNSTRUCTURED_GRID", "BINARY")
        .replace("\n", "\r\n")
        .encode(),
        b"POINTS 4 float\r\n",
        be(">12f", 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1.5),
        b"\r\n",
        b"CELLS 2 7\r\n",
        be(">7i", 4, 0, 1, 2, 3, 1, 3),
        b"\r\n",
        b"CELL_TYPES 2\r\n",
        be(">2i", 10, 1),
        b"\r\n",
        b"CELL_DATA 2\r\n",
        b"COLOR_SCALARS rgb 3\r\n",
        bytes([0, 128, 255, 10, 20, 30]),
        b"\r\n",
        b"POINT_DATA 4\r\n",
        b"SCALARS t double 1\r\nLOOKUP_TABLE mine\r\n",
        be(">4d", 0.1, -0.0, 5e-324, 1e308),
        b"\r\n",
        b"LOOKUP_TABLE mine 2\r\n",
        bytes([1, 2, 3, 4, 250, 251, 252, 253]),
        b"\r\n",
        b"FIELD FieldData 4\r\n",
        b"flags 1 4 bit\r\n",
        bytes([0b10110000]),
        b"\r\n",
        b"ids 1 4 vtkIdType\r\n",
        be(">4i", -1, 0, 2147483647, -2147483648),
        b"\r\n",
        b"big 1 4 unsigned_long\r\n",
        be(">4Q", 0, 1, 2**63, 2**64 - 1),
        b"\r\n",
        b"names 1 4 string\r\n",
        b"\xc5short" + b"\x80\x46" + b"m" * 70 + b"\xc0" + b"\xc3a b",
        b"\r\n",
    ]
    return b"".join(parts)


def make():
    OUT.mkdir(exist_ok=True)
    made = []
    for name, text in FILES.items():
        made.append(record(name, text.encode("utf-8"), "by hand", strict=True))
    made.append(record("hw_binary_v30_crlf", binary_v30(), "by hand", strict=True))
    return made


if __name__ == "__main__":
    for row in make():
        print("| " + " | ".join(str(x) for x in row) + " |")
