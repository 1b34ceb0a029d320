"""Data arrays as the writer lays them out: each in the section of its role
(SCALARS with its lookup table, COLOR_SCALARS, VECTORS, ...), plain arrays in
FIELD blocks, component names in METADATA, each under a type name that reads
back as the array's dtype.

The plan is made whole before a byte is written: an array that cannot keep
its meaning is a ValueError here, never half a file.
"""

from __future__ import annotations

from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

import numpy as np

from ._chunks import CHUNK, spans
from ._keywords import TYPES, WRITE_TYPES, WRITE_TYPES_64, escape
from ._mesh import ArrayInfo, Mesh
from ._write_checks import name_word, table, text_bytes


@dataclass
class Block:
    """Header lines, then values as an encoder puts them down, then text after them.

    ``kind`` says which encoder call takes the values: 'numbers' (of type
    ``code``, ``per_line`` to a line in text), 'cells' (connectivity, offsets
    and the cell types of an unstructured grid, for the 4.2 layout), 'colors'
    or 'strings'. Values are the mesh's own arrays, encoded as they are
    written."""

    header: str
    values: Any = None
    kind: str = "numbers"
    code: str = "d"
    per_line: int = 1
    after: str = ""


# Sized type names that VTK's reader refuses: an array declared so is written
# under the classic name of its dtype, which both readers take.
REFUSED_TYPES = {
    "vtktypeint8",
    "vtktypeuint8",
    "vtktypeint16",
    "vtktypeuint16",
    "vtktypeint32",
    "vtktypeuint32",
    "vtktypefloat32",
    "vtktypefloat64",
    "__int64",
    "unsigned___int64",
}
_FLOAT_NAMES = {np.dtype(np.float32): "float", np.dtype(np.float64): "double"}
_TEXT_NAMES = ("string", "utf8_string")

# The section of each role that has one. Rational weights, higher-order
# degrees and edge flags of cells go out as FIELD arrays: VTK's reader stops
# at their sections.
_SECTIONS = {
    "scalars": "SCALARS",
    "color_scalars": "COLOR_SCALARS",
    "vectors": "VECTORS",
    "normals": "NORMALS",
    "texture_coordinates": "TEXTURE_COORDINATES",
    "tensors": "TENSORS",
    "tensors6": "TENSORS",
    "global_ids": "GLOBAL_IDS",
    "pedigree_ids": "PEDIGREE_IDS",
    "edge_flags": "EDGE_FLAGS",
}
_AS_FIELD = ("field", "rational_weights", "higherorderdegrees")
_COMPONENTS = {"vectors": (3,), "normals": (3,), "tensors": (9, 6), "tensors6": (9, 6)}


def type_name(values: np.ndarray, declared: object, version: str) -> tuple[str, str]:
    """The type name to write an array under, and its type code ('s' for strings).

    The declared name when it reads back as the array's dtype (and vtkIdType
    only when the values fit the 32 bits VTK reads it as); else the name of
    the dtype, 64-bit integers under the name each layout's readers take."""
    low = declared.lower() if isinstance(declared, str) else ""
    if values.dtype.kind == "U":
        return (low if low in _TEXT_NAMES else "string"), "s"
    entry = TYPES.get(low)
    if entry is not None and low not in REFUSED_TYPES and np.dtype(entry[0]) == values.dtype:
        if entry[1] != "n" or _fits_int32(values):
            return ("vtkIdType" if low == "vtkidtype" else low), entry[1]
    dtype = values.dtype
    name = _FLOAT_NAMES.get(dtype) or WRITE_TYPES.get(dtype) or WRITE_TYPES_64[version][dtype]
    return name, TYPES[name][1]


# Type codes points and coordinates may be declared as: numbers, not bits, and
# not vtkIdType, which VTK reads in 32 bits.
_COORDINATE_CODES = set("cbBhHiIqQfd")


def declared_points_type(mesh: Mesh) -> str:
    """The type the points were declared as: points_type, else float for points
    given as float32."""
    if isinstance(mesh.points_type, str):
        return mesh.points_type
    return "float" if np.asarray(mesh.points).dtype == np.float32 else "double"


def coordinate_block(header: str, values: np.ndarray, declared: str, binary: bool) -> Block:
    """Points or coordinates (numbers of any dtype, taken as float64) under the
    type they were declared as, so that VTK's reader makes the same array of
    them.

    Text POINTS declared float are written as the doubles' own shortest text:
    this package reads POINTS text as the doubles it spells, and VTK's reader
    rounds each to a float, the one it made of the text the double was first
    read from. Otherwise a type is kept when every value is exactly one of
    the type (raw floats and coordinates are read in their declared type);
    the rest is written as double, as is text beyond the range of a float."""
    points = header.startswith("POINTS")
    per_line = 3 if points else 1
    low = declared.lower()
    entry = TYPES.get(low)
    if entry is not None and entry[1] in _COORDINATE_CODES and low not in REFUSED_TYPES:
        dtype, code = np.dtype(entry[0]), entry[1]
        if code == "f" and points and not binary:
            if not any(_overflows_float32(part) for part in _pieces(values)):
                return Block(f"{header} {low}\n", values, code="d", per_line=3)
        # Every value taken as float64 is a float64.
        if dtype == np.float64 or all(_exactly(part, dtype) for part in _pieces(values)):
            return Block(f"{header} {low}\n", values, code=code, per_line=per_line)
    return Block(f"{header} double\n", values, code="d", per_line=per_line)


def _pieces(values: np.ndarray) -> Iterator[np.ndarray]:
    """The values as float64, a piece at a time."""
    for lo, hi in spans(len(values), max(1, CHUNK // 3)):
        yield values[lo:hi].astype(np.float64, copy=False)


def _overflows_float32(values: np.ndarray) -> bool:
    with np.errstate(over="ignore"):
        return bool((np.isinf(values.astype(np.float32)) & np.isfinite(values)).any())


def _exactly(values: np.ndarray, dtype: np.dtype) -> bool:
    """Whether every value is one of the dtype, bit for bit."""
    with np.errstate(all="ignore"):
        back = values.astype(dtype).astype(np.float64)
    return np.array_equal(back.view(np.uint64), values.view(np.uint64))


def _fits_int32(values: np.ndarray) -> bool:
    return not values.size or (values.min() >= -(2**31) and values.max() < 2**31)


def data_blocks(
    label: str,
    arrays: dict[str, Any],
    infos: dict[str, ArrayInfo],
    n: int,
    version: str,
) -> list[Block]:
    """The sections that follow POINT_DATA or CELL_DATA, in the arrays' order:
    each attribute in its own section, each run of plain arrays in one FIELD
    block, so that a reader meets them in the order they came and takes the
    first of each role as the active one."""
    blocks: list[Block] = []
    plain: list[tuple[str, np.ndarray, ArrayInfo | None]] = []
    tables: dict[str, bytes] = {}  # lookup tables written so far, by name
    for name, values in arrays.items():
        what = f"{label} array {name!r}"
        info = _info(infos.get(name), what)
        name_word(name, label)
        a = table(values, n, what)
        role = "field" if info is None else info.role
        if role in _AS_FIELD or (role == "edge_flags" and label == "cell_data"):
            plain.append((name, a, info))
            continue
        if role not in _SECTIONS:
            raise ValueError(f"{what}: unknown role {role!r}")
        if plain:
            blocks.extend(field_blocks("FieldData", plain, version, label))
            plain = []
        assert info is not None
        blocks.extend(_attribute(name, a, info, version, what, tables))
    if plain:
        blocks.extend(field_blocks("FieldData", plain, version, label))
    return blocks


def dataset_field(
    block_name: str,
    arrays: dict[str, Any],
    infos: dict[str, ArrayInfo],
    version: str,
    label: str,
) -> list[Block]:
    """A FIELD block of the dataset as a whole: arrays of any length."""
    items = []
    for name, values in arrays.items():
        what = f"{label} array {name!r}"
        items.append((name, table(values, None, what), _info(infos.get(name), what)))
    return field_blocks(block_name, items, version, label)


def field_blocks(
    block_name: str,
    items: list[tuple[str, np.ndarray, ArrayInfo | None]],
    version: str,
    label: str,
) -> list[Block]:
    out = [Block(f"FIELD {name_word(block_name, label, in_field=True)} {len(items)}\n")]
    for name, a, info in items:
        what = f"{label} array {name!r}"
        k = _components(a)
        tname, code = type_name(a, None if info is None else info.type_name, version)
        header = f"{name_word(name, label, in_field=True)} {k} {len(a)} {tname}\n"
        out.append(_values(header, a, code, k, _metadata(info, k, what)))
    return out


def _attribute(
    name: str, a: np.ndarray, info: ArrayInfo, version: str, what: str, tables: dict[str, bytes]
) -> list[Block]:
    role, k, word = info.role, _components(a), escape(name)
    after = _metadata(info, k, what)
    if role == "color_scalars":
        if a.dtype != np.uint8:
            raise ValueError(f"{what}: colour scalars must be uint8, not {a.dtype}")
        return [Block(f"COLOR_SCALARS {word} {k}\n", a, "colors", per_line=k, after=after)]
    if a.dtype.kind == "U" and role != "pedigree_ids":
        raise ValueError(f"{what}: {role} must be numbers, not strings")
    tname, code = type_name(a, info.type_name, version)
    keyword = _SECTIONS[role]
    if role in _COMPONENTS and k not in _COMPONENTS[role]:
        want = " or ".join(map(str, _COMPONENTS[role]))
        raise ValueError(f"{what}: {role} have {want} components, not {k}")
    if role in ("global_ids", "pedigree_ids", "edge_flags") and k != 1:
        raise ValueError(f"{what}: {role} have 1 component, not {k}")
    if role == "texture_coordinates":
        if not 1 <= k <= 3:
            raise ValueError(f"{what}: texture coordinates have 1, 2 or 3 components, not {k}")
        return [_values(f"{keyword} {word} {k} {tname}\n", a, code, k, after)]
    if k == 6:
        keyword = "TENSORS6"
    if role != "scalars":
        return [_values(f"{keyword} {word} {tname}\n", a, code, k, after)]
    lut = info.lookup_table if info.lookup_table is not None else "default"
    lut_word = name_word(lut, f"{what}: lookup table")
    out = [_values(f"SCALARS {word} {tname} {k}\nLOOKUP_TABLE {lut_word}\n", a, code, k, after)]
    if info.table is not None:
        rgba = np.asarray(info.table)
        if rgba.ndim != 2 or rgba.shape[1] != 4 or rgba.dtype != np.uint8:
            raise ValueError(
                f"{what}: a lookup table is (n, 4) uint8, not {rgba.dtype}{rgba.shape}"
            )
        known = tables.get(lut)
        if known is None:
            # One section per name: every SCALARS array that names it takes it.
            tables[lut] = rgba.tobytes()
            out.append(Block(f"LOOKUP_TABLE {lut_word} {len(rgba)}\n", rgba, "colors", per_line=4))
        elif known != rgba.tobytes():
            raise ValueError(f"{what}: another array gives lookup table {lut!r} other colours")
    return out


def _values(header: str, a: np.ndarray, code: str, k: int, after: str) -> Block:
    if code == "s":
        return Block(header, a, "strings", after=after)
    return Block(header, a, "numbers", code, k, after)


def _components(a: np.ndarray) -> int:
    return 1 if a.ndim == 1 else int(a.shape[1])


def _info(info: object, what: str) -> ArrayInfo | None:
    if info is not None and not isinstance(info, ArrayInfo):
        raise ValueError(f"{what}: its info must be an ArrayInfo, not {type(info).__name__}")
    return info


def _metadata(info: ArrayInfo | None, k: int, what: str) -> str:
    """A METADATA block of component names, one %XX-escaped name to a line (an
    empty line for a component without one), ended by a blank line."""
    names = None if info is None else info.component_names
    if names is None:
        return ""
    if len(names) != k or not all(isinstance(c, str) for c in names):
        raise ValueError(f"{what}: component_names must be {k} str, one per component")
    text_bytes("".join(names), f"{what}: component_names")
    return "METADATA\nCOMPONENT_NAMES\n" + "".join(escape(c) + "\n" for c in names) + "\n"
