"""ZTCheckOut.exe under Wine against devserver: exit codes, files, registry, message boxes."""
import os
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

from checkout_fixtures import (CHECKOUTS_KEY, CONFIG_KEY, checkout_program, devserver, english,  # noqa: F401
                               hex_utf8, pattern_bytes, server, test_editor, uidriver, win_path,
                               work_folder)
from wine_run import run_wine

DOC_TEXT = "Quarterly figures\r\n분기 실적\r\n".encode("utf-8")


def arguments(server, oid, work, doc_path, version="1.0", page="P1", **extra):
    args = {
        "OID": oid,
        "PAGE_ID": page,
        "VERSION_NO": version,
        "FILE_PATH": hex_utf8(doc_path),
        "ADAPTOR_URL": server.adaptor_url,
        "WORK_FOLDER": win_path(work),
        "USER_ID": "alice",
        "INVOKE_EDITOR": "FALSE",
        "IS_IMMUTABLE": "F",
    }
    args.update(extra)
    return {k: v for k, v in args.items() if v is not None}


def files_in(folder):
    return sorted(os.listdir(folder))


@pytest.mark.parametrize("name, copy_name", [
    ("report.final.docx", "report.final({oid}).docx"),
    ("README", "({oid})"),
    ("회의록 2분기.txt", "회의록 2분기({oid}).txt"),
])
def test_success_writes_copy_and_record(checkout_program, server, work_folder, name, copy_name):
    oid = server.add_document(name, [("1.0", DOC_TEXT)], page="PG7")
    doc_path = "\\\\edms\\share\\docs\\" + name
    run = checkout_program.run(arguments(server, oid, work_folder, doc_path, page="PG7", IS_IMMUTABLE="T"))

    assert (run.code, run.boxes) == (0, [])
    expected = copy_name.format(oid=oid)
    assert files_in(work_folder) == [expected]
    with open(os.path.join(work_folder, expected), "rb") as f:
        assert f.read() == DOC_TEXT
    assert checkout_program.ui.record(oid) == {
        "PageId": "PG7", "LocalPath": win_path(work_folder) + "\\" + expected, "Version": "1.0", "Immutable": "T"}
    # The copy's stamp as the check-out left it, to tell later edits by.
    record_key = f"{CHECKOUTS_KEY}\\{oid}"
    assert checkout_program.ui.reg_get(record_key, "CopySize") == str(len(DOC_TEXT))
    assert int(checkout_program.ui.reg_get(record_key, "CopyLastWrite")) > 0
    received = server.last("CHECKOUT")["fields"]
    assert {k: received.get(k) for k in ("XRQ_OBJECT", "XRQ_PAGE", "XRQ_VERSION", "XRQ_USER", "XRQ_PASS")} == {
        "XRQ_OBJECT": oid, "XRQ_PAGE": "PG7", "XRQ_VERSION": "1.0", "XRQ_USER": "alice", "XRQ_PASS": ""}


def test_large_document_arrives_whole(checkout_program, server, work_folder):
    size = 3 * 1024 * 1024 + 17  # many 10240-byte blocks and a short last one
    oid = server.add_document("big.bin", [("1.0", size)])
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\big.bin"))
    assert (run.code, run.boxes) == (0, [])
    with open(os.path.join(work_folder, f"big({oid}).bin"), "rb") as f:
        assert f.read() == pattern_bytes(size)


def test_document_above_2_gib(checkout_program, server, work_folder):
    size = 2**31 + 12345  # past the signed 32-bit count
    oid = server.add_document("huge.bin", [("1.0", size)])
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\huge.bin"))
    assert (run.code, run.boxes) == (0, [])
    copy = os.path.join(work_folder, f"huge({oid}).bin")
    assert os.path.getsize(copy) == size
    with open(copy, "rb") as f:
        for offset in (0, 2**31 - 7, size - 300):
            f.seek(offset)
            assert f.read(300) == bytes((offset + i) % 251 for i in range(300)), offset


def test_empty_document_gives_empty_copy(checkout_program, server, work_folder):
    oid = server.add_document("empty.txt", [("1.0", b"")])
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\empty.txt"))
    assert run.code == 0
    assert os.path.getsize(os.path.join(work_folder, f"empty({oid}).txt")) == 0
    assert checkout_program.ui.record(oid) is not None


def test_window_shows_document_and_version(checkout_program, server, work_folder):
    size = 2_000_000
    oid = server.add_document("plan.txt", [("2.3", size)])
    # The body comes a block a second until the window has been read: the window stays up (and
    # answers between blocks) however slowly the UI driver starts.
    server.fault(command="CHECKOUT", object=oid, mode="hold", bytes=10240, times=1)
    seen = {}

    def read(control):
        code, out, err = run_wine(checkout_program.ui.exe, "--timeout", 30000, "text", "Checkout", control,
                                  timeout=90)
        return out.rstrip("\n") if code == 0 else f"uidriver exit {code}: {err.strip()}"

    def read_window(_proc):
        try:
            with ThreadPoolExecutor(2) as pool:
                texts = {key: pool.submit(read, control) for key, control in (("name", 1001), ("version", 1002))}
                seen.update({key: future.result() for key, future in texts.items()})
        finally:
            server.release()

    run = checkout_program.run(arguments(server, oid, work_folder, "D:\\work\\plan.txt", version="2.3"),
                               on_running=read_window)
    assert (run.code, run.boxes) == (0, [])
    assert seen == {"name": "plan.txt", "version": "2.3"}
    with open(os.path.join(work_folder, f"plan({oid}).txt"), "rb") as f:
        assert f.read() == pattern_bytes(size)


def test_refusal_shows_server_message(checkout_program, server, work_folder):
    oid = server.add_document("memo.txt", [("1.0", b"memo")])
    message = "문서를 다른 사용자가 체크아웃했습니다 (bob)."
    server.fault(command="CHECKOUT", object=oid, mode="refuse", code="17", message=message)
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\memo.txt"))
    assert (run.code, run.boxes) == (-2, [("Information", message)])
    assert files_in(work_folder) == []
    assert checkout_program.ui.record(oid) is None


def test_short_body_keeps_file_without_record(checkout_program, server, work_folder):
    content = pattern_bytes(25600)
    oid = server.add_document("data.bin", [("1.0", len(content))])
    server.fault(command="CHECKOUT", object=oid, mode="short", bytes=10000)
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\data.bin"))
    assert (run.code, run.boxes) == (-1, [("Information", "Network error occured.")])
    assert files_in(work_folder) == [f"data({oid}).bin"]
    with open(os.path.join(work_folder, f"data({oid}).bin"), "rb") as f:
        assert f.read() == content[:10000]
    assert checkout_program.ui.record(oid) is None


@pytest.mark.parametrize("url", ["", "127.0.0.1/adaptor", "ftp://127.0.0.1/adaptor", "http:///adaptor",
                                 "http://127.0.0.1:99999/adaptor"])
def test_invalid_url_sends_nothing(checkout_program, server, work_folder, url):
    oid = server.add_document("x.txt", [("1.0", b"x")])
    before = server.last("CHECKOUT")
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\x.txt", ADAPTOR_URL=url))
    assert (run.code, run.boxes) == (1, [("Information", "Invalid URL")])
    assert server.last("CHECKOUT") == before
    assert files_in(work_folder) == []
    assert checkout_program.ui.record(oid) is None


@pytest.mark.parametrize("folder, asks_server", [("not-there", True), ("", False)])
def test_unusable_work_folder(checkout_program, server, work_folder, folder, asks_server):
    oid = server.add_document("x.txt", [("1.0", b"x")])
    args = arguments(server, oid, work_folder, "C:\\docs\\x.txt")
    # An empty folder would put the copy at the root of the current drive: refused unsent.
    args["WORK_FOLDER"] = win_path(os.path.join(work_folder, folder)) if folder else ""
    before = server.last("CHECKOUT")
    run = checkout_program.run(args)
    assert (run.code, run.boxes) == (2, [("Information", "Can not open file.")])
    assert (server.last("CHECKOUT") != before) == asks_server
    assert files_in(work_folder) == []
    assert checkout_program.ui.record(oid) is None


@pytest.mark.parametrize("oid", ["..\\escape", "a:b", "x/y"])
def test_object_id_that_leaves_work_folder_is_refused_unsent(checkout_program, server, work_folder, oid):
    before = server.last("CHECKOUT")
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\x.txt"))
    assert (run.code, run.boxes) == (2, [("Information", "Can not open file.")])
    assert server.last("CHECKOUT") == before
    assert files_in(work_folder) == []


def test_dropped_connection_removes_partial_copy_only(checkout_program, server, work_folder, tmp_path):
    oid = server.add_document("deck.bin", [("1.0", b"older copy"), ("1.1", 512000)])
    # The working copy of an earlier check-out, unchanged, and a file of the same name elsewhere.
    first = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\deck.bin", version="1.0"))
    assert first.code == 0
    copy = os.path.join(work_folder, f"deck({oid}).bin")
    elsewhere = tmp_path / f"deck({oid}).bin"
    elsewhere.write_bytes(b"older copy")
    server.fault(command="CHECKOUT", object=oid, mode="close", bytes=150000)
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\deck.bin", version="1.1"))
    assert run.code == 3
    assert len(run.boxes) == 1 and run.boxes[0][0] == "Information" and run.boxes[0][1].strip()
    assert files_in(work_folder) == [f"deck({oid}).bin"]  # no partial file left behind
    for path in (copy, elsewhere):
        with open(path, "rb") as f:
            assert f.read() == b"older copy"
    assert checkout_program.ui.record(oid)["Version"] == "1.0"


@pytest.mark.parametrize("case", ["edited after its check-out", "no record speaks for it"])
def test_copy_with_unchecked_edits_is_never_replaced(checkout_program, server, work_folder, case):
    oid = server.add_document("memo.txt", [("1.0", b"server text")])
    args = arguments(server, oid, work_folder, "C:\\docs\\memo.txt")
    assert checkout_program.run(args).code == 0
    copy = os.path.join(work_folder, f"memo({oid}).txt")
    if case == "edited after its check-out":
        with open(copy, "ab") as f:
            f.write(b" and the user's edits")
    else:
        checkout_program.ui.run("reg-delete", f"{CHECKOUTS_KEY}\\{oid}")
    before_copy = open(copy, "rb").read()
    before_record = checkout_program.ui.record(oid)
    before_request = server.last("CHECKOUT")

    run = checkout_program.run(args)
    assert run.code == 6
    assert len(run.boxes) == 1 and win_path(copy) in run.boxes[0][1]
    with open(copy, "rb") as f:
        assert f.read() == before_copy
    assert checkout_program.ui.record(oid) == before_record
    assert server.last("CHECKOUT") == before_request, "the server was asked"


def test_second_checkout_replaces_copy_and_record(checkout_program, server, work_folder):
    oid = server.add_document("spec.txt", [("1.0", b"first version"), ("1.1", b"second, longer version")])
    doc = "C:\\docs\\spec.txt"
    first = checkout_program.run(arguments(server, oid, work_folder, doc, version="1.0", page="P1",
                                           IS_IMMUTABLE="F"))
    second = checkout_program.run(arguments(server, oid, work_folder, doc, version="1.1", page="P1",
                                            IS_IMMUTABLE="T"))
    assert (first.code, second.code) == (0, 0)
    assert files_in(work_folder) == [f"spec({oid}).txt"]
    with open(os.path.join(work_folder, f"spec({oid}).txt"), "rb") as f:
        assert f.read() == b"second, longer version"
    assert checkout_program.ui.record(oid) == {
        "PageId": "P1", "LocalPath": win_path(work_folder) + f"\\spec({oid}).txt", "Version": "1.1",
        "Immutable": "T"}


@pytest.mark.parametrize("refuse, lock_left", [(False, False), (True, True)])
def test_lock_file_beside_document(checkout_program, server, work_folder, tmp_path, refuse, lock_left):
    oid = server.add_document("budget.xlsx", [("1.0", b"cells")])
    doc = tmp_path / "budget.xlsx"
    doc.write_bytes(b"share copy")
    lock = tmp_path / "budget.xlsx.lock"
    lock.write_bytes(b"")
    if refuse:
        server.fault(command="CHECKOUT", object=oid, mode="refuse", message="No.")
    run = checkout_program.run(arguments(server, oid, work_folder, win_path(str(doc))))
    assert run.code == (-2 if refuse else 0)
    assert lock.exists() == lock_left
    assert doc.read_bytes() == b"share copy"


@pytest.mark.parametrize("invoke, opened", [(None, True), ("TRUE", True), ("false", False), ("FALSE", False)])
def test_editor_start(checkout_program, server, work_folder, test_editor, invoke, opened):
    oid = server.add_document("notes" + test_editor, [("1.0", b"notes")])
    run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\notes" + test_editor,
                                         INVOKE_EDITOR=invoke))
    assert (run.code, run.boxes) == (0, [])
    marker = os.path.join(work_folder, f"notes({oid}){test_editor}.opened")
    deadline = time.time() + (20 if opened else 3)
    while not os.path.exists(marker) and time.time() < deadline:
        time.sleep(0.2)
    assert os.path.exists(marker) == opened
    if opened:
        with open(marker, encoding="utf-8") as f:
            assert f"notes({oid}){test_editor}" in f.read()


def test_korean_messages(checkout_program, server, work_folder):
    ui = checkout_program.ui
    oid = server.add_document("x.txt", [("1.0", b"x")])
    ui.reg_set(CONFIG_KEY, "LanguageID", "dword", 1042)
    try:
        run = checkout_program.run(arguments(server, oid, work_folder, "C:\\docs\\x.txt", ADAPTOR_URL="nonsense"))
    finally:
        ui.reg_set(CONFIG_KEY, "LanguageID", "dword", 1033)
    assert (run.code, run.boxes) == (1, [("알림", "잘못된 URL입니다.")])
