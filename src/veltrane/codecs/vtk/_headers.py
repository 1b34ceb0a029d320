"""The words of section headers: counts, numbers and type names, each checked
where it is read so that an error names the word that is wrong."""

from __future__ import annotations

from typing import NoReturn

from ._keywords import TEXT_TYPES, TYPES
from ._source import Cursor, Source, Word, show


class Headers:
    """Reads header words from a cursor; every failure names its line."""

    def __init__(self, source: Source, cursor: Cursor) -> None:
        self.source = source
        self.cursor = cursor

    def fail(self, pos: int, reason: str) -> NoReturn:
        self.source.fail(pos, reason)

    def word(self, header: Word, what: str) -> Word:
        """The next word of the header that `header` starts."""
        word = self.cursor.word()
        if word is None:
            self.fail(len(self.source.data), f"the file ends inside the {what} header")
        return word

    def count(self, header: Word, what: str) -> int:
        """A count of the header: a whole number, not negative."""
        word = self.word(header, what)
        try:
            n = int(word.text)
        except ValueError:
            self.fail(word.pos, f"{what}: expected a count, found {show(word.text)}")
        if n < 0:
            self.fail(word.pos, f"{what}: the count {n} is negative")
        return n

    def number(self, header: Word, what: str) -> float:
        word = self.word(header, what)
        try:
            return float(word.text)
        except ValueError:
            self.fail(word.pos, f"{what}: expected a number, found {show(word.text)}")

    def numeric_type(self, header: Word, what: str) -> tuple[str, str]:
        """The data type the header names next: (its name, its type code)."""
        word = self.word(header, what)
        low = word.text.lower()
        if low in TEXT_TYPES:
            self.source.unsupported(word.pos, f"{what}: {word.text} arrays are not supported")
        if low not in TYPES:
            self.fail(word.pos, f"{what}: unknown data type {show(word.text)}")
        return word.text, TYPES[low][1]

    def integer_type(self, header: Word, what: str) -> str:
        """The integer data type the header names next, as its type code."""
        word = self.word(header, what)
        entry = TYPES.get(word.text.lower())
        if entry is None or entry[1] in "?fd":
            self.fail(word.pos, f"{what}: expected an integer data type, found {show(word.text)}")
        return entry[1]

    def keyword(self, header: Word, expected: str, what: str) -> Word:
        """The next word, which must be `expected` (in any case)."""
        word = self.cursor.word()
        if word is None or word.text.upper() != expected:
            at = len(self.source.data) if word is None else word.pos
            found = "the end of the file" if word is None else show(word.text)
            self.fail(at, f"{what}: expected {expected}, found {found}")
        return word
