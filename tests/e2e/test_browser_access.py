"""The demo page as a site from elsewhere, in headless Chromium: served under a made-up name
(edms.test, mapped to 127.0.0.1) from an address the browser takes for a public one, so that its
connection to the agent under Wine is the browser's Local Network Access to allow. Over https and
allowed, the whole check-out cycle runs from the page; denied, the page says that the browser
keeps it from the agent and the agent sees no connection; not yet asked, nothing connects while
the page loads and the page offers the button that lets the browser ask; over plain http, the
page is kept out and says so."""
import socket
import uuid

import pytest

from browser_fixtures import LOG_LINES, PAGE_TIMEOUT, chromium, click_in_row, connect_page, docx_editor, open_page  # noqa: F401
from conftest import AGENT_PORT, agent_values, configured_agent, run, seeded_devserver, wait_until
from runner_fixtures import CYCLE_TIMEOUT, agent_programs  # noqa: F401

HOST = "edms.test"
SHOWN_BLOCKED = ("(() => { const b = document.getElementById('blocked');"
                 " return !b.hidden && document.getElementById('blocked-what').textContent; })()")


@pytest.fixture(scope="module")
def devserver(test_ca):
    with seeded_devserver("edms-access-", tls=test_ca) as url:
        yield url


@pytest.fixture(scope="module")
def plain_devserver():
    with seeded_devserver("edms-access-http-") as url:
        yield url


def public(url):
    """`url` (scheme://127.0.0.1:PORT) under the made-up name."""
    return url.replace("127.0.0.1", HOST)


@pytest.fixture(scope="module")
def agent(agent_programs, devserver, plain_devserver, tmp_path_factory):  # noqa: F811
    """The agent for both pages: its adaptor is devserver's https, and it allows both origins."""
    base = tmp_path_factory.mktemp("access-agent")
    values = agent_values(devserver, base, base, EdmsURL=public(devserver) + "/",
                          AllowedOrigins=f"{public(devserver)};{public(plain_devserver)}")
    with configured_agent(values, base / "agent.log") as started:
        yield started


@pytest.fixture
def browser(devserver, plain_devserver):
    ports = [url.rsplit(":", 1)[1] for url in (devserver, plain_devserver)]
    with chromium(f"--host-resolver-rules=MAP {HOST} 127.0.0.1",
                  "--ip-address-space-overrides=" + ",".join(f"127.0.0.1:{port}=public" for port in ports),
                  # The test CA's certificate names 127.0.0.1, and this profile trusts no test CA.
                  "--ignore-certificate-errors") as started:
        yield started


def page_connections(agent, after):
    """connections() of the page alone, once the agent has seen all of them: a marker connection
    made now is refused with a Host of its own, and the agent accepts in order, so every socket
    the page opened before it has its line once the marker's refusal is traced."""
    host = f"marker-{uuid.uuid4().hex[:8]}"
    with socket.create_connection(("127.0.0.1", AGENT_PORT), timeout=10) as marker:
        marker.sendall(f"GET / HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
        assert wait_until(lambda: f"handshake refused: Host {host}" in agent.trace_lines(), 30), "no marker"
    accepted, unsent = connections(agent, after)
    return accepted - 1, unsent


def connections(agent, after=0):
    """(sockets the agent accepted, sockets that closed before their opening handshake), in its
    debug lines from index `after` on."""
    lines = agent.trace_lines()[after:]
    return (sum(line.startswith("connection from") for line in lines),
            sum(line.startswith("handshake read failed") for line in lines))


async def set_access(page, origin, access):
    """The browser's answer to `origin` reaching apps on this device: granted, denied, prompt."""
    await page.call("Browser.setPermission", permission={"name": "loopback-network"}, setting=access, origin=origin)


async def load(page, origin, access=None):
    """The demo page of `origin`, after the browser's answer for it was set to `access`."""
    if access:
        await set_access(page, origin, access)
    await page.navigate(f"{origin}/index.html", timeout=PAGE_TIMEOUT)


async def press_connect(page):
    await page.evaluate("document.getElementById('connect').click(); true")
    return await page.wait_for(SHOWN_BLOCKED, PAGE_TIMEOUT)


def test_allowed_page_runs_the_whole_cycle(agent, browser, docx_editor, devserver):  # noqa: F811
    docx_editor(None)  # the user closes the document unchanged
    after = len(agent.trace_lines())

    async def cycle():
        async with open_page(browser) as page:
            await set_access(page, public(devserver), "granted")
            await connect_page(page, f"{public(devserver)}/index.html")
            assert await click_in_row(page, "DEMO-1", "Edit"), "no enabled Edit button"
            await page.wait_for(f"{LOG_LINES}.some(t => t.includes('cycle ended'))", CYCLE_TIMEOUT)
            return await page.evaluate(LOG_LINES)

    log = run(cycle(), timeout=3 * CYCLE_TIMEOUT)
    assert [line for line in log if line.startswith("CHECKOUT: ")] == [
        "CHECKOUT: CHECKOUT_SUCCESS", "CHECKOUT: CANCEL_SUCCESS"], log
    assert connections(agent, after)[0] > 0


# A denied page opens no socket (the page's client does not try). Over plain http Chromium (156)
# opens sockets to the agent and closes them again before their opening handshake.
@pytest.mark.parametrize("scheme, access, words, sockets_seen", [
    ("https", "denied", "this site is not allowed to reach apps on this device", False),
    ("http", None, "the browser refuses a page served over plain http from another computer", True),
])
def test_kept_out_page_says_why_and_never_reaches_the_agent(agent, browser, devserver, plain_devserver, scheme,
                                                            access, words, sockets_seen):
    origin = public(devserver if scheme == "https" else plain_devserver)
    after = len(agent.trace_lines())

    async def go():
        async with open_page(browser) as page:
            await load(page, origin, access)
            return await press_connect(page)

    assert words in (run(go()) or ""), "the page did not say that the browser keeps it out"
    accepted, _ = page_connections(agent, after)
    # A socket closed before its handshake is traced when the agent's read of it fails.
    assert wait_until(lambda: connections(agent, after)[1] >= accepted, 15), \
        f"{accepted - connections(agent, after)[1]} of {accepted} sockets got past the opening handshake"
    assert sockets_seen or accepted == 0


def test_page_not_yet_allowed_offers_the_button_and_connects_nothing_at_load(agent, browser, devserver):
    after = len(agent.trace_lines())

    async def go():
        async with open_page(browser) as page:
            await load(page, public(devserver), "prompt")
            return await page.wait_for(
                "!document.getElementById('access').hidden && document.getElementById('connect').textContent",
                PAGE_TIMEOUT)

    assert run(go()) == "Connect to the agent on this computer"
    assert page_connections(agent, after) == (0, 0)
