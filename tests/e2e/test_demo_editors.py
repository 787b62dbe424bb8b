"""The demo as `make run` sets it up: the Wine prefix gets the associations of the editors Wine
ships (scripts/wine-editors, the step make run takes), and Edit on the demo page's text
document opens the working copy in Notepad; closing it unchanged releases the check-out, and
the page shows the document free again."""
import subprocess
import tempfile

import pytest

from browser_fixtures import PAGE_TIMEOUT, browser, click_in_row, connect_page, fresh_devserver, open_page, row_state  # noqa: F401
from conftest import ROOT, run, uidriver
from runner_fixtures import CYCLE_TIMEOUT, Adaptor, agent_programs, ui  # noqa: F401

OID, WORKING_COPY = "DEMO-4", "회의록(DEMO-4).txt"


@pytest.fixture(scope="module")
def associations(agent_programs):
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([str(ROOT / "scripts" / "wine-editors")], stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=300)
        out.seek(0)
        assert done.returncode == 0, out.read().decode("utf-8", "replace")


@pytest.fixture
def close_notepad():
    """A Notepad a failed test left open must not outlive it."""
    yield
    uidriver("--contains", "close", WORKING_COPY, timeout_ms=1000, check=False)


def log_has(word):
    return f"[...document.querySelectorAll('#log li')].some(li => li.textContent === 'CHECKOUT: {word}')"


def test_edit_opens_notepad_and_closing_it_unchanged_frees_the_document(associations, write_config, start_agent,
                                                                        devserver, browser, close_notepad):
    adaptor = Adaptor(devserver)
    before = adaptor.document(OID)
    write_config(LanguageID=1033)
    start_agent()

    async def cycle():
        async with open_page(browser) as page:
            await connect_page(page, f"{devserver}/")
            assert await click_in_row(page, OID, "Edit"), "no enabled Edit button for " + OID
            assert await page.wait_for(log_has("CHECKOUT_SUCCESS"), CYCLE_TIMEOUT), "no CHECKOUT_SUCCESS"
            await ui("--contains", "wait-window", WORKING_COPY)
            windows = [line.split("\t") for line in await ui("list-windows")]
            editor = [w for w in windows if WORKING_COPY in w[4]]
            held = await page.wait_for(f"(r => r.holder !== 'free' && r)({row_state(OID)})", PAGE_TIMEOUT)
            await ui("--contains", "close", WORKING_COPY)
            assert await page.wait_for(log_has("CANCEL_SUCCESS"), CYCLE_TIMEOUT), "no CANCEL_SUCCESS"
            free = await page.wait_for(f"(r => r.holder === 'free' && r)({row_state(OID)})", PAGE_TIMEOUT)
            return editor, held, free

    editor, held, free = run(cycle(), timeout=3 * CYCLE_TIMEOUT)
    assert [(w[2], w[4]) for w in editor] == [("Notepad", f"{WORKING_COPY} - Notepad")], editor
    assert held and held["holder"] == "checked out by Alice (alice), version 1.0", held
    assert free and free["current"] == "1.0", free
    after = adaptor.document(OID)
    assert after["checkout"] is None and after["versions"] == before["versions"]
