"""Fixtures for driving ZTCheckIn.exe and ZTCheckOutCancel.exe under Wine.

The server side is devserver (documents made and inspected through its admin API) or, where a
test needs an upload that lasts, a throttled peer of our own. The programs are seen only from
outside: windows and message boxes through uidriver.exe, the Wine registry, files, exit codes.
"""
import os
import socket
import subprocess
import threading
import time
import urllib.request

import pytest

from checkout_fixtures import (CHECKOUTS_KEY, CONFIG_KEY, WINDOWS_BIN, WINE, UiDriver,  # noqa: F401
                               _require, devserver, english, hex_utf8, pattern_bytes, server, signed_exit,
                               win_path, work_folder)


RUN_TIMEOUT = 120  # seconds for one program run, message boxes included
CHECKIN_TITLE = "Checkin"
CANCEL_TITLE = "Cancel checkout"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCREENSHOTS = os.path.join(REPO, "build", "screenshots")


def form_encode(text):
    """A field value as the programs send it: UTF-8 hex, then every character %-escaped."""
    return "".join(f"%{b:02x}" for b in hex_utf8(text).encode("ascii"))


def adaptor_post(server, command, fields, timeout=30):
    """One form request to the adaptor; returns (headers dict, body bytes)."""
    body = f"XRQ_COMMAND={command}" + "".join(f"&{k}={form_encode(v)}" for k, v in fields)
    req = urllib.request.Request(server.adaptor_url, data=body.encode("ascii"), method="POST",
                                 headers={"Content-Type": "application/x-www-form-urlencoded"})
    with urllib.request.urlopen(req, timeout=timeout) as r:
        return {k: v for k, v in r.getheaders()}, r.read()


def server_checkout(server, oid, version, user="alice", page="P1"):
    headers, _ = adaptor_post(server, "CHECKOUT", [("XRQ_OBJECT", oid), ("XRQ_PAGE", page),
                                                    ("XRQ_VERSION", version), ("XRQ_USER", user),
                                                    ("XRQ_PASS", "")])
    assert headers.get("XRS_RTNCODE") == "00", headers


def server_content(server, oid, page="P1"):
    """The bytes of the document's current version."""
    headers, body = adaptor_post(server, "DOWNLOAD", [("XRQ_OBJECT", oid), ("XRQ_PAGE", page),
                                                       ("XRQ_USER", "alice"), ("XRQ_PASS", "")])
    assert headers.get("XRS_RTNCODE") == "00", headers
    return body


def server_document(server, oid):
    status, doc = server.admin("GET", f"/_admin/document?object={oid}")
    assert status == 200, doc
    return doc


class ReadThenCloseUiDriver(UiDriver):
    """uidriver whose message-box call reads the box first and closes it in a second call."""

    def msgbox(self, caption=None, dismiss=1, timeout_ms=2000):
        """(caption, text) of the first message box, once `dismiss` has closed it; None when
        none shows within `timeout_ms`. Closing gets a generous wait of its own: the box of a
        program that ends right after it can stay until the process has gone."""
        only = ["--caption", caption] if caption else []
        rc, out = self.run("msgbox", *only, timeout_ms=timeout_ms)
        if rc != 0:
            return None
        lines = out.split("\n")
        box = lines[0], "\n".join(lines[1:]).rstrip("\n")
        if dismiss is not None:
            rc, _ = self.run("msgbox", *only, "--dismiss", str(dismiss), timeout_ms=15000)
            assert rc == 0, f"the message box {box} could not be closed"
        return box


@pytest.fixture(scope="session")
def uidriver():
    return ReadThenCloseUiDriver(_require(os.path.join(WINDOWS_BIN, "uidriver.exe"), "uidriver.exe"))


class Controls:
    """`uidriver controls` output: id -> (visible, text); several -1 labels are dropped."""

    def __init__(self, output):
        self.items = {}
        for line in output.splitlines():
            parts = line.split("\t", 3)
            if len(parts) == 4 and parts[0] != "-1":
                self.items[int(parts[0])] = (parts[2] == "1", parts[3])

    def visible(self, cid):
        return self.items[cid][0]

    def text(self, cid):
        return self.items[cid][1]


class Run:
    """One program run to its end."""

    def __init__(self, code, boxes):
        self.code = code
        self.boxes = boxes  # [(caption, text)] in the order they showed

    @property
    def texts(self):
        return [text for _, text in self.boxes]


class Program:
    """ZTCheckIn or ZTCheckOutCancel started with an argument string built from a dict."""

    def __init__(self, exe, ui):
        self.exe = exe
        self.ui = ui
        self.proc = None
        self.boxes = []

    def start(self, args):
        arg = "&".join(f"{k}={v}" for k, v in args.items() if v is not None)
        self.boxes = []
        self.proc = subprocess.Popen([WINE, self.exe, arg], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        return self

    def ui_run(self, *args, timeout_ms=10000):
        return self.ui.run(*args, timeout_ms=timeout_ms)

    def window(self, title, timeout_ms=30000):
        rc, _ = self.ui_run("wait-window", title, timeout_ms=timeout_ms)
        assert rc == 0, f"no window {title!r}: {self.ui.last_error}"

    def controls(self, title):
        rc, out = self.ui_run("controls", title)
        assert rc == 0, self.ui.last_error
        return Controls(out)

    def checked(self, title, cid):
        rc, out = self.ui_run("check", title, str(cid))
        assert rc == 0, self.ui.last_error
        return out.strip() == "checked"

    def box(self, dismiss=1, timeout_ms=15000):
        """The next message box (caption, text), pressing `dismiss`; fails when none shows."""
        box = self.ui.msgbox(dismiss=dismiss, timeout_ms=timeout_ms)
        assert box, "no message box showed"
        self.boxes.append(box)
        return box

    def finish(self, answer_boxes=True):
        """Waits for the end, pressing OK on every message box; returns the Run."""
        deadline = time.time() + RUN_TIMEOUT
        try:
            while self.proc.poll() is None:
                if time.time() > deadline:
                    pytest.fail(f"{os.path.basename(self.exe)} did not end in time")
                if answer_boxes:
                    box = self.ui.msgbox(timeout_ms=500)
                    if box:
                        self.boxes.append(box)
                else:
                    time.sleep(0.2)
            return Run(signed_exit(self.proc.wait()), list(self.boxes))
        finally:
            self.kill()

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Holder:
    """checkin_test_editor.exe: holds a file open and shows a window with a given title."""

    def __init__(self, exe, ui, file=None, title=None, child=None):
        args = [WINE, exe]
        for flag, value in (("--file", file and win_path(file)), ("--title", title), ("--child", child)):
            if value:
                args += [flag, value]
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rc, _ = ui.run("wait-window", title or "Stand-in editor", timeout_ms=30000)
        if rc != 0:
            self.stop()
            pytest.fail("the stand-in editor did not show its window")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class ThrottledPeer:
    """An adaptor stand-in that reads the first half of each request body slowly (until
    release() is called) and accepts every check-in, so an upload lasts long enough to act on
    the program while it runs."""

    def __init__(self, bytes_per_second=2_000_000):
        self.rate = bytes_per_second
        self.released = threading.Event()
        self.requests = []  # (headers text, body bytes received, complete)
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    @property
    def adaptor_url(self):
        return f"http://127.0.0.1:{self.port}/adaptor"

    def _serve(self):
        while not self.stopping:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            with conn:
                conn.settimeout(30)
                try:
                    self._one(conn)
                except OSError:
                    pass

    def _one(self, conn):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
        head, rest = data.split(b"\r\n\r\n", 1)
        length = 0
        for line in head.split(b"\r\n")[1:]:
            name, _, value = line.partition(b":")
            if name.strip().lower() == b"content-length":
                length = int(value.strip())
        entry = [head.decode("latin-1"), len(rest), False]
        self.requests.append(entry)
        start = time.time()
        while entry[1] < length:
            chunk = conn.recv(min(65536, length - entry[1]))
            if not chunk:
                return
            entry[1] += len(chunk)
            # Only the first half is slow: what the client has buffered by the end must
            # drain well within its one-second receive time-out.
            ahead = entry[1] / self.rate - (time.time() - start)
            if ahead > 0 and entry[1] < length // 2 and not self.released.is_set():
                time.sleep(ahead)
        entry[2] = True
        conn.sendall(b"HTTP/1.1 200 OK\r\nXRS_RTNCODE: 00\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    def wait_started(self, timeout=30):
        """Waits until an upload has reached the peer."""
        deadline = time.time() + timeout
        while not self.requests and time.time() < deadline:
            time.sleep(0.05)
        assert self.requests, "the upload did not start"

    def release(self):
        """Reads the rest of every upload at full speed."""
        self.released.set()

    def stop(self):
        self.stopping = True
        self.thread.join(5)
        self.listener.close()


@pytest.fixture(scope="session")
def checkin_program(english):
    return Program(_require(os.path.join(WINDOWS_BIN, "ZTCheckIn.exe"), "ZTCheckIn.exe"), english)


@pytest.fixture(scope="session")
def cancel_program(english):
    return Program(_require(os.path.join(WINDOWS_BIN, "ZTCheckOutCancel.exe"), "ZTCheckOutCancel.exe"),
                   english)


@pytest.fixture
def checkin(checkin_program):
    yield checkin_program
    checkin_program.kill()


@pytest.fixture
def cancel(cancel_program):
    yield cancel_program
    cancel_program.kill()


@pytest.fixture
def holder(uidriver):
    """Starts stand-in editors; all are stopped after the test."""
    exe = _require(os.path.join(WINDOWS_BIN, "checkin_test_editor.exe"), "checkin_test_editor.exe")
    started = []

    def start(**kwargs):
        h = Holder(exe, uidriver, **kwargs)
        started.append(h)
        return h

    yield start
    for h in started:
        h.stop()


@pytest.fixture
def throttled_peer():
    peer = ThrottledPeer()
    yield peer
    peer.stop()


@pytest.fixture
def kept_folder(uidriver, work_folder):
    """The configuration's WorkFolder is this test's work folder, copies kept the default days;
    returns the Unix path of its "Checked in" folder."""
    uidriver.reg_set(CONFIG_KEY, "WorkFolder", "sz", win_path(work_folder))
    uidriver.reg_delete(CONFIG_KEY, "KeepCheckedInDays")
    yield os.path.join(work_folder, "Checked in")
    uidriver.reg_delete(CONFIG_KEY, "KeepCheckedInDays")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.fixture
def checked_out(server, uidriver, work_folder, kept_folder):
    """Makes a document checked out by alice on the server, with its working copy and record:
    make(content=b"...", version="1.2", name="Report.docx", immutable="F", creator="alice")
    returns a dict with oid, copy (Unix path), name, version."""
    made = []

    def make(content=b"edited\r\n", version="1.2", name="Report.docx", immutable="F", creator="alice",
             server_content_size=16):
        oid = server.add_document(name, [(version, server_content_size)], creator=creator)
        server_checkout(server, oid, version)
        base, ext = os.path.splitext(name)
        copy = os.path.join(work_folder, f"{base}({oid}){ext}")
        with open(copy, "wb") as f:
            if isinstance(content, int):
                f.write(pattern_bytes(content))
            else:
                f.write(content)
        key = f"{CHECKOUTS_KEY}\\{oid}"
        for value, data in (("PageId", "P1"), ("LocalPath", win_path(copy)), ("Version", version),
                            ("Immutable", immutable)):
            uidriver.reg_set(key, value, "sz", data)
        made.append(oid)
        return {"oid": oid, "copy": copy, "name": name, "version": version}

    yield make
    for oid in made:
        uidriver.reg_delete(f"{CHECKOUTS_KEY}\\{oid}")


def record_exists(ui, oid):
    return ui.reg_get(f"{CHECKOUTS_KEY}\\{oid}", "LocalPath") is not None


def save_screenshot(ui, title, name):
    os.makedirs(SCREENSHOTS, exist_ok=True)
    path = os.path.join(SCREENSHOTS, name)
    rc, _ = ui.run("screenshot", title, path, timeout_ms=10000)
    assert rc == 0 and os.path.getsize(path) > 0
    return path
