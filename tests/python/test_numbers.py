"""Token conversion agrees with float(), value and error alike: the fast scan
of text tokens must never change a result."""

import re
import struct

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from veltrane.codecs._vtk_parse import parse_ascii_coords as parse


def check_token(tok):
    try:
        want = float(tok)
    except ValueError as e:
        with pytest.raises(ValueError, match=re.escape(str(e))):
            parse([_Line(tok)], 0, 1)
        return
    got = parse([_Line(tok)], 0, 1)[0, 0]
    assert struct.pack("<d", got) == struct.pack("<d", want), (tok, got, want)


class _Line:
    """A line whose first token is exactly `tok`, whatever it holds."""

    def __init__(self, tok):
        self.tok = tok

    def split(self):
        return [self.tok, "0", "0"]


TRICKY = [
    "1_0",
    "1__0",
    "_1",
    "1_",
    "1e_5",
    "1_e5",
    "1._5",
    "1_.5",
    "-_1",
    "+_1",
    "1e-_5",
    "-nan",
    "+nan",
    "nAn",
    "inf",
    "-Infinity",
    "infinit",
    "infinityy",
    "nan1",
    "1e999",
    "-1e999",
    "1e-999",
    "-1e-999",
    "4.9e-324",
    "2.4703282292062327e-324",
    "2.4703282292062328e-324",
    "1.7976931348623158e308",
    "1.7976931348623159e308",
    "0x10",
    "1e",
    "e1",
    ".",
    "-.",
    ".e1",
    "1.e1",
    "00.5",
    "+.5e-0",
    " \t1 \n",
    "\x0b1\x0c",
    "",
    " ",
    "1 2",
    "٣",
    "1٣",
    " ٣.٥ ",
    "\u20071",
    "1\u3000",
    "\x1c1",
    "1\x00",
    "1" * 400,
    "0." + "0" * 400 + "1",
    "9" * 309,
    "1_2_3.4_5e1_0",
]


@pytest.mark.parametrize("tok", TRICKY)
@pytest.mark.parametrize("kind", ["str", "bytes", "bytearray"])
def test_tricky_tokens(tok, kind):
    if kind != "str":
        try:
            raw = tok.encode("ascii")
        except UnicodeEncodeError:
            raw = tok.encode("utf-8")
        tok = raw if kind == "bytes" else bytearray(raw)
    check_token(tok)


def test_str_subclass_token_takes_the_interpreters_path():
    class S(str):
        pass

    check_token(S("1_5.25"))
    check_token(S("x"))


ALPHABET = "0123456789_.eE+-infaINFAty \t"
numeric = st.text(alphabet=ALPHABET, max_size=24)
decimals = st.builds(
    lambda sign, a, b, e: f"{sign}{a}{'.' if b is not None else ''}{b or ''}{e}",
    st.sampled_from(["", "-", "+"]),
    st.integers(0, 10**20).map(str),
    st.none() | st.integers(0, 10**20).map(str),
    st.sampled_from(["", "e5", "E-300", "e+308", "e-320", "e400"]),
)


@settings(max_examples=1500, deadline=None)
@given(numeric | decimals | st.floats().map(repr))
@example("1_000.000_1")
def test_agrees_with_float(tok):
    check_token(tok)
    check_token(tok.encode())
