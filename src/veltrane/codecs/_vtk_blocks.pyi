"""The VTK reader's work on a file's bytes: runs of numbers, tokens, lines and cells;
the writer's ASCII text."""

from collections.abc import Buffer
from typing import Literal, TypeVar, overload

import numpy as np
import numpy.typing as npt

_S = TypeVar("_S", bound=np.generic)
_Run = tuple[npt.NDArray[_S], int] | tuple[None, int]

@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["d"], threads: int = 1, /
) -> _Run[np.float64]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["f"], threads: int = 1, /
) -> _Run[np.float32]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["b", "c"], threads: int = 1, /
) -> _Run[np.int8]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["B"], threads: int = 1, /
) -> _Run[np.uint8]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["h"], threads: int = 1, /
) -> _Run[np.int16]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["H"], threads: int = 1, /
) -> _Run[np.uint16]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["i"], threads: int = 1, /
) -> _Run[np.int32]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["I"], threads: int = 1, /
) -> _Run[np.uint32]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["q"], threads: int = 1, /
) -> _Run[np.int64]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["Q"], threads: int = 1, /
) -> _Run[np.uint64]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: Literal["?"], threads: int = 1, /
) -> _Run[np.bool]: ...
@overload
def read_ascii(
    data: Buffer, pos: int, count: int, type: str, threads: int = 1, /
) -> _Run[np.generic]: ...
def count_tokens(data: Buffer, start: int, stop: int, /) -> int: ...
def token_offset(data: Buffer, start: int, k: int, /) -> int: ...
def line_end(data: Buffer, pos: int, n: int, eol: bytes, /) -> int: ...
def line_of(data: Buffer, pos: int, eol: bytes, /) -> int: ...
def read_cells(
    data: Buffer, pos: int, n: int, size: int, threads: int = 1, /
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64], int] | tuple[None, int]: ...
def split_cells(
    stream: npt.NDArray[np.integer], n: int, /
) -> tuple[npt.NDArray[np.int64], npt.NDArray[np.int64]] | tuple[None, int, int]: ...
def _tune(release_count: int, thread_count: int, chunk_bytes: int, /) -> tuple[int, int, int]: ...
def format_numbers(
    values: npt.NDArray[np.bool | np.integer | np.floating], per_line: int, /
) -> bytes: ...
def format_cells(
    offsets: npt.NDArray[np.int64], connectivity: npt.NDArray[np.int64], /
) -> bytes: ...
