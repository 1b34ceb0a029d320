"""The bytes of a legacy file, and a cursor that walks them.

A file is mapped into memory (a file object or bytes are taken as they are,
and gzip data is unpacked once into one buffer) and never decoded as a whole:
header words are decoded where they are read, and numeric blocks are scanned
as bytes by the native code. Positions are byte offsets; a position becomes a
line number only when an error needs one, so a read never pays for an index
of the lines.
"""

from __future__ import annotations

import gzip
import mmap
import os
import re
import stat
import zlib
from bisect import bisect_right
from itertools import accumulate
from typing import IO, NamedTuple, NoReturn

from . import _native
from ._errors import VtkFormatError, VtkUnsupportedError

_BOM = b"\xef\xbb\xbf"
# The next word after any blanks: one match a word, the reader's busiest step.
_NEXT_WORD = re.compile(rb"[ \t\n\v\f\r]*([^ \t\n\v\f\r]+)")
# repr()'s escape of a byte that was no UTF-8 (decoded with surrogateescape),
# behind an even number of backslashes: an escape, not escaped text.
_BYTE_ESCAPE = re.compile(r"(?<!\\)((?:\\\\)*)\\udc([89a-f][0-9a-f])")

Input = str | os.PathLike[str] | bytes | bytearray | memoryview | IO[bytes]


def _map(path: str) -> bytes | mmap.mmap:
    """A regular file's bytes mapped read-only, its pages read in at once; the
    bytes of anything else (an empty file, a pipe) read."""
    with open(path, "rb") as f:
        info = os.fstat(f.fileno())
        if stat.S_ISREG(info.st_mode) and info.st_size:
            try:
                flags = mmap.MAP_SHARED | getattr(mmap, "MAP_POPULATE", 0)
                return mmap.mmap(f.fileno(), 0, flags=flags, prot=mmap.PROT_READ)
            except OSError:
                pass  # a file system that cannot map: read it
        return f.read()


class Source:
    """A file's bytes, its name for messages, and how its lines end.

    A mapped file is unmapped by close(), or by leaving the source as a
    context manager; arrays read from it are copies and outlive it.
    """

    def __init__(self, data: bytes | mmap.mmap, name: str) -> None:
        self.data = data
        self.name = name
        # Only LF (or a lone CR, in old files) ends a line: form feeds and
        # other characters that some splitters break at are blanks here.
        self.eol = b"\r" if data.find(b"\n") < 0 and data.find(b"\r") >= 0 else b"\n"
        self.start = len(_BOM) if data[: len(_BOM)] == _BOM else 0

    @classmethod
    def open(cls, obj: Input) -> Source:
        """Reads a path, a binary file object or a bytes-like object."""
        data: bytes | mmap.mmap
        if isinstance(obj, (bytes, bytearray, memoryview)):
            data, name = (obj if isinstance(obj, bytes) else bytes(obj)), "<bytes>"
        elif hasattr(obj, "read"):
            data, name = obj.read(), str(getattr(obj, "name", "<file>"))
        else:
            name = os.fspath(obj)
            data = _map(name)
        if data[:2] == b"\x1f\x8b":
            packed = data
            try:
                data = gzip.decompress(packed)
            except (OSError, EOFError, zlib.error) as e:
                raise VtkFormatError(name, 1, f"damaged gzip data: {e}") from None
            finally:
                if isinstance(packed, mmap.mmap):
                    packed.close()
        return cls(data, name)

    def close(self) -> None:
        if isinstance(self.data, mmap.mmap):
            try:
                self.data.close()
            except BufferError:
                # An error's traceback may still hold a view of the bytes:
                # the map goes when that does.
                pass

    def __enter__(self) -> Source:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def line_of(self, pos: int) -> int:
        """The 1-based number of the line that holds byte `pos`."""
        data = self.data
        pos = max(0, min(pos, len(data)))
        line = _native.blocks.line_of(data, pos, self.eol)
        if pos == len(data) and line > 1 and data[-1:] == self.eol:
            line -= 1  # what follows the final line end is no line
        return line

    def fail(self, pos: int, reason: str, cls: type[VtkFormatError] = VtkFormatError) -> NoReturn:
        """Raises the error for the line that holds byte `pos`."""
        raise cls(self.name, self.line_of(pos), reason)

    def fail_line(self, line: int, reason: str) -> NoReturn:
        raise VtkFormatError(self.name, line, reason)

    def unsupported(self, pos: int, reason: str) -> NoReturn:
        self.fail(pos, reason, VtkUnsupportedError)


def show(token: str, limit: int = 40) -> str:
    """A word or line of the file as an error message quotes it: printable, cut
    short when it is long.

    repr() escapes what a terminal would act on, and a byte that is no UTF-8
    shows as \\xNN; the cut counts escapes at their width, so that a line of
    binary noise makes no screenful of them.
    """
    # Every character is at least one wide: limit + 1 of them settle the cut.
    widths = list(accumulate(len(repr(c)) - 2 for c in token[: limit + 1]))
    if widths and widths[-1] > limit:
        token = token[: bisect_right(widths, limit - 3)] + "..."
    return _BYTE_ESCAPE.sub(r"\1\\x\2", repr(token))


class Word(NamedTuple):
    """A whitespace-separated word of the file and where it stands."""

    text: str
    pos: int
    end: int


class Cursor:
    """A position in a source, moved on by what is read.

    Outside the preamble a file is a stream of words, as the VTK library reads
    it: a section header may run over lines, and its data may start on the
    header's own line (old writers put both on one). Only string values,
    METADATA and BINARY blocks go by lines.
    """

    def __init__(self, source: Source, pos: int = 0) -> None:
        self.source = source
        self.data = source.data
        self.pos = pos

    def word(self) -> Word | None:
        """The next word, moving past it; None at the end of the file."""
        m = _NEXT_WORD.match(self.data, self.pos)
        if m is None:
            self.pos = len(self.data)
            return None
        end = self.pos = m.end()
        return Word(m.group(1).decode("utf-8", "surrogateescape"), m.start(1), end)

    def peek_word(self) -> Word | None:
        pos = self.pos
        try:
            return self.word()
        finally:
            self.pos = pos

    def word_at(self, pos: int) -> str:
        """The word that starts at byte `pos`, for messages."""
        m = _NEXT_WORD.match(self.data, pos)
        return "" if m is None else m.group(1).decode("utf-8", "surrogateescape")

    def line(self) -> bytes | None:
        """The rest of the current line, moving past its end; None at the end."""
        data = self.data
        if self.pos >= len(data):
            return None
        end = data.find(self.source.eol, self.pos)
        if end < 0:
            end = len(data)
        text = data[self.pos : end]
        self.pos = end + 1
        return text

    def line_text(self, pos: int) -> str:
        """The line that holds byte `pos`, for messages."""
        data, eol = self.data, self.source.eol
        start = data.rfind(eol, 0, pos) + 1
        end = data.find(eol, pos)
        text = data[start : len(data) if end < 0 else end]
        return text.decode("utf-8", "surrogateescape").strip()

    def rest_is_blank(self) -> bool:
        """Whether the current line holds nothing more but blanks."""
        end = self.data.find(self.source.eol, self.pos)
        return not self.data[self.pos : len(self.data) if end < 0 else end].strip()

    def next_line_start(self) -> int:
        """Where the line after the current one starts."""
        end = self.data.find(self.source.eol, self.pos)
        return len(self.data) if end < 0 else end + 1
