"""Fixtures for driving ZTCheckOut.exe under Wine against devserver.

Everything here talks to the programs through their outside: the devserver's HTTP admin API,
the Wine registry and message boxes through uidriver.exe, files on disk, exit codes.
"""
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request
import uuid

import pytest

from devserver_admin import AdminClient
from wine_run import WINE, register_opener, run_wine, unregister_opener  # noqa: F401

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINDOWS_BIN = os.environ.get("EDMS_WINDOWS_BIN", os.path.join(REPO, "build", "windows", "bin"))
TOOLS_BIN = os.environ.get("EDMS_TEST_TOOLS_BIN", WINDOWS_BIN)
DEVSERVER = os.environ.get("DEVSERVER", os.path.join(REPO, "build", "native", "bin", "devserver"))

CHECKOUTS_KEY = "Software\\kelvora\\Zelto\\CheckOuts"
CONFIG_KEY = "Software\\kelvora\\Zelto\\Config"
RUN_TIMEOUT = 120  # seconds for one ZTCheckOut run, message boxes included


def _require(path, what):
    if not os.path.isfile(path):
        pytest.skip(f"{what} is not built: {path}")
    return path


def win_path(unix_path):
    """The Wine path of a Unix path (the prefix maps Z: to the root)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def hex_utf8(text):
    return text.encode("utf-8").hex()


def signed_exit(code):
    """Wine hands back the low 8 bits of the 32-bit exit code."""
    return code - 256 if code >= 128 else code


def pattern_bytes(size):
    """The content devserver writes for a document created with {"size": N}."""
    return (bytes(range(251)) * (size // 251 + 1))[:size]


class UiDriver:
    def __init__(self, exe):
        self.exe = exe
        self.last_error = ""  # what the last call wrote to stderr

    def run(self, *args, timeout_ms=5000):
        code, out, self.last_error = run_wine(self.exe, "--timeout", timeout_ms, *args,
                                              timeout=timeout_ms / 1000 + 60)
        return code, out

    def msgbox(self, caption=None, dismiss=1, timeout_ms=1000):
        """(caption, text) of the first message box, pressing `dismiss`; None when none shows."""
        args = ["msgbox"]
        if caption:
            args += ["--caption", caption]
        if dismiss is not None:
            args += ["--dismiss", str(dismiss)]
        rc, out = self.run(*args, timeout_ms=timeout_ms)
        lines = out.split("\n")
        # The box was found once its caption is out, even when it took longer than the
        # time-out to go away after the button press.
        if len(lines) < 2 or (rc != 0 and not lines[0]):
            return None
        return lines[0], "\n".join(lines[1:]).rstrip("\n")

    def text(self, title, control_id, timeout_ms=5000):
        rc, out = self.run("text", title, str(control_id), timeout_ms=timeout_ms)
        return out.rstrip("\n") if rc == 0 else None

    def reg_get(self, key, value):
        rc, out = self.run("reg-get", key, value)
        return out.rstrip("\n") if rc == 0 else None

    def registry_step(self, *args):
        """A registry step of a test's setup. uidriver says why whenever it fails; a failure
        with nothing said did not come from it (seen twice in whole runs as exit code 1 with
        empty output, never in 150 calls in a row), so that one is tried once more."""
        rc, _ = self.run(*args)
        if rc != 0 and not self.last_error.strip():
            rc, _ = self.run(*args)
        assert rc == 0, f"{' '.join(map(str, args))} failed ({rc}): {self.last_error.strip()}"

    def reg_set(self, key, value, kind, data):
        self.registry_step("reg-set", key, value, kind, str(data))

    def reg_delete(self, key, value=None):
        self.registry_step("reg-delete", key, *([value] if value else []))

    def record(self, oid):
        """The check-out record of `oid` as a dict, or None when there is none."""
        key = f"{CHECKOUTS_KEY}\\{oid}"
        values = {name: self.reg_get(key, name) for name in ("PageId", "LocalPath", "Version", "Immutable")}
        return None if all(v is None for v in values.values()) else values


class DevServer(AdminClient):
    def __init__(self, binary, data_dir):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        super().__init__(f"http://127.0.0.1:{self.port}")
        self.log = open(os.path.join(data_dir, "devserver.log"), "wb")
        self.proc = subprocess.Popen([binary, "--port", str(self.port), "--data", os.path.join(data_dir, "data")],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 20
        while True:
            try:
                self.admin("GET", "/_admin/faults")
                break
            except (OSError, urllib.error.URLError):
                if self.proc.poll() is not None or time.time() > deadline:
                    self.stop()
                    raise RuntimeError("devserver did not start")
                time.sleep(0.1)

    @property
    def adaptor_url(self):
        return f"http://127.0.0.1:{self.port}/adaptor"

    def add_document(self, name, versions, object_id=None, page="P1", creator="alice"):
        """Creates a document; versions: [(version, UTF-8 bytes, or a size for pattern_bytes)].
        Returns its object id."""
        object_id = object_id or "F-" + uuid.uuid4().hex[:8]
        spec = []
        for version, content in versions:
            if isinstance(content, int):
                spec.append({"version": version, "size": content})
            else:
                spec.append({"version": version, "text": content.decode("utf-8")})
        status, out = self.admin("POST", "/_admin/documents",
                                 {"object": object_id, "page": page, "name": name, "creator": creator,
                                  "versions": spec})
        assert status == 200, out
        return object_id

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


class CheckOutRun:
    """The outcome of one ZTCheckOut run."""

    def __init__(self, code, boxes):
        self.code = code
        self.boxes = boxes  # [(caption, text)] in the order they showed

    @property
    def message(self):
        return self.boxes[-1][1] if self.boxes else None


class CheckOutProgram:
    def __init__(self, exe, ui):
        self.exe = exe
        self.ui = ui

    def start(self, args):
        """Starts ZTCheckOut with the pairs of `args` (a dict, in order) as its argument string."""
        arg = "&".join(f"{k}={v}" for k, v in args.items())
        return subprocess.Popen([WINE, self.exe, arg], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, args, on_running=None):
        """Runs ZTCheckOut to its end, pressing OK on every message box it shows."""
        proc = self.start(args)
        boxes = []
        deadline = time.time() + RUN_TIMEOUT
        try:
            if on_running:
                on_running(proc)
            while proc.poll() is None:
                if time.time() > deadline:
                    pytest.fail("ZTCheckOut did not end in time")
                box = self.ui.msgbox(timeout_ms=500)
                if box:
                    boxes.append(box)
                    # Never read the same box twice while it is closing.
                    self.ui.run("wait-gone", box[0], timeout_ms=10000)
            return CheckOutRun(signed_exit(proc.wait()), boxes)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()


@pytest.fixture(scope="session")
def uidriver():
    return UiDriver(_require(os.path.join(WINDOWS_BIN, "uidriver.exe"), "uidriver.exe"))


@pytest.fixture(scope="session")
def english(uidriver):
    uidriver.reg_set(CONFIG_KEY, "LanguageID", "dword", 1033)
    uidriver.reg_delete(CONFIG_KEY, "AppType")
    return uidriver


@pytest.fixture(scope="session")
def checkout_program(english):
    exe = _require(os.path.join(WINDOWS_BIN, "ZTCheckOut.exe"), "ZTCheckOut.exe")
    return CheckOutProgram(exe, english)


@pytest.fixture(scope="module")
def devserver():
    binary = _require(DEVSERVER, "devserver")
    folder = tempfile.mkdtemp(prefix="f-devserver-")
    server = DevServer(binary, folder)
    yield server
    server.stop()
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture
def server(devserver):
    devserver.clear_faults()
    yield devserver
    devserver.clear_faults()


@pytest.fixture
def work_folder():
    folder = tempfile.mkdtemp(prefix="f-work-")
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="session")
def test_editor():
    """Registers tests/tools' test_editor.exe under HKCR for the extension ".zted"."""
    exe = _require(os.path.join(TOOLS_BIN, "test_editor.exe"), "test_editor.exe")
    prog_id = "EdmsTests.EditorDocument"
    command = f'"{win_path(exe)}" "%1"'
    keys = register_opener(".zted", prog_id, command)
    yield ".zted"
    unregister_opener(keys)
