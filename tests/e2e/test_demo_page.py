"""The demo page in a real (headless) browser against devserver and a scripted agent: what it
shows of devserver's state while a cycle runs, the row of a document this machine has no
editor for, its download list, and what it says when no agent answers. The scripted agent
plays the real one's part on the wire and on devserver (it checks out and cancels through the
adaptor), so the page's side is seen without Wine."""
import asyncio
import json
import urllib.request

import websockets

from browser_fixtures import (LOG_LINES, PAGE_TIMEOUT, browser, click_in_row, connect_page,  # noqa: F401
                              fresh_devserver, open_page, row_state)
from conftest import free_port, run

QUEUE = "[...document.querySelectorAll('#queue li')].map(li => li.textContent)"


def adaptor(devserver, command, **fields):
    """One form command to devserver's adaptor, as the agent's programs send it; its return code."""
    body = "XRQ_COMMAND=" + command + "".join(
        f"&{name}=" + "".join(f"%{b:02x}" for b in value.encode().hex().encode()) for name, value in fields.items())
    req = urllib.request.Request(f"{devserver}/adaptor", body.encode(), method="POST",
                                 headers={"Content-Type": "application/x-www-form-urlencoded"})
    with urllib.request.urlopen(req, timeout=10) as r:
        r.read()
        return r.headers["XRS_RTNCODE"]


class ScriptedAgent:
    """A WebSocket peer on a free port that logs in like the agent and records every command;
    a CHECKOUT runs `cycle(send, fields)`, which sends the replies."""

    def __init__(self, cycle):
        self.port = free_port()
        self.received = []
        self.cycle = cycle

    async def handle(self, ws, _path=None):
        login = json.loads(await ws.recv())
        await ws.send(json.dumps({"arg1": "Welcome " + login["arg1"], "arg2": ""}))
        async for text in ws:
            message = json.loads(text)
            self.received.append((message["arg1"], message["arg2"]))
            if message["arg1"] == "CHECKOUT":
                async def send(word):
                    await ws.send(json.dumps({"arg1": "CHECKOUT", "arg2": word}))
                await self.cycle(send, message["arg2"].split("^"))


def test_a_cycle_shows_the_holder_then_that_no_editor_could_open_it(devserver, browser):
    editor_open = asyncio.Event()

    async def cycle(send, fields):
        # As the real agent: ZTCheckOut records the check-out; the editor cannot start (nothing
        # opens .pdf here), the silent cancel releases the document, and the page hears EDIT_FAIL.
        oid, page, _, version = fields[:4]
        common = dict(XRQ_OBJECT=oid, XRQ_VERSION=version, XRQ_USER="alice", XRQ_PASS="")
        assert await asyncio.to_thread(adaptor, devserver, "CHECKOUT", XRQ_PAGE=page, **common) == "00"
        await send("CHECKOUT_SUCCESS")
        await editor_open.wait()
        assert await asyncio.to_thread(adaptor, devserver, "CHECKOUTCANCEL", **common) == "00"
        await send("EDIT_FAIL")

    agent = ScriptedAgent(cycle)

    async def scenario():
        seen = {}
        async with websockets.serve(agent.handle, "127.0.0.1", agent.port), open_page(browser) as page:
            await connect_page(page, f"{devserver}/?agentPort={agent.port}")
            assert await click_in_row(page, "DEMO-2", "Edit")
            seen["held"] = await page.wait_for(f"(r => r.holder !== 'free' && r)({row_state('DEMO-2')})", PAGE_TIMEOUT)
            editor_open.set()
            seen["after"] = await page.wait_for(f"(r => r.note && r)({row_state('DEMO-2')})", PAGE_TIMEOUT)
            seen["log"] = await page.evaluate(LOG_LINES)
            for oid in ("DEMO-1", "DEMO-4"):
                assert await click_in_row(page, oid, "Add to download")
            seen["queue"] = await page.evaluate(QUEUE)
            await page.evaluate("document.getElementById('clear-download').click(); true")
            seen["cleared"] = await page.evaluate(QUEUE)
            while ("CLEAR_DOWNLOAD", "") not in agent.received:  # bounded by run()'s time-out
                await asyncio.sleep(0.1)
        return seen

    seen = run(scenario(), timeout=90)
    assert seen["held"] and seen["held"]["holder"] == "checked out by Alice (alice), version 2.0", seen["held"]
    assert seen["after"] and seen["after"]["holder"] == "free", seen["after"]
    assert "no editor for .pdf files" in seen["after"]["note"], seen["after"]
    assert "CHECKOUT: EDIT_FAIL" in seen["log"], seen["log"]
    assert (seen["queue"], seen["cleared"]) == (["Report.docx", "회의록.txt"], [])
    assert agent.received == [("CHECKOUT", "DEMO-2^P1^Policy.pdf^2.0^TRUE^bob^TRUE"),
                              ("ADD_TO_DOWNLOAD", "DEMO-1*P1*Report.docx"), ("ADD_TO_DOWNLOAD", "DEMO-4*P1*회의록.txt"),
                              ("CLEAR_DOWNLOAD", "")]


def test_without_an_agent_the_page_says_how_to_start_it(devserver, browser):
    port = free_port()  # nothing listens there

    async def scenario():
        async with open_page(browser) as page:
            await page.navigate(f"{devserver}/?agentPort={port}", timeout=PAGE_TIMEOUT)
            assert await page.evaluate("document.getElementById('no-agent').hidden")
            await page.evaluate("document.getElementById('connect').click(); true")
            shown = await page.wait_for("!document.getElementById('no-agent').hidden && "
                                        "document.getElementById('no-agent').innerText", PAGE_TIMEOUT)
            rows = await page.wait_for("document.querySelectorAll('#documents tbody tr').length", PAGE_TIMEOUT)
            return shown, rows

    shown, rows = run(scenario(), timeout=60)
    assert shown and f"ws://127.0.0.1:{port}" in shown and "make run" in shown, shown
    assert rows == 5  # the documents come from devserver, agent or not
