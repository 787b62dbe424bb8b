"""A real browser for the whole-system tests: headless Chromium driven over its DevTools
protocol with python3-websockets only (no npm package, no driver binary).

Chromium is taken from EDMS_CHROMIUM or the PATH (Debian's `chromium`); a test that needs it is
skipped when there is none. Every wait has a time-out; the browser and its profile folder are
always removed at teardown, whatever the test did.
"""
import asyncio
import contextlib
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request

import pytest
import websockets

from conftest import AGENT_PORT, TOOLS_BIN, free_port, seeded_devserver, wait_until, windows_path
from wine_run import register_opener, unregister_opener

START_TIMEOUT = 30  # seconds until the DevTools endpoint answers
CALL_TIMEOUT = 30  # seconds for one protocol call

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
]


def chromium_path():
    path = os.environ.get("EDMS_CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
    return path if path and os.path.exists(path) else None


class Chromium:
    """One headless Chromium with a new, empty profile, started with CHROMIUM_FLAGS and `flags`.
    stop() is safe at any time, more than once."""

    def __init__(self, exe, flags=()):
        self.exe = exe
        self.flags = list(flags)
        self.port = free_port()
        self.profile = tempfile.mkdtemp(prefix="edms-chromium-")
        self.proc = None

    def start(self):
        self._log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [self.exe, *CHROMIUM_FLAGS, *self.flags, f"--user-data-dir={self.profile}",
             f"--remote-debugging-port={self.port}", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT, start_new_session=True)
        if not wait_until(lambda: self.page_url() is not None or self.proc.poll() is not None, START_TIMEOUT) \
                or self.page_url() is None:
            log = self.log()
            self.stop()
            raise AssertionError(f"Chromium did not open its DevTools endpoint:\n{log}")
        return self

    def page_url(self):
        """The DevTools address of the first page tab, or None while there is none."""
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=2) as r:
                targets = json.loads(r.read())
        except (OSError, ValueError):
            return None
        pages = [t["webSocketDebuggerUrl"] for t in targets if t.get("type") == "page"]
        return pages[0] if pages else None

    def log(self):
        self._log.seek(0)
        return self._log.read().decode("utf-8", "replace")[-4000:]

    def stop(self):
        if self.proc is not None and self.proc.poll() is None:
            # The browser starts helper processes of its own: end the whole group it leads.
            for sig, wait in ((signal.SIGTERM, 10), (signal.SIGKILL, 10)):
                try:
                    os.killpg(self.proc.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    self.proc.wait(timeout=wait)
                    break
                except subprocess.TimeoutExpired:
                    continue
        if self.proc is not None:
            self._log.close()
            self.proc = None
        shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    """The protocol session of one tab. Events are read and dropped while a call waits."""

    def __init__(self, ws):
        self.ws = ws
        self.next_id = 0

    async def call(self, method, **params):
        self.next_id += 1
        ident = self.next_id
        await self.ws.send(json.dumps({"id": ident, "method": method, "params": params}))

        async def reply():
            while True:
                message = json.loads(await self.ws.recv())
                if message.get("id") == ident:
                    return message

        message = await asyncio.wait_for(reply(), CALL_TIMEOUT)
        if "error" in message:
            raise AssertionError(f"{method} failed: {message['error']}")
        return message.get("result", {})

    async def evaluate(self, expression):
        """The value of a page expression (promises awaited); a thrown error fails the test."""
        result = await self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                                 awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError(f"{expression!r} threw: {result['exceptionDetails']}")
        return result["result"].get("value")

    async def wait_for(self, expression, timeout, interval=0.2):
        """The first truthy value of `expression`, polled; None when it stays falsy for `timeout` s."""
        deadline = time.monotonic() + timeout
        while True:
            value = await self.evaluate(expression)
            if value or time.monotonic() >= deadline:
                return value or None
            await asyncio.sleep(interval)

    async def navigate(self, url, timeout=30):
        await self.call("Page.enable")
        if AGENT_PORT != 23232:
            # The demo page dials the agent's standard port; a test agent on another one is
            # reached by rewriting that address before any page script runs.
            await self.call("Page.addScriptToEvaluateOnNewDocument", source=(
                "(() => { const Real = WebSocket;"
                " window.WebSocket = function (url, ...rest) {"
                f"  return new Real(String(url).replace(':23232', ':{AGENT_PORT}'), ...rest); }};"
                " window.WebSocket.prototype = Real.prototype;"
                " Object.assign(window.WebSocket, {CONNECTING: 0, OPEN: 1, CLOSING: 2, CLOSED: 3}); })();"))
        await self.call("Page.navigate", url=url)
        loaded = await self.wait_for(f"location.href === {json.dumps(url)} && document.readyState === 'complete'",
                                     timeout)
        assert loaded, f"{url} did not load within {timeout} s"


class open_page:
    """async with open_page(browser) as page: the browser's first tab, its session closed on exit."""

    def __init__(self, browser):
        self.browser = browser

    async def __aenter__(self):
        self.ws = await asyncio.wait_for(
            websockets.connect(self.browser.page_url(), open_timeout=10, max_size=None), 15)
        return Page(self.ws)

    async def __aexit__(self, *exc):
        await asyncio.wait_for(self.ws.close(), 10)


@contextlib.contextmanager
def chromium(*flags):
    """A started Chromium with the extra `flags`, always stopped on the way out; skips the test
    when there is no Chromium."""
    exe = chromium_path()
    if exe is None:
        pytest.skip("no Chromium (apt-get install chromium, or set EDMS_CHROMIUM)")
    browser = Chromium(exe, flags)
    try:
        yield browser.start()
    finally:
        browser.stop()


@pytest.fixture
def browser():
    with chromium() as started:
        yield started


@pytest.fixture
def docx_editor(windows_programs):
    """register(append): test_editor.exe becomes the HKCR editor of .docx (the demo page's
    Report.docx); with `append` it adds that text to the document, like a user who edited and
    saved it. Removed at teardown."""
    exe = TOOLS_BIN / "test_editor.exe"
    if not exe.exists():
        pytest.skip(f"test_editor.exe is not built ({exe})")
    prog_id = "EdmsBrowserTests.docx"
    keys = []

    def register(append):
        keys[:] = register_opener(".docx", prog_id, f'"{windows_path(exe)}" "%1"' + (f" --write {append}" if append else ""))

    yield register
    unregister_opener(keys)


@pytest.fixture(name="devserver")
def fresh_devserver():
    """A devserver of the test's own, freshly seeded, serving the demo page: the demo page's
    documents are fixed, so each cycle starts from the seeded versions. Overrides the session's
    devserver for everything the test uses (the configuration names its origin)."""
    with seeded_devserver("edms-browser-") as url:
        yield url


# The demo page as a user sees it: rows by document id, their cells, buttons and the reply log.
LOG_LINES = "[...document.querySelectorAll('#log li')].map(li => li.textContent)"
PAGE_TIMEOUT = 30  # seconds for the page to load, connect, or show a change


def row_state(oid):
    """A page expression: the row of document `oid` as {name, current, versions, holder, note}, or null."""
    return f"""(() => {{
  const row = document.querySelector('#documents tr[data-object={json.dumps(oid)}]');
  if (!row) return null;
  const cell = (name) => row.querySelector('td.' + name).textContent;
  return {{name: cell('name'), current: cell('current'), holder: cell('holder'), note: cell('note'),
           versions: [...row.querySelectorAll('ol.versions li')].map(li => li.textContent)}};
}})()"""


async def click_in_row(page, oid, label):
    """Clicks the row's button `label`; False when there is no such enabled button."""
    return await page.evaluate(f"""(() => {{
  const row = document.querySelector('#documents tr[data-object={json.dumps(oid)}]');
  const b = row && [...row.querySelectorAll('button')].find(b => b.textContent === {json.dumps(label)});
  if (!b || b.disabled) return false;
  b.click();
  return true;
}})()""")


async def connect_page(page, url, user="alice"):
    """Loads the demo page at `url` and connects it to the agent as `user`."""
    await page.navigate(url, timeout=PAGE_TIMEOUT)
    await page.evaluate(f"document.getElementById('user').value = {json.dumps(user)};"
                        "document.getElementById('connect').click(); true")
    status = await page.wait_for(
        "(s => s.startsWith('Connected') ? s : '')(document.getElementById('status').textContent)", PAGE_TIMEOUT)
    assert status == f"Connected as {user}", await page.evaluate(
        "document.getElementById('status').textContent + ' / ' + " + LOG_LINES + ".join(' | ')")
