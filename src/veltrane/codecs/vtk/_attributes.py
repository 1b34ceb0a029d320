"""Data sections: POINT_DATA and CELL_DATA with their attribute sections, FIELD
blocks, and the METADATA that follows an array.

Each array keeps how it was declared (its role, type name, lookup table and
component names) beside it, so that writing the mesh back keeps its meaning.
"""

from __future__ import annotations

import re

import numpy as np

from ._ascii import AsciiDecoder
from ._binary import BinaryDecoder
from ._errors import VtkFormatError
from ._headers import Headers
from ._keywords import FIXED_ATTRIBUTES, SECTION_KEYWORDS, TEXT_TYPES, TYPES, decode_name
from ._mesh import ArrayInfo, Mesh
from ._source import Word, show


class DataSections:
    """Reads data sections into a mesh, in the context the last POINT_DATA or
    CELL_DATA set (None: the dataset as a whole)."""

    def __init__(self, headers: Headers, decoder: AsciiDecoder | BinaryDecoder, mesh: Mesh) -> None:
        self.h = headers
        self.dec = decoder
        self.cursor = decoder.cursor
        self.source = decoder.source
        self.mesh = mesh
        self.context: str | None = None
        self.counts: dict[str, tuple[int, int]] = {}  # kw -> (count, where its header stands)
        # Lookup tables defined in each context, by name: (n, 4) RGBA bytes.
        self.tables: dict[str, dict[str, np.ndarray]] = {"POINT_DATA": {}, "CELL_DATA": {}}
        # The array METADATA would describe: its infos, its name, its components.
        self.last: tuple[dict[str, ArrayInfo] | None, str, int] = (None, "", 0)
        self.fields = 0  # FIELD blocks of the dataset as a whole

    def begin_context(self, w: Word, kw: str) -> None:
        n = self.h.count(w, kw)
        if kw in self.counts and self.counts[kw][0] != n:
            was, at = self.counts[kw]
            self.h.fail(w.pos, f"{kw} {n} contradicts {kw} {was} on line {self.source.line_of(at)}")
        self.counts[kw] = (n, w.pos)
        self.context = kw

    def _target(self) -> tuple[dict[str, np.ndarray], dict[str, ArrayInfo]]:
        mesh = self.mesh
        if self.context == "POINT_DATA":
            return mesh.point_data, mesh.point_info
        return mesh.cell_data, mesh.cell_info

    def _store(
        self,
        arrays: dict[str, np.ndarray],
        infos: dict[str, ArrayInfo],
        name: str,
        values: np.ndarray,
        shape: tuple[int, int],
        info: ArrayInfo,
    ) -> None:
        n, n_comp = shape
        values = values if n_comp == 1 else values.reshape(n, n_comp)
        old = infos.get(name)
        if old is not None and info.role == "field":
            # An array met again under the same name takes the place, and the
            # role, of the first, as the VTK library keeps them.
            info.role = old.role
        arrays[name] = values
        infos[name] = info
        self.last = (infos, name, n_comp)

    def _typed(self, w: Word, count: int, what: str) -> tuple[np.ndarray, str]:
        """`count` values of the type the header names next, and that name."""
        type_name, code = self.h.numeric_type(w, what)
        self.dec.begin(w.pos)
        return self.dec.numbers(count, code, what, type_name), type_name

    # attribute sections -----------------------------------------------------------

    def read_attribute(self, w: Word, kw: str) -> None:
        assert self.context is not None
        h, dec = self.h, self.dec
        n = self.counts[self.context][0]
        where = f"{self.context} {kw}"
        name = decode_name(h.word(w, kw).text)
        what = f"{where} {show(name, 80)}"
        if kw == "LOOKUP_TABLE":
            size = h.count(w, kw)
            dec.begin(w.pos)
            self.tables[self.context][name] = dec.colors(4 * size, what).reshape(size, 4)
            return
        arrays, infos = self._target()
        if kw == "COLOR_SCALARS":
            n_comp = h.count(w, kw)
            dec.begin(w.pos)
            values = dec.colors(n * n_comp, what)
            self._store(arrays, infos, name, values, (n, n_comp), ArrayInfo("color_scalars"))
            return
        table = None
        if kw == "SCALARS":
            type_name, code = h.numeric_type(w, what)
            n_comp, table = self._scalars_tail(w, what)
        elif kw == "TEXTURE_COORDINATES":
            n_comp = h.count(w, kw)
            if not 1 <= n_comp <= 3:
                h.fail(w.pos, f"{what}: {n_comp} components, where 1, 2 or 3 belong")
            type_name, code = h.numeric_type(w, what)
        else:
            n_comp = FIXED_ATTRIBUTES[kw]
            type_w = self.cursor.peek_word()
            if kw == "PEDIGREE_IDS" and type_w is not None and _is_text(type_w.text):
                self.cursor.word()
                dec.begin(w.pos)
                values = np.array(dec.strings(n, what, w.pos), dtype=np.str_)
                info = ArrayInfo("pedigree_ids", type_w.text)
                self._store(arrays, infos, name, values, (n, 1), info)
                return
            type_name, code = h.numeric_type(w, what)
        dec.begin(w.pos)
        values = dec.numbers(n * n_comp, code, what, type_name)
        info = ArrayInfo(kw.lower(), type_name, lookup_table=table)
        self._store(arrays, infos, name, values, (n, n_comp), info)

    def _scalars_tail(self, w: Word, what: str) -> tuple[int, str | None]:
        """What follows 'SCALARS name type': [components] LOOKUP_TABLE table.

        Old files run the header and its data together on one line, which only
        the LOOKUP_TABLE word makes plain; without it (a leniency of this
        reader), the components must stand on the header's line and the data
        start on the next."""
        h, cursor = self.h, self.cursor
        same_line = lambda word: self.source.data.find(self.source.eol, w.pos, word.pos) < 0
        n_comp = 1
        here = cursor.pos
        word = cursor.peek_word()
        if word is not None and word.text.upper() != "LOOKUP_TABLE":
            after = None
            integer = re.fullmatch(r"[+-]?[0-9]+", word.text) is not None
            if integer:
                cursor.word()
                after = cursor.peek_word()
                cursor.pos = here
            table_next = after is not None and after.text.upper() == "LOOKUP_TABLE"
            if integer and (same_line(word) or table_next):
                cursor.word()
                n_comp = int(word.text)
                if n_comp < 1:
                    h.fail(word.pos, f"{what}: the number of components must be at least 1")
            word = cursor.peek_word()
        if word is not None and word.text.upper() == "LOOKUP_TABLE":
            cursor.word()
            return n_comp, decode_name(h.word(w, what).text)
        if not cursor.rest_is_blank():
            found = cursor.peek_word()
            assert found is not None
            h.fail(found.pos, f"{what}: expected LOOKUP_TABLE, found {show(found.text)}")
        return n_comp, None

    # FIELD blocks -------------------------------------------------------------------

    def read_field(self, w: Word) -> None:
        h, mesh = self.h, self.mesh
        block = h.word(w, "FIELD").text
        n_arrays = h.count(w, "FIELD")
        if self.context is not None:
            arrays, infos = self._target()
            expected: int | None = self.counts[self.context][0]
        elif self.fields == 0:
            arrays, infos, expected = mesh.field_data, mesh.field_info, None
        else:
            # The VTK library keeps only the first FIELD block of a dataset;
            # every later one is kept apart, names and all.
            arrays, infos, expected = {}, {}, None
            mesh.more_fields.append((decode_name(block), arrays))
        if self.context is None:
            self.fields += 1
        cursor, dec, data = self.cursor, self.dec, self.source.data
        label = f"FIELD {show(block, 80)}"
        for _ in range(n_arrays):
            # The common array at the speed of one match: a plain name, two
            # counts and a number type, then its numbers; anything else, and
            # every error, takes the word-by-word way below.
            m = _ARRAY_HEADER.match(data, cursor.pos)
            if m is not None:
                name_b, comp_b, tup_b, type_b = m.groups()
                entry = TYPES.get(type_b.lower().decode("ascii", "replace"))
                n_tup = int(tup_b)
                if (
                    entry is not None
                    and name_b.upper() not in _NOT_NAMES
                    and (expected is None or n_tup == expected)
                ):
                    n_comp = int(comp_b)
                    type_name = type_b.decode("ascii")
                    start, cursor.pos = cursor.pos, m.end()
                    try:
                        dec.begin(m.start(1))
                        values = dec.numbers(n_comp * n_tup, entry[1], "", type_name)
                    except VtkFormatError:
                        # Read again the word-by-word way, which says what is
                        # wrong in the array's name.
                        cursor.pos = start
                    else:
                        name = decode_name(name_b.decode("utf-8", "surrogateescape"))
                        info = ArrayInfo("field", type_name)
                        self._store(arrays, infos, name, values, (n_tup, n_comp), info)
                        continue
            a = h.word(w, label)
            if a.text.upper() == "NULL_ARRAY":
                continue
            if a.text.upper() == "METADATA":
                # Metadata of the array before: not an array of its own.
                self.read_metadata(a)
                a = h.word(w, label)
            name = decode_name(a.text)
            what = f"FIELD array {show(name, 80)}"
            n_comp = h.count(a, what)
            n_tup = h.count(a, what)
            if expected is not None and n_tup != expected:
                h.fail(
                    a.pos,
                    f"{what} holds {n_tup} tuples, but {self.context} declares {expected}",
                )
            type_w = self.cursor.peek_word()
            if type_w is not None and _is_text(type_w.text):
                self.cursor.word()
                self.dec.begin(a.pos)
                values = np.array(self.dec.strings(n_comp * n_tup, what, a.pos), dtype=np.str_)
                type_name = type_w.text
            else:
                values, type_name = self._typed(a, n_comp * n_tup, what)
            info = ArrayInfo("field", type_name)
            self._store(arrays, infos, name, values, (n_tup, n_comp), info)

    # METADATA -----------------------------------------------------------------------

    def read_metadata(self, w: Word) -> None:
        """Component names and information keys of the array before, up to a blank
        line. Writers escape blanks in names, so a name line that holds more
        than a word, or a section keyword where the block should go on, means
        a line of the block is missing and it has run into the next section:
        an error, where skipping on would lose that section."""
        cursor, fail = self.cursor, self.h.fail
        infos, name, n_comp = self.last
        cursor.pos = cursor.next_line_start()
        while True:
            at = cursor.pos
            line = cursor.line()
            words = (line or b"").split()
            if not words:
                return
            key = words[0].decode("utf-8", "surrogateescape").upper()
            if key == "COMPONENT_NAMES":
                names = []
                for _ in range(n_comp):
                    at = cursor.pos
                    words = (cursor.line() or b"").split()
                    if len(words) > 1:
                        found = b" ".join(words).decode("utf-8", "surrogateescape")
                        fail(at, f"METADATA: found {show(found)} where a component name belongs")
                    text = words[0].decode("utf-8", "surrogateescape") if words else ""
                    names.append(decode_name(text))
                if infos is not None and name in infos:
                    infos[name].component_names = names
            elif key in SECTION_KEYWORDS:
                fail(
                    at,
                    f"METADATA runs into a {key} section: the blank line that ends it is missing",
                )

    def finish(self) -> None:
        """Gives each SCALARS array the lookup table it names, when the file defines
        one of that name in the same context."""
        for context, infos in (
            ("POINT_DATA", self.mesh.point_info),
            ("CELL_DATA", self.mesh.cell_info),
        ):
            tables = self.tables[context]
            for info in infos.values():
                if info.role == "scalars" and info.lookup_table in tables:
                    info.table = tables[info.lookup_table]


# A FIELD array's header: name, components and tuples as plain counts, a type.
_ARRAY_HEADER = re.compile(
    rb"[ \t\n\v\f\r]*([^ \t\n\v\f\r]+)[ \t\n\v\f\r]+([0-9]{1,18})[ \t\n\v\f\r]+"
    rb"([0-9]{1,18})[ \t\n\v\f\r]+([A-Za-z_][A-Za-z0-9_]*)(?=[ \t\n\v\f\r]|$)"
)
# Words where a FIELD array's name stands that are no array name.
_NOT_NAMES = {b"NULL_ARRAY", b"METADATA"}
_STRING_TYPES = TEXT_TYPES - {"variant"}  # variants are not read


def _is_text(type_name: str) -> bool:
    """Whether a type name is one of string values."""
    return type_name.lower() in _STRING_TYPES
