"""Fixtures for the agent's check-out cycle under Wine: the three programs beside the agent,
stand-in editors registered for two test extensions, documents made on devserver through its
admin API, and the page's side of the conversation.

Binaries: the programs are taken from EDMS_WINDOWS_BIN (the agent's own folder, where it
starts them), test_editor.exe from EDMS_TEST_TOOLS_BIN (default EDMS_WINDOWS_BIN).
"""
import asyncio
import json
import uuid

import pytest

from devserver_admin import AdminClient
from wine_run import register_opener, unregister_opener

from conftest import TOOLS_BIN, WINDOWS_BIN, uidriver, windows_path  # noqa: F401
PROGRAMS = ("ZTCheckOut.exe", "ZTCheckIn.exe", "ZTCheckOutCancel.exe")
CHECKOUTS_KEY = r"Software\kelvora\Zelto\CheckOuts"
# The editor of KEEP leaves the document as it was; the editor of EDIT appends to it.
KEEP, EDIT = ".hzkeep", ".hzedit"
CYCLE_TIMEOUT = 120  # seconds for one whole cycle: programs, editor search, dialogs


@pytest.fixture(scope="session")
def agent_programs(windows_programs):
    missing = [name for name in PROGRAMS if not (WINDOWS_BIN / name).exists()]
    if missing:
        pytest.skip("not built beside the agent: " + ", ".join(missing))


@pytest.fixture(scope="session")
def editors(windows_programs):
    """Registers test_editor.exe under HKCR for KEEP and EDIT (Wine's shell reads HKCR only)."""
    exe = TOOLS_BIN / "test_editor.exe"
    if not exe.exists():
        pytest.skip(f"test_editor.exe is not built ({exe})")
    registered = []
    for ext, extra in ((KEEP, ""), (EDIT, " --write edited")):
        prog_id = "EdmsRunnerTests" + ext.replace(".", "_")
        registered += register_opener(ext, prog_id, f'"{windows_path(exe)}" "%1"{extra}')
    yield
    unregister_opener(registered)


class Adaptor(AdminClient):
    """devserver's admin API, with documents of this suite's own."""

    def add_document(self, name, text="original\r\n", version="1.0", creator="alice"):
        oid = "H-" + uuid.uuid4().hex[:8]
        status, out = self.admin("POST", "/_admin/documents", {
            "object": oid, "page": "P1", "name": name, "creator": creator,
            "versions": [{"version": version, "text": text}]})
        assert status == 200, out
        return oid


@pytest.fixture
def adaptor(devserver):
    a = Adaptor(devserver)
    a.clear_faults()
    yield a
    a.clear_faults()


@pytest.fixture
def cycle_agent(agent_programs, editors, write_config, start_agent, work_dirs):
    """An agent in English whose work folder is work_dirs/work; yields that folder."""
    write_config(LanguageID=1033)
    start_agent()
    return work_dirs / "work"


def checkout_fields(oid, name, version="1.0", current="TRUE", creator="alice", immutable="F", page="P1"):
    return "^".join([oid, page, name, version, current, creator, immutable])


def record_path(oid):
    """The check-out record's LocalPath, or None when there is no record."""
    lines = uidriver("reg-get", f"{CHECKOUTS_KEY}\\{oid}", "LocalPath", check=False)
    return lines[0] if lines else None


async def next_word(ws, timeout=CYCLE_TIMEOUT):
    """The next CHECKOUT reply word, or None when none comes within `timeout` seconds."""
    try:
        reply = json.loads(await asyncio.wait_for(ws.recv(), timeout))
    except asyncio.TimeoutError:
        return None
    assert reply["arg1"] == "CHECKOUT", reply
    return reply["arg2"]


async def ui(*args, timeout_ms=60000, check=True):
    """uidriver without blocking the event loop (replies keep arriving meanwhile)."""
    return await asyncio.to_thread(uidriver, *args, timeout_ms=timeout_ms, check=check)
