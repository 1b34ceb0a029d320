"""The native re-read against the reader's Python one: for ASCII lines it
takes exactly the runs that Python reads without error, with the same values
and end position, and declines every other one."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from veltrane.codecs import _vtk_reread, vtk


def python_read(lines, start, count, kind):
    try:
        return vtk._read_numbers(lines, start, count, kind)
    except vtk._NumbersError:
        return None
    except ValueError, OverflowError:
        return None


def check(lines, start, count, kind):
    native = _vtk_reread.read_numbers(lines, start, count, kind)
    python = python_read(lines, start, count, kind)
    if python is None:
        assert native is None
        return
    values, pos = python
    assert native is not None, (lines, start, count, kind)
    got, got_pos = native
    assert got.dtype == values.dtype and got_pos == pos
    assert got.tobytes() == values.tobytes()


TOKENS = [
    "0",
    "1",
    "-2",
    "+3",
    "1.5",
    "-0",
    "1e3",
    "1_000",
    "1__0",
    "inf",
    "-nan",
    "x",
    "9223372036854775807",
    "9223372036854775808",
    "18446744073709551615",
    "18446744073709551616",
    "-1",
    "1e999",
    "POINTS",
    "007",
    "2.5e-310",
]


@st.composite
def blocks(draw):
    lines = []
    for _ in range(draw(st.integers(0, 6))):
        k = draw(st.integers(0, 5))
        toks = [draw(st.sampled_from(TOKENS) | st.integers(-99, 99).map(str)) for _ in range(k)]
        sep = draw(st.sampled_from([" ", "  ", "\t", " \x0c "]))
        lines.append(
            draw(st.sampled_from(["", " "]))
            + sep.join(toks)
            + draw(st.sampled_from(["", "\r", " "]))
        )
    start = draw(st.integers(0, len(lines)))
    count = draw(st.integers(0, 12))
    return lines, start, count


@settings(max_examples=800, deadline=None)
@given(blocks(), st.sampled_from("fiu"))
def test_agrees_with_python(block, kind):
    check(*block, kind)


@pytest.mark.parametrize(
    "lines,count,kind,want,pos",
    [
        (["1 2 3 4", "5 6", "POINTS 1 float"], 6, "f", [1, 2, 3, 4, 5, 6], 2),
        (["1", "", "2", "3"], 3, "i", [1, 2, 3], 4),
        (["18446744073709551615"], 1, "u", [2**64 - 1], 1),
        (["1_0 inf -0"], 3, "f", [10.0, float("inf"), -0.0], 1),
    ],
)
def test_layouts(lines, count, kind, want, pos):
    got, got_pos = _vtk_reread.read_numbers(lines, 0, count, kind)
    assert got.tolist() == want and got_pos == pos


@pytest.mark.parametrize(
    "lines,count,kind",
    [
        (["1 2 3"], 2, "f"),  # numbers left over on the last line
        (["1 2"], 3, "f"),  # the file ends first
        (["1 x 3"], 3, "f"),  # not a number
        (["-1"], 1, "u"),  # out of range
        (["1.0"], 1, "i"),  # int() refuses it
        (["1 2", "３"], 3, "f"),  # not ASCII: Python's turn
        (("1 2 3",), 3, "f"),  # not a list
    ],
)
def test_declines(lines, count, kind):
    assert _vtk_reread.read_numbers(lines, 0, count, kind) is None


def test_a_huge_count_is_declined_before_memory_is_sized_by_it():
    assert _vtk_reread.read_numbers(["1 2 3"], 0, 2**60, "f") is None


def test_count_tokens():
    lines = ["1 2 3", "", b"4 5", "\x1c6", "a b c d"]
    assert _vtk_reread.count_tokens(lines, 0, 4) == 6
    assert _vtk_reread.count_tokens(lines, 1, 99) == 7


def test_scan_buffer_matches_float():
    text = b"0.1 -2 3e-5\n1_0\t.5"
    assert _vtk_reread.scan_buffer(text, 5, "f").tolist() == [0.1, -2.0, 3e-5, 10.0, 0.5]
    with pytest.raises(ValueError):
        _vtk_reread.scan_buffer(text, 6, "f")
    np.testing.assert_array_equal(_vtk_reread.scan_buffer(b"4 1 2 3 4", 5, "i"), [4, 1, 2, 3, 4])


@settings(max_examples=300, deadline=None)
@given(blocks(), st.sampled_from("fiu"))
def test_text_form_agrees_with_line_form(block, kind):
    lines, start, count = block
    # Text always holds a line, if an empty one.
    lines = [line.replace("\r", " ") for line in lines] or [""]
    text = "\n".join(lines)
    starts = _vtk_reread.line_starts(text, "\n")
    assert len(starts) == len(lines) + 1
    want = _vtk_reread.read_numbers(lines, start, count, kind)
    got = _vtk_reread.read_numbers_in(text, starts, start, count, kind)
    if want is None:
        assert got is None
    else:
        assert got[1] == want[1] and got[0].tobytes() == want[0].tobytes()
    assert _vtk_reread.count_tokens_in(
        text, starts, start, start + count
    ) == _vtk_reread.count_tokens(lines, start, start + count)


def test_text_form_refuses_what_it_cannot_trust():
    text = "1 2\n3"
    starts = _vtk_reread.line_starts(text, "\n")
    assert _vtk_reread.read_numbers_in("１ 2\n3", starts, 0, 3, "f") is None  # not ASCII
    bad = starts.copy()
    bad[1] = 99  # a line past the text
    assert _vtk_reread.read_numbers_in(text, bad, 0, 3, "f") is None
    assert _vtk_reread.read_numbers_in(text, starts.astype(np.int32), 0, 3, "f") is None


@pytest.mark.parametrize("text", ["", "a", "a\n", "a\n\nb", "\n", "a\nb\n", "x\r\ny\r\n"])
def test_lines_view_behaves_like_the_split_list(text):
    want = text.split("\n")
    if len(want) > 1 and not want[-1]:
        want.pop()
    lines = vtk._Lines(text, "\n")
    assert len(lines) == len(want)
    assert [lines[i] for i in range(len(want))] == want
    assert lines[-1] == want[-1] and lines[1:] == want[1:]
    for a in range(len(want) + 1):
        for b in range(a, len(want) + 2):
            assert lines.block(a, b) == want[a:b]
    with pytest.raises(IndexError):
        lines[len(want)]
