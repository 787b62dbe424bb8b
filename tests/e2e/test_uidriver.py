"""uidriver's screenshot, which the pictures in the documentation come from."""
import contextlib
import struct
import subprocess

import pytest

from conftest import WINDOWS_BIN, WINE, uidriver

EMPTY = WINDOWS_BIN / "empty_dialog.exe"


@contextlib.contextmanager
def dialog(title):
    if not EMPTY.exists():
        pytest.skip(f"not built: {EMPTY}")
    proc = subprocess.Popen([str(WINE), str(EMPTY), title], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        uidriver("wait-window", title, timeout_ms=30000)
        yield
    finally:
        uidriver("close", title, check=False)
        try:
            proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=30)


def rows(bmp):
    """The pixel rows of a 32-bit bottom-up BMP as uidriver writes it, top row first."""
    data = bmp.read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    return [data[offset + y * width * 4:offset + (y + 1) * width * 4] for y in reversed(range(height))]


def test_a_covered_window_is_taken_whole_and_left_where_it_was(tmp_path):
    """Two dialogs of one size open at one place: the covered one's picture is its own, its
    title bar the same as before the other covered it (its button loses the focus frame), and it
    stays below the other."""
    alone, covered = tmp_path / "alone.bmp", tmp_path / "covered.bmp"
    with dialog("Covered dialog"):
        uidriver("screenshot", "Covered dialog", alone)
        with dialog("Covering dialog"):
            uidriver("screenshot", "Covered dialog", covered)
            titles = [line.split("\t")[4] for line in uidriver("list-windows")]
    title_bar = rows(alone)[:20]
    # Black when Wine leaves the frame to a window manager, and there is none.
    assert not [y for y, row in enumerate(title_bar) if not row.strip(b"\0")]
    assert rows(covered)[:20] == title_bar
    assert titles.index("Covering dialog") < titles.index("Covered dialog")
