"""Reading a whole file: source, preamble, sections, dataset checks, in that order."""

from __future__ import annotations

import os

from ._datasets import finish
from ._mesh import Mesh
from ._sections import read_preamble, read_sections
from ._source import Input, Source


def read(path: Input, threads: int | None = None) -> Mesh:
    """Read a VTK legacy file, ASCII or BINARY, of any dataset.

    Parameters
    ----------
    path : str, os.PathLike, binary file object, or bytes-like
        The file: a path (mapped into memory), anything with a ``read``
        method that gives bytes (seekable or not, such as ``sys.stdin.buffer``)
        or the file's bytes. gzip data is recognised by its content and
        unpacked first.
    threads : int, optional
        How many threads may read one large ASCII block at once; by default
        every core this process may use. ``threads=1`` reads on the calling
        thread alone. The interpreter lock is released while blocks are
        scanned, so several files also read in parallel from a thread pool.
        The result does not depend on it, errors included.

    Returns
    -------
    Mesh
        Points as float64 (n, 3); cells as int64 CellBlocks and uint8
        cell_types; data arrays in the types the file declares.

    Raises
    ------
    VtkFormatError
        A ValueError naming the file, the line (1-based) and what is wrong,
        for anything that cannot be read.
    VtkUnsupportedError
        A VtkFormatError for a dataset of the format this reader does not take
        (TABLE, GRAPH, ...) or strings where numbers belong.
    OSError
        When the file cannot be opened.
    """
    return read_with_paths(path, threads)[0]


def read_with_paths(
    path: Input, threads: int | None = None
) -> tuple[Mesh, list[tuple[str, str, str]]]:
    """The mesh, and which way each block was read: (block, 'native' or 'binary', why)."""
    if threads is None:
        threads = os.process_cpu_count() or 1
    elif not isinstance(threads, int) or isinstance(threads, bool) or threads < 1:
        raise ValueError(f"threads must be a whole number of at least 1, not {threads!r}")
    with Source.open(path) as source:
        preamble = read_preamble(source)
        mesh, sections = read_sections(source, preamble, threads)
        finish(mesh, sections, preamble.pos)
    return mesh, sections.dec.paths
