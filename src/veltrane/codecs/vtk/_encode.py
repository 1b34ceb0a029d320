"""Values as the bytes of a block: text as ASCII files spell them, or raw
big-endian values as BINARY files hold them.

The two encoders answer the same four calls, so the layout never asks which
one it has, and the text one can give way to a faster formatter without the
layout noticing. Values come in checked: the right dtype for their type code,
str for strings, bytes for colours.
"""

from __future__ import annotations

import operator
from collections.abc import Sequence
from typing import Protocol

import numpy as np

from ._keywords import escape

# What an encoder hands back: pieces to write one after the other.
Chunks = list[bytes | np.ndarray]

# The file's dtype for each type code of a BINARY block. vtkIdType ('n') is
# 32 bits there, as the VTK library writes and reads it.
_BIG = {
    code: np.dtype(big)
    for code, big in zip("cbBhHiInqQfd", "i1 i1 u1 >i2 >u2 >i4 >u4 >i4 >i8 >u8 >f4 >f8".split())
}

# A colour byte b as the fraction b/255 in six digits: VTK's reader turns it
# back into b (float32, times 255 in double, plus a half, truncated), and so
# does this package's.
_COLOR_WORDS = ["%g" % (b / 255.0) for b in range(256)]


class Encoder(Protocol):
    binary: bool

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Chunks:
        """Numeric values of a type code, `per_line` to a line in text."""
        ...

    def rows(self, values: np.ndarray, ends: np.ndarray) -> Chunks:
        """int32 values in rows that end before each index of `ends` (cells)."""
        ...

    def colors(self, values: np.ndarray, per_line: int) -> Chunks:
        """Colour components, uint8."""
        ...

    def strings(self, values: Sequence[str]) -> Chunks:
        """String values."""
        ...


class TextEncoder:
    """Values as text: the shortest that reads back to the same value."""

    binary = False

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Chunks:
        return [_lines(number_words(values, code), per_line)]

    def rows(self, values: np.ndarray, ends: np.ndarray) -> Chunks:
        words = list(map(str, values.tolist()))
        seps = [" "] * len(words)
        for end in ends.tolist():
            seps[end - 1] = "\n"
        return ["".join(map(operator.add, words, seps, strict=True)).encode("ascii")]

    def colors(self, values: np.ndarray, per_line: int) -> Chunks:
        words = [_COLOR_WORDS[b] for b in values.ravel().tolist()]
        return [_lines(words, per_line)]

    def strings(self, values: Sequence[str]) -> Chunks:
        # One to a line, as VTK's writer puts them; an empty string is an empty line.
        return ["".join(escape(v) + "\n" for v in values).encode("ascii")]


class BinaryEncoder:
    """Values as raw big-endian bytes, each block followed by a newline."""

    binary = True

    def numbers(self, values: np.ndarray, code: str, per_line: int) -> Chunks:
        flat = values.ravel()
        if code == "?":
            # Most significant bit first, the last byte padded with zeros.
            return [np.packbits(flat).tobytes(), b"\n"]
        return [flat.astype(_BIG[code]).view(np.uint8), b"\n"]

    def rows(self, values: np.ndarray, ends: np.ndarray) -> Chunks:
        return self.numbers(values, "i", 1)

    def colors(self, values: np.ndarray, per_line: int) -> Chunks:
        return [np.ascontiguousarray(values.ravel(), np.uint8).tobytes(), b"\n"]

    def strings(self, values: Sequence[str]) -> Chunks:
        parts = []
        for v in values:
            raw = v.encode("utf-8", "surrogateescape")
            parts.append(_length_prefix(len(raw)))
            parts.append(raw)
        parts.append(b"\n")
        return [b"".join(parts)]


def _length_prefix(n: int) -> bytes:
    """The length before a BINARY string: its top two bits say its own size,
    11 one byte, 10 two, 01 four, 00 eight."""
    if n < 1 << 6:
        return bytes([0xC0 | n])
    if n < 1 << 14:
        return (0x8000 | n).to_bytes(2, "big")
    if n < 1 << 30:
        return (0x40000000 | n).to_bytes(4, "big")
    return n.to_bytes(8, "big")


def _lines(words: list[str], per_line: int) -> bytes:
    if not words:
        return b""
    if per_line == 1:
        return ("\n".join(words) + "\n").encode("ascii")
    return "".join(
        " ".join(words[i : i + per_line]) + "\n" for i in range(0, len(words), per_line)
    ).encode("ascii")


def number_words(values: np.ndarray, code: str) -> list[str]:
    """The values as words: floats the shortest text that reads back to the same
    value of their own width, integers in decimal, bits 0 and 1."""
    flat = values.ravel()
    if code == "d":
        return _signed_nans(flat, list(map(repr, flat.tolist())))
    if code == "f":
        return _signed_nans(flat, _float32_words(flat))
    if code == "?":
        return ["1" if v else "0" for v in flat.tolist()]
    return list(map(str, flat.tolist()))


def _float32_words(flat: np.ndarray) -> list[str]:
    # NumPy prints a float32 scalar in the fewest digits that make it again.
    # A reader that parses them as a double before narrowing could round twice;
    # any word that does not survive that gets the float's exact double value.
    words = list(map(str, flat))
    with np.errstate(over="ignore", invalid="ignore"):
        back = np.array(words, dtype=np.float64).astype(np.float32)
    bad = np.flatnonzero((back.view(np.uint32) != flat.view(np.uint32)) & ~np.isnan(flat))
    for k in bad.tolist():
        words[k] = repr(float(flat[k]))
    return words


def _signed_nans(flat: np.ndarray, words: list[str]) -> list[str]:
    """Keeps the sign of a NaN, which repr drops: 'nan' and '-nan'."""
    for k in np.flatnonzero(np.isnan(flat) & np.signbit(flat)).tolist():
        words[k] = "-nan"
    return words


def encoder(binary: bool) -> Encoder:
    return BinaryEncoder() if binary else TextEncoder()
