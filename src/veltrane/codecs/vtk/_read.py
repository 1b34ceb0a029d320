"""Reading a whole file: source, preamble, sections, dataset checks, in that order."""

from __future__ import annotations

from ._datasets import finish
from ._mesh import Mesh
from ._sections import read_preamble, read_sections
from ._source import Input, Source


def read(path: Input) -> Mesh:
    """Reads a VTK legacy file, ASCII or BINARY, of any dataset into a Mesh.

    `path` is a path, a binary file object or a bytes-like object; gzip data
    is unpacked first.

    Raises VtkFormatError (a ValueError) naming the file and line for anything
    that cannot be read, VtkUnsupportedError (a VtkFormatError) for datasets of
    the format that this reader does not take, and OSError when the file
    cannot be opened.
    """
    return read_with_paths(path)[0]


def read_with_paths(path: Input) -> tuple[Mesh, list[tuple[str, str, str]]]:
    """The mesh, and which way each block was read: (block, 'fast' or 'native', why)."""
    source = Source.open(path)
    preamble = read_preamble(source)
    mesh, sections = read_sections(source, preamble)
    finish(mesh, sections, preamble.pos)
    return mesh, sections.dec.paths
