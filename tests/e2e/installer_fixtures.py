"""Fixtures for the installer's tests: installers made from the built programs with
scripts/make-installer, and a Wine prefix of their own, new for each module, in which nothing
has been installed yet.

The installers need makensis (Debian's nsis), osslsigncode and the Windows build's
installer/build.nsh; tests are skipped with the reason when one is missing.
"""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import AGENT_PORT, CONFIG_KEY, ROOT, UIDRIVER, WINDOWS_BIN, port_open, uidriver, wait_until
from signing import trust_test_ca
from wine_run import run_wine

MAKE_INSTALLER = ROOT / "scripts" / "make-installer"
BUILD_NSH = WINDOWS_BIN.parent / "installer" / "build.nsh"
RUN_KEY = r"Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelto"
EXIT_COMMAND = 32772


def build_version():
    """The version this build's programs and installer carry."""
    for line in BUILD_NSH.read_text().splitlines():
        if line.startswith("!define /ifndef VERSION "):
            return line.split('"')[1]
    raise AssertionError(f"no VERSION in {BUILD_NSH}")


def make_installer(out, version=None):
    """Builds an installer of the built programs into `out` (signed as make dist signs); returns its path."""
    args = [str(MAKE_INSTALLER), "--build", str(WINDOWS_BIN.parent), "--out", str(out)]
    if version:
        args += ["--version", version]
    proc = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, f"make-installer failed:\n{proc.stderr}"
    return Path(out)


class Prefix:
    """A Wine prefix of a test's own: its programs, registry and session."""

    def __init__(self, path):
        self.path = Path(path)
        self.env = dict(os.environ, WINEPREFIX=str(self.path))

    def wine(self, *args, timeout=300):
        return run_wine(*args, timeout=timeout, env=self.env)

    def uidriver(self, *args, timeout_ms=5000, check=True):
        return uidriver(*args, timeout_ms=timeout_ms, check=check, env=self.env)

    def reg_get(self, key, value):
        lines = self.uidriver("reg-get", key, value, check=False)
        return lines[0] if lines else None

    def config(self, value):
        return self.reg_get(CONFIG_KEY, value)

    def unix_path(self, windows_path):
        """A C:\\ or Z:\\ path of this prefix as a Unix path."""
        drive, rest = windows_path[0].lower(), windows_path[3:].replace("\\", "/")
        if drive == "z":
            return Path("/" + rest)
        return self.path / "drive_c" / rest

    def agent_window(self):
        """(title, pid) of the agent's main window, or None."""
        for line in self.uidriver("list-windows", check=False) or []:
            fields = line.split("\t")
            if len(fields) >= 5 and fields[4].startswith("Pellarin["):
                return fields[4], fields[1]
        return None

    def wait_agent_serving(self, timeout=90):
        return wait_until(lambda: port_open(AGENT_PORT) and self.agent_window() is not None, timeout, 0.5)

    def stop_agent(self):
        """The agent's Exit, as the tray menu sends it; True when it is gone."""
        window = self.agent_window()
        if window:
            self.uidriver("command", window[0], EXIT_COMMAND, check=False)
        return wait_until(lambda: not port_open(AGENT_PORT) and self.agent_window() is None, 30, 0.5)

    def end_session(self):
        """Ends every program of the prefix and its Wine session, as a logoff does."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def _setup_logs(self):
        return list((self.path / "drive_c" / "users").rglob("Zelto-setup.log"))

    def setup_log(self):
        """What silent installer runs wrote about their failures (%TEMP%)."""
        return "".join(log.read_bytes().decode("utf-16-le", "replace") for log in self._setup_logs())

    def clear_setup_log(self):
        for log in self._setup_logs():
            log.unlink()


@pytest.fixture(scope="module")
def installer_tools():
    for tool, package in (("makensis", "nsis"), ("osslsigncode", "osslsigncode")):
        if not shutil.which(tool):
            pytest.skip(f"{tool} is not installed (Debian package {package}; scripts/bootstrap installs it)")
    if not BUILD_NSH.exists():
        pytest.skip(f"the Windows build has no installer defines yet ({BUILD_NSH})")
    if not UIDRIVER.exists():
        pytest.skip(f"not built yet: {UIDRIVER}")
    if port_open(AGENT_PORT):
        pytest.skip(f"port {AGENT_PORT} is in use: another agent (make run?) is running")


@pytest.fixture(scope="module")
def installer(installer_tools, tmp_path_factory):
    """The installer of this build, as make dist makes it."""
    return make_installer(tmp_path_factory.mktemp("dist") / "ZeltoSetup.exe")


@pytest.fixture(scope="module")
def fresh_prefix(installer_tools, tmp_path_factory):
    """A new Wine prefix; its session is ended and the prefix removed afterwards."""
    prefix = Prefix(tmp_path_factory.mktemp("installer") / "prefix")
    code, _, err = prefix.wine("cmd", "/c", "exit", timeout=600)
    assert code == 0, f"the new prefix did not start: {err}"
    trust_test_ca(env=prefix.env)  # the CA of the certificate the test installers are signed with
    try:
        yield prefix
    finally:
        prefix.end_session()
        shutil.rmtree(prefix.path, ignore_errors=True)
