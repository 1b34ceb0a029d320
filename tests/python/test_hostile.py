"""Callers that fight back: Python code run in the middle of a call (a line's
split(), a token's __float__, __index__ or __int__) that
changes the line list, the token list, the data buffer or the module's `np`;
BaseExceptions from any of them; sizes at the edges of 64 bits; lengths that
lie. Each call must end in a Python exception or the right result, never a
crash or a read outside the sequence, nor keep a reference to what it was
given."""

import sys
import types

import numpy as np
import pytest
from conftest import PREFIX, entries

from veltrane.codecs import _vtk_parse as m

coords, cells = m.parse_ascii_coords, m.parse_ascii_cells_v42
MAX = 2**63 - 1


def ref_coords(lines):
    return [[float(t) for t in line.split()] for line in lines]


def ref_cells(lines):
    conn, offsets = [], [0]
    for line in lines:
        toks = line.split()
        conn += [int(t) for t in toks[1 : int(toks[0]) + 1]]
        offsets.append(offsets[-1] + int(toks[0]))
    return conn, offsets


def outcome(func, lines, start, n):
    """The result as lists, or the exception type."""
    try:
        got = func(lines, start, n)
    except Exception as e:
        return type(e)
    if func is coords:
        return got.tolist()
    return got[0].tolist(), got[1].tolist()


# Plain rows for each function; row i of either has the value i in it, so
# that a row read from the wrong place shows.
def plain(func, n, base=0):
    if func is coords:
        return [f"{i + base} {i + base}.5 -{i + base}" for i in range(n)]
    return [f"2 {i + base} {i + base + 1}" for i in range(n)]


def reference(func, lines):
    return ref_coords(lines) if func is coords else ref_cells(lines)


BOTH = pytest.mark.parametrize("func", [coords, cells], ids=["coords", "cells"])


class Hooked(str):
    """A str line (so split() is looked up, the general path) that runs a hook
    before splitting like str does."""

    hook = None

    def split(self, *args):
        if self.hook is not None:
            self.hook()
        return str.split(self, *args)


def hooked(text, hook):
    line = Hooked(text)
    line.hook = hook
    return line


class Num:
    """A token whose conversions run a hook, then give `value`."""

    def __init__(self, value, hook=None):
        self.value, self.hook = value, hook

    def _run(self):
        if self.hook is not None:
            self.hook()

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)

    def __int__(self):
        self._run()
        return int(self.value)


class Row:
    def __init__(self, tokens):
        self.tokens = tokens

    def split(self):
        return self.tokens


def row_of_nums(func, i, hook):
    """A Row equal to plain(func, ...)[i] whose first token runs `hook`."""
    if func is coords:
        return Row([Num(i, hook), f"{i}.5", f"-{i}"])
    return Row([Num(2, hook), str(i), str(i + 1)])


# -- the line list changed under the parser ------------------------------------

# (name, change, outcome) where change(lines, at) edits the list when row `at`
# is read and outcome is IndexError or "read": the rows as they stand when
# each is read.
CHANGES = [
    ("cleared", lambda lines, at: lines.clear(), IndexError),
    ("cut after this row", lambda lines, at: lines.__delitem__(slice(at + 1, None)), IndexError),
    ("cut before this row", lambda lines, at: lines.__delitem__(slice(at, None)), IndexError),
    ("cut by one", lambda lines, at: lines.pop(), IndexError),
    ("grown", lambda lines, at: lines.extend(["junk"] * 1000), "read"),
    ("front removed", lambda lines, at: lines.__delitem__(0), IndexError),
    (
        "later rows replaced",
        lambda lines, at: lines.__setitem__(
            slice(at + 1, None), [lines[at + 1].replace("1", "7")] * (len(lines) - at - 1)
        ),
        "read",
    ),
    (
        "later rows made bytes",
        lambda lines, at: lines.__setitem__(
            slice(at + 1, None), [l.encode() for l in lines[at + 1 :]]
        ),
        "read",
    ),
    (
        "later rows made hooked",
        lambda lines, at: lines.__setitem__(
            slice(at + 1, None), [hooked(l, None) for l in lines[at + 1 :]]
        ),
        "read",
    ),
]


@BOTH
@pytest.mark.parametrize("name,change,want", CHANGES, ids=[c[0] for c in CHANGES])
@pytest.mark.parametrize("at", [0, 4, 8])
@pytest.mark.parametrize("via", ["split", "token"])
class TestLinesChanged:
    """Rows before the change go the in-place way (plain str in an exact
    list), the changing row the general way, and the rows after it again
    the in-place way if they are plain."""

    def test_outcome(self, func, name, change, want, at, via):
        n = 10
        lines = plain(func, n)
        seen = []

        def hook():
            if not seen:
                seen.append(list(lines))
                change(lines, at)
                seen.append(list(lines))

        if via == "split":
            lines[at] = hooked(lines[at], hook)
        else:
            lines[at] = row_of_nums(func, at, hook)
        got = outcome(func, lines, 0, n)
        if want is IndexError:
            assert got is IndexError
            return
        # Each row as it stood when read: those up to `at` before the
        # change, the rest after it.
        before, after = seen
        rows = [str(before[i]) if i == at else before[i] for i in range(at + 1)] + after[at + 1 : n]
        if via == "token":
            rows[at] = plain(func, n)[at]
        assert got == reference(func, [r if isinstance(r, str) else r.decode() for r in rows])


@BOTH
class TestTokensChanged:
    def test_one_token_list_shared_by_all_rows(self, func):
        # split() hands out the same list each time; converting a token of
        # row 1 empties it, so row 1 is short and must not be read on.
        shared = []

        class Line:
            def __init__(self, i):
                self.i = i

            def split(self):
                shared[:] = plain(func, 3)[self.i].split()
                if self.i == 1:
                    shared[0] = Num(shared[0], shared.clear)
                return shared

        got = outcome(func, [Line(i) for i in range(3)], 0, 3)
        assert got in (IndexError, ValueError)

    def test_token_list_grown_by_a_conversion(self, func):
        toks = plain(func, 1)[0].split()
        toks[0] = Num(toks[0], lambda: toks.extend(["9"] * 100))
        got = outcome(func, [Row(toks)], 0, 1)
        # The length was checked before; the tokens read are still the same.
        assert got == ([[0.0, 0.5, -0.0]] if func is coords else ([0, 1], [0, 2]))

    def test_token_replaced_mid_row(self, func):
        toks = plain(func, 1)[0].split()

        def swap():
            toks[1] = Num(5)  # read after this conversion: its value counts
            toks[2] = "6"

        toks[0] = Num(toks[0], swap)
        got = outcome(func, [Row(toks)], 0, 1)
        assert got == ([[0.0, 5.0, 6.0]] if func is coords else ([5, 6], [0, 2]))


# -- BaseExceptions -----------------------------------------------------------------


class Stop(BaseException):
    pass


RAISED = [KeyboardInterrupt, SystemExit, GeneratorExit, Stop]


def raiser(exc):
    def hook():
        raise exc

    return hook


class Sized:
    def __init__(self, items, on_len=None, on_item=None):
        self.items, self.on_len, self.on_item = items, on_len, on_item

    def __len__(self):
        if self.on_len:
            self.on_len()
        return len(self.items)

    def __getitem__(self, i):
        if self.on_item:
            self.on_item()
        return self.items[i]


def from_split(func, exc):
    lines = plain(func, 8)
    lines[5] = hooked(lines[5], raiser(exc))
    return lines


def from_token(func, exc):
    lines = plain(func, 8)
    lines[5] = row_of_nums(func, 5, raiser(exc))
    return lines


def from_vertex(func, exc):
    lines = plain(func, 8)
    lines[5] = Row(["1", Num(0, raiser(exc))] if func is cells else ["1", "2", Num(0, raiser(exc))])
    return lines


def from_len(func, exc):
    return Sized(plain(func, 8), on_len=raiser(exc))


def from_item(func, exc):
    return Sized(plain(func, 8), on_item=raiser(exc))


def from_token_len(func, exc):
    class Tokens(list):
        def __len__(self):
            raise exc

    lines = plain(func, 8)
    lines[5] = Row(Tokens(lines[5].split()))
    return lines


def from_token_item(func, exc):
    class Tokens(list):
        def __getitem__(self, i):
            raise exc

    lines = plain(func, 8)
    lines[5] = Row(Tokens(lines[5].split()))
    return lines


SOURCES = [
    from_split,
    from_token,
    from_vertex,
    from_len,
    from_item,
    from_token_len,
    from_token_item,
]


@BOTH
@pytest.mark.parametrize("source", SOURCES, ids=[s.__name__ for s in SOURCES])
@pytest.mark.parametrize("kind", RAISED, ids=lambda k: k.__name__)
def test_base_exception_passes_unchanged(func, source, kind):
    exc = kind("raised mid-call")
    lines = source(func, exc)
    held = [lines] + list(getattr(lines, "items", lines))
    before = [sys.getrefcount(o) for o in held]
    with pytest.raises(BaseException) as info:
        func(lines, 0, 8)
    assert info.value is exc
    # Our own entries sit on it as on any error.
    name = PREFIX + func.__name__
    assert [n for n, _ in entries(info.value)] == [name, name]
    # The half-read block let go of everything it was given.
    exc.__traceback__ = None
    del info
    assert [sys.getrefcount(o) for o in held] == before
    # And the module is as good as before.
    assert outcome(func, plain(func, 8), 0, 8) == reference(func, plain(func, 8))


# -- sizes at the 64-bit edges -----------------------------------------------------


@BOTH
class TestSizeEdges:
    @pytest.mark.parametrize(
        "start,n",
        [(0, MAX), (1, MAX), (MAX, 0), (MAX - 1, 2), (3, MAX - 2), (2, MAX - 1)],
    )
    def test_past_the_end_of_a_short_list(self, func, start, n):
        for lines in (plain(func, 3), tuple(plain(func, 3)), Sized(plain(func, 3))):
            with pytest.raises(IndexError, match="block runs past the end"):
                func(lines, start, n)

    def test_a_claimed_length_of_max_is_read_through_item_access(self, func):
        # len() says MAX: positions near the top must go to __getitem__ as
        # they are, with no sum wrapping.
        class Huge:
            asked = []

            def __len__(self):
                return MAX

            def __getitem__(self, i):
                self.asked.append(i)
                return plain(func, 1)[0]

        huge = Huge()
        assert outcome(func, huge, MAX - 1, 1) == reference(func, plain(func, 1))
        assert outcome(func, huge, MAX, 0) == ([] if func is coords else ([], [0]))
        assert huge.asked == [MAX - 1]

    def test_a_huge_claimed_block_ends_in_an_error(self, func):
        class Huge:
            def __len__(self):
                return MAX

            def __getitem__(self, i):
                if i >= 4:
                    raise IndexError(i)
                return plain(func, 4)[i]

        # coords: NumPy refuses the array; cells: the fifth row is missing.
        with pytest.raises((ValueError, MemoryError, IndexError)):
            func(Huge(), 0, MAX)
        with pytest.raises((ValueError, MemoryError, IndexError)):
            func(Huge(), 0, 2**40)


# -- lengths that lie -----------------------------------------------------------------


@BOTH
class TestLyingLength:
    @pytest.mark.parametrize(
        "claim,exc",
        [(-1, ValueError), (2**63, OverflowError), ("8", TypeError), (1.0, TypeError)],
    )
    def test_impossible_lengths(self, func, claim, exc):
        class Liar:
            def __len__(self):
                return claim

            def __getitem__(self, i):
                raise AssertionError("read")

        with pytest.raises(exc):
            func(Liar(), 0, 1)

    @pytest.mark.parametrize("real", [0, 3, 7])
    def test_longer_than_it_is(self, func, real):
        class Liar:
            def __len__(self):
                return 10

            def __getitem__(self, i):
                return plain(func, real)[i]

        assert outcome(func, Liar(), 0, 10) is IndexError

    def test_length_asked_once(self, func):
        # A length that changes every time it is asked: the first answer
        # decides, and the rows are then read as the list holds them.
        class Shifty(list):
            n = 0

            def __len__(self):
                Shifty.n += 1
                return 8 if Shifty.n == 1 else 0

        assert outcome(func, Shifty(plain(func, 8)), 0, 8) == reference(func, plain(func, 8))

    def test_token_list_longer_than_it_is(self, func):
        class Tokens(list):
            def __len__(self):
                return 3

        row = Row(Tokens(plain(func, 1)[0].split()[:2]))
        assert outcome(func, [row], 0, 1) is IndexError


# -- np rebound in the middle of a call ----------------------------------------------


class Recorder:
    """A stand-in for NumPy's array(): records what it is given."""

    def __init__(self, real=False):
        self.calls, self.real = [], real

    def __call__(self, values, dtype=None):
        self.calls.append((list(values), dtype))
        return np.array(values, dtype=dtype) if self.real else ("made", len(self.calls))


@pytest.fixture
def restore_np():
    saved = m.np
    yield
    m.np = saved


def cells_rebinding(at, new_np, n=12, big_at=None):
    """Plain rows with row `at` a hooked one that rebinds np when split."""
    lines = plain(cells, n)
    if big_at is not None:
        lines[big_at] = "2 3000000000 1"

    def rebind():
        m.np = new_np() if callable(new_np) else new_np

    lines[at] = hooked(lines[at], rebind)
    return lines


@pytest.mark.usefixtures("restore_np")
class TestNumpyReboundMidStream:
    @pytest.mark.parametrize("at", [0, 5, 11])
    def test_stand_in_gets_every_value(self, at):
        # Rows before `at` went into int32 arrays in place: they must reach
        # the stand-in's array() as lists, in order, with the rows after.
        rec = Recorder()
        lines = cells_rebinding(at, lambda: types.SimpleNamespace(array=rec, int32="i4"))
        got = cells(lines, 0, 12)
        conn, offsets = ref_cells(plain(cells, 12))
        assert got == (("made", 1), ("made", 2))
        assert rec.calls == [(conn, "i4"), (offsets, "i4")]

    @pytest.mark.parametrize("big_at", [2, 9])
    def test_stand_in_after_values_beyond_int32(self, big_at):
        rec = Recorder()
        lines = cells_rebinding(
            5, lambda: types.SimpleNamespace(array=rec, int32="i4"), big_at=big_at
        )
        cells(lines, 0, 12)
        rows = plain(cells, 12)
        rows[big_at] = "2 3000000000 1"
        conn, offsets = ref_cells(rows)
        assert rec.calls == [(conn, "i4"), (offsets, "i4")]

    def test_only_array_and_int32_rebound(self):
        # np is still a module-like object with NumPy's own array() behind a
        # wrapper: the result must equal the plain one.
        rec = Recorder(real=True)
        lines = cells_rebinding(4, lambda: types.SimpleNamespace(array=rec, int32=np.int32))
        conn, offsets = cells(lines, 0, 12)
        want = ref_cells(plain(cells, 12))
        assert (conn.tolist(), offsets.tolist()) == want
        assert conn.dtype == offsets.dtype == np.int32 and len(rec.calls) == 2

    def test_rebound_and_restored_before_the_end(self):
        lines = plain(cells, 12)
        lines[3] = hooked(lines[3], lambda: setattr(m, "np", types.SimpleNamespace()))
        lines[8] = hooked(lines[8], lambda: setattr(m, "np", np))
        conn, offsets = cells(lines, 0, 12)
        assert (conn.tolist(), offsets.tolist()) == ref_cells(plain(cells, 12))

    @pytest.mark.parametrize(
        "stand_in,exc",
        [
            (types.SimpleNamespace(int32=np.int32), AttributeError),
            (types.SimpleNamespace(array=np.array), AttributeError),
        ],
    )
    def test_unusable_stand_ins(self, stand_in, exc):
        with pytest.raises(exc):
            cells(cells_rebinding(6, stand_in), 0, 12)

    def test_stand_in_raising_a_base_exception(self):
        def array(values, dtype=None):
            raise Stop()

        with pytest.raises(Stop):
            cells(cells_rebinding(6, types.SimpleNamespace(array=array, int32=np.int32)), 0, 12)

    def test_np_deleted_mid_stream(self):
        lines = plain(cells, 6)
        lines[2] = hooked(lines[2], lambda: delattr(m, "np"))
        with pytest.raises(NameError):
            cells(lines, 0, 6)

    def test_np_deleted_by_its_own_attribute_lookup(self):
        class Vanishing:
            int32 = np.int32

            @property
            def array(self):
                del m.np
                return np.array

        lines = plain(cells, 6)
        lines[2] = hooked(lines[2], lambda: setattr(m, "np", Vanishing()))
        try:
            got = cells(lines, 0, 6)
        except NameError:
            return
        assert (got[0].tolist(), got[1].tolist()) == ref_cells(plain(cells, 6))

    def test_coords_array_is_the_one_made_before_the_rebinding(self):
        lines = plain(coords, 6)
        lines[2] = hooked(lines[2], lambda: setattr(m, "np", types.SimpleNamespace()))
        got = coords(lines, 0, 6)
        assert type(got) is np.ndarray and got.tolist() == ref_coords(plain(coords, 6))
