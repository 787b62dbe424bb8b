"""The agent and the four programs over https under Wine, against a devserver whose certificate
comes from the test CA that the test prefix trusts for this module: the check-out cycle ending in
a check-in and in a cancel, a view, a multi-file download, the notice and update checks, and the
working-documents list. Then the refusals: a server whose certificate comes from an authority
nobody here trusts, was issued for another name or has expired is not spoken to, nothing is
written, and the user reads what is wrong with the certificate and whom to ask."""
import asyncio
import contextlib
import json
import os
import uuid
from types import SimpleNamespace

import pytest

from checkin_fixtures import server_checkout
from checkout_fixtures import (CONFIG_KEY, checkout_program, english, hex_utf8, uidriver, win_path,  # noqa: F401
                               work_folder)
from conftest import APP_VERSION, agent_values, configured_agent, run, seeded_devserver, session, wait_until
from runner_fixtures import (CYCLE_TIMEOUT, EDIT, KEEP, adaptor, agent_programs, checkout_fields, editors,  # noqa: F401
                             next_word, ui)
from tray_fixtures import CHECK_UPDATES, IDOK, NOTICE_TIMER, become_user, menu, message_box, tick, wait_line
from workingdocs_fixtures import working_documents  # noqa: F401

CHECKIN, DOWNLOAD, START = "Checkin", "Download", 1003


@pytest.fixture(scope="module")
def devserver(test_ca):
    """devserver over https with a certificate of the trusted test CA, for the whole module."""
    with seeded_devserver("edms-tls-", tls=test_ca) as url:
        yield url


async def send(ws, arg1, arg2=""):
    await ws.send(json.dumps({"arg1": arg1, "arg2": arg2}))


class TestOverHttps:
    """One agent, in English, for every case of the class; it has gone before the refusals below
    start an agent of their own."""

    @pytest.fixture(scope="class")
    def agent(self, agent_programs, editors, devserver, tmp_path_factory):  # noqa: F811
        base = tmp_path_factory.mktemp("tls-agent")
        folders = SimpleNamespace(work=base / "work", download=base / "download")
        folders.work.mkdir()
        folders.download.mkdir()
        with configured_agent(agent_values(devserver, folders.work, folders.download), base / "agent.log") as agent:
            yield SimpleNamespace(agent=agent, **vars(folders))

    def test_checkout_cycles_end_in_a_check_in_and_a_cancel(self, agent, adaptor):  # noqa: F811
        edited, kept = "Notes" + EDIT, "Memo" + KEEP
        edited_oid, kept_oid = adaptor.add_document(edited), adaptor.add_document(kept)

        async def cycle(name, oid, check_in):
            async with session("alice") as (ws, _):
                await send(ws, "CHECKOUT", checkout_fields(oid, name))
                first = await next_word(ws)
                if check_in:
                    await ui("wait-window", CHECKIN, timeout_ms=90000)
                    await ui("click", CHECKIN, IDOK)
                return [first, await next_word(ws)]

        async def both():
            return await asyncio.gather(cycle(edited, edited_oid, True), cycle(kept, kept_oid, False))

        assert run(both(), timeout=2 * CYCLE_TIMEOUT) == [["CHECKOUT_SUCCESS", "CHECKIN_SUCCESS"],
                                                          ["CHECKOUT_SUCCESS", "CANCEL_SUCCESS"]]
        assert adaptor.document(edited_oid)["current"] == "1.1"
        assert [adaptor.document(oid)["checkout"] for oid in (edited_oid, kept_oid)] == [None, None]

    def test_view_and_multi_file_download(self, agent, adaptor):  # noqa: F811
        memo = adaptor.add_document("Memo" + KEEP, text="read me\r\n")
        items = {"a.txt": adaptor.add_document("a.txt", text="first"),
                 "b.txt": adaptor.add_document("b.txt", text="second")}
        view = agent.work / "View"

        async def go():
            async with session("alice") as (ws, _):
                await send(ws, "VIEW", f"{memo}^P1^Memo{KEEP}")
                opened = await asyncio.to_thread(wait_until, lambda: (view / f"Memo{KEEP}.opened").exists(), 90)
                for name, oid in items.items():
                    await send(ws, "ADD_TO_DOWNLOAD", f"{oid}*P1*{name}")
                await send(ws, "DO_DOWNLOAD")
                await ui("click", DOWNLOAD, START)
                # A run without a failed row closes the window by itself.
                await ui("wait-gone", DOWNLOAD, timeout_ms=90000)
                return opened

        assert run(go(), timeout=240), "the viewed copy was not opened"
        assert (view / f"Memo{KEEP}").read_bytes() == b"read me\r\n"
        assert {name: (agent.download / name).read_bytes() for name in items} == {"a.txt": b"first",
                                                                                  "b.txt": b"second"}

    def test_notice_and_update_checks(self, agent, adaptor):  # noqa: F811
        user = "tls-" + uuid.uuid4().hex[:8]
        for i in range(2):
            adaptor.admin("POST", "/_admin/notices", {"user": user, "title": f"n{i}", "body": "b"})
        become_user(user)
        before = len(agent.agent.trace_lines())
        tick(NOTICE_TIMER)
        wait_line(agent.agent, "balloon shown: 2 unread messages", after=before)
        menu(CHECK_UPDATES)
        assert message_box("Information", IDOK) == f"You have latest version({APP_VERSION})."


def test_working_documents_list(working_documents, devserver, adaptor):  # noqa: F811
    user = "tls-" + uuid.uuid4().hex[:8]
    oid = adaptor.add_document("Plan.txt")
    server_checkout(SimpleNamespace(adaptor_url=f"{devserver}/adaptor"), oid, "1.0", user=user)
    working_documents().start(f"{devserver}/adaptor", user).wait_rows([["Plan.txt", "1.0,CURRENT", "", "Alice(alice)"]])


# The certificate (and key, when it has another name) a refusing devserver serves, from
# scripts/make-test-ca, and the words of its refusal in English and Korean.
REFUSALS = {
    "untrusted": (("untrusted-chain", "untrusted"), "issued by an authority this computer does not trust",
                  "발급한 기관을 이 컴퓨터가 신뢰하지 않으므로"),
    "unknown-issuer": (("untrusted", None), "could not be checked", "확인할 수 없습니다"),
    "wrong-name": (("wrong-name", None), "issued for another name", "다른 이름으로 발급되었으므로"),
    "expired": (("expired", None), "has expired", "만료되었거나"),
}
ASK = {1033: "the administrator", 1042: "관리자에게"}


@pytest.fixture(scope="module")
def refusing(test_ca):
    """A devserver for each refused certificate: name -> base URL."""
    with contextlib.ExitStack() as stack:
        yield {name: stack.enter_context(seeded_devserver("edms-tls-refused-", tls=test_ca, cert=cert, key=key))
               for name, ((cert, key), _, _) in REFUSALS.items()}


@pytest.mark.parametrize("kind, language", [(kind, 1033) for kind in REFUSALS] + [("wrong-name", 1042)])
def test_checkout_refuses_the_certificate_in_words(checkout_program, refusing, work_folder, kind, language):  # noqa: F811
    ui_driver = checkout_program.ui
    assert ui_driver.record("DEMO-1") is None
    ui_driver.reg_set(CONFIG_KEY, "LanguageID", "dword", language)
    try:
        result = checkout_program.run({
            "OID": "DEMO-1", "PAGE_ID": "P1", "VERSION_NO": "1.0", "FILE_PATH": hex_utf8("C:\\docs\\Report.docx"),
            "ADAPTOR_URL": f"{refusing[kind]}/adaptor", "WORK_FOLDER": win_path(work_folder), "USER_ID": "alice",
            "INVOKE_EDITOR": "FALSE", "IS_IMMUTABLE": "F"})
    finally:
        ui_driver.reg_set(CONFIG_KEY, "LanguageID", "dword", 1033)
    words = REFUSALS[kind][1 if language == 1033 else 2]
    assert result.code == 3 and len(result.boxes) == 1, (result.code, result.boxes)
    assert words in result.message and ASK[language] in result.message, result.message
    assert os.listdir(work_folder) == [] and ui_driver.record("DEMO-1") is None


def test_agent_view_says_what_is_wrong_with_the_certificate(write_config, start_agent, refusing, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    write_config(AdaptorURL=f"{refusing['expired']}/adaptor", WorkFolder=win_path(work))
    start_agent()

    async def go():
        async with session("alice") as (ws, _):
            await send(ws, "VIEW", f"DEMO-1^P1^Report{KEEP}")
            return await ui("msgbox", "--dismiss", IDOK, timeout_ms=60000)

    caption, *text = run(go(), timeout=120)
    assert caption == "Information" and REFUSALS["expired"][1] in "\n".join(text), text
    assert [p.name for p in work.rglob("*") if p.is_file() and p.name != ".zelto-views"] == []
