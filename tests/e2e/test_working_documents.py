"""ZTWorkingDocuments.exe under Wine against devserver, driven like a user: the rows, the
refusals, Refresh, check-in and cancel started from the list, Edit, and one list at a time."""
import os

import pytest

from checkin_fixtures import (CHECKIN_TITLE, CHECKOUTS_KEY, CONFIG_KEY, adaptor_post, devserver,  # noqa: F401
                              english, hex_utf8, holder, kept_folder, read_bytes, save_screenshot,
                              server, server_document, uidriver, win_path, work_folder)
from checkout_fixtures import test_editor  # noqa: F401
from conftest import wait_until
from workingdocs_fixtures import (CANCEL, CHECKED_IN, CHECKIN, DIALOG_CLASS, EDIT, LEGEND, REFRESH,  # noqa: F401
                                  TITLE, lone_copy, make_checkout, user, working_documents)

YES = 6
NO_LOCAL_COPY = ("Can not find local copy, Please be sure that you checked out the document on this "
                 "computer")
NOT_PASSED_ON = ("The server's details of this document cannot be passed on safely, so nothing was "
                 "started. Refresh the list, or ask the EDMS administrator.")


def release(server, doc, user):
    """The check-out ends on the server, as if from another computer."""
    headers, _ = adaptor_post(server, "CHECKOUTCANCEL", [("XRQ_OBJECT", doc["oid"]), ("XRQ_VERSION", doc["version"]),
                                                         ("XRQ_USER", user), ("XRQ_PASS", "")])
    assert headers.get("XRS_RTNCODE") == "00", headers


def checkin_windows(ui):
    rc, out = ui.run("list-windows")
    return [line for line in out.splitlines() if line.endswith("\t" + CHECKIN_TITLE)]


@pytest.mark.parametrize("language,title,columns", [
    (1033, TITLE, ["Document", "Version", "Version note", "Owner"]),
    (1042, "체크아웃한 문서", ["문서", "버전", "버전 메모", "소유자"]),
], ids=["english", "korean"])
def test_rows_show_the_servers_list(working_documents, server, make_checkout, user, uidriver, language, title,
                                    columns):
    server.admin("POST", "/_admin/users", {"id": "kim", "name": "Kim"})
    server.admin("POST", "/_admin/users", {"id": "minjun", "name": "김민준"})
    make_checkout(user, "Report.docx", "1.2", "fixed typo", creator="kim", stamp="moved")
    make_checkout(user, "회의록.txt", "1.0", "첫 번째 회의록", creator="minjun", stamp="same")
    make_checkout(user, "README", "1.0", versions=[("1.0", "old draft"), ("1.1", "")], copy=False)
    # The list's fields come after more than 4 KiB of reply headers.
    server.fault(command="GETCHECKOUTLIST", mode="big_headers", bytes=6000)
    uidriver.reg_set(CONFIG_KEY, "LanguageID", "dword", language)
    try:
        run = working_documents().start(server.adaptor_url, user, title=title)
        rows = run.wait_rows([
            ["Report.docx", "1.2,CURRENT *", "fixed typo", "Kim(kim)"],
            ["회의록.txt", "1.0,CURRENT", "첫 번째 회의록", "김민준(minjun)"],
            ["README", "1.0", "old draft", "alice(alice)"],
        ])
        assert run.columns() == columns
        assert not any(selected for selected, _ in rows)
        assert [run.enabled(b) for b in (CHECKIN, CANCEL, EDIT, REFRESH)] == [False, False, False, True]
        assert run.visible(LEGEND)
        save_screenshot(uidriver, title, f"workingdocs_{language}.bmp")
    finally:
        uidriver.reg_set(CONFIG_KEY, "LanguageID", "dword", 1033)


def test_empty_list_and_a_refusal_with_the_servers_text(working_documents, server, make_checkout, user):
    nobody = "nobody-" + user
    run = working_documents().start(server.adaptor_url, nobody)
    # An empty list looks the same before and after the load: wait for the server to answer.
    assert wait_until(lambda: (server.last("GETCHECKOUTLIST") or {}).get("fields", {}).get("XRQ_USER") == nobody, 30)
    run.wait_rows([])
    assert run.ui.msgbox(timeout_ms=1500) is None
    assert not run.visible(LEGEND)

    make_checkout(user, "Report.docx")
    server.fault(command="GETCHECKOUTLIST", mode="refuse", code="55", message="목록을 드릴 수 없습니다.", times=1)
    run = working_documents().start(server.adaptor_url, user)
    assert run.box() == ("Information", "목록을 드릴 수 없습니다.")
    run.wait_rows([])  # the window stays, and Refresh asks again
    run.click(REFRESH)
    run.wait_rows([["Report.docx", "1.0,CURRENT", "", "alice(alice)"]])


def test_refresh_selects_the_same_document_again(working_documents, server, make_checkout, user):
    a, b, c = (make_checkout(user, name, copy=False) for name in ("a.txt", "b.txt", "c.txt"))
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([[n, "1.0,CURRENT", "", "alice(alice)"] for n in ("a.txt", "b.txt", "c.txt")])
    run.select(1)
    assert run.enabled(CANCEL)

    release(server, a, user)  # b moves up to row 0; c takes its old row
    run.click(REFRESH)
    rows = run.wait_rows([[n, "1.0,CURRENT", "", "alice(alice)"] for n in ("b.txt", "c.txt")])
    assert [selected for selected, _ in rows] == [True, False]

    release(server, b, user)  # the selected document is gone: nothing is selected
    run.click(REFRESH)
    rows = run.wait_rows([["c.txt", "1.0,CURRENT", "", "alice(alice)"]])
    assert rows[0][0] is False
    assert not run.enabled(CANCEL)


def test_checkin_started_from_the_list(working_documents, server, make_checkout, user, kept_folder):
    doc = make_checkout(user, "보고서.docx", "1.2", stamp="moved")
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([["보고서.docx", "1.2,CURRENT *", "", "alice(alice)"]])
    run.select(0)
    run.click(CHECKIN)
    run.run("wait-window", CHECKIN_TITLE, timeout_ms=30000)
    # Started by the agent, the list passes just the document name.
    assert run.run("text", CHECKIN_TITLE, "1004").strip() == "보고서.docx"
    # While the check-in runs the list still answers, but takes no commands.
    assert run.rows()[0][1][0] == "보고서.docx"
    assert [run.enabled(b) for b in (CHECKIN, REFRESH)] == [False, False]

    run.run("click", CHECKIN_TITLE, "1")  # OK: minor + 1
    run.wait_rows([], timeout=60)
    assert run.enabled(REFRESH)
    stored = server_document(server, doc["oid"])
    assert stored["checkout"] is None and stored["current"] == "1.3"
    assert server.last("CHECKIN")["raw"]["XRQ_PASS"] == hex_utf8("KVMRT")
    assert not os.path.exists(doc["copy"])
    assert read_bytes(os.path.join(kept_folder, f"보고서({doc['oid']}) v1.3.docx")) == b"working copy\r\n"


def test_cancel_started_from_the_list(working_documents, server, make_checkout, user, uidriver):
    doc = make_checkout(user, "Report.docx")
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([["Report.docx", "1.0,CURRENT", "", "alice(alice)"]])
    run.select(0)
    run.click(CANCEL)
    caption, question = run.box(dismiss=YES)  # the cancel program asks first
    assert "working document will be deleted" in question
    run.wait_rows([], timeout=60)
    assert server_document(server, doc["oid"])["checkout"] is None
    assert not os.path.exists(doc["copy"])
    assert uidriver.reg_get(f"{CHECKOUTS_KEY}\\{doc['oid']}", "LocalPath") is None


def test_document_open_in_an_editor_starts_nothing(working_documents, server, make_checkout, user, holder,
                                                   uidriver):
    doc = make_checkout(user, "Report.docx")
    holder(title=f"Report({doc['oid']}).docx - Editor")  # editors show the working copy's name
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([["Report.docx", "1.0,CURRENT", "", "alice(alice)"]])
    run.select(0)
    run.click(CHECKIN)
    assert run.box() == ("Information", "Please close editor and retry to checkin.")
    run.click(CANCEL)
    assert run.box() == ("Information", "Please close editor and retry to cancel checkout.")
    assert checkin_windows(uidriver) == []
    assert server_document(server, doc["oid"])["checkout"] is not None
    assert os.path.exists(doc["copy"])


def test_edit_opens_the_copy_or_says_it_is_missing(working_documents, server, make_checkout, user, uidriver,
                                                   test_editor):
    missing = make_checkout(user, "gone.docx", copy=False)
    present = make_checkout(user, "notes" + test_editor)
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([["gone.docx", "1.0,CURRENT", "", "alice(alice)"],
                   ["notes" + test_editor, "1.0,CURRENT", "", "alice(alice)"]])
    run.select(0)
    run.double_click(0)
    assert run.box() == ("Information", NO_LOCAL_COPY)
    # Reading the record created no key for it.
    rc, _ = uidriver.run("reg-get", f"{CHECKOUTS_KEY}\\{missing['oid']}", "LocalPath")
    assert rc != 0 and "no key" in uidriver.last_error

    run.select(1)
    run.click(EDIT)
    assert wait_until(lambda: os.path.exists(present["copy"] + ".opened"), 30)


def test_rows_that_cannot_be_used(working_documents, server, user, uidriver):
    good = "1.0\tW-ok\tok.txt\t\t\talice\tAlice\t\tT"
    unsafe = "1.0\tW-1&USER_ID=root\tbad.txt\t\t\talice\tAlice\t\tT"
    listing = "\f".join([unsafe, "1.0\tshort row", good]) + "\f"
    server.fault(command="GETCHECKOUTLIST", mode="refuse", code="00", message=listing, times=1)
    run = working_documents().start(server.adaptor_url, user)
    # The short row; the empty piece after the trailing form feed is no entry.
    assert run.box()[1] == "Entries of the server's list that could not be read and are not shown: 1"
    run.wait_rows([["bad.txt", "1.0,CURRENT", "", "Alice(alice)"], ["ok.txt", "1.0,CURRENT", "", "Alice(alice)"]])
    run.select(0)
    run.click(CHECKIN)
    assert run.box() == ("Information", NOT_PASSED_ON)
    assert checkin_windows(uidriver) == []


def test_a_program_that_cannot_be_started_is_reported(working_documents, server, make_checkout, user, lone_copy):
    make_checkout(user, "Report.docx")
    run = working_documents(exe=lone_copy).start(server.adaptor_url, user)
    run.wait_rows([["Report.docx", "1.0,CURRENT", "", "alice(alice)"]])
    run.select(0)
    run.click(CHECKIN)
    caption, text = run.box()
    assert text.startswith("The program could not be started") and "ZTCheckIn.exe" in text
    assert run.enabled(CHECKIN) and run.enabled(REFRESH)


def test_a_second_start_closes_only_the_first_list(working_documents, server, user, holder, uidriver):
    other = holder(title=TITLE)  # another program's window with the list's title
    first = working_documents().start(server.adaptor_url, user, wait=False)
    assert wait_until(lambda: len(list_windows(uidriver)) == 1, 30)
    second = working_documents().start(server.adaptor_url, user, wait=False)
    assert wait_until(lambda: first.proc.poll() is not None, 30), "the first list is still running"
    assert wait_until(lambda: len(list_windows(uidriver)) == 1, 30)
    assert second.proc.poll() is None and other.proc.poll() is None


def test_checked_in_copies_open_in_the_shell(working_documents, server, user, kept_folder):
    run = working_documents().start(server.adaptor_url, user)
    run.wait_rows([])
    with open(kept_folder, "wb") as f:  # a file holds the folder's name
        f.write(b"not a folder")
    run.click(CHECKED_IN)
    caption, text = run.box()
    assert caption == "Information"
    assert text.startswith("The folder of checked-in copies could not be opened:\n" + win_path(kept_folder) + "\n")
    os.remove(kept_folder)
    run.click(CHECKED_IN)
    # The shell's window of the folder, created for the occasion, carries its name.
    try:
        assert run.ui.run("wait-window", "Checked in", timeout_ms=30000)[0] == 0
        assert os.path.isdir(kept_folder)
    finally:
        run.ui.run("close", "Checked in", timeout_ms=2000)
        run.ui.run("wait-gone", "Checked in", timeout_ms=10000)


def list_windows(ui):
    rc, out = ui.run("list-windows")
    return [line for line in out.splitlines() if f"\t{DIALOG_CLASS}\t" in line and line.endswith("\t" + TITLE)]
