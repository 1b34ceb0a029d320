"""The section grammar of a legacy file: its preamble, then section after section.

After the preamble the file is read as a stream of words: a keyword, the words
of its header, then its block, which a decoder (ASCII or BINARY) reads; the
decoder's interface is all this module sees of the bytes. The geometry of each
dataset is read here, its data sections in ``_attributes``.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from ._ascii import AsciiDecoder
from ._attributes import DataSections
from ._binary import BinaryDecoder
from ._cells import Locator, check_offsets
from ._headers import Headers
from ._keywords import (
    ALL_GEOMETRY,
    ATTRIBUTES,
    CELL_SECTIONS,
    DATASETS,
    GEOMETRY,
    OTHER_DATASETS,
    VERSION_LINE,
)
from ._mesh import CellBlock, Mesh
from ._source import Cursor, Source, Word, show

Decoder = AsciiDecoder | BinaryDecoder


@dataclass
class Preamble:
    version: str
    title: str
    binary: bool
    dataset: str
    pos: int  # where the first section may start


def read_preamble(source: Source) -> Preamble:
    """The version line, the title, ASCII or BINARY, and the DATASET line (files
    that hold only FIELD data have none)."""
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
            f"found {show(text.strip(), 80)}",
        )
    title_line = cursor.line()
    if title_line is None:
        source.fail(0, "the file ends before the title line")
    title = title_line.decode("utf-8", "surrogateescape").rstrip("\r")
    fmt = cursor.word()
    if fmt is None:
        source.fail(len(source.data), "the file ends before the line that says ASCII")
    if fmt.text.upper() not in ("ASCII", "BINARY") or not cursor.rest_is_blank():
        source.fail(
            fmt.pos, f"expected ASCII or BINARY, found {show(cursor.line_text(fmt.pos), 80)}"
        )
    binary = fmt.text.upper() == "BINARY"
    word = cursor.word()
    if word is None:
        source.fail(len(source.data), "the file ends before the DATASET line")
    if word.text.upper() == "FIELD":
        # The file is its FIELD blocks: the first starts here.
        return Preamble(m.group(1), title, binary, "FIELD", word.pos)
    kind = cursor.word() if word.text.upper() == "DATASET" else None
    if kind is None:
        source.fail(
            word.pos, f"expected 'DATASET type', found {show(cursor.line_text(word.pos), 80)}"
        )
    dataset = kind.text.upper()
    if dataset not in DATASETS:
        if dataset in OTHER_DATASETS:
            source.unsupported(kind.pos, f"DATASET {dataset} is not supported")
        source.fail(kind.pos, f"unknown DATASET {show(kind.text)}")
    return Preamble(m.group(1), title, binary, dataset, cursor.pos)


class SectionReader:
    """Reads the sections of one file into a mesh, section after section."""

    def __init__(self, decoder: Decoder, mesh: Mesh) -> None:
        self.dec = decoder
        self.source = decoder.source
        self.cursor = decoder.cursor
        self.mesh = mesh
        self.headers = Headers(self.source, self.cursor)
        self.data = DataSections(self.headers, decoder, mesh)
        self.seen: dict[str, int] = {}  # section keyword -> where its header stands
        self.cell_sources: dict[str, Locator] = {}  # section -> connectivity index -> line
        self.coordinate_types: dict[str, str] = {}  # axis -> declared type

    def read(self) -> None:
        geometry = GEOMETRY[self.mesh.dataset]
        data = self.data
        while (w := self.cursor.word()) is not None:
            kw = w.text.upper()
            if kw in geometry:
                data.context = None
                self.geometry(w, kw)
            elif kw in ("POINT_DATA", "CELL_DATA"):
                data.begin_context(w, kw)
            elif kw == "FIELD":
                data.read_field(w)
            elif kw == "METADATA":
                data.read_metadata(w)
            elif data.context is not None and kw in ATTRIBUTES:
                data.read_attribute(w, kw)
            else:
                self.unknown(w, kw)
        data.finish()

    def unknown(self, w: Word, kw: str) -> None:
        fail = self.headers.fail
        try:
            float(w.text)
        except ValueError:
            pass
        else:
            fail(
                w.pos,
                f"found the number {show(w.text)} where a section keyword belongs: the "
                "block before it holds more numbers than its header declares",
            )
        if kw in ALL_GEOMETRY:
            fail(w.pos, f"{kw} does not belong in {self.mesh.dataset}")
        if kw in ATTRIBUTES:
            fail(w.pos, f"{kw} before any POINT_DATA or CELL_DATA section")
        fail(w.pos, f"unknown section {show(w.text)}")

    # geometry --------------------------------------------------------------------

    def geometry(self, w: Word, kw: str) -> None:
        mesh, h, dec = self.mesh, self.headers, self.dec
        if kw in ("ORIGIN", "SPACING", "ASPECT_RATIO"):
            # A later one overrides an earlier one, as the VTK library reads them.
            values = np.array([h.number(w, kw) for _ in range(3)], np.float64)
            if kw == "ORIGIN":
                mesh.origin = values
            else:
                mesh.spacing = values
            return
        if kw in self.seen:
            first = self.source.line_of(self.seen[kw])
            h.fail(w.pos, f"a second {kw} section (the first is on line {first})")
        self.seen[kw] = w.pos
        if kw == "POINTS":
            n = h.count(w, kw)
            type_name, code = h.numeric_type(w, kw)
            dec.begin(w.pos)
            mesh.points = dec.points(n, code)
            mesh.points_type = type_name.lower()
            self.data.last = (None, "", 3)
        elif kw == "DIMENSIONS":
            mesh.dimensions = (h.count(w, kw), h.count(w, kw), h.count(w, kw))
        elif kw.endswith("_COORDINATES"):
            n = h.count(w, kw)
            type_name, code = h.numeric_type(w, kw)
            dec.begin(w.pos)
            with np.errstate(invalid="ignore"):  # a signalling NaN is quieted
                values = dec.numbers(n, code, kw).astype(np.float64, copy=False)
            coords = list(mesh.coordinates or (np.zeros(0),) * 3)
            coords["XYZ".index(kw[0])] = values
            mesh.coordinates = (coords[0], coords[1], coords[2])
            self.coordinate_types[kw[0]] = type_name.lower()
        elif kw == "CELL_TYPES":
            n = h.count(w, kw)
            dec.begin(w.pos)
            types, where = dec.cell_types(n)
            bad = np.flatnonzero((types < 0) | (types > 255))
            if bad.size:
                k = int(bad[0])
                self.source.fail_line(
                    where(k), f"CELL_TYPES: cell type {types[k]} is outside 0 .. 255"
                )
            mesh.cell_types = types.astype(np.uint8)
        else:
            mesh.cells[kw] = self.cells(w, kw)

    def cells(self, w: Word, kw: str) -> CellBlock:
        h, dec = self.headers, self.dec
        n = h.count(w, kw)
        size = h.count(w, kw)
        dec.begin(w.pos)
        nxt = self.cursor.peek_word()
        if nxt is not None and nxt.text.upper() == "OFFSETS":
            return self.cells_v51(w, kw, n, size)
        if n > size:
            # Checked before anything is sized by n: each cell takes a number at least.
            h.fail(w.pos, f"{kw}: {n} cells cannot fit in {size} numbers")
        block, self.cell_sources[kw] = dec.cells(kw, n, size, w.pos)
        return block

    def cells_v51(self, w: Word, kw: str, n_offsets: int, size: int) -> CellBlock:
        """The 5.1 layout: OFFSETS and CONNECTIVITY blocks of a named integer type."""
        h, dec, cursor = self.headers, self.dec, self.cursor
        off_w = h.keyword(w, "OFFSETS", kw)
        code = h.integer_type(off_w, "OFFSETS")
        dec.begin(off_w.pos)
        off_at = dec.locator(cursor.pos)
        offsets = dec.numbers(n_offsets, code, f"{kw} OFFSETS")
        conn_w = h.keyword(w, "CONNECTIVITY", f"{kw}: after the offsets")
        code = h.integer_type(conn_w, "CONNECTIVITY")
        dec.begin(conn_w.pos)
        self.cell_sources[kw] = dec.locator(cursor.pos)
        conn = dec.numbers(size, code, f"{kw} CONNECTIVITY")
        dec.paths.append((kw, "binary" if dec.binary else "native", "5.1 layout"))
        offsets = check_offsets(offsets, size, kw, off_at, w.pos, self.source)
        return CellBlock(conn.astype(np.int64, copy=False), offsets)


def read_sections(
    source: Source, preamble: Preamble, threads: int = 1
) -> tuple[Mesh, SectionReader]:
    """The mesh that the sections after the preamble describe, and the reader that
    knows where each part of it came from; large ASCII blocks on up to `threads`
    threads."""
    mesh = Mesh(
        title=preamble.title,
        version=preamble.version,
        dataset=preamble.dataset,
    )
    cursor = Cursor(source, preamble.pos)
    decoder: Decoder = (
        BinaryDecoder(source, cursor) if preamble.binary else AsciiDecoder(source, cursor, threads)
    )
    reader = SectionReader(decoder, mesh)
    reader.read()
    return mesh, reader


__all__ = ["CELL_SECTIONS", "Preamble", "SectionReader", "read_preamble", "read_sections"]
