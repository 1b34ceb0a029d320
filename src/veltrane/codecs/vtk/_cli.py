"""The command line, `veltrane-vtk FILE...`: a summary of each file, as text or JSON.

It keeps the manners of a Unix tool: '-' reads standard input; a file that
cannot be read is reported on stderr and the rest are still read; a closed
pipe or Ctrl-C ends it quietly, without a traceback; the exit status says how
it went (see `main`).
"""

from __future__ import annotations

import argparse
import errno
import io
import json
import os
import shutil
import sys
import threading
import time
from collections.abc import Sequence
from typing import Any, TextIO

from ... import __version__
from ._errors import VtkFormatError
from ._mesh import Mesh
from ._read import read_with_paths
from ._summary import printable, record, summary

OK, FAILED, USAGE, INTERRUPTED, PIPE_CLOSED = 0, 1, 2, 130, 141
STDIN = "-"


def _parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description=(
            "Print a summary of each VTK legacy file: its dataset, points and bounds, "
            "cells by type, and data arrays with their shapes, types and ranges."
        ),
        epilog=(
            "Exit status: 0 when every file was read, 1 when a file could not be "
            "(the others are still read), 2 for a usage error, 130 on Ctrl-C, "
            "141 when standard output closes early."
        ),
    )
    parser.add_argument(
        "files",
        nargs="+",
        metavar="FILE",
        help="a .vtk file, gzip-compressed or not; '-' reads standard input",
    )
    parser.add_argument(
        "--json",
        action="store_true",
        help="print one JSON object per file, one to a line, for scripts",
    )
    parser.add_argument(
        "-v",
        "--verbose",
        action="store_true",
        help="also say how long each read took and how each block was read",
    )
    parser.add_argument("--version", action="version", version=f"veltrane {__version__}")
    return parser


def _size_text(n: int) -> str:
    if n < 1024:
        return f"{n} bytes"
    size, unit = n / 1024, "KiB"
    for bigger in ("MiB", "GiB", "TiB"):
        if size < 1024:
            break
        size, unit = size / 1024, bigger
    return f"{size:.1f} {unit}"


class _Progress:
    """'reading NAME (SIZE)...' on stderr while a read takes over a second,
    cleared when it ends; only when stderr is a terminal, so that logs and
    pipes see nothing of it."""

    delay = 1.0

    def __init__(self, name: str, path: str | None) -> None:
        self.name, self.path = name, path
        self.done = threading.Event()
        self.thread: threading.Thread | None = None

    def __enter__(self) -> _Progress:
        err = sys.stderr
        if err is not None and err.isatty():
            self.thread = threading.Thread(target=self._show, args=(err,), daemon=True)
            self.thread.start()
        return self

    def __exit__(self, *exc: object) -> None:
        self.done.set()
        if self.thread is not None:
            self.thread.join()

    def _show(self, err: TextIO) -> None:
        if self.done.wait(self.delay):
            return
        try:
            size = f" ({_size_text(os.stat(self.path).st_size)})" if self.path else ""
        except OSError:
            size = ""
        line = f"reading {printable(self.name)}{size}..."
        # A line wider than the terminal wraps, and "\r" would clear only its end.
        width = shutil.get_terminal_size().columns - 1
        if len(line) > width:
            line = line[: max(width - 3, 0)] + "..."
        try:
            err.write(line)
            err.flush()
            self.done.wait()
            err.write("\r\x1b[K")
            err.flush()
        except OSError, ValueError:
            pass  # stderr went away: nothing left to tidy


def _read(name: str) -> tuple[Mesh, list[tuple[str, str, str]]]:
    if name != STDIN:
        return read_with_paths(name)
    if sys.stdin is None:
        raise OSError(errno.EBADF, "standard input is closed")
    # The buffer's name is '<stdin>', which messages then give.
    return read_with_paths(sys.stdin.buffer)


def _report(prog: str, message: str) -> None:
    sys.stdout.flush()  # what came before stays before, in a shared log
    print(f"{prog}: {printable(message)}", file=sys.stderr)


def _run(argv: Sequence[str] | None, prog: str) -> int:
    args = _parser(prog).parse_args(argv)
    if isinstance(sys.stdout, io.TextIOWrapper):
        # Titles and names may hold characters that a narrow locale cannot print.
        sys.stdout.reconfigure(errors="backslashreplace")
    status = OK
    shown = 0
    for name in args.files:
        label = "<stdin>" if name == STDIN else name
        t0 = time.perf_counter()
        try:
            with _Progress(label, None if name == STDIN else name):
                mesh, paths = _read(name)
        except VtkFormatError as e:
            _report(prog, str(e))
            status = FAILED
            continue
        except OSError as e:
            _report(prog, f"{label}: {e.strerror or e}")
            status = FAILED
            continue
        seconds = time.perf_counter() - t0
        extra: dict[str, Any] = {"paths": paths, "seconds": seconds} if args.verbose else {}
        if args.json:
            text = json.dumps(record(mesh, path=label, **extra), allow_nan=False)
        else:
            text = ("\n" if shown else "") + summary(mesh, path=label, **extra)
        print(text)
        # A closed pipe shows here, before the next file is read for nobody.
        sys.stdout.flush()
        shown += 1
    return status


def main(argv: Sequence[str] | None = None, prog: str = "veltrane-vtk") -> int:
    """Prints a summary of each file named, as the command line does.

    Parameters
    ----------
    argv : sequence of str, optional
        The arguments, without the program's name; ``sys.argv[1:]`` when None.
        ``FILE...`` (``-`` for standard input), ``--json``, ``-v``/``--verbose``,
        ``--version``, ``-h``/``--help``.
    prog : str, optional
        The name that usage, help and messages give the program.

    Returns
    -------
    int
        The exit status: 0 when every file was read; 1 when one could not be
        (each such file is reported on stderr as ``prog: message``, and the
        others are still read); 2 for a usage error, reported by argparse;
        130 on Ctrl-C; 141 when standard output closes early (``| head``),
        after which nothing more is written and nothing is reported.

    Notes
    -----
    Text output is one summary per file (see `summary`), a blank line between
    them. With ``--json`` each file is one JSON object on a line of its own
    (see `record` in ``_summary``); numbers are JSON numbers.
    """
    try:
        try:
            return _run(argv, prog)
        except SystemExit as e:  # argparse: --help, --version or a usage error
            sys.stdout.flush()
            return e.code if isinstance(e.code, int) else USAGE
    except KeyboardInterrupt:
        return INTERRUPTED
    except BrokenPipeError:
        # Python's advice for a closed pipe: point stdout at devnull, so that
        # the flush at exit writes nowhere instead of failing again.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
        except OSError, ValueError:
            pass
        return PIPE_CLOSED
