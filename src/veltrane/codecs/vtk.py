"""Read and write VTK legacy files in ASCII form: unstructured grids and polydata.

    from veltrane.codecs import vtk
    mesh = vtk.read("grid.vtk")
    vtk.write("copy.vtk", mesh, version="5.1")

POINTS blocks and cell sections in the 4.2 layout go to the native parser
(``veltrane.codecs._vtk_parse``) first. That parser only takes the plain layout,
one record to a line; whatever it declines is read again here, in Python, as the
run of numbers that the section header counts, however the lines are laid out.
Every other block is read in Python.

``python -m veltrane.codecs.vtk FILE`` prints a summary of a file.
"""

from __future__ import annotations

import argparse
import gzip
import math
import os
import re
import sys
import time
import zlib
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from types import ModuleType
from typing import NoReturn

import numpy as np
import numpy.typing as npt

_vtk_parse: ModuleType | None
_vtk_reread: ModuleType | None
try:
    from veltrane.codecs import _vtk_parse
except ImportError:
    _vtk_parse = None
if not hasattr(_vtk_parse, "parse_ascii_coords"):
    # No built extension (a source tree's _vtk_parse/ holds only the C++
    # sources): every block is read in Python, and the summary says so.
    _vtk_parse = None
try:
    from veltrane.codecs import _vtk_reread
except ImportError:
    _vtk_reread = None
if not hasattr(_vtk_reread, "read_numbers"):
    _vtk_reread = None

__all__ = ["CellBlock", "Mesh", "VtkFormatError", "VtkUnsupportedError", "read", "write"]


class VtkFormatError(ValueError):
    """A file that cannot be read: says which file, which line (1-based) and why."""

    def __init__(self, path: str, lineno: int, reason: str) -> None:
        self.path = path
        self.lineno = lineno
        self.reason = reason
        super().__init__(f"{path}, line {lineno}: {reason}")

    def __reduce__(self) -> tuple[type[VtkFormatError], tuple[str, int, str]]:
        return type(self), (self.path, self.lineno, self.reason)


class VtkUnsupportedError(VtkFormatError):
    """A legacy file of a kind this reader does not take: BINARY, other datasets."""


@dataclass(eq=False)
class CellBlock:
    """Cells in compressed-row form: cell j is connectivity[offsets[j]:offsets[j + 1]]."""

    connectivity: npt.NDArray[np.int64]
    offsets: npt.NDArray[np.int64]

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def cell(self, j: int) -> npt.NDArray[np.int64]:
        return self.connectivity[self.offsets[j] : self.offsets[j + 1]]

    @classmethod
    def empty(cls) -> CellBlock:
        return cls(np.zeros(0, np.int64), np.zeros(1, np.int64))

    @classmethod
    def from_cells(cls, cells: Iterable[Iterable[int]]) -> CellBlock:
        """Builds a block from a sequence of index sequences."""
        rows = [list(c) for c in cells]
        sizes = np.array([len(c) for c in rows], dtype=np.int64)
        offsets = np.zeros(len(rows) + 1, np.int64)
        np.cumsum(sizes, out=offsets[1:])
        flat = [i for c in rows for i in c]
        return cls(np.array(flat, dtype=np.int64), offsets)


@dataclass(eq=False)
class Mesh:
    """What a legacy file holds.

    ``cells`` maps a section keyword to its block: ``'CELLS'`` for an unstructured
    grid; ``'VERTICES'``, ``'LINES'``, ``'POLYGONS'`` and ``'TRIANGLE_STRIPS'`` for
    polydata, whose cells are numbered in that order for ``cell_data``. Data arrays
    are 1-D for one component and (n, k) for k. ``field_data`` holds the FIELD
    arrays that belong to the dataset as a whole.
    """

    points: npt.NDArray[np.float64]
    cells: dict[str, CellBlock]
    cell_types: npt.NDArray[np.uint8] | None = None
    point_data: dict[str, np.ndarray] = field(default_factory=dict)
    cell_data: dict[str, np.ndarray] = field(default_factory=dict)
    field_data: dict[str, np.ndarray] = field(default_factory=dict)
    title: str = ""
    version: str = "4.2"
    dataset: str = "UNSTRUCTURED_GRID"

    @property
    def n_cells(self) -> int:
        return sum(len(b) for b in self.cells.values())


# Data type names as the writers spell them. 'long' is 64 bits wide on the
# LP64 platforms that write these files; vtkIdType is 64 bits in every current build.
_TYPES = {
    "bit": np.bool_,
    "char": np.int8,
    "signed_char": np.int8,
    "unsigned_char": np.uint8,
    "short": np.int16,
    "unsigned_short": np.uint16,
    "int": np.int32,
    "unsigned_int": np.uint32,
    "long": np.int64,
    "unsigned_long": np.uint64,
    "long_long": np.int64,
    "unsigned_long_long": np.uint64,
    "__int64": np.int64,
    "unsigned___int64": np.uint64,
    "vtkidtype": np.int64,
    "vtktypeint8": np.int8,
    "vtktypeuint8": np.uint8,
    "vtktypeint16": np.int16,
    "vtktypeuint16": np.uint16,
    "vtktypeint32": np.int32,
    "vtktypeuint32": np.uint32,
    "vtktypeint64": np.int64,
    "vtktypeuint64": np.uint64,
    "float": np.float64,
    "double": np.float64,
    "vtktypefloat32": np.float64,
    "vtktypefloat64": np.float64,
}
_TEXT_TYPES = {"string", "utf8_string", "variant"}

# Names the writer uses for each integer dtype: the classic ones, which the
# VTK reader takes in every version (it rejects vtktypeint32 and the other
# sized names but for the two 64-bit ones). For 64 bits, 'long' in 4.2 files
# and vtktypeint64 in 5.1 files, the names that meshio reads in each layout.
_WRITE_TYPES = {
    np.dtype(np.bool_): "bit",
    np.dtype(np.int8): "char",
    np.dtype(np.uint8): "unsigned_char",
    np.dtype(np.int16): "short",
    np.dtype(np.uint16): "unsigned_short",
    np.dtype(np.int32): "int",
    np.dtype(np.uint32): "unsigned_int",
}
_WRITE_TYPES_64 = {
    "4.2": {np.dtype(np.int64): "long", np.dtype(np.uint64): "unsigned_long"},
    "5.1": {np.dtype(np.int64): "vtktypeint64", np.dtype(np.uint64): "vtktypeuint64"},
}

CELL_TYPE_NAMES = {
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
_POLYHEDRON = 42

_DATASETS = {
    "UNSTRUCTURED_GRID": ("CELLS",),
    "POLYDATA": ("VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS"),
}
_OTHER_DATASETS = {"STRUCTURED_POINTS", "STRUCTURED_GRID", "RECTILINEAR_GRID", "FIELD"}

# Attribute sections of POINT_DATA and CELL_DATA whose header is
# "KEYWORD name type" and whose tuples have a fixed number of components.
_FIXED_ATTRIBUTES = {
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
_ATTRIBUTES = {
    "SCALARS",
    "COLOR_SCALARS",
    "TEXTURE_COORDINATES",
    "LOOKUP_TABLE",
    *_FIXED_ATTRIBUTES,
}

_VERSION_LINE = re.compile(r"\s*#\s*vtk\s+datafile\s+version\s+(\S+)", re.IGNORECASE)
_ESCAPE = re.compile(rb"%([0-9A-Fa-f]{2})")


# -- numbers ----------------------------------------------------------------


class _NumbersError(Exception):
    """A run of numbers that cannot be read; `index` is the 0-based line."""

    def __init__(self, index, message):
        super().__init__(index, message)
        self.index = index
        self.message = message


_KIND_DTYPES = {"f": np.float64, "i": np.int64, "u": np.uint64}


def _read_numbers(lines, start, count, kind):
    """Reads `count` numbers from lines[start:], however they are spread over the lines.

    kind is 'f' (float64, read as float() reads), 'i' (int64) or 'u' (uint64, both
    read as int() reads). Returns the array and the position of the first line
    after the numbers. The run must end at the end of a line: numbers left over
    on its last line mean the header undercounts them.
    """
    tokens: list[str] = []
    pos = start
    n_lines = len(lines)
    while len(tokens) < count:
        if pos >= n_lines:
            raise _NumbersError(
                n_lines - 1, f"the file ends after {len(tokens)} of {count} numbers"
            )
        # Split a run of lines at once, as many as the numbers still wanted
        # fill if the lines hold as many as this one; then give back whole
        # lines that it took beyond the block.
        need = count - len(tokens)
        per = len(lines[pos].split()) or 1
        end = min(n_lines, pos + -(-need // per))
        chunk = " ".join(lines[pos:end]).split()
        while len(chunk) > need and end > pos + 1:
            last = len(lines[end - 1].split())
            if len(chunk) - last < need:
                break
            del chunk[len(chunk) - last :]
            end -= 1
        tokens += chunk
        pos = end
    surplus = len(tokens) - count
    if surplus:
        # A word among the surplus may be the next section's keyword; the
        # numbers are converted first so that it is reported as such.
        del tokens[count:]
    convert = float if kind == "f" else int
    dtype = _KIND_DTYPES[kind]
    try:
        values = np.fromiter(map(convert, tokens), dtype=dtype, count=len(tokens))
    except ValueError, OverflowError:
        # Find the culprit again, slowly, to say where it is.
        info = None if kind == "f" else np.iinfo(np.int64 if kind == "i" else np.uint64)
        for k, tok in enumerate(tokens):
            try:
                v = convert(tok)
            except ValueError:
                pos = _line_of_token(lines, start, k)
                if tok[:1].isalpha() and lines[pos].split()[0] == tok:
                    # Most likely the next section's keyword: say so.
                    message = (
                        f"found {_show(tok)} after {k} of {count} numbers: the "
                        "block holds fewer numbers than its header declares"
                    )
                else:
                    noun = "a number" if kind == "f" else "an integer"
                    message = f"expected {noun}, found {_show(tok)}"
                raise _NumbersError(pos, message) from None
            if info is not None and not info.min <= v <= info.max:
                raise _NumbersError(
                    _line_of_token(lines, start, k), f"{_show(tok)} is out of range"
                ) from None
        raise
    if surplus:
        raise _NumbersError(
            pos - 1,
            f"{surplus} more number(s) on this line than the {count} that the header declares",
        )
    return values, pos


def _count_tokens(lines, start, stop):
    """The number of whitespace-separated tokens on lines[start:stop]."""
    if isinstance(lines, _Lines) and _vtk_reread is not None:
        got = _vtk_reread.count_tokens_in(lines.text, lines.starts, start, stop)
        if got is not None:
            return got
    elif _vtk_reread is not None:
        return _vtk_reread.count_tokens(lines, start, stop)
    return sum(len(line.split()) for line in lines[start:stop])


def _show(token):
    return repr(token if len(token) <= 40 else token[:37] + "...")


def _line_of_token(lines, start, k):
    """Position of the line that holds the k-th token counted from lines[start]."""
    pos = start
    while pos < len(lines) - 1:
        n = len(lines[pos].split())
        if k < n:
            return pos
        k -= n
        pos += 1
    return pos


def _decode_name(name):
    """Undoes the writers' %XX escapes (a blank is written %20)."""
    if "%" not in name:
        return name
    raw = name.encode("utf-8", "surrogateescape")
    raw = _ESCAPE.sub(lambda m: bytes([int(m.group(1), 16)]), raw)
    return raw.decode("utf-8", "surrogateescape")


def _escape(text):
    raw = text.encode("utf-8", "surrogateescape")
    return "".join(chr(b) if 0x20 < b < 0x7F and b != 0x25 else f"%{b:02X}" for b in raw)


def _encode_name(name):
    if not isinstance(name, str) or not name:
        raise ValueError(f"array names must be non-empty strings, not {name!r}")
    return _escape(name)


# -- reading ------------------------------------------------------------------


class _Lines:
    """The file's lines as a read-only sequence, each made as a str only when
    asked for: bulk numbers are read from the text itself, and only the
    blocks the one-record-a-line parsers take become lists of lines."""

    __slots__ = ("text", "sep", "starts", "n")

    def __init__(self, text, sep):
        assert _vtk_reread is not None  # made only where the native module is
        self.text, self.sep = text, sep
        self.starts = _vtk_reread.line_starts(text, sep)
        self.n = len(self.starts) - 1
        if self.n > 1 and self.starts[self.n - 1] == len(text):
            self.n -= 1  # what follows the final line end is no line
            self.starts = self.starts[: self.n + 1]

    def __len__(self):
        return self.n

    def __getitem__(self, i):
        if isinstance(i, slice):
            return [self[j] for j in range(*i.indices(self.n))]
        if i < 0:
            i += self.n
        if not 0 <= i < self.n:
            raise IndexError("line index out of range")
        return self.text[int(self.starts[i]) : int(self.starts[i + 1]) - 1]

    def block(self, start, stop):
        """lines[start:stop] as a list, made in one split."""
        stop = min(stop, self.n)
        if stop <= start:
            return []
        return self.text[int(self.starts[start]) : int(self.starts[stop]) - 1].split(self.sep)


def _split_lines(text):
    # Only LF (or a lone CR, for old files) ends a line: str.splitlines would
    # also break at form feeds and other characters that are just blanks here.
    sep = "\r" if "\n" not in text and "\r" in text else "\n"
    if _vtk_reread is not None:
        return _Lines(text, sep)
    lines = text.split(sep)
    if len(lines) > 1 and not lines[-1]:
        lines.pop()  # what follows the final line end is no line
    return lines


def _block(lines, start, stop):
    return lines.block(start, stop) if isinstance(lines, _Lines) else lines[start:stop]


class _Reader:
    def __init__(self, path, text):
        self.path = path
        self.lines = _split_lines(text)
        self.pos = 0
        self.paths = []  # (block, 'fast', 'native' or 'python', why) for the summary
        self.reread = "python"  # how the last run of numbers was read
        self.context = None  # None, 'POINT_DATA' or 'CELL_DATA'
        self.data_counts = {}  # 'POINT_DATA' -> (count, header line)
        self.cell_sources = {}  # section -> function(connectivity index) -> line
        self.last_components = 0  # of the last data array, for METADATA
        self.seen = {}  # section keyword -> line of its header

    def fail(self, index: int, reason: str, cls: type[VtkFormatError] = VtkFormatError) -> NoReturn:
        raise cls(self.path, index + 1, reason)

    def next_header(self):
        """Skips blank lines; returns (position, tokens) of the next line, or None."""
        lines = self.lines
        while self.pos < len(lines):
            toks = lines[self.pos].split()
            if toks:
                return self.pos, toks
            self.pos += 1
        return None

    def numbers(self, start, count, kind, what):
        # A count beyond 64 bits cannot be met by any file; the Python read
        # below says where the file ends instead of the native binding
        # raising OverflowError.
        if _vtk_reread is not None and count <= sys.maxsize:
            # The native re-read takes a run whole or not at all; a run it
            # declines is read again in Python, which says what is wrong.
            lines = self.lines
            if isinstance(lines, _Lines):
                got = _vtk_reread.read_numbers_in(lines.text, lines.starts, start, count, kind)
            else:
                got = _vtk_reread.read_numbers(lines, start, count, kind)
            if got is not None:
                arr, self.pos = got
                self.reread = "native"
                return arr
        self.reread = "python"
        try:
            arr, self.pos = _read_numbers(self.lines, start, count, kind)
        except _NumbersError as e:
            self.fail(e.index, f"{what}: {e.message}")
        return arr

    def count(self, index, tok, what):
        try:
            n = int(tok)
        except ValueError:
            self.fail(index, f"{what}: expected a count, found {_show(tok)}")
        if n < 0:
            self.fail(index, f"{what}: the count {n} is negative")
        return n

    def expect_tokens(self, index, toks, lo, hi, usage):
        if not lo <= len(toks) <= hi:
            self.fail(index, f"expected '{usage}', found {' '.join(toks)!r}")

    # header --------------------------------------------------------------

    def read(self):
        lines = self.lines
        if not lines or not lines[0].strip():
            self.fail(0, "not a VTK legacy file: it is empty or starts with a blank line")
        m = _VERSION_LINE.match(lines[0])
        if m is None:
            self.fail(
                0,
                "not a VTK legacy file: expected '# vtk DataFile Version x.y', "
                f"found {lines[0].strip()[:80]!r}",
            )
        version = m.group(1)
        if len(lines) < 2:
            self.fail(0, "the file ends before the title line")
        title = lines[1].rstrip("\r")
        self.pos = 2
        hdr = self.next_header()
        if hdr is None:
            self.fail(len(lines) - 1, "the file ends before the line that says ASCII")
        index, toks = hdr
        fmt = toks[0].upper()
        if fmt == "BINARY":
            self.fail(
                index, "BINARY legacy files are not supported, only ASCII ones", VtkUnsupportedError
            )
        if fmt != "ASCII" or len(toks) != 1:
            self.fail(index, f"expected ASCII or BINARY, found {' '.join(toks)!r}")
        self.pos += 1
        hdr = self.next_header()
        if hdr is None:
            self.fail(len(lines) - 1, "the file ends before the DATASET line")
        index, toks = hdr
        if toks[0].upper() != "DATASET" or len(toks) != 2:
            if toks[0].upper() == "FIELD":
                self.fail(
                    index,
                    "legacy files that hold only FIELD data are not supported",
                    VtkUnsupportedError,
                )
            self.fail(index, f"expected 'DATASET type', found {' '.join(toks)!r}")
        dataset = toks[1].upper()
        if dataset not in _DATASETS:
            if dataset in _OTHER_DATASETS:
                self.fail(
                    index,
                    f"DATASET {dataset} is not supported, only UNSTRUCTURED_GRID and POLYDATA",
                    VtkUnsupportedError,
                )
            self.fail(index, f"unknown DATASET {toks[1]!r}")
        self.pos += 1
        # A file without POINTS has none; a POINTS section replaces these.
        mesh = Mesh(
            points=np.zeros((0, 3), np.float64),
            cells={},
            title=title,
            version=version,
            dataset=dataset,
        )
        self.read_sections(mesh)
        self.finish(mesh)
        return mesh

    # sections --------------------------------------------------------------

    def read_sections(self, mesh):
        geometry = _DATASETS[mesh.dataset]
        seen = self.seen
        while (hdr := self.next_header()) is not None:
            index, toks = hdr
            kw = toks[0].upper()
            if kw in ("POINTS", "CELL_TYPES") or kw in geometry:
                if kw == "CELL_TYPES" and mesh.dataset != "UNSTRUCTURED_GRID":
                    self.fail(index, "CELL_TYPES does not belong in POLYDATA")
                if kw in seen:
                    self.fail(index, f"a second {kw} section (the first is on line {seen[kw] + 1})")
                seen[kw] = index
                self.context = None
                if kw == "POINTS":
                    mesh.points = self.read_points(index, toks)
                elif kw == "CELL_TYPES":
                    mesh.cell_types = self.read_cell_types(index, toks)
                else:
                    mesh.cells[kw] = self.read_cells(index, toks, kw)
            elif kw in ("POINT_DATA", "CELL_DATA"):
                self.expect_tokens(index, toks, 2, 2, f"{kw} n")
                n = self.count(index, toks[1], kw)
                if kw in self.data_counts and self.data_counts[kw][0] != n:
                    self.fail(
                        index,
                        f"{kw} {n} contradicts {kw} "
                        f"{self.data_counts[kw][0]} on line "
                        f"{self.data_counts[kw][1] + 1}",
                    )
                self.data_counts[kw] = (n, index)
                self.context = kw
                self.pos = index + 1
            elif kw == "FIELD":
                target = self.data_target(mesh)
                self.read_field(index, toks, target)
            elif kw == "METADATA":
                self.skip_metadata(index)
            elif self.context is not None and kw in _ATTRIBUTES:
                self.read_attribute(index, toks, kw, self.data_target(mesh))
            else:
                self.unknown(index, toks, kw, mesh)

    def unknown(self, index, toks, kw, mesh):
        try:
            float(toks[0])
        except ValueError:
            pass
        else:
            self.fail(
                index,
                f"found the number {toks[0]!r} where a section keyword "
                "belongs: the block before it holds more numbers than its header "
                "declares",
            )
        if kw in ("CELLS", "CELL_TYPES", "VERTICES", "LINES", "POLYGONS", "TRIANGLE_STRIPS"):
            self.fail(index, f"{kw} does not belong in {mesh.dataset}")
        if kw in _ATTRIBUTES:
            self.fail(index, f"{kw} before any POINT_DATA or CELL_DATA section")
        self.fail(index, f"unknown section {toks[0]!r}")

    def data_target(self, mesh):
        if self.context == "POINT_DATA":
            return mesh.point_data
        if self.context == "CELL_DATA":
            return mesh.cell_data
        return mesh.field_data

    def read_points(self, index, toks):
        self.expect_tokens(index, toks, 3, 3, "POINTS n type")
        n = self.count(index, toks[1], "POINTS")
        self.check_numeric_type(index, toks[2], "POINTS")
        start = index + 1
        why = "native parser not built"
        if _vtk_parse is not None and n > sys.maxsize:
            why = "fewer lines than points"
        elif (
            _vtk_parse is not None
            and n
            and start < len(self.lines)
            and len(self.lines[start].split()) != 3
        ):
            # Several points to a line, as the VTK library writes them: the
            # parser would refuse the first line, so the block goes straight
            # to the re-read without being cut into lines.
            why = "not one point to a line"
        elif _vtk_parse is not None:
            try:
                points = _vtk_parse.parse_ascii_coords(_block(self.lines, start, start + n), 0, n)
            except ValueError:
                why = "not one point to a line"
            except IndexError:
                # A short file, or a packed layout that ends early: the
                # re-read below tells them apart.
                why = "fewer lines than points"
            else:
                self.pos = start + n
                self.paths.append(("POINTS", "fast", ""))
                self.last_components = 3
                return points
        flat = self.numbers(start, 3 * n, "f", "POINTS")
        self.last_components = 3
        self.paths.append(("POINTS", self.reread, why))
        return flat.reshape(n, 3)

    def check_numeric_type(self, index, name, what):
        low = name.lower()
        if low in _TEXT_TYPES:
            self.fail(index, f"{what}: {name} arrays are not supported", VtkUnsupportedError)
        if low not in _TYPES:
            self.fail(index, f"{what}: unknown data type {name!r}")
        return _TYPES[low]

    def read_cell_types(self, index, toks):
        self.expect_tokens(index, toks, 2, 2, "CELL_TYPES n")
        n = self.count(index, toks[1], "CELL_TYPES")
        start = index + 1
        types = self.numbers(start, n, "i", "CELL_TYPES")
        bad = np.flatnonzero((types < 0) | (types > 255))
        if bad.size:
            k = int(bad[0])
            self.fail(
                _line_of_token(self.lines, start, k),
                f"CELL_TYPES: cell type {types[k]} is outside 0 .. 255",
            )
        self.cell_types_line = index
        return types.astype(np.uint8)

    def read_cells(self, index, toks, kw):
        self.expect_tokens(index, toks, 3, 3, f"{kw} n size")
        n = self.count(index, toks[1], kw)
        size = self.count(index, toks[2], kw)
        self.pos = index + 1
        hdr = self.next_header()
        if hdr is not None and hdr[1][0].upper() == "OFFSETS":
            return self.read_cells_v51(index, kw, n, size)
        if n > size:
            # Checked before anything is sized by n: each cell takes a number at least.
            self.fail(index, f"{kw}: {n} cells cannot fit in {size} numbers")
        start = index + 1
        why = "native parser not built"
        if _vtk_parse is not None:
            try:
                conn, offsets = _vtk_parse.parse_ascii_cells_v42(
                    _block(self.lines, start, start + n), 0, n
                )
            except ValueError:
                why = "not one cell to a line"
            except IndexError:
                why = "fewer lines than cells"
            except OverflowError:
                why = "numbers beyond 32 bits"
            else:
                # The native parser skips surplus numbers at the end of a row, so
                # its answer stands only if the rows hold exactly `size` numbers.
                if (
                    n + int(offsets[-1]) == size
                    and _count_tokens(self.lines, start, start + n) == size
                ):
                    self.pos = start + n
                    self.paths.append((kw, "fast", ""))
                    self.cell_sources[kw] = lambda k, o=offsets: (
                        start + int(np.searchsorted(o, k, side="right")) - 1
                    )
                    return CellBlock(conn.astype(np.int64), offsets.astype(np.int64))
                why = "rows hold more numbers than their cells"
        values = self.numbers(start, size, "i", kw)
        self.paths.append((kw, self.reread, why))
        return self.split_rows(index, kw, start, n, size, values)

    def split_rows(self, index, kw, start, n, size, values):
        """Cuts the 4.2 stream 'count i0 i1 ... count ...' into cells."""
        counts = np.empty(n, np.int64)
        heads = np.empty(n, np.int64)
        stream = values.tolist()
        p = 0
        for j in range(n):
            if p >= size:
                self.fail(index, f"{kw}: the size field {size} leaves no room for cell {j} of {n}")
            c = stream[p]
            if c < 0:
                self.fail(
                    _line_of_token(self.lines, start, p),
                    f"{kw}: cell {j} declares a negative number of points ({c})",
                )
            heads[j] = p
            counts[j] = c
            p += c + 1
            if p > size:
                self.fail(
                    _line_of_token(self.lines, start, heads[j]),
                    f"{kw}: cell {j} runs past the size field {size}",
                )
        if p != size:
            self.fail(
                index, f"{kw}: the size field says {size} numbers, but the {n} cells hold {p}"
            )
        keep = np.ones(size, bool)
        keep[heads] = False
        offsets = np.zeros(n + 1, np.int64)
        np.cumsum(counts, out=offsets[1:])
        lines = self.lines

        def source(k):
            j = int(np.searchsorted(offsets, k, side="right")) - 1
            return _line_of_token(lines, start, k + j + 1)

        self.cell_sources[kw] = source
        return CellBlock(values[keep], offsets)

    def read_cells_v51(self, index, kw, n_offsets, size):
        hdr_index, toks = self.next_header()
        self.expect_tokens(hdr_index, toks, 2, 2, "OFFSETS type")
        self.check_int_type(hdr_index, toks[1], "OFFSETS")
        off_start = hdr_index + 1
        offsets = self.numbers(off_start, n_offsets, "i", f"{kw} OFFSETS")
        hdr = self.next_header()
        if hdr is None or hdr[1][0].upper() != "CONNECTIVITY":
            at = hdr[0] if hdr else len(self.lines) - 1
            self.fail(at, f"{kw}: expected 'CONNECTIVITY type' after the offsets")
        conn_index, toks = hdr
        self.expect_tokens(conn_index, toks, 2, 2, "CONNECTIVITY type")
        self.check_int_type(conn_index, toks[1], "CONNECTIVITY")
        conn_start = conn_index + 1
        conn = self.numbers(conn_start, size, "i", f"{kw} CONNECTIVITY")
        self.paths.append((kw, self.reread, "5.1 layout"))
        if n_offsets == 0:
            if size:
                self.fail(index, f"{kw}: {size} connectivity entries but no offsets")
            offsets = np.zeros(1, np.int64)
        if offsets[0] != 0:
            self.fail(off_start, f"{kw}: the first offset is {offsets[0]}, not 0")
        steps = np.diff(offsets)
        if steps.size and steps.min() < 0:
            k = int(np.flatnonzero(steps < 0)[0]) + 1
            self.fail(
                _line_of_token(self.lines, off_start, k),
                f"{kw}: offset {offsets[k]} is smaller than the one before it",
            )
        if offsets[-1] != size:
            self.fail(
                _line_of_token(self.lines, off_start, len(offsets) - 1),
                f"{kw}: the last offset is {offsets[-1]}, but the header "
                f"declares {size} connectivity entries",
            )
        lines = self.lines
        self.cell_sources[kw] = lambda k: _line_of_token(lines, conn_start, k)
        return CellBlock(conn, offsets)

    def check_int_type(self, index, name, what):
        dtype = _TYPES.get(name.lower())
        if dtype is None or not np.issubdtype(dtype, np.integer):
            self.fail(index, f"{what}: expected an integer data type, found {name!r}")

    # data arrays -----------------------------------------------------------

    def read_typed(self, index, start, count, type_name, what):
        """Reads `count` values of a declared type; integers keep their width."""
        dtype = np.dtype(self.check_numeric_type(index, type_name, what))
        if dtype.kind == "f":
            return self.numbers(start, count, "f", what)
        values = self.numbers(start, count, "u" if dtype == np.uint64 else "i", what)
        if dtype.kind == "b":
            lo, hi = 0, 1
        elif type_name.lower() == "char":
            # The VTK writer prints char as unsigned bytes (-1 as 255); its
            # reader turns them back into signed ones.
            lo, hi = -128, 255
        else:
            info = np.iinfo(dtype)
            lo, hi = info.min, info.max
        if values.size and (values.min() < lo or values.max() > hi):
            k = int(np.flatnonzero((values < lo) | (values > hi))[0])
            self.fail(
                _line_of_token(self.lines, start, k),
                f"{what}: {values[k]} does not fit the declared type {type_name}",
            )
        if hi == 255 and lo < 0:
            values = np.where(values > 127, values - 256, values)
        return values.astype(dtype)

    def read_strings(self, index, start, count, what):
        """String arrays: one %XX-escaped value to a line, empty lines included."""
        end = start + count
        if end > len(self.lines):
            self.fail(
                len(self.lines) - 1,
                f"{what}: the file ends after {len(self.lines) - start} of {count} strings",
            )
        self.pos = end
        return np.array(
            [_decode_name(line.strip()) for line in self.lines[start:end]], dtype=np.str_
        )

    def tuples(self, n_tuples, n_comp, values):
        return values if n_comp == 1 else values.reshape(n_tuples, n_comp)

    def read_attribute(self, index, toks, kw, target):
        n = self.data_counts[self.context][0]
        where = f"{self.context} {kw}"
        if kw == "LOOKUP_TABLE":
            # A colour table: kept by nobody here, but its numbers are counted
            # so that the next section is found where it is.
            self.expect_tokens(index, toks, 3, 3, "LOOKUP_TABLE name size")
            size = self.count(index, toks[2], "LOOKUP_TABLE")
            self.numbers(index + 1, 4 * size, "f", "LOOKUP_TABLE")
            return
        if kw == "SCALARS":
            self.expect_tokens(index, toks, 3, 4, "SCALARS name type [components]")
            n_comp = self.count(index, toks[3], "SCALARS") if len(toks) == 4 else 1
            if n_comp < 1:
                self.fail(index, "SCALARS: the number of components must be at least 1")
            type_name = toks[2]
            self.pos = index + 1
            hdr = self.next_header()
            start = index + 1
            if hdr is not None and hdr[1][0].upper() == "LOOKUP_TABLE":
                self.expect_tokens(hdr[0], hdr[1], 2, 2, "LOOKUP_TABLE name")
                start = hdr[0] + 1
        elif kw == "COLOR_SCALARS":
            # Bytes written as fractions of 255; read back as the bytes.
            self.expect_tokens(index, toks, 3, 3, "COLOR_SCALARS name components")
            n_comp = self.count(index, toks[2], "COLOR_SCALARS")
            name = _decode_name(toks[1])
            what = f"{where} {name!r}"
            start = index + 1
            values = self.numbers(start, n * n_comp, "f", what)
            bad = ~((values >= 0) & (values <= 1))
            if bad.any():
                k = int(np.flatnonzero(bad)[0])
                self.fail(
                    _line_of_token(self.lines, start, k), f"{what}: {values[k]!r} is outside 0 .. 1"
                )
            target[name] = self.tuples(n, n_comp, np.floor(values * 255 + 0.5).astype(np.uint8))
            self.last_components = n_comp
            return
        elif kw == "TEXTURE_COORDINATES":
            self.expect_tokens(index, toks, 4, 4, "TEXTURE_COORDINATES name dim type")
            n_comp = self.count(index, toks[2], "TEXTURE_COORDINATES")
            type_name = toks[3]
            start = index + 1
        else:
            self.expect_tokens(index, toks, 3, 3, f"{kw} name type")
            n_comp = _FIXED_ATTRIBUTES[kw]
            type_name = toks[2]
            start = index + 1
        name = _decode_name(toks[1])
        values = self.read_typed(index, start, n * n_comp, type_name, f"{where} {name!r}")
        target[name] = self.tuples(n, n_comp, values)
        self.last_components = n_comp

    def read_field(self, index, toks, target):
        self.expect_tokens(index, toks, 3, 3, "FIELD name arrays")
        n_arrays = self.count(index, toks[2], "FIELD")
        self.pos = index + 1
        expected = self.data_counts[self.context][0] if self.context else None

        def array_header():
            hdr = self.next_header()
            if hdr is None:
                self.fail(
                    len(self.lines) - 1,
                    f"FIELD {toks[1]}: the file ends before its {n_arrays} arrays",
                )
            return hdr

        for _ in range(n_arrays):
            a_index, a_toks = array_header()
            if a_toks[0].upper() == "NULL_ARRAY" and len(a_toks) == 1:
                self.pos += 1
                continue
            if a_toks[0].upper() == "METADATA" and len(a_toks) == 1:
                # Metadata of the array before: not an array of its own.
                self.skip_metadata(a_index)
                a_index, a_toks = array_header()
            self.expect_tokens(a_index, a_toks, 4, 4, "arrayName components tuples type")
            name = _decode_name(a_toks[0])
            n_comp = self.count(a_index, a_toks[1], f"FIELD array {name!r}")
            n_tup = self.count(a_index, a_toks[2], f"FIELD array {name!r}")
            if expected is not None and n_tup != expected:
                self.fail(
                    a_index,
                    f"FIELD array {name!r} holds {n_tup} tuples, but "
                    f"{self.context} declares {expected}",
                )
            if a_toks[3].lower() in ("string", "utf8_string"):
                values = self.read_strings(
                    a_index, a_index + 1, n_comp * n_tup, f"FIELD array {name!r}"
                )
            else:
                values = self.read_typed(
                    a_index, a_index + 1, n_comp * n_tup, a_toks[3], f"FIELD array {name!r}"
                )
            target[name] = self.tuples(n_tup, n_comp, values)
            self.last_components = n_comp

    def skip_metadata(self, index):
        """Skips a METADATA block: information keys, and the component names of
        the array before it. A blank line ends the block, except among the
        names: there an unnamed component is an empty line."""
        lines = self.lines
        pos = index + 1
        while pos < len(lines):
            toks = lines[pos].split()
            pos += 1
            if not toks:
                break
            if toks[0].upper() == "COMPONENT_NAMES" and self.last_components:
                pos += self.last_components
        self.pos = min(pos, len(lines))

    # checks that need the whole file ------------------------------------------

    def finish(self, mesh):
        n_points = len(mesh.points)
        for kw in _DATASETS[mesh.dataset]:
            mesh.cells.setdefault(kw, CellBlock.empty())
        if mesh.dataset == "UNSTRUCTURED_GRID":
            n_cells = len(mesh.cells["CELLS"])
            if mesh.cell_types is None:
                if n_cells:
                    self.fail(
                        self.seen["CELLS"],
                        f"CELLS lists {n_cells} cells, but the file has no CELL_TYPES section",
                    )
                mesh.cell_types = np.zeros(0, np.uint8)
            elif len(mesh.cell_types) != n_cells:
                self.fail(
                    self.cell_types_line,
                    f"CELL_TYPES lists {len(mesh.cell_types)} cells, CELLS {n_cells}",
                )
        for kw, block in mesh.cells.items():
            self.check_indices(mesh, kw, block, n_points)
        for kw, n_want in (("POINT_DATA", n_points), ("CELL_DATA", mesh.n_cells)):
            if kw in self.data_counts and self.data_counts[kw][0] != n_want:
                n, at = self.data_counts[kw]
                what = "points" if kw == "POINT_DATA" else "cells"
                self.fail(at, f"{kw} {n} does not match the {n_want} {what} of the file")

    def check_indices(self, mesh, kw, block, n_points):
        conn = block.connectivity
        heads = None
        if kw == "CELLS" and mesh.cell_types is not None:
            poly = np.flatnonzero(mesh.cell_types == _POLYHEDRON)
            if poly.size:
                # A polyhedron stores "faces, size, ids.., size, ids.."; only the
                # ids are point indices.
                heads = self.polyhedron_heads(kw, block, poly)
        if not conn.size or heads is None and conn.min() >= 0 and conn.max() < n_points:
            return
        bad = (conn < 0) | (conn >= n_points)
        if heads is not None:
            bad[heads] = False
        if bad.any():
            k = int(np.flatnonzero(bad)[0])
            expected = f"0 .. {n_points - 1}" if n_points else "the empty range: no points"
            self.fail(
                self.cell_sources[kw](k), f"{kw}: point index {conn[k]} is outside {expected}"
            )

    def polyhedron_heads(self, kw, block, cells):
        conn = block.connectivity.tolist()
        offsets = block.offsets
        heads = []
        for j in cells.tolist():
            lo, hi = int(offsets[j]), int(offsets[j + 1])
            p = lo
            ok = p < hi and conn[p] >= 0
            if ok:
                heads.append(p)
                n_faces = conn[p]
                p += 1
                for _ in range(n_faces):
                    if p >= hi or conn[p] < 0:
                        ok = False
                        break
                    heads.append(p)
                    p += conn[p] + 1
                ok = ok and p == hi
            if not ok:
                # An empty cell has no number to point at: its section's header stands in.
                at = self.cell_sources[kw](min(p, hi - 1)) if hi > lo else self.seen[kw]
                self.fail(
                    at,
                    f"{kw}: the face list of polyhedron cell {j} does not "
                    f"fill its {hi - lo} numbers",
                )
        return np.array(heads, dtype=np.int64)


def read(path: str | os.PathLike[str]) -> Mesh:
    """Reads a VTK legacy ASCII file (UNSTRUCTURED_GRID or POLYDATA) into a Mesh.

    A gzip-compressed file is unpacked first.

    Raises VtkFormatError (a ValueError) naming the file and line for anything
    that cannot be read, VtkUnsupportedError (a VtkFormatError) for BINARY files
    and other datasets, and OSError when the file cannot be opened.
    """
    return _read(path)[0]


def _read(path):
    name = os.fspath(path)
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"\x1f\x8b":
        try:
            data = gzip.decompress(data)
        except (OSError, EOFError, zlib.error) as e:
            raise VtkFormatError(name, 1, f"damaged gzip data: {e}") from None
    # The file's bytes, its text and its lines are each dropped as soon as
    # the next stands, so that a read peaks at two of them, not three.
    text = data.decode("utf-8", "surrogateescape").removeprefix("\ufeff")
    del data
    reader = _Reader(name, text)
    del text
    return reader.read(), reader.paths


# -- writing ------------------------------------------------------------------


def _float_text(values):
    """Shortest text that float() reads back to the same double, sign of NaN kept."""
    flat = np.ascontiguousarray(values, dtype=np.float64).ravel()
    out = list(map(repr, flat.tolist()))
    nan = np.flatnonzero(np.isnan(flat) & np.signbit(flat))
    for k in nan.tolist():
        out[k] = "-nan"
    return out


def _rows(words, width):
    return "".join(" ".join(words[i : i + width]) + "\n" for i in range(0, len(words), width))


def _array_text(values, version):
    """(type name, words, words to a line) for a data array."""
    if values.dtype.kind == "f":
        return "double", _float_text(values), None
    if values.dtype.kind in "UO":
        # One string to a line, as the VTK writer puts them; an empty string
        # is an empty line.
        strings = values.ravel().tolist()
        if not all(isinstance(v, str) for v in strings):
            raise ValueError("object arrays must hold only str")
        return "string", [_escape(v) for v in strings], 1
    dtype = values.dtype.newbyteorder("=")
    name = _WRITE_TYPES.get(dtype) or _WRITE_TYPES_64[version].get(dtype)
    if name is None:
        raise ValueError(f"cannot write arrays of dtype {values.dtype}")
    if values.dtype.kind == "b":
        return name, ["1" if v else "0" for v in values.ravel().tolist()], None
    return name, list(map(str, values.ravel().tolist())), None


def _field_text(label, arrays, n, version):
    """A FIELD block; `n` is the tuple count every array must have, or None."""
    parts = [f"FIELD FieldData {len(arrays)}\n"]
    for name, values in arrays.items():
        values = np.asarray(values)
        if values.ndim not in (1, 2) or (n is not None and len(values) != n):
            rows = "" if n is None else f"{n} rows and "
            raise ValueError(
                f"{label} array {name!r} must have {rows}1 or 2 "
                f"dimensions, not shape {values.shape}"
            )
        n_comp = 1 if values.ndim == 1 else values.shape[1]
        if n_comp < 1:
            raise ValueError(f"{label} array {name!r} has no components")
        type_name, words, width = _array_text(values, version)
        parts.append(f"{_encode_name(name)} {n_comp} {len(values)} {type_name}\n")
        parts.append(_rows(words, width or n_comp))
    return "".join(parts)


def _check_cells(kw, block):
    offsets = np.asarray(block.offsets)
    conn = np.asarray(block.connectivity)
    if (
        offsets.ndim != 1
        or len(offsets) < 1
        or offsets[0] != 0
        or np.any(np.diff(offsets) < 0)
        or offsets[-1] != len(conn)
    ):
        raise ValueError(
            f"{kw}: offsets must start at 0, never decrease and end at "
            "the length of the connectivity"
        )
    return conn.astype(np.int64).tolist(), offsets.astype(np.int64).tolist()


def write(path: str | os.PathLike[str], mesh: Mesh, version: str = "4.2") -> None:
    """Writes a Mesh as a VTK legacy ASCII file, in the '4.2' or the '5.1' layout.

    Floating-point data are written as double with the shortest text that reads
    back to the same bits (a NaN keeps its sign, not its payload). NaN and
    infinities are written as Python spells them ('nan', '-nan', 'inf', '-inf'):
    this reader takes them, the VTK library's reader rejects them. Integer and
    bool arrays keep their type, str arrays are written as strings, and names
    and strings with blanks or other special characters get %XX escapes.
    Point, cell and field data all go out as FIELD arrays.
    """
    if version not in ("4.2", "5.1"):
        raise ValueError(f"version must be '4.2' or '5.1', not {version!r}")
    dataset = mesh.dataset.upper()
    if dataset not in _DATASETS:
        raise ValueError(f"cannot write DATASET {mesh.dataset!r}")
    title = mesh.title or ""
    if "\n" in title or "\r" in title:
        raise ValueError("the title must be a single line")
    if len(title.encode("utf-8")) > 255:
        raise ValueError("the title must fit in 255 bytes: VTK's reader cuts longer ones")
    points = np.asarray(mesh.points, dtype=np.float64)
    if points.ndim != 2 or points.shape[1] != 3:
        raise ValueError(f"points must have shape (n, 3), not {points.shape}")
    unknown = set(mesh.cells) - set(_DATASETS[dataset])
    if unknown:
        raise ValueError(f"{dataset} has no cell section {sorted(unknown)[0]!r}")
    n_points = len(points)
    parts = [f"# vtk DataFile Version {version}\n{title}\nASCII\nDATASET {dataset}\n"]
    if mesh.field_data:
        parts.append(_field_text("field_data", mesh.field_data, None, version))
    parts.append(f"POINTS {n_points} double\n")
    parts.append(_rows(_float_text(points), 3))
    n_cells = 0
    for kw in _DATASETS[dataset]:
        block = mesh.cells.get(kw)
        if block is None or len(block) == 0:
            # Left out as the VTK writer leaves it out; it reads back as empty.
            continue
        conn, offsets = _check_cells(kw, block)
        n = len(offsets) - 1
        n_cells += n
        if version == "4.2":
            parts.append(f"{kw} {n} {n + len(conn)}\n")
            parts.extend(
                " ".join(
                    map(str, [offsets[j + 1] - offsets[j]] + conn[offsets[j] : offsets[j + 1]])
                )
                + "\n"
                for j in range(n)
            )
        else:
            parts.append(f"{kw} {n + 1} {len(conn)}\nOFFSETS vtktypeint64\n")
            parts.append(_rows(list(map(str, offsets)), 9))
            parts.append("CONNECTIVITY vtktypeint64\n")
            parts.append(_rows(list(map(str, conn)), 9))
    if dataset == "UNSTRUCTURED_GRID":
        types = np.asarray(mesh.cell_types if mesh.cell_types is not None else [], dtype=np.int64)
        if len(types) != n_cells:
            raise ValueError(f"cell_types has {len(types)} entries for {n_cells} cells")
        if types.size and (types.min() < 0 or types.max() > 255):
            raise ValueError("cell types must lie in 0 .. 255")
        if n_cells:
            parts.append(f"CELL_TYPES {n_cells}\n")
            parts.append(_rows(list(map(str, types.tolist())), 1))
    for kw, arrays, n in (
        ("POINT_DATA", mesh.point_data, n_points),
        ("CELL_DATA", mesh.cell_data, n_cells),
    ):
        if arrays:
            parts.append(f"{kw} {n}\n" + _field_text(kw, arrays, n, version))
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.writelines(parts)


# -- command line ----------------------------------------------------------------


def _range_text(values):
    if values.size == 0:
        return "empty"
    if values.dtype.kind in "US":
        return f"text, e.g. {str(values.flat[0])!r}"
    if values.dtype.kind == "f":
        finite = values[~np.isnan(values)]
        nan = values.size - finite.size
        if finite.size == 0:
            return "all NaN"
        text = f"{finite.min():.6g} .. {finite.max():.6g}"
        return text + (f" ({nan} NaN)" if nan else "")
    return f"{values.min()} .. {values.max()}"


def summary(
    mesh: Mesh,
    paths: Sequence[tuple[str, str, str]] = (),
    seconds: float | None = None,
    path: str | None = None,
) -> str:
    """The text that the command line prints for a mesh."""
    out = []
    if path is not None:
        out.append(f"file:      {path}")
    out.append(f"title:     {mesh.title}")
    out.append(f"version:   {mesh.version}")
    out.append(f"dataset:   {mesh.dataset}")
    pts = mesh.points
    out.append(f"points:    {len(pts)}")
    if len(pts):
        lo, hi = _bounds(pts)
        out.append(
            "bounds:    "
            + "  ".join(f"{axis} [{a:.6g}, {b:.6g}]" for axis, a, b in zip("xyz", lo, hi))
        )
    out.append(f"cells:     {mesh.n_cells}")
    if mesh.cell_types is not None:
        types, counts = np.unique(mesh.cell_types, return_counts=True)
        for t, c in zip(types.tolist(), counts.tolist()):
            out.append(f"  {CELL_TYPE_NAMES.get(t, f'type {t}'):<28} {c}")
    else:
        for kw, block in mesh.cells.items():
            out.append(f"  {kw:<28} {len(block)}")
    for label, arrays in (
        ("point data", mesh.point_data),
        ("cell data", mesh.cell_data),
        ("field data", mesh.field_data),
    ):
        if not arrays:
            continue
        out.append(f"{label}:")
        for name, a in arrays.items():
            out.append(f"  {name!r:<28} {str(a.shape):<12} {str(a.dtype):<8} {_range_text(a)}")
    if seconds is not None:
        out.append(f"read in {seconds:.3f} s")
    fast = [blk for blk, how, _ in paths if how == "fast"]
    if fast:
        out.append(f"fast path: {', '.join(fast)}")
    for how, label in (("native", "re-read natively"), ("python", "in Python")):
        slow = [f"{blk} ({why})" for blk, h, why in paths if h == how]
        if slow:
            out.append(f"{label}: {', '.join(slow)}")
    return "\n".join(out)


def _bounds(points):
    with np.errstate(invalid="ignore"):
        finite = points[np.all(np.isfinite(points), axis=1)]
    if not len(finite):
        return [math.nan] * 3, [math.nan] * 3
    return finite.min(axis=0), finite.max(axis=0)


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m veltrane.codecs.vtk",
        description="Print a summary of VTK legacy ASCII files.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE")
    args = parser.parse_args(argv)
    status = 0
    for i, path in enumerate(args.files):
        if i:
            print()
        t0 = time.perf_counter()
        try:
            mesh, paths = _read(path)
        except (VtkFormatError, OSError) as e:
            print(f"error: {e}", file=sys.stderr)
            status = 1
            continue
        print(summary(mesh, paths, time.perf_counter() - t0, path))
    return status


if __name__ == "__main__":
    sys.exit(main())
