"""Fixtures for the whole-system tests: devserver on a free port with seeded data, the agent
under Wine with its configuration written through the UI driver, and helpers to talk to it.

Binaries: EDMS_WINDOWS_BIN (Pellarin.exe, uidriver.exe; default build/windows/bin),
EDMS_UIDRIVER (default $EDMS_WINDOWS_BIN/uidriver.exe), DEVSERVER (default
build/native/bin/devserver). Tests that need a missing binary are skipped with the reason.
Every wait has a timeout; teardown always stops the agent and waits until it is gone.
"""
import asyncio
import contextlib
import json
import os
import random
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

import pytest
import websockets
import websockets.exceptions

from wine_run import run_wine

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
from tls_ca import make_test_ca, missing_reason, server_args  # noqa: E402
WINE = ROOT / "scripts" / "wine"
WINDOWS_BIN = Path(os.environ.get("EDMS_WINDOWS_BIN", ROOT / "build" / "windows" / "bin"))
AGENT_EXE = WINDOWS_BIN / "Pellarin.exe"
UIDRIVER = Path(os.environ.get("EDMS_UIDRIVER", WINDOWS_BIN / "uidriver.exe"))
TOOLS_BIN = Path(os.environ.get("EDMS_TEST_TOOLS_BIN", WINDOWS_BIN))
DEVSERVER = Path(os.environ.get("DEVSERVER", ROOT / "build" / "native" / "bin" / "devserver"))


def _agent_port():
    """EDMS_E2E_AGENT_PORT, else a free port of this run's own, below the system's range of
    passing ports: an agent already running here (make run) or another checkout's test run on
    this computer then never answers in place of this run's agents."""
    if "EDMS_E2E_AGENT_PORT" in os.environ:
        return int(os.environ["EDMS_E2E_AGENT_PORT"])
    for port in random.sample(range(24000, 32000), 200):
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                continue
        return port
    return 23232


AGENT_PORT = _agent_port()
CONFIG_KEY = r"Software\kelvora\Zelto\Config"
APP_VERSION = "9.8.7.6"
AGENT_TITLE = f"Pellarin[{APP_VERSION}]"
EXIT_COMMAND = 32772
# The agent's debug lines reach stderr through this channel (ASCII lines only).
AGENT_WINEDEBUG = "-all,warn+seh"


def port_open(port, host="127.0.0.1"):
    try:
        with socket.create_connection((host, port), timeout=0.5):
            return True
    except OSError:
        return False


def port_holders(port):
    """The processes that hold a socket listening on `port`: {pid: command line}."""
    sockets = set()
    with open("/proc/net/tcp") as table:
        for row in table.read().splitlines()[1:]:
            fields = row.split()
            if fields[3] == "0A" and int(fields[1].split(":")[1], 16) == port:
                sockets.add(f"socket:[{fields[9]}]")
    holders = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if any(os.readlink(f"/proc/{pid}/fd/{fd}") in sockets for fd in os.listdir(f"/proc/{pid}/fd")):
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    holders[int(pid)] = cmdline.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
        except OSError:
            pass  # gone meanwhile, or not ours to read
    return holders


def _of_this_run(pid):
    """True for a Wine process of this checkout's prefix or of a prefix a test made."""
    try:
        with open(f"/proc/{pid}/environ", "rb") as environ:
            prefix = next((v[len(b"WINEPREFIX="):].decode() for v in environ.read().split(b"\0")
                           if v.startswith(b"WINEPREFIX=")), "")
    except OSError:
        return False
    return bool(prefix) and (prefix.startswith(str(ROOT)) or prefix.startswith(tempfile.gettempdir()))


def end_port_holders(port):
    """Kills the Wine processes of this run that still hold `port` (an agent a test left behind
    would answer, or keep silent, in place of the next test's); returns what held it."""
    holders = port_holders(port)
    for pid in holders:
        if _of_this_run(pid):
            with contextlib.suppress(OSError):
                os.kill(pid, 9)
    wait_until(lambda: not port_open(port), 10)
    return holders


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def windows_path(path):
    """A Unix path as a Windows program sees it through the prefix's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def uidriver(*args, timeout_ms=5000, check=True, env=None):
    """Runs uidriver.exe under Wine (in another prefix with `env`); returns its stdout lines (UTF-8)."""
    code, out, err = run_wine(UIDRIVER, "--timeout", timeout_ms, *args, timeout=timeout_ms / 1000 + 60, env=env)
    if check and code != 0:
        raise AssertionError(f"uidriver {' '.join(map(str, args))} failed ({code}): {err.strip()}")
    return out.splitlines() if code == 0 else None


def reg_get(value, key=CONFIG_KEY, env=None):
    lines = uidriver("reg-get", key, value, check=False, env=env)
    return lines[0] if lines else None


class Agent:
    """One run of Pellarin.exe under Wine. stop() is safe to call at any time, more than once."""

    def __init__(self, log_path, title=AGENT_TITLE, exe=AGENT_EXE, env=None):
        self.log_path = Path(log_path)
        self.title = title
        self.exe = Path(exe)
        self.env = env  # another Wine prefix's, for an agent of another session
        self.proc = None
        self.crash_told = False

    def start(self, wait_serving=True):
        if wait_serving and port_open(AGENT_PORT) and not wait_until(lambda: not port_open(AGENT_PORT), 15):
            holders = end_port_holders(AGENT_PORT)
            assert not port_open(AGENT_PORT), f"port {AGENT_PORT} is held by {holders}, not by this test's agent"
        env = dict(self.env or os.environ, WINEDEBUG=AGENT_WINEDEBUG)
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([str(WINE), str(self.exe)], stdout=self._log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, env=env, start_new_session=True)
        if wait_serving:
            # Its own word, not an open port: another process may hold the port.
            ok = wait_until(lambda: "serving" in self.trace_lines() or self.proc.poll() is not None, 60)
            if not (ok and "serving" in self.trace_lines() and port_open(AGENT_PORT)):
                self.stop()
                raise AssertionError(f"the agent did not start serving:\n{self.log()}")
        return self

    def log(self):
        try:
            return self.log_path.read_bytes().decode("utf-8", "replace")
        except OSError:
            return ""

    def trace_lines(self):
        """The agent's own debug lines, without the "[Pellarin] " prefix."""
        lines = []
        for line in self.log().splitlines():
            at = line.find('OutputDebugStringA "[Pellarin] ')  # each line is also logged by the dispatcher
            if at >= 0:
                at += len('OutputDebugStringA "')
                text = line[at + len("[Pellarin] "):]
                lines.append(text.split("\\n")[0].rstrip('"'))
        return lines

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.proc is None:
            return
        if self.running():
            # The tray menu's Exit lets the agent stop its server and remove its icon.
            uidriver("command", self.title, EXIT_COMMAND, timeout_ms=1000, check=False, env=self.env)
            if self.wait_exit(15) is None:
                os.killpg(self.proc.pid, 15)
                if self.wait_exit(10) is None:
                    os.killpg(self.proc.pid, 9)
                    self.proc.wait(timeout=10)
            # Only an agent that was running owns the port and the window: one that had already
            # ended (a second start) must not wait for those of another.
            freed = wait_until(lambda: not port_open(AGENT_PORT), 15)
            uidriver("wait-gone", self.title, timeout_ms=10000, check=False, env=self.env)
            if not freed and port_open(AGENT_PORT):
                # Ended here rather than in every later test that finds the port taken.
                holders = end_port_holders(AGENT_PORT)
                self._log.close()
                raise AssertionError(f"port {AGENT_PORT} is still held after the agent ended: {holders}")
        self._log.close()
        # The agent's children write to the same log: a crash of any of them fails the test
        # that saw it, whatever the test itself checked.
        crashes = [line for line in self.log().splitlines() if "Unhandled" in line]
        if crashes and not self.crash_told:
            self.crash_told = True
            raise AssertionError(f"a program crashed (backtrace in {self.log_path}):\n" + "\n".join(crashes))


@contextlib.contextmanager
def seeded_devserver(prefix="edms-e2e-", tls=None, cert="server", key=None):
    """A devserver on a free port over a new, seeded data folder, serving web/; yields its
    base URL and always stops it. `tls`: a folder from tls_ca.make_test_ca, whose certificate
    `cert` (with the key `key`, default `cert`) it serves https with."""
    if not DEVSERVER.exists():
        pytest.skip(f"devserver is not built ({DEVSERVER})")
    port = free_port()
    with tempfile.TemporaryDirectory(prefix=prefix) as data:
        proc = subprocess.Popen([str(DEVSERVER), "--port", str(port), "--data", data, "--seed",
                                 "--web", str(ROOT / "web"), "--quiet", *(server_args(tls, cert, key) if tls else [])],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_until(lambda: port_open(port) or proc.poll() is not None, 30) or not port_open(port):
                pytest.fail("devserver did not start listening")
            yield f"{'https' if tls else 'http'}://127.0.0.1:{port}"
        finally:
            proc.terminate()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(timeout=10)


@pytest.fixture(scope="session")
def devserver():
    with seeded_devserver() as url:
        yield url


@pytest.fixture(scope="session")
def windows_programs():
    missing = [str(p) for p in (AGENT_EXE, UIDRIVER) if not p.exists()]
    if missing:
        pytest.skip("not built yet: " + ", ".join(missing))
    if port_open(AGENT_PORT):
        pytest.skip(f"port {AGENT_PORT} is in use: another agent (make run?) is running")


@pytest.fixture(scope="session")
def work_dirs(tmp_path_factory):
    base = tmp_path_factory.mktemp("agent")
    (base / "work").mkdir()
    (base / "download").mkdir()
    return base


def agent_values(devserver, work, download, **overrides):
    """The agent's configuration for `devserver` (its adaptor, page and notices) with the work
    and download folders `work` and `download` (Unix paths), in English, on AGENT_PORT."""
    values = {
        "AdaptorURL": f"{devserver}/adaptor",
        "EdmsURL": f"{devserver}/",
        "NoticeURL": f"{devserver}/notice",
        "WorkFolder": windows_path(work),
        "DownloadFolder": windows_path(download),
        "AppType": "EDMS_AGENT",
        "AppVersion": APP_VERSION,
        "LanguageID": 1033,
        # The tests' stand-in editors open test types of their own: every type but a program
        # may be opened, unless a test asks for the default list.
        "OpenableTypes": "*",
    }
    if AGENT_PORT != 23232:
        values["ServicePort"] = AGENT_PORT
    values.update(overrides)
    return values


def write_agent_config(values, env=None):
    """Replaces the whole configuration key (of another Wine prefix with `env`) by `values`. A
    value of None is left out; ints are written as REG_DWORD."""
    uidriver("reg-delete", CONFIG_KEY, env=env)
    for name, value in values.items():
        if value is None:
            continue
        kind = "dword" if isinstance(value, int) else "sz"
        uidriver("reg-set", CONFIG_KEY, name, kind, value, env=env)


@pytest.fixture
def write_config(windows_programs, devserver, work_dirs):
    """write_config(env=None, **overrides): replaces the whole configuration key (of another
    Wine prefix with `env`) by agent_values with `overrides` (None leaves a value out)."""

    def write(env=None, **overrides):
        write_agent_config(agent_values(devserver, work_dirs / "work", work_dirs / "download", **overrides), env)

    return write


@pytest.fixture
def start_agent(windows_programs, tmp_path):
    """start_agent(wait_serving=True, title=AGENT_TITLE, exe=AGENT_EXE) -> Agent; every agent
    started is stopped at teardown. `title` is the main window's, "Pellarin[" + AppVersion + "]";
    `exe` a copy of Pellarin.exe in another folder, to start other programs beside it."""
    agents = []

    def start(wait_serving=True, title=AGENT_TITLE, exe=AGENT_EXE):
        agent = Agent(tmp_path / f"agent{len(agents)}.log", title, exe)
        agents.append(agent)
        return agent.start(wait_serving=wait_serving)

    yield start
    for agent in reversed(agents):
        agent.stop()


@contextlib.contextmanager
def configured_agent(values, log_path):
    """An agent started with the configuration `values` (agent_values), logging to `log_path`;
    yields it serving and always stops it."""
    write_agent_config(values)
    agent = Agent(log_path)
    agent.start()
    try:
        yield agent
    finally:
        agent.stop()


@pytest.fixture(scope="module")
def running_agent(windows_programs, devserver, tmp_path_factory):
    """One agent for a module's protocol tests, with the default configuration."""
    base = tmp_path_factory.mktemp("shared-agent")
    with configured_agent(agent_values(devserver, base, base, LanguageID=None), base / "agent.log") as agent:
        yield agent


@pytest.fixture(scope="module")
def test_ca(windows_programs, tmp_path_factory):
    """The test CA and its certificates (tls_ca.make_test_ca, also those of the refusals), the
    CA trusted for one module by the test Wine prefix (never the host) and by this process's
    https client (the admin API); taken out of both again afterwards."""
    if missing_reason():
        pytest.skip(missing_reason())
    tool = TOOLS_BIN / "trust_root.exe"
    if not tool.exists():
        pytest.skip(f"trust_root.exe is not built ({tool})")
    folder = make_test_ca(tmp_path_factory.mktemp("ca"), "--untrusted", "--wrong-name", "--expired")
    ca = windows_path(folder / "ca.pem")
    code, _, err = run_wine(tool, "add", ca, timeout=60)
    assert code == 0, f"trust_root add: {err}"
    context = ssl.create_default_context(cafile=str(folder / "ca.pem"))
    urllib.request.install_opener(urllib.request.build_opener(urllib.request.HTTPSHandler(context=context)))
    try:
        yield folder
    finally:
        urllib.request.install_opener(None)
        code, _, err = run_wine(tool, "remove", ca, timeout=60)
        assert code == 0, f"trust_root remove: {err}"


AGENT_URL = f"ws://127.0.0.1:{AGENT_PORT}"


def run(coro, timeout=60):
    """Runs one coroutine with an overall limit, so that no test can hang."""
    return asyncio.run(asyncio.wait_for(coro, timeout))


class session:
    """async with session("alice") as (ws, welcome): a logged-in connection, closed on the way out."""

    def __init__(self, user, **connect_args):
        self.user, self.connect_args = user, connect_args

    async def __aenter__(self):
        self.ws, welcome = await open_session(self.user, **self.connect_args)
        return self.ws, welcome

    async def __aexit__(self, *exc):
        await asyncio.wait_for(self.ws.close(), 10)


async def open_session(user, **connect_args):
    """A connection logged in as `user`; returns (websocket, welcome reply)."""
    ws = await asyncio.wait_for(websockets.connect(AGENT_URL, open_timeout=10, max_size=None, **connect_args), 15)
    await ws.send(json.dumps({"arg1": user, "arg2": ""}))
    return ws, json.loads(await asyncio.wait_for(ws.recv(), 10))


async def request(ws, arg1, arg2="", wait=10.0):
    """Sends one data message and returns the next reply, or None when none comes within `wait`."""
    await ws.send(json.dumps({"arg1": arg1, "arg2": arg2}))
    try:
        return json.loads(await asyncio.wait_for(ws.recv(), wait))
    except asyncio.TimeoutError:
        return None
