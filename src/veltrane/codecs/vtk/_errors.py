"""The reader's errors: a file that cannot be read, and one of a kind it does not take."""

from __future__ import annotations


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
    """A legacy file of a kind this reader does not take: TABLE, GRAPH and other
    datasets, strings where numbers belong."""
