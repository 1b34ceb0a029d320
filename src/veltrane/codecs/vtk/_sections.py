"""The section grammar of a legacy file: its preamble, then header after header.

It reads each section's header line, checks its words and hands the block that
follows to a decoder (ASCII or BINARY), whose interface is all it sees of the
bytes: numbers of a type, cells, strings, and where a value sits.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import NoReturn

import numpy as np

from ._ascii import AsciiDecoder, Locator
from ._keywords import (
    ATTRIBUTES,
    CELL_SECTIONS,
    DATASETS,
    FIXED_ATTRIBUTES,
    OTHER_DATASETS,
    TEXT_TYPES,
    TYPES,
    VERSION_LINE,
    decode_name,
)
from ._mesh import CellBlock, Mesh
from ._source import Cursor, Header, Source, show


@dataclass
class Preamble:
    version: str
    title: str
    binary: bool
    dataset: str
    pos: int  # where the first section may start


def read_preamble(source: Source) -> Preamble:
    """The version line, the title, ASCII or BINARY, and the DATASET line."""
    cursor = Cursor(source, source.start)
    first = cursor.line()
    if first is None or not first.strip():
        source.fail(0, "not a VTK legacy file: it is empty or starts with a blank line")
    text = first.decode("utf-8", "surrogateescape")
    m = VERSION_LINE.match(text)
    if m is None:
        source.fail(
            0,
            "not a VTK legacy file: expected '# vtk DataFile Version x.y', "
            f"found {text.strip()[:80]!r}",
        )
    title_line = cursor.line()
    if title_line is None:
        source.fail(0, "the file ends before the title line")
    title = title_line.decode("utf-8", "surrogateescape").rstrip("\r")
    hdr = cursor.header()
    if hdr is None:
        source.fail(len(source.data), "the file ends before the line that says ASCII")
    fmt = hdr.keyword()
    if fmt == "BINARY":
        source.unsupported(hdr.pos, "BINARY legacy files are not supported, only ASCII ones")
    if fmt != "ASCII" or len(hdr.words) != 1:
        source.fail(hdr.pos, f"expected ASCII or BINARY, found {hdr.text()!r}")
    hdr = cursor.header()
    if hdr is None:
        source.fail(len(source.data), "the file ends before the DATASET line")
    if hdr.keyword() != "DATASET" or len(hdr.words) != 2:
        if hdr.keyword() == "FIELD":
            source.unsupported(hdr.pos, "legacy files that hold only FIELD data are not supported")
        source.fail(hdr.pos, f"expected 'DATASET type', found {hdr.text()!r}")
    dataset = hdr.words[1].upper()
    if dataset not in DATASETS:
        if dataset in OTHER_DATASETS:
            source.unsupported(
                hdr.pos,
                f"DATASET {dataset} is not supported, only UNSTRUCTURED_GRID and POLYDATA",
            )
        source.fail(hdr.pos, f"unknown DATASET {hdr.words[1]!r}")
    return Preamble(m.group(1), title, False, dataset, cursor.pos)


class SectionReader:
    """Reads the sections of one file into a mesh, header after header."""

    def __init__(self, decoder: AsciiDecoder, mesh: Mesh) -> None:
        self.dec = decoder
        self.source = decoder.source
        self.cursor = decoder.cursor
        self.mesh = mesh
        self.context: str | None = None  # None, 'POINT_DATA' or 'CELL_DATA'
        self.data_counts: dict[str, tuple[int, int]] = {}  # kw -> (count, header position)
        self.cell_sources: dict[str, Locator] = {}  # section -> connectivity index -> line
        self.seen: dict[str, int] = {}  # section keyword -> position of its header
        self.last_components = 0  # of the last data array, for METADATA

    def fail(self, pos: int, reason: str) -> NoReturn:
        self.source.fail(pos, reason)

    def count(self, hdr: Header, k: int, what: str) -> int:
        tok = hdr.words[k]
        try:
            n = int(tok)
        except ValueError:
            self.fail(hdr.pos, f"{what}: expected a count, found {show(tok)}")
        if n < 0:
            self.fail(hdr.pos, f"{what}: the count {n} is negative")
        return n

    def expect_words(self, hdr: Header, lo: int, hi: int, usage: str) -> None:
        if not lo <= len(hdr.words) <= hi:
            self.fail(hdr.pos, f"expected '{usage}', found {hdr.text()!r}")

    def numeric_type(self, hdr: Header, name: str, what: str) -> str:
        """The native code of a numeric type name."""
        low = name.lower()
        if low in TEXT_TYPES:
            self.source.unsupported(hdr.pos, f"{what}: {name} arrays are not supported")
        if low not in TYPES:
            self.fail(hdr.pos, f"{what}: unknown data type {name!r}")
        return TYPES[low][1]

    def int_type(self, hdr: Header, name: str, what: str) -> None:
        entry = TYPES.get(name.lower())
        if entry is None or entry[1] in "?fd":
            self.fail(hdr.pos, f"{what}: expected an integer data type, found {name!r}")

    # the file ------------------------------------------------------------------

    def read(self) -> None:
        mesh, dec = self.mesh, self.dec
        geometry = DATASETS[mesh.dataset]
        while (hdr := self.cursor.header()) is not None:
            kw = hdr.keyword()
            if kw in ("POINTS", "CELL_TYPES") or kw in geometry:
                if kw == "CELL_TYPES" and mesh.dataset != "UNSTRUCTURED_GRID":
                    self.fail(hdr.pos, "CELL_TYPES does not belong in POLYDATA")
                if kw in self.seen:
                    first = self.source.line_of(self.seen[kw])
                    self.fail(hdr.pos, f"a second {kw} section (the first is on line {first})")
                self.seen[kw] = hdr.pos
                self.context = None
                if kw == "POINTS":
                    self.expect_words(hdr, 3, 3, "POINTS n type")
                    n = self.count(hdr, 1, "POINTS")
                    self.numeric_type(hdr, hdr.words[2], "POINTS")
                    dec.begin(hdr, 3)
                    mesh.points = dec.points(n)
                    self.last_components = 3
                elif kw == "CELL_TYPES":
                    mesh.cell_types = self.read_cell_types(hdr)
                else:
                    mesh.cells[kw] = self.read_cells(hdr, kw)
            elif kw in ("POINT_DATA", "CELL_DATA"):
                self.expect_words(hdr, 2, 2, f"{kw} n")
                n = self.count(hdr, 1, kw)
                if kw in self.data_counts and self.data_counts[kw][0] != n:
                    was, at = self.data_counts[kw]
                    self.fail(
                        hdr.pos,
                        f"{kw} {n} contradicts {kw} {was} on line {self.source.line_of(at)}",
                    )
                self.data_counts[kw] = (n, hdr.pos)
                self.context = kw
            elif kw == "FIELD":
                self.read_field(hdr, self.target())
            elif kw == "METADATA":
                self.skip_metadata()
            elif self.context is not None and kw in ATTRIBUTES:
                self.read_attribute(hdr, kw, self.target())
            else:
                self.unknown(hdr, kw)

    def unknown(self, hdr: Header, kw: str) -> NoReturn:
        try:
            float(hdr.words[0])
        except ValueError:
            pass
        else:
            self.fail(
                hdr.pos,
                f"found the number {hdr.words[0]!r} where a section keyword belongs: the "
                "block before it holds more numbers than its header declares",
            )
        if kw in CELL_SECTIONS:
            self.fail(hdr.pos, f"{kw} does not belong in {self.mesh.dataset}")
        if kw in ATTRIBUTES:
            self.fail(hdr.pos, f"{kw} before any POINT_DATA or CELL_DATA section")
        self.fail(hdr.pos, f"unknown section {hdr.words[0]!r}")

    def target(self) -> dict[str, np.ndarray]:
        if self.context == "POINT_DATA":
            return self.mesh.point_data
        if self.context == "CELL_DATA":
            return self.mesh.cell_data
        return self.mesh.field_data

    # cells -----------------------------------------------------------------------

    def read_cell_types(self, hdr: Header) -> np.ndarray:
        self.expect_words(hdr, 2, 2, "CELL_TYPES n")
        n = self.count(hdr, 1, "CELL_TYPES")
        self.dec.begin(hdr, 2)
        start = self.cursor.pos
        types = self.dec.numbers(n, "q", "CELL_TYPES")
        bad = np.flatnonzero((types < 0) | (types > 255))
        if bad.size:
            k = int(bad[0])
            self.source.fail_line(
                self.dec.locator(start)(k), f"CELL_TYPES: cell type {types[k]} is outside 0 .. 255"
            )
        return types.astype(np.uint8)

    def read_cells(self, hdr: Header, kw: str) -> CellBlock:
        self.expect_words(hdr, 3, 3, f"{kw} n size")
        n = self.count(hdr, 1, kw)
        size = self.count(hdr, 2, kw)
        self.dec.begin(hdr, 3)
        nxt = self.cursor.peek_header()
        if nxt is not None and nxt.keyword() == "OFFSETS":
            return self.read_cells_v51(hdr, kw, n, size)
        if n > size:
            # Checked before anything is sized by n: each cell takes a number at least.
            self.fail(hdr.pos, f"{kw}: {n} cells cannot fit in {size} numbers")
        block, self.cell_sources[kw] = self.dec.cells(kw, n, size, hdr)
        return block

    def read_cells_v51(self, hdr: Header, kw: str, n_offsets: int, size: int) -> CellBlock:
        dec, cursor = self.dec, self.cursor
        off_hdr = cursor.header()
        assert off_hdr is not None
        self.expect_words(off_hdr, 2, 2, "OFFSETS type")
        self.int_type(off_hdr, off_hdr.words[1], "OFFSETS")
        dec.begin(off_hdr, 2)
        off_at = dec.locator(cursor.pos)
        offsets = dec.numbers(n_offsets, "q", f"{kw} OFFSETS")
        conn_hdr = cursor.header()
        if conn_hdr is None or conn_hdr.keyword() != "CONNECTIVITY":
            at = len(self.source.data) if conn_hdr is None else conn_hdr.pos
            self.fail(at, f"{kw}: expected 'CONNECTIVITY type' after the offsets")
        self.expect_words(conn_hdr, 2, 2, "CONNECTIVITY type")
        self.int_type(conn_hdr, conn_hdr.words[1], "CONNECTIVITY")
        dec.begin(conn_hdr, 2)
        self.cell_sources[kw] = dec.locator(cursor.pos)
        conn = dec.numbers(size, "q", f"{kw} CONNECTIVITY")
        dec.paths.append((kw, "native", "5.1 layout"))
        if n_offsets == 0:
            if size:
                self.fail(hdr.pos, f"{kw}: {size} connectivity entries but no offsets")
            offsets = np.zeros(1, np.int64)
        fail_line = self.source.fail_line
        if offsets[0] != 0:
            fail_line(off_at(0), f"{kw}: the first offset is {offsets[0]}, not 0")
        steps = np.diff(offsets)
        if steps.size and steps.min() < 0:
            k = int(np.flatnonzero(steps < 0)[0]) + 1
            fail_line(off_at(k), f"{kw}: offset {offsets[k]} is smaller than the one before it")
        if offsets[-1] != size:
            fail_line(
                off_at(len(offsets) - 1),
                f"{kw}: the last offset is {offsets[-1]}, but the header "
                f"declares {size} connectivity entries",
            )
        return CellBlock(conn.astype(np.int64, copy=False), offsets.astype(np.int64, copy=False))

    # data arrays -----------------------------------------------------------------

    def typed(self, hdr: Header, count: int, type_name: str, what: str) -> np.ndarray:
        """`count` values of a declared type; integers keep their width."""
        code = self.numeric_type(hdr, type_name, what)
        return self.dec.numbers(count, code, what, type_name)

    def tuples(self, n_tuples: int, n_comp: int, values: np.ndarray) -> np.ndarray:
        return values if n_comp == 1 else values.reshape(n_tuples, n_comp)

    def read_attribute(self, hdr: Header, kw: str, target: dict[str, np.ndarray]) -> None:
        assert self.context is not None
        n = self.data_counts[self.context][0]
        where = f"{self.context} {kw}"
        dec = self.dec
        if kw == "LOOKUP_TABLE":
            # A colour table: kept by nobody here, but its numbers are counted
            # so that the next section is found where it is.
            self.expect_words(hdr, 3, 3, "LOOKUP_TABLE name size")
            size = self.count(hdr, 2, "LOOKUP_TABLE")
            dec.begin(hdr, 3)
            dec.numbers(4 * size, "d", "LOOKUP_TABLE")
            return
        if kw == "COLOR_SCALARS":
            # Bytes written as fractions of 255; read back as the bytes.
            self.expect_words(hdr, 3, 3, "COLOR_SCALARS name components")
            n_comp = self.count(hdr, 2, "COLOR_SCALARS")
            name = decode_name(hdr.words[1])
            what = f"{where} {name!r}"
            dec.begin(hdr, 3)
            at = dec.locator(self.cursor.pos)
            values = dec.numbers(n * n_comp, "d", what)
            bad = ~((values >= 0) & (values <= 1))
            if bad.any():
                k = int(np.flatnonzero(bad)[0])
                self.source.fail_line(at(k), f"{what}: {values[k]!r} is outside 0 .. 1")
            target[name] = self.tuples(n, n_comp, np.floor(values * 255 + 0.5).astype(np.uint8))
            self.last_components = n_comp
            return
        if kw == "SCALARS":
            self.expect_words(hdr, 3, 4, "SCALARS name type [components]")
            n_comp = self.count(hdr, 3, "SCALARS") if len(hdr.words) == 4 else 1
            if n_comp < 1:
                self.fail(hdr.pos, "SCALARS: the number of components must be at least 1")
            type_name = hdr.words[2]
            dec.begin(hdr, len(hdr.words))
            table = self.cursor.peek_header()
            if table is not None and table.keyword() == "LOOKUP_TABLE":
                self.cursor.header()
                self.expect_words(table, 2, 2, "LOOKUP_TABLE name")
                dec.begin(table, 2)
        elif kw == "TEXTURE_COORDINATES":
            self.expect_words(hdr, 4, 4, "TEXTURE_COORDINATES name dim type")
            n_comp = self.count(hdr, 2, "TEXTURE_COORDINATES")
            type_name = hdr.words[3]
            dec.begin(hdr, 4)
        else:
            self.expect_words(hdr, 3, 3, f"{kw} name type")
            n_comp = FIXED_ATTRIBUTES[kw]
            type_name = hdr.words[2]
            dec.begin(hdr, 3)
        name = decode_name(hdr.words[1])
        values = self.typed(hdr, n * n_comp, type_name, f"{where} {name!r}")
        target[name] = self.tuples(n, n_comp, values)
        self.last_components = n_comp

    def read_field(self, hdr: Header, target: dict[str, np.ndarray]) -> None:
        self.expect_words(hdr, 3, 3, "FIELD name arrays")
        n_arrays = self.count(hdr, 2, "FIELD")
        expected = self.data_counts[self.context][0] if self.context else None

        def array_header() -> Header:
            a_hdr = self.cursor.header()
            if a_hdr is None:
                self.fail(
                    len(self.source.data),
                    f"FIELD {hdr.words[1]}: the file ends before its {n_arrays} arrays",
                )
            return a_hdr

        for _ in range(n_arrays):
            a_hdr = array_header()
            if a_hdr.keyword() == "NULL_ARRAY" and len(a_hdr.words) == 1:
                continue
            if a_hdr.keyword() == "METADATA" and len(a_hdr.words) == 1:
                # Metadata of the array before: not an array of its own.
                self.skip_metadata()
                a_hdr = array_header()
            self.expect_words(a_hdr, 4, 4, "arrayName components tuples type")
            name = decode_name(a_hdr.words[0])
            what = f"FIELD array {name!r}"
            n_comp = self.count(a_hdr, 1, what)
            n_tup = self.count(a_hdr, 2, what)
            if expected is not None and n_tup != expected:
                self.fail(
                    a_hdr.pos,
                    f"FIELD array {name!r} holds {n_tup} tuples, but "
                    f"{self.context} declares {expected}",
                )
            if a_hdr.words[3].lower() in ("string", "utf8_string"):
                values = np.array(self.dec.strings(n_comp * n_tup, what), dtype=np.str_)
            else:
                self.dec.begin(a_hdr, 4)
                values = self.typed(a_hdr, n_comp * n_tup, a_hdr.words[3], what)
            target[name] = self.tuples(n_tup, n_comp, values)
            self.last_components = n_comp

    def skip_metadata(self) -> None:
        """Skips a METADATA block: information keys, and the component names of
        the array before it. A blank line ends the block, except among the
        names: there an unnamed component is an empty line."""
        cursor = self.cursor
        cursor.pos = cursor.next_line_start()
        while (line := cursor.line()) is not None:
            words = line.split()
            if not words:
                break
            if words[0].upper() == b"COMPONENT_NAMES" and self.last_components:
                for _ in range(self.last_components):
                    if cursor.line() is None:
                        break


def read_sections(source: Source, preamble: Preamble) -> tuple[Mesh, SectionReader]:
    """The mesh that the sections after the preamble describe, and the reader that
    knows where each part of it came from."""
    # A file without POINTS has none; a POINTS section replaces these.
    mesh = Mesh(
        points=np.zeros((0, 3), np.float64),
        cells={},
        title=preamble.title,
        version=preamble.version,
        dataset=preamble.dataset,
    )
    decoder = AsciiDecoder(source, Cursor(source, preamble.pos))
    reader = SectionReader(decoder, mesh)
    reader.read()
    return mesh, reader
