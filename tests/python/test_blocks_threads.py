"""_vtk_blocks on threads and without the GIL, against itself on one thread
and against the pure-Python models of test_blocks: read_ascii and read_cells
with their sizes lowered, so that blocks of a few dozen numbers are cut into
chunks of a few bytes, with an error or a token for the interpreter at every
position; read_cells against read_ascii and split_cells; several Python
threads reading at once. Values compare as bytes, declines by offset."""

import mmap
import re
import sys
import threading
import time
from contextlib import contextmanager

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from test_blocks import DTYPES, TOKEN, model, number, runs

from veltrane.codecs import _vtk_blocks as blocks


@contextmanager
def lowered(chunk, release=0, threads=0):
    """The module's sizes lowered: at the real ones a small block is read on
    one thread with the GIL held, and no test could reach the other paths."""
    old = blocks._tune(release, threads, chunk)
    try:
        yield
    finally:
        blocks._tune(*old)


def answer(got):
    """A reader's answer with its arrays as bytes."""
    return tuple(a.tobytes() if isinstance(a, np.ndarray) else a for a in got)


def cells_model(data, pos, n, size):
    """read_cells' answer: each number as read_ascii 'q' reads it, a count
    failing where its cell and a number for each later cell do not fit in
    `size`, a number after the n-th cell failing, then the end-of-line rule."""
    if size == 0:
        return ([0], [], pos) if n == 0 else (None, pos)
    toks = [(m.start(), m.group()) for m in TOKEN.finditer(data, pos)]
    offsets, conn, left = [0], [], 0
    for k in range(size):
        if k == len(toks):
            return None, len(data)
        at, tok = toks[k]
        item = number(tok, "q")
        if item is None:
            return None, at
        v = int(np.frombuffer(item, "i8")[0])
        if left:
            conn.append(v)
            left -= 1
        elif len(offsets) - 1 == n or v < 0 or v > (size - k - 1) - (n - len(offsets)):
            return None, at
        else:
            offsets.append(offsets[-1] + v)
            left = v
    end = toks[size - 1][0] + len(toks[size - 1][1])
    rest = re.compile(rb"[ \t\v\f]*").match(data, end).end()
    if rest < len(data) and data[rest] not in b"\r\n":
        return None, rest
    return offsets, conn, end


def cells_answer(got):
    return got if got[0] is None else (got[0].tolist(), got[1].tolist(), got[2])


@settings(max_examples=700, deadline=None)
@given(runs(), st.sampled_from(list(DTYPES)), st.sampled_from([1, 2, 3, 8]), st.integers(1, 12))
def test_read_ascii_on_threads_agrees_with_the_model(run, type, threads, chunk):
    # threads=1 here is the scan alone without the GIL, taking it back for
    # each token the interpreter reads.
    want = model(*run, type)
    with lowered(chunk):
        values, end = blocks.read_ascii(*run, type, threads)
    assert (None if values is None else values.tobytes(), end) == want


# Tokens that replace one number of a block: no number, one for the
# interpreter (valid or not), out of the type's range, odd spacing.
REPLACEMENTS = {
    "d": ["x", "1_0", "inf", "-nan", "1e999", "\u0663".encode(), "1__0", "0x1", "1.5e-320"],
    "f": ["x", "1_0", "nan", "1e39", "3.4028235e38", "1.000000059604644775390625"],
    "q": ["x", "1_0", "1.0", "99999999999999999999", "-9223372036854775808", "0" * 700 + "1"],
    "B": ["x", "256", "-1", "-129", "1_0"],
}


def blocks_with_a_replacement(type, size=30):
    """(data, count) pairs: blocks of `size` numbers laid out 1, 3 and 7 to a
    line, each number in turn replaced, with runs whole, cut short, longer
    than the data, and followed by a number on their last line."""
    values = [
        f"{(k * 37) % 251}.{k % 7}" if type in "df" else str((k * 37) % 251) for k in range(size)
    ]
    for width, eol in ((1, "\n"), (3, "\r\n"), (7, "\n")):
        for k in range(-1, size):
            for new in REPLACEMENTS[type] if k >= 0 else [None]:
                toks = [v.encode() for v in values]
                if new is not None:
                    toks[k] = new.encode() if isinstance(new, str) else new
                lines = [b"  ".join(toks[i : i + width]) for i in range(0, size, width)]
                data = b"\n" + eol.encode().join(lines) + b"\nPOINTS 1 float"
                for count in (size, size - 5, size + 1):
                    yield data, count
                yield data.replace(b"\nPOINTS", b" 7\nPOINTS"), size


@pytest.mark.parametrize("type", sorted(REPLACEMENTS))
def test_read_ascii_on_threads_agrees_with_one_thread_at_every_position(type):
    cases = list(blocks_with_a_replacement(type))
    want = [answer(blocks.read_ascii(data, 1, count, type)) for data, count in cases]
    for chunk, threads in ((1, 2), (5, 3), (24, 8)):
        with lowered(chunk):
            for (data, count), w in zip(cases, want):
                assert answer(blocks.read_ascii(data, 1, count, type, threads)) == w


@st.composite
def cell_blocks(draw):
    """A cell block's text and (n, size), whole or damaged: a number
    replaced, n or size off by one, a number after the last on its line."""
    cells = draw(st.lists(st.lists(st.integers(0, 99), max_size=4), max_size=10))
    vals = [str(v) for c in cells for v in [len(c), *c]]
    if vals and draw(st.booleans()):
        bad = draw(st.sampled_from(["x", "-1", "7", "1_0", "0", "2**64", "1.5", "\u0663", "2"]))
        vals[draw(st.integers(0, len(vals) - 1))] = bad.replace("2**64", str(2**64))
    text = "".join(v + draw(st.sampled_from([" ", "\n", "\r\n", " \n"])) for v in vals)
    text += draw(st.sampled_from(["", "9", "CELL_TYPES 0"]))
    n = max(0, len(cells) + draw(st.sampled_from([0, 0, -1, 1])))
    size = max(0, len(vals) + draw(st.sampled_from([0, 0, -1, 1, 2])))
    return text.encode(), n, size


@settings(max_examples=700, deadline=None)
@given(cell_blocks(), st.sampled_from([1, 2, 3]), st.integers(1, 9))
def test_read_cells_agrees_with_the_model_and_read_ascii(block, threads, chunk):
    data, n, size = block
    want = cells_model(data, 0, n, size)
    assert cells_answer(blocks.read_cells(data, 0, n, size)) == want
    with lowered(chunk):
        assert cells_answer(blocks.read_cells(data, 0, n, size, threads)) == want
    # The reader's other way to the same arrays: a stream, then split.
    stream, end = blocks.read_ascii(data, 0, size, "q")
    split = (None,) if stream is None else blocks.split_cells(stream, n)
    if want[0] is None:
        assert split[0] is None
    else:
        assert [a.tolist() for a in split] == list(want[:2]) and end == want[2]


def test_read_cells_on_threads_agrees_with_one_thread_at_every_position():
    rows = [[k % 5] + [(k * 7 + i) % 97 for i in range(k % 5)] for k in range(30)]
    vals = [str(v) for row in rows for v in [len(row) - 1, *row[1:]]]
    size = len(vals)
    cases = []
    for k in range(-1, size):
        for new in ["x", "-1", "9", "0", "1_0", "2"] if k >= 0 else [None]:
            toks = list(vals)
            if new is not None:
                toks[k] = new
            text = "\n" + "".join(t + (" " if i % 4 else "\n") for i, t in enumerate(toks))
            for n, count in ((30, size), (29, size), (30, size - 1), (30, size + 1)):
                cases.append((text.encode() + b"CELL_TYPES 30", n, count))
    want = [cells_answer(blocks.read_cells(d, 1, n, c)) for d, n, c in cases]
    for chunk, threads in ((1, 2), (6, 3), (25, 2)):
        with lowered(chunk):
            for (d, n, c), w in zip(cases, want):
                assert cells_answer(blocks.read_cells(d, 1, n, c, threads)) == w


def test_readers_on_threads_from_several_python_threads(tmp_path):
    # Shared bytes, a read-only mmap and a bytearray of one file, and data of
    # each thread's own, read on threads by four Python threads at once.
    rng = np.random.default_rng(3)
    points = "\n".join(" ".join(repr(v) for v in row) for row in rng.normal(size=(3000, 3)))
    sizes = rng.integers(0, 6, size=2000)
    cells = "\n".join(
        " ".join(map(str, [k, *rng.integers(0, 10**6, size=k)])) for k in sizes.tolist()
    )
    raw = (points + "\n" + cells + "\n").encode()
    path = tmp_path / "block"
    path.write_bytes(raw)
    at = len(points) + 1
    n_cells, size = len(sizes), int(sizes.sum()) + len(sizes)

    def jobs(data):
        return [
            lambda: blocks.read_ascii(data, 0, 9000, "d", 2),
            lambda: blocks.read_ascii(data, 0, 9000, "f", 3),
            lambda: blocks.read_ascii(data, at, size, "q", 2),
            lambda: blocks.read_cells(data, at, n_cells, size, 2),
            lambda: blocks.read_ascii(data, 0, 9001, "d", 2),  # declined
        ]

    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mm:
        shared = [raw, mm, bytearray(raw)]
        want = [answer(job()) for job in jobs(raw)]
        errors = []

        def worker(t):
            own = bytes(raw)
            try:
                for i in range(40):
                    data = own if i % 4 == 0 else shared[(i + t) % len(shared)]
                    for job, w in zip(jobs(data), want):
                        assert answer(job()) == w
            except BaseException as e:  # reported below, in the main thread
                errors.append(e)

        with lowered(4096, release=1000, threads=1000):
            threads = [threading.Thread(target=worker, args=(t,)) for t in range(4)]
            for th in threads:
                th.start()
            for th in threads:
                th.join()
    assert not errors, errors[:3]


@pytest.fixture
def no_forced_switches():
    """Threads take turns only where one lets go of the GIL."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    yield
    sys.setswitchinterval(old)


def test_a_long_read_lets_go_of_the_gil_for_bytes_only(no_forced_switches):
    # The other thread counts only while it holds the GIL, and gives it up
    # after each count; the reads are the only other place it is let go.
    data = b"1.25 -3.5 7\n" * 300_000
    ticks, stop = [0], threading.Event()

    def count():
        while not stop.is_set():
            ticks[0] += 1
            time.sleep(0)

    th = threading.Thread(target=count)
    th.start()
    try:
        seen = {}
        for kind, buffer in (("bytes", data), ("bytearray", bytearray(data))):
            for threads in (1, 2):
                before = ticks[0]
                values, _ = blocks.read_ascii(buffer, 0, 900_000, "d", threads)
                seen[kind, threads] = ticks[0] - before
                assert values[-1] == 7.0
    finally:
        stop.set()
        th.join()
    assert seen["bytes", 1] > 0 and seen["bytes", 2] > 0, seen
    assert seen["bytearray", 1] == seen["bytearray", 2] == 0, seen
