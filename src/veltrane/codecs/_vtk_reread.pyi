"""Fast re-read of VTK legacy ASCII blocks that are not one record to a line."""

from typing import Literal

import numpy as np
import numpy.typing as npt

_Kind = Literal["f", "i", "u"]

def read_numbers(
    lines: list[str | bytes], start: int, count: int, kind: _Kind
) -> tuple[npt.NDArray[np.float64 | np.int64 | np.uint64], int] | None: ...
def read_numbers_in(
    text: str, starts: npt.NDArray[np.int64], start: int, count: int, kind: _Kind
) -> tuple[npt.NDArray[np.float64 | np.int64 | np.uint64], int] | None: ...
def line_starts(text: str, separator: str) -> npt.NDArray[np.int64]: ...
def count_tokens(lines: list[str | bytes], start: int, stop: int) -> int: ...
def count_tokens_in(
    text: str, starts: npt.NDArray[np.int64], start: int, stop: int
) -> int | None: ...
def scan_buffer(
    data: bytes, count: int, kind: _Kind
) -> npt.NDArray[np.float64 | np.int64 | np.uint64]: ...
