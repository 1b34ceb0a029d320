"""The reader's errors: a file that cannot be read, and one of a kind it does not take."""

from __future__ import annotations


class VtkFormatError(ValueError):
    """A file that cannot be read.

    Its message is ``"PATH, line LINENO: REASON"``.

    Attributes
    ----------
    path : str
        The file: its path as given, ``'<bytes>'``, ``'<stdin>'`` or a file
        object's name.
    lineno : int
        The line (1-based) where the problem stands.
    reason : str
        What is wrong, quoting at most a short, printable excerpt of the file.
    """

    def __init__(self, path: str, lineno: int, reason: str) -> None:
        self.path = path
        self.lineno = lineno
        self.reason = reason
        super().__init__(f"{path}, line {lineno}: {reason}")

    def __reduce__(self) -> tuple[type[VtkFormatError], tuple[str, int, str]]:
        return type(self), (self.path, self.lineno, self.reason)


class VtkUnsupportedError(VtkFormatError):
    """A legacy file of a kind this reader does not take: TABLE, GRAPH and other
    datasets, strings where numbers belong."""
