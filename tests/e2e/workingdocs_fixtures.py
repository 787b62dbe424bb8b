"""Fixtures for driving ZTWorkingDocuments.exe under Wine against devserver, seen from outside:
the list's rows and buttons through uidriver.exe, message boxes, the Wine registry, files."""
import os
import shutil
import subprocess
import tempfile
import uuid

import pytest

from checkin_fixtures import (CHECKOUTS_KEY, WINDOWS_BIN, WINE, _require, hex_utf8,  # noqa: F401
                              kept_folder, server_checkout, win_path)
from conftest import wait_until

TITLE = "Checked out documents"
LIST, CHECKIN, CANCEL, EDIT, REFRESH, LEGEND, CHECKED_IN = 1001, 3, 4, 5, 1002, 1003, 1004
DIALOG_CLASS = "ZTWorkingDocumentsDlg"
# 100 ns ticks between 1601-01-01 and 1970-01-01: a Unix time as the Windows file time.
EPOCH_AS_FILETIME = 116444736000000000




class WorkingDocuments:
    """One run of ZTWorkingDocuments.exe, started as the agent's tray menu starts it."""

    def __init__(self, exe, ui):
        self.exe, self.ui = exe, ui
        self.proc = None
        self.title = TITLE

    def start(self, adaptor_url, user="alice", folder="", wait=True, title=TITLE):
        self.title = title
        args = (f"FILE_PATH={hex_utf8(folder)}&ADAPTOR_URL={adaptor_url}&WORK_FOLDER=C:\\work"
                f"&USER_ID={user}&PASSWORD=KVMRT")
        self.proc = subprocess.Popen([WINE, self.exe, args], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        if wait:
            self.window()
        return self

    def run(self, *args, timeout_ms=10000):
        rc, out = self.ui.run(*args, timeout_ms=timeout_ms)
        assert rc == 0, f"uidriver {args[0]}: {self.ui.last_error}"
        return out

    def window(self):
        self.run("wait-window", self.title, timeout_ms=30000)

    def read_rows(self):
        """[(selected, [document, version, note, owner])] as the list shows them; None while the
        window does not answer (it does not while its list request runs)."""
        rc, out = self.ui.run("list-rows", self.title, str(LIST), timeout_ms=10000)
        if rc != 0:
            return None
        return [(line.split("\t")[0] == "1", line.split("\t")[1:]) for line in out.splitlines()]

    def rows(self):
        rows = self.read_rows()
        assert rows is not None, f"uidriver list-rows: {self.ui.last_error}"
        return rows

    def wait_rows(self, expected, timeout=30):
        """Waits until the rows' cells are `expected`; returns the rows."""
        seen = []

        def match():
            rows = self.read_rows()
            if rows is None:
                return False
            seen[:] = rows
            return [cells for _, cells in rows] == expected

        assert wait_until(match, timeout, 0.3), f"rows {seen} never became {expected}"
        return seen

    def columns(self):
        return self.run("list-columns", self.title, str(LIST)).splitlines()

    def select(self, row):
        self.run("list-click", self.title, str(LIST), str(row))
        assert wait_until(lambda: self.rows()[row][0], 10, 0.2), f"row {row} was not selected"

    def double_click(self, row):
        self.run("list-dblclick", self.title, str(LIST), str(row))

    def visible(self, control):
        for line in self.run("controls", self.title).splitlines():
            cid, _, shown, _ = line.split("\t", 3)
            if cid == str(control):
                return shown == "1"
        raise AssertionError(f"no control {control}")

    def click(self, button):
        self.run("click", self.title, str(button))

    def enabled(self, control):
        return self.run("is-enabled", self.title, str(control)).strip() == "true"

    def box(self, dismiss=1, timeout_ms=15000):
        """The next message box (caption, text), pressing `dismiss`; fails when none shows."""
        box = self.ui.msgbox(dismiss=dismiss, timeout_ms=timeout_ms)
        assert box, "no message box showed; the windows:\n" + self.ui.run("list-windows")[1]
        return box

    def stop(self):
        if self.proc is None or self.proc.poll() is not None:
            return
        self.ui.run("close", self.title, timeout_ms=2000)
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture
def working_documents(english):
    """working_documents(exe=None) -> WorkingDocuments; every run is ended after the test."""
    runs = []

    def make(exe=None):
        run = WorkingDocuments(exe or _require(os.path.join(WINDOWS_BIN, "ZTWorkingDocuments.exe"),
                                               "ZTWorkingDocuments.exe"), english)
        runs.append(run)
        return run

    yield make
    # What the lists started first: a list waiting for a program takes no Close.
    close_started_programs(english)
    for run in reversed(runs):
        run.stop()


def close_started_programs(ui):
    """Ends what a failed test may have left from the programs the list started: their message
    boxes (OK, Cancel or No, whichever the box has) and their windows."""
    _, out = ui.run("list-windows")
    if not any(line.endswith(("\tCheckin", "\tCancel checkout")) for line in out.splitlines()):
        return
    for _ in range(5):
        if ui.msgbox(dismiss=None, timeout_ms=300) is None:
            break
        for button in ("1", "2", "7"):
            if ui.run("msgbox", "--dismiss", button, timeout_ms=3000)[0] == 0:
                break
    for title in ("Checkin", "Cancel checkout"):
        ui.run("close", title, timeout_ms=300)


@pytest.fixture
def lone_copy():
    """ZTWorkingDocuments.exe copied alone into a folder: nothing to start beside it."""
    exe = _require(os.path.join(WINDOWS_BIN, "ZTWorkingDocuments.exe"), "ZTWorkingDocuments.exe")
    folder = tempfile.mkdtemp(prefix="f-lone-")
    yield shutil.copy(exe, folder)
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def make_checkout(server, uidriver, work_folder, kept_folder):
    """make_checkout(user, name="Report.docx", version="1.0", note="", creator="alice", copy=True,
    stamp="same"|"moved"|None, versions=None) checks a new document out for `user` on the
    server (versions: [(version, note)], the last one current) and, with `copy`, puts its
    working copy and record here, the record's stamp as the copy is or a second older.
    Returns a dict with oid, name, copy (Unix path or None), version."""
    made = []

    def make(user, name="Report.docx", version="1.0", note="", creator="alice", copy=True, stamp="same",
             versions=None):
        oid = "W-" + uuid.uuid4().hex[:8]
        status, out = server.admin("POST", "/_admin/documents", {
            "object": oid, "name": name, "creator": creator,
            "versions": [{"version": v, "note": n, "size": 16} for v, n in versions or [(version, note)]]})
        assert status == 200, out
        server_checkout(server, oid, version, user=user)
        path = None
        if copy:
            base, ext = os.path.splitext(name)
            path = os.path.join(work_folder, f"{base}({oid}){ext}")
            with open(path, "wb") as f:
                f.write(b"working copy\r\n")
            st = os.stat(path)
            written = st.st_mtime_ns // 100 + EPOCH_AS_FILETIME - (10_000_000 if stamp == "moved" else 0)
            values = [("PageId", "P1"), ("LocalPath", win_path(path)), ("Version", version), ("Immutable", "F")]
            if stamp:
                values += [("CopyLastWrite", str(written)), ("CopySize", str(st.st_size))]
            for value, data in values:
                uidriver.reg_set(f"{CHECKOUTS_KEY}\\{oid}", value, "sz", data)
        made.append(oid)
        return {"oid": oid, "name": name, "copy": path, "version": version}

    yield make
    for oid in made:
        uidriver.reg_delete(f"{CHECKOUTS_KEY}\\{oid}")


@pytest.fixture
def user():
    """A user of this test alone, so that no other test's check-outs show in its list."""
    return "u" + uuid.uuid4().hex[:8]
