"""Fixtures for the agent's tray menu, timers and notice window under Wine: the agent started
from a folder of its own with stand-ins for the programs it starts, a stand-in web browser, and
the messages the tray icon and the timers send, posted through uidriver.

start_recorder.exe (tests/tools, from EDMS_TEST_TOOLS_BIN, default EDMS_WINDOWS_BIN) stands in
for every started program: it notes each start's argument in <its own path>.calls.
"""
import shutil

import pytest

from conftest import AGENT_EXE, AGENT_TITLE, ROOT, run, session, request, uidriver, wait_until
from runner_fixtures import TOOLS_BIN
from wine_run import run_wine

RECORDER = TOOLS_BIN / "start_recorder.exe"
WM_TIMER = 0x0113
TRAY_NOTIFY = 0x800A  # WM_APP + 10, the tray icon's message to the main window
WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_KEYDOWN = 0x0203, 0x0205, 0x0100
VK_ESCAPE, VK_LEFT, VK_RIGHT = 0x1B, 0x25, 0x27
IDOK, IDNO = 1, 7
NOTICE_TIMER, UPDATE_TIMER = 0, 1
WORKING_DOCUMENTS, NOTICE, EDMS, CHECK_UPDATES, TRASHCAN = 32775, 32776, 32779, 32781, 32784
NOTICE_SLIDER, NOTICE_VALUE, UPDATE_SLIDER, UPDATE_VALUE = 1009, 1011, 1012, 1013


@pytest.fixture
def recorder(windows_programs):
    if not RECORDER.exists():
        pytest.skip(f"start_recorder.exe is not built ({RECORDER})")
    return RECORDER


class AgentFolder:
    """A copy of Pellarin.exe in a folder of its own, with stand-ins beside it by name."""

    def __init__(self, path):
        self.path = path
        path.mkdir()
        shutil.copy(AGENT_EXE, path / "Pellarin.exe")
        self.exe = path / "Pellarin.exe"

    def add(self, name):
        shutil.copy(RECORDER, self.path / name)

    def calls(self, name):
        """The arguments the stand-in `name` was started with, oldest first."""
        try:
            return (self.path / (name + ".calls")).read_text("utf-8").splitlines()
        except FileNotFoundError:
            return []


@pytest.fixture
def agent_folder(recorder, tmp_path):
    return AgentFolder(tmp_path / "agent-folder")


def _reg_default(key):
    code, out, _ = run_wine("reg", "query", key, "/ve", timeout=60)
    if code != 0:
        return None
    for line in out.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


@pytest.fixture
def stand_in_browser(recorder, tmp_path):
    """A copy of start_recorder.exe as the shell's open command for http and https, under HKCR
    (Wine's shell reads associations there only); the previous commands come back afterwards.
    Yields a function that returns the addresses the browser was started with."""
    exe = tmp_path / "browser" / "browser.exe"
    exe.parent.mkdir()
    shutil.copy(RECORDER, exe)
    keys = [rf"HKCR\{scheme}\shell\open\command" for scheme in ("http", "https")]
    saved = {key: _reg_default(key) for key in keys}
    for key in keys:
        code, _, err = run_wine("reg", "add", key, "/ve", "/d", f'"Z:{str(exe).replace("/", chr(92))}" "%1"', "/f",
                                timeout=60)
        assert code == 0, err
    calls = exe.parent / "browser.exe.calls"
    yield lambda: calls.read_text("utf-8").splitlines() if calls.exists() else []
    for key, value in saved.items():
        if value is None:
            run_wine("reg", "delete", key, "/ve", "/f", timeout=60)
        else:
            run_wine("reg", "add", key, "/ve", "/d", value, "/f", timeout=60)


def post(message, wparam=0, lparam=0, title=AGENT_TITLE):
    uidriver("post", title, message, wparam, lparam)


def tick(timer, title=AGENT_TITLE):
    """The timer's tick, as the system posts it."""
    post(WM_TIMER, timer, 0, title)


def menu(command, title=AGENT_TITLE):
    """A tray menu choice, as it reaches the main window."""
    uidriver("command", title, command)


def become_user(user):
    """A page logged in as `user` sends a command: the agent's current user is now `user`."""
    async def go():
        async with session(user) as (ws, _):
            return await request(ws, "CHECK_USER")
    assert run(go()) is not None


def wait_line(agent, text, timeout=30, after=0):
    """Waits until a debug line containing `text` appears at index `after` or later; its index."""
    found = []

    def seen():
        for i, line in enumerate(agent.trace_lines()[after:], after):
            if text in line:
                found.append(i)
                return True
        return False

    assert wait_until(seen, timeout), f"no line {text!r} after {after}:\n" + "\n".join(agent.trace_lines())
    return found[0]


def message_box(caption, button, timeout_ms=30000):
    """The first message box with `caption`: its text, after pressing `button`."""
    lines = uidriver("msgbox", "--caption", caption, "--dismiss", button, timeout_ms=timeout_ms)
    return "\n".join(lines[1:])


def no_message_box():
    return uidriver("msgbox", timeout_ms=1000, check=False) is None


SCREENSHOTS = ROOT / "build" / "screenshots"


def screenshot(title, name, by_class=False):
    """Saves the shown window's pixels as build/screenshots/NAME; its size "WxH"."""
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    path = SCREENSHOTS / name
    options = ["--class"] if by_class else []
    lines = uidriver(*options, "screenshot", title, path, timeout_ms=15000)
    assert path.stat().st_size > 0
    return lines[0]
