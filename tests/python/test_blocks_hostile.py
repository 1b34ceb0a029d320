"""_vtk_blocks against callers that fight back: a buffer export that raises, an
argument conversion that tries to change the data under the call, and sizes
at the edges of 64 bits. Each call must end in a Python exception or the
right answer, never a crash, a read outside the buffer or memory sized by a
count the data cannot hold."""

import mmap
import threading
import tracemalloc
from contextlib import contextmanager

import numpy as np
import pytest
from test_hostile import MAX, RAISED, raiser

from veltrane.codecs import _vtk_blocks as blocks


class Exporter:
    """Exports `raw` as a buffer, after running `hook`."""

    def __init__(self, raw, hook=None):
        self.raw, self.hook = raw, hook

    def __buffer__(self, flags):
        if self.hook is not None:
            self.hook()
        return memoryview(self.raw)


@pytest.mark.parametrize("kind", RAISED, ids=lambda k: k.__name__)
def test_base_exception_from_the_buffer_export(kind):
    exc = kind("raised mid-call")
    for call in (
        lambda d: blocks.read_ascii(d, 0, 1, "d"),
        lambda d: blocks.count_tokens(d, 0, 3),
        lambda d: blocks.token_offset(d, 0, 1),
        lambda d: blocks.line_end(d, 0, 1, b"\n"),
        lambda d: blocks.line_of(d, 1, b"\n"),
        lambda d: blocks.read_cells(d, 0, 1, 2, 2),
    ):
        with pytest.raises(BaseException) as info:
            call(Exporter(b"1 2", raiser(exc)))
        assert info.value is exc


def test_data_cannot_change_while_a_call_holds_it():
    # An argument's __index__ runs after the data is taken: the bytearray
    # cannot be resized under the call, so the values read are the old ones.
    data = bytearray(b"1 2 3")
    refused = []

    class Pos:
        def __index__(self):
            try:
                data.clear()
            except BufferError as e:
                refused.append(e)
            return 0

    assert blocks.read_ascii(data, Pos(), 3, "q")[0].tolist() == [1, 2, 3]
    assert blocks.count_tokens(data, Pos(), 9) == 3
    assert len(refused) == 2 and data == b"1 2 3"

    class Threads:
        def __index__(self):
            try:
                data.clear()
            except BufferError as e:
                refused.append(e)
            return 3

    assert blocks.read_ascii(data, 0, 3, "q", Threads())[0].tolist() == [1, 2, 3]
    assert blocks.read_cells(data, 0, 1, 2, Threads()) == (None, 4)  # "3" left on the line
    assert len(refused) == 4 and data == b"1 2 3"


class TestBlocksSizeEdges:
    DATA = b"1 2 3\n4 5 6"

    @pytest.mark.parametrize("count", [7, 2**40, MAX // 2 + 1, MAX])
    def test_read_ascii_declines_a_count_the_data_cannot_hold(self, count):
        assert blocks.read_ascii(self.DATA, 0, count, "d") == (None, 11)
        assert blocks.read_ascii(self.DATA, 1, count, "q") == (None, 11)
        assert blocks.read_ascii(b"1", 0, count, "f") == (None, 1)

    def test_read_ascii_at_the_size_bound(self):
        # count numbers need 2 * count - 1 bytes: "1 1 1" holds three.
        assert blocks.read_ascii(b"1 1 1", 0, 3, "B")[0].tolist() == [1, 1, 1]
        assert blocks.read_ascii(b"1 1 1", 0, 4, "B") == (None, 5)
        assert blocks.read_ascii(b"1 1 1", 5, 0, "B")[1] == 5

    @pytest.mark.parametrize(
        "func,args",
        [
            (blocks.read_ascii, (DATA, 0, 10**7, "d")),
            (blocks.read_ascii, (DATA, 0, 10**7, "x")),
            (blocks.split_cells, (np.zeros(4, np.int32), 10**7)),
        ],
    )
    def test_huge_counts_size_no_memory(self, func, args):
        tracemalloc.start()
        try:
            try:
                func(*args)
            except ValueError:
                pass
            peak = tracemalloc.get_traced_memory()[1]
        finally:
            tracemalloc.stop()
        assert peak < 2**20

    @pytest.mark.parametrize(
        "pos,count", [(2**63, 1), (0, 2**63), (-(2**63) - 1, 0), (2**80, 2**80)]
    )
    def test_read_ascii_beyond_64_bits(self, pos, count):
        with pytest.raises(OverflowError):
            blocks.read_ascii(self.DATA, pos, count, "d")

    @pytest.mark.parametrize(
        "pos,count",
        [(MAX, 1), (MAX, MAX), (-(2**63), 1), (12, 0), (-1, 0), (0, -1), (0, -(2**63))],
    )
    def test_read_ascii_positions_and_counts_out_of_range(self, pos, count):
        with pytest.raises(ValueError):
            blocks.read_ascii(self.DATA, pos, count, "d")

    @pytest.mark.parametrize(
        "start,stop,want",
        [
            (-(2**63), MAX, 6),
            (MAX, -(2**63), 0),
            (1, MAX, 5),
            (-5, 1, 1),
            (MAX, MAX, 0),
            (-(2**80), 2**80, 6),
        ],
    )
    def test_count_tokens_clamps(self, start, stop, want):
        assert blocks.count_tokens(self.DATA, start, stop) == want

    def test_other_functions_at_the_edges(self):
        assert blocks.token_offset(self.DATA, 0, MAX) == 11
        assert blocks.token_offset(self.DATA, 11, 0) == 11
        assert blocks.line_end(self.DATA, 0, MAX, b"\n") == -1
        assert blocks.line_end(self.DATA, 11, 1, b"\n") == -1
        assert blocks.split_cells(np.array([0, 0], ">i8"), MAX) == (None, 2, 2)
        for func, args in [
            (blocks.token_offset, (self.DATA, 0, 2**63)),
            (blocks.line_end, (self.DATA, 2**63, 1, b"\n")),
            (blocks.split_cells, (np.zeros(2, np.int8), 2**63)),
        ]:
            with pytest.raises(OverflowError):
                func(*args)


@contextmanager
def lowered():
    """Small blocks on threads and without the GIL (see test_blocks_threads)."""
    old = blocks._tune(0, 0, 1)
    try:
        yield
    finally:
        blocks._tune(*old)


class TestThreadsArgument:
    DATA = b"1 2 3\n4 5 6\n"

    @pytest.mark.parametrize("threads", [1, True, 2, 64, 65, 2**63 - 1, 2**80, np.int8(3)])
    def test_any_count_of_one_or_more_reads_the_same(self, threads):
        with lowered():
            values, end = blocks.read_ascii(self.DATA, 0, 6, "q", threads)
            offsets, conn, cells_end = blocks.read_cells(self.DATA, 0, 2, 6, threads)
        assert values.tolist() == [1, 2, 3, 4, 5, 6] and end == 11
        assert offsets.tolist() == [0, 1, 4] and conn.tolist() == [2, 4, 5, 6] and cells_end == 11

    @pytest.mark.parametrize(
        "threads,exc",
        [
            (0, ValueError),
            (-1, ValueError),
            (-(2**80), ValueError),
            (False, ValueError),
            (1.5, TypeError),
            ("2", TypeError),
            (None, TypeError),
        ],
    )
    def test_refused(self, threads, exc):
        with pytest.raises(exc):
            blocks.read_ascii(self.DATA, 0, 6, "q", threads)
        with pytest.raises(exc):
            blocks.read_cells(self.DATA, 0, 2, 6, threads)

    def test_writable_buffers_read_on_threads_with_the_gil(self):
        raw = b"".join(b"%d %d.5\n" % (k, k) for k in range(500)) + b"1 2"
        writable = (bytearray(raw), memoryview(bytearray(raw)), np.frombuffer(raw, "u1").copy())

        def answer(got):
            return [a.tobytes() if isinstance(a, np.ndarray) else a for a in got]

        want = {t: answer(blocks.read_ascii(raw, 0, 1000, t)) for t in "dq"}
        with lowered():
            for data in writable:
                for type in "dq":
                    assert answer(blocks.read_ascii(data, 0, 1000, type, 3)) == want[type]


def let_go(go, *buffers):
    """Releases each memoryview and closes each mmap once no read holds it."""
    go.wait()
    for buffer in buffers:
        while True:
            try:
                buffer.release() if isinstance(buffer, memoryview) else buffer.close()
                break
            except BufferError:
                pass  # a read holds it: try again when it has ended


def test_a_buffer_changing_hands_between_reads(tmp_path):
    # One thread releases the memoryview and closes the mmap that another
    # reads on threads: each read sees the whole buffer, or none of it.
    raw = b"".join(b"%d.25 %d\n" % (k, -k) for k in range(20_000))
    want = blocks.read_ascii(raw, 0, 40_000, "d")[0].tobytes()
    path = tmp_path / "f"
    path.write_bytes(raw)
    outcomes = []
    for _ in range(20):
        with open(path, "rb") as f:
            mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        view, go = memoryview(raw), threading.Barrier(2)
        closer = threading.Thread(target=let_go, args=(go, view, mm))
        closer.start()
        go.wait()
        with lowered():
            for data in (view, mm) * 3:
                try:
                    got = blocks.read_ascii(data, 0, 40_000, "d", 2)[0].tobytes()
                except ValueError:
                    outcomes.append("gone")  # released or closed before the read began
                else:
                    assert got == want
                    outcomes.append("read")
        closer.join()
    assert len(outcomes) == 120 and set(outcomes) <= {"read", "gone"}
