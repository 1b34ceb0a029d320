"""The command line as a shell user meets it: a real process, its exit status,
stdout and stderr, for good, broken, noisy, missing and piped input."""

import fcntl
import json
import os
import random
import re
import signal
import subprocess
import sys
import termios
import time
from pathlib import Path

import pytest

import veltrane
from veltrane.codecs import vtk

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "grid.vtk.gz"
IMAGE = ROOT / "tests" / "python" / "data" / "fixtures" / "vtk_image2d_binary_42.vtk"
MODULE = [sys.executable, "-m", "veltrane.codecs.vtk"]
SCRIPT = Path(sys.executable).parent / "veltrane-vtk"

BROKEN = b"# vtk DataFile Version 4.2\nt\nASCII\nDATASET POLYDATA\nPOINTS 2 float\n0 0 0\n"
NOISE = random.Random(7).randbytes(4096)
# What a terminal acts on: C0 controls but the line end, DEL, C1 controls.
CONTROL = re.compile(r"[\x00-\x09\x0b-\x1f\x7f-\x9f]")
ESCAPES = (
    b"# vtk DataFile Version 4.2\n\x1b]0;title\x07\x9b\xff\nASCII\nDATASET POLYDATA\n"
    b"POINTS 1 float\n0 0 0\nPOINT_DATA 1\nSCALARS \x1b[2J float 1\nLOOKUP_TABLE default\n1\n"
)


def run(args, stdin=b"", cmd=MODULE):
    return subprocess.run([*cmd, *map(str, args)], input=stdin, capture_output=True, timeout=120)


@pytest.fixture
def files(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for name, data in (("broken.vtk", BROKEN), ("noise.vtk", NOISE), ("escapes.vtk", ESCAPES)):
        Path(name).write_bytes(data)


@pytest.mark.usefixtures("files")
@pytest.mark.parametrize(
    "args, stdin, status, out, err",
    [
        (
            [EXAMPLE, IMAGE],
            b"",
            0,
            r"(?s)HEXAHEDRON\s+270529.*\n\nfile: .*STRUCTURED_POINTS",
            r"^$",
        ),
        (["broken.vtk", IMAGE], b"", 1, r"^file: .*vtk_image2d", r"broken.vtk, line 6: POINTS: "),
        (
            ["noise.vtk"],
            b"",
            1,
            r"^$",
            r"^python -m veltrane\.codecs\.vtk: noise\.vtk, line 1: not a VTK legacy file",
        ),
        (["missing.vtk", IMAGE], b"", 1, r"STRUCTURED_POINTS", r"missing.vtk: No such file"),
        (["-"], IMAGE.read_bytes(), 0, r"^file:      <stdin>\n", r"^$"),
        (["-"], BROKEN, 1, r"^$", r"<stdin>, line 6: POINTS: the file ends"),
        (["escapes.vtk"], b"", 0, r"title:     \\x1b\]0;title\\x07\\x9b\\xff\n", r"^$"),
        (["-"], ESCAPES.replace(b"float 1", b"1"), 1, r"^$", r"SCALARS '\\x1b\[2J': unknown"),
        (["--version"], b"", 0, rf"^veltrane {re.escape(veltrane.__version__)}\n$", r"^$"),
        (["--help"], b"", 0, r"^usage: python -m veltrane.codecs.vtk \[-h\]", r"^$"),
        ([], b"", 2, r"^$", r"(?s)^usage: .*error: the following arguments are required: FILE"),
        (["--bogus", IMAGE], b"", 2, r"^$", r"error: unrecognized arguments: --bogus"),
    ],
    ids="good broken noise missing stdin stdin-broken escapes escapes-error version help "
    "no-file bad-option".split(),
)
def test_status_and_output(args, stdin, status, out, err):
    proc = run(args, stdin)
    # A byte that is no UTF-8 fails the decoding: raw bytes of the file got through.
    stdout, stderr = proc.stdout.decode(), proc.stderr.decode()
    assert proc.returncode == status, (stdout, stderr)
    assert re.search(out, stdout) and re.search(err, stderr), (stdout, stderr)
    assert not CONTROL.search(stdout + stderr) and "Traceback" not in stderr
    assert all(len(line) < 300 for line in stderr.splitlines())


def test_script_names_itself():
    if not SCRIPT.exists():
        pytest.skip("the package is not installed with its script")
    proc = run(["--help"], cmd=[SCRIPT])
    assert proc.returncode == 0 and proc.stdout.startswith(b"usage: veltrane-vtk [-h]")


def test_json_holds_the_counts():
    proc = run(["--json", "--verbose", EXAMPLE, IMAGE])
    assert proc.returncode == 0 and proc.stderr == b""
    got = [json.loads(line) for line in proc.stdout.decode().splitlines()]
    assert [g["file"] for g in got] == [str(EXAMPLE), str(IMAGE)]
    for g, path in zip(got, (EXAMPLE, IMAGE)):
        mesh = vtk.read(path)
        assert (g["points"], g["cells"], g["dataset"]) == (
            mesh.n_points,
            mesh.n_cells,
            mesh.dataset,
        )
        arrays = {**mesh.point_data, **mesh.cell_data}
        assert {a["name"]: a["shape"] for a in g["point_data"] + g["cell_data"]} == {
            name: list(a.shape) for name, a in arrays.items()
        }
        for a in g["point_data"] + g["cell_data"]:
            values = arrays[a["name"]]
            # Floats are written as briefly as their own type allows.
            assert values.dtype.type(a["min"]) == values.min()
            assert values.dtype.type(a["max"]) == values.max()
    assert got[0]["cell_counts"] == {"TETRA": 20480, "HEXAHEDRON": 270529}
    assert got[1]["dimensions"] == list(vtk.read(IMAGE).dimensions)
    assert {b["block"] for b in got[0]["blocks"]} == {"POINTS", "CELLS"}


def test_closed_pipe_ends_quietly():
    # The reader has gone before the first line: every write meets a closed pipe.
    r, w = os.pipe()
    os.close(r)
    proc = subprocess.run(
        [*MODULE, IMAGE, IMAGE], stdout=w, stderr=subprocess.PIPE, timeout=120, check=False
    )
    os.close(w)
    assert (proc.returncode, proc.stderr) == (141, b"")
    # And as the shell does it, with the pipe closed while the summaries flow.
    proc = subprocess.run(
        ["sh", "-c", '"$@" | head -1', "sh", *MODULE, *[IMAGE] * 200],
        capture_output=True,
        timeout=120,
    )
    assert proc.stdout == f"file:      {IMAGE}\n".encode() and proc.stderr == b""


def test_ctrl_c_gives_130():
    # A shell starts a background job with SIGINT ignored, and an interpreter
    # started so keeps ignoring it. A signal this process catches is reset to
    # the default in the child, which then takes Ctrl-C as a user's would.
    old = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        proc = subprocess.Popen([*MODULE, "-"], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    finally:
        signal.signal(signal.SIGINT, old)
    # Once the first bytes have been taken from the pipe, the read of stdin is under way.
    proc.stdin.write(b"# vtk")
    proc.stdin.flush()
    deadline = time.monotonic() + 60
    while _pending(proc.stdin.fileno()) and time.monotonic() < deadline:
        time.sleep(0.01)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=60)
    assert (proc.returncode, err) == (130, b"")


def _pending(fd):
    """Bytes written to a pipe and not yet read from it."""
    return int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)
