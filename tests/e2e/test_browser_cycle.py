"""The check-out cycle as a user goes through it: the demo EDMS page in a real (headless)
browser talks to the agent under Wine through web/edms-agent.js; Edit on Report.docx checks it
out, a stand-in editor opens the working copy, and the agent then checks it in (the user picks
the major version and writes a note in ZTCheckIn's dialog) or, when nothing changed, cancels the
check-out. The page's reply log, the document's row on the page after the cycle (read from
devserver: the new version and its note) and devserver's state are what the test looks at."""
import asyncio
from types import SimpleNamespace

import pytest

from browser_fixtures import (LOG_LINES, browser, click_in_row, connect_page, docx_editor,  # noqa: F401
                              fresh_devserver, open_page, row_state)
from checkin_fixtures import server_content
from conftest import run, uidriver
from runner_fixtures import CYCLE_TIMEOUT, Adaptor, agent_programs  # noqa: F401

OID, FILE_NAME = "DEMO-1", "Report.docx"  # the first document the demo page lists
CHECKIN_TITLE = "Checkin"
MAJOR, NOTE, OK_BUTTON = 1003, 1007, 1


def log_has(word):
    return f"{LOG_LINES}.some(t => t === 'CHECKOUT: {word}')"


@pytest.fixture
def close_checkin_dialog():
    """A dialog a failed test left open must not outlive it (its process is not the agent's)."""
    yield
    uidriver("close", CHECKIN_TITLE, timeout_ms=1000, check=False)


async def answer_checkin_dialog(note):
    """The user's part in ZTCheckIn: the major version, a note, OK."""
    for args in (("wait-window", CHECKIN_TITLE), ("click", CHECKIN_TITLE, MAJOR),
                 ("set-text", CHECKIN_TITLE, NOTE, note), ("click", CHECKIN_TITLE, OK_BUTTON)):
        await asyncio.to_thread(uidriver, *args, timeout_ms=90000)


@pytest.mark.parametrize("append,note,final", [
    ("edited", "분기 보고서 개정: 표 2 수정", "CHECKIN_SUCCESS"),
    (None, None, "CANCEL_SUCCESS"),
], ids=["changed-is-checked-in", "unchanged-is-cancelled"])
def test_edit_from_the_demo_page(agent_programs, docx_editor, write_config, start_agent, devserver, browser,
                                 close_checkin_dialog, append, note, final):
    adaptor = Adaptor(devserver)
    server = SimpleNamespace(adaptor_url=f"{devserver}/adaptor")
    before = adaptor.document(OID)
    assert before["current"] == "1.0", before  # as devserver seeds it
    original = server_content(server, OID)
    docx_editor(append)
    write_config(LanguageID=1033)
    start_agent()

    async def cycle():
        async with open_page(browser) as page:
            await connect_page(page, f"{devserver}/index.html")
            assert await click_in_row(page, OID, "Edit"), "no enabled Edit button for " + FILE_NAME
            assert await page.wait_for(log_has("CHECKOUT_SUCCESS"), CYCLE_TIMEOUT), await page.evaluate(LOG_LINES)
            checked_out = adaptor.document(OID)["checkout"]
            if note is not None:
                await answer_checkin_dialog(note)
            await page.wait_for(f"{LOG_LINES}.some(t => t.includes('cycle ended'))", CYCLE_TIMEOUT)
            # The page reads devserver's list after the last reply, before the cycle's end is logged.
            return checked_out, await page.evaluate(LOG_LINES), await page.evaluate(row_state(OID))

    checked_out, log, shown = run(cycle(), timeout=3 * CYCLE_TIMEOUT)
    replies = [line for line in log if line.startswith("CHECKOUT: ")]
    assert replies == ["CHECKOUT: CHECKOUT_SUCCESS", f"CHECKOUT: {final}"], log
    assert checked_out == {"user": "alice", "version": before["current"]}

    after = adaptor.document(OID)
    assert after["checkout"] is None
    assert (shown["current"], shown["holder"]) == (after["current"], "free"), shown
    if note is None:
        assert after["current"] == before["current"] and after["versions"] == before["versions"]
        assert server_content(server, OID) == original
    else:
        assert after["current"] == "2.0"
        newest = next(v for v in after["versions"] if v["version"] == "2.0")
        assert (newest["note"], newest["author"]) == (note, "alice")
        assert shown["versions"][-1] == f"2.0 “{note}” — Alice", shown
        assert server_content(server, OID) == original + append.encode("ascii")
