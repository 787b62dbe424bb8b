"""ZTCheckIn.exe under Wine: the version choices, the upload against devserver, the editor
check, the retry after a failure, and what happens around the edges."""
import os
import socket

import pytest

from checkin_fixtures import (CHECKIN_TITLE, CHECKOUTS_KEY, CONFIG_KEY, checked_out,  # noqa: F401
                              checkin, checkin_program, devserver, english, hex_utf8, holder,
                              kept_folder, pattern_bytes, read_bytes, record_exists,
                              save_screenshot, server, server_content, server_document,
                              throttled_peer, uidriver, work_folder)
from conftest import wait_until

SAME, MINOR, MAJOR, DOC_NAME, NOTE = 1001, 1002, 1003, 1004, 1007
SAME_LABEL, MINOR_LABEL, MAJOR_LABEL = 1008, 1009, 1010
NOTE_NOT_CURRENT, NOTE_NOT_CREATOR, NOTE_IMMUTABLE = 1011, 1012, 1013
OK_BUTTON = 1

CLOSE_EDITOR = "Please close editor and retry to checkin."
READ_ERROR = ("The working copy could not be read to the end, so the check-in was not completed. "
              "The working copy and the check-out record are unchanged.")


def arguments(adaptor_url, doc, user="alice", creator="alice", current="TRUE", version=None, **extra):
    args = {
        "OID": doc["oid"],
        "VERSION_NO": version or doc["version"],
        "FILE_PATH": hex_utf8("\\\\edms\\share\\" + doc["name"]),
        "ADAPTOR_URL": adaptor_url,
        "WORK_FOLDER": "C:\\work",
        "USER_ID": user,
        "IS_CURRENT": current,
        "CREATOR_ID": creator,
    }
    args.update(extra)
    return args


def open_dialog(checkin, args):
    checkin.start(args)
    checkin.window(CHECKIN_TITLE)
    return checkin


def press_ok(checkin, choice=None, note=None):
    if choice:
        assert checkin.ui_run("click", CHECKIN_TITLE, str(choice))[0] == 0
    if note is not None:
        assert checkin.ui_run("set-text", CHECKIN_TITLE, str(NOTE), note)[0] == 0
    assert checkin.ui_run("click", CHECKIN_TITLE, str(OK_BUTTON))[0] == 0


# --- the version choices --------------------------------------------------------------------

# (name, VERSION_NO, IS_CURRENT, USER_ID, CREATOR_ID, Immutable,
#  {radio: caption} shown, radio checked, note shown)
VERSION_RULES = [
    ("creator of the current version", "1.2", "TRUE", "alice", "alice", "F",
     {SAME: "1.2", MINOR: "1.3", MAJOR: "2.0"}, MINOR, None),
    ("another user", "1.2", "TRUE", "bob", "alice", "F",
     {MINOR: "1.3", MAJOR: "2.0"}, MINOR, NOTE_NOT_CREATOR),
    ("creator id differing in case", "1.2", "TRUE", "Alice", "alice", "F",
     {MINOR: "1.3", MAJOR: "2.0"}, MINOR, NOTE_NOT_CREATOR),
    ("not current keeps the text", "1.02", "FALSE", "alice", "alice", "F",
     {SAME: "1.02"}, SAME, NOTE_NOT_CURRENT),
    ("immutable in lower case", "1.2", "TRUE", "alice", "alice", "true",
     {SAME: "1.2"}, SAME, NOTE_IMMUTABLE),
    ("three parts", "3.10.4", "tRuE", "alice", "alice", "F",
     {SAME: "3.10.4", MINOR: "3.10.5", MAJOR: "3.11.0"}, MINOR, None),
    ("no dot", "7", "TRUE", "alice", "alice", "F",
     {SAME: "7", MINOR: "7.1", MAJOR: "8.0"}, MINOR, None),
]


@pytest.mark.parametrize("name,version,current,user,creator,immutable,shown,checked,note", VERSION_RULES,
                         ids=[row[0] for row in VERSION_RULES])
def test_version_rules(checkin, server, checked_out, name, version, current, user, creator, immutable,
                       shown, checked, note):
    doc = checked_out(version=version, immutable=immutable)
    open_dialog(checkin, arguments(server.adaptor_url, doc, user=user, creator=creator, current=current))
    controls = checkin.controls(CHECKIN_TITLE)
    labels = {SAME: SAME_LABEL, MINOR: MINOR_LABEL, MAJOR: MAJOR_LABEL}
    for radio in (SAME, MINOR, MAJOR):
        assert controls.visible(radio) == (radio in shown), radio
        assert controls.visible(labels[radio]) == (radio in shown), labels[radio]
        if radio in shown:
            assert controls.text(radio) == shown[radio]
    for n in (NOTE_NOT_CURRENT, NOTE_NOT_CREATOR, NOTE_IMMUTABLE):
        assert controls.visible(n) == (n == note), n
    assert [r for r in (SAME, MINOR, MAJOR) if checkin.checked(CHECKIN_TITLE, r)] == [checked]
    assert controls.text(DOC_NAME) == doc["name"]
    checkin.ui_run("close", CHECKIN_TITLE)
    assert checkin.finish().code == 0
    assert record_exists(checkin.ui, doc["oid"]), "closing without OK changes nothing"


def test_radios_are_exclusive(checkin, server, checked_out):
    doc = checked_out()
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    def checked():
        return [r for r in (SAME, MINOR, MAJOR) if checkin.checked(CHECKIN_TITLE, r)]

    for radio in (MAJOR, SAME, MINOR):
        assert checkin.ui_run("click", CHECKIN_TITLE, str(radio))[0] == 0
        # The click is posted: wait until the dialog has taken it, then exactly it is checked.
        wait_until(lambda: radio in checked(), 10)
        assert checked() == [radio]
    checkin.ui_run("close", CHECKIN_TITLE)
    checkin.finish()


# --- the upload -----------------------------------------------------------------------------

def test_checkin_stores_version_note_and_bytes(checkin, server, checked_out, kept_folder):
    content = "새 내용 — new content\r\n".encode("utf-8") * 100
    note = "검토 완료: 표 2 수정 (final)"
    doc = checked_out(content=content)
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin, choice=MAJOR, note=note)
    run = checkin.finish()
    assert (run.code, run.boxes) == (0, [])

    stored = server_document(server, doc["oid"])
    assert stored["current"] == "2.0"
    assert [v["note"] for v in stored["versions"] if v["version"] == "2.0"] == [note]
    assert stored["checkout"] is None
    assert server_content(server, doc["oid"]) == content
    sent = server.last("CHECKIN")
    assert sent["raw"]["XRQ_VNOTE"] == hex_utf8(note)
    assert sent["raw"]["XRQ_NEWVERSION"] == hex_utf8("2.0")
    # Started like the agent starts it: no PASSWORD, no SHARE_NAME, both sent empty.
    assert sent["raw"]["XRQ_PASS"] == "" and sent["raw"]["XRQ_SHARENAME"] == ""
    assert not record_exists(checkin.ui, doc["oid"])
    assert os.listdir(kept_folder) == [f"Report({doc['oid']}) v2.0.docx"]
    assert read_bytes(os.path.join(kept_folder, os.listdir(kept_folder)[0])) == content
    assert not os.path.exists(doc["copy"])


# (case, KeepCheckedInDays, a file holds the name "Checked in", where the copy is afterwards)
ACCEPTED_COPY = [
    ("kept", None, False, "kept"),
    ("kept no days", 0, False, None),
    ("folder cannot be made", None, True, "in place"),
]


@pytest.mark.parametrize("case,days,blocked,where", ACCEPTED_COPY, ids=[row[0] for row in ACCEPTED_COPY])
def test_copy_after_the_server_answers_00(checkin, server, checked_out, kept_folder, case, days, blocked, where):
    # The server says "00" without storing anything: only this computer has the edits.
    content = "저장되지 않은 편집 — unsaved\r\n".encode("utf-8") * 40
    doc = checked_out(content=content)
    server.fault(command="CHECKIN", object=doc["oid"], mode="refuse", code="00", message="")
    if days is not None:
        checkin.ui.reg_set(CONFIG_KEY, "KeepCheckedInDays", "dword", days)
    if blocked:
        with open(kept_folder, "wb") as f:
            f.write(b"not a folder")
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin)
    run = checkin.finish()
    assert (run.code, run.boxes) == (0, [])
    assert server_document(server, doc["oid"])["current"] == "1.2"
    assert not record_exists(checkin.ui, doc["oid"])
    kept = os.path.join(kept_folder, f"Report({doc['oid']}) v1.3.docx")
    assert os.path.exists(kept) == (where == "kept")
    assert os.path.exists(doc["copy"]) == (where == "in place")
    if where:
        assert read_bytes(kept if where == "kept" else doc["copy"]) == content


def test_typed_note_stops_at_200_characters(checkin, server, checked_out):
    typed = ("변경 사항 note " * 20)[:250]
    doc = checked_out()
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    assert checkin.ui_run("type", CHECKIN_TITLE, str(NOTE), typed)[0] == 0
    press_ok(checkin)
    run = checkin.finish()
    assert (run.code, run.boxes) == (0, [])
    assert server.last("CHECKIN")["fields"]["XRQ_VNOTE"] == typed[:200]


@pytest.mark.parametrize("size", [1_000_000, 0], ids=["million-bytes", "empty"])
def test_file_arrives_whole(checkin, server, checked_out, size):
    doc = checked_out(content=size)
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin)
    run = checkin.finish()
    assert (run.code, run.boxes) == (0, [])
    assert server.last("CHECKIN")["body_size"] == size
    assert server_document(server, doc["oid"])["current"] == "1.3"
    assert server_content(server, doc["oid"]) == pattern_bytes(size)


@pytest.mark.parametrize("failure, code", [("refused", -1), ("server down", 3), ("closed without a reply", 3)])
def test_failed_checkin_keeps_copy_and_record(checkin, server, checked_out, failure, code):
    content = "고친 내용 — edited\r\n".encode("utf-8") * 50
    doc = checked_out(content=content)
    adaptor_url = server.adaptor_url
    if failure == "refused":
        server.fault(command="CHECKIN", object=doc["oid"], mode="refuse", code="01", message="서버가 거부했습니다.")
    elif failure == "closed without a reply":
        server.fault(command="CHECKIN", object=doc["oid"], mode="close")
    else:
        with socket.socket() as s:  # a port nobody listens on
            s.bind(("127.0.0.1", 0))
            adaptor_url = f"http://127.0.0.1:{s.getsockname()[1]}/adaptor"
    open_dialog(checkin, arguments(adaptor_url, doc))
    press_ok(checkin)
    caption, text = checkin.box(timeout_ms=30000)
    assert caption == "Information" and text.strip()
    if failure == "refused":
        assert text == "서버가 거부했습니다."
    checkin.window(CHECKIN_TITLE, timeout_ms=5000)  # the dialog stays for another try
    checkin.ui_run("close", CHECKIN_TITLE)
    assert checkin.finish().code == code
    # Nothing of the user's work is lost.
    with open(doc["copy"], "rb") as f:
        assert f.read() == content
    assert record_exists(checkin.ui, doc["oid"])
    if failure != "closed without a reply":  # that server may have taken it before closing
        assert server_document(server, doc["oid"])["checkout"] is not None


def test_retry_sends_the_new_choice(checkin, server, checked_out):
    doc = checked_out()
    server.fault(command="CHECKIN", object=doc["oid"], mode="refuse", code="000", message="busy", times=1)
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin, choice=MINOR)
    assert checkin.box()[1] == "busy"  # "000" is not success
    assert server.last("CHECKIN")["fields"]["XRQ_NEWVERSION"] == "1.3"
    press_ok(checkin, choice=MAJOR)
    run = checkin.finish()
    assert run.code == 0 and run.texts == ["busy"]
    assert server.last("CHECKIN")["fields"]["XRQ_NEWVERSION"] == "2.0"
    assert server_document(server, doc["oid"])["current"] == "2.0"


# (title of the stand-in editor's window, text of its child control, blocks OK)
EDITOR_WINDOWS = [
    ("{name} - Editor", None, True),
    ("Stand-in editor", "{name}", True),
    ("Document {oid} - Editor", None, False),
]


@pytest.mark.parametrize("title,child,blocks", EDITOR_WINDOWS, ids=["title", "child", "without-parentheses"])
def test_editor_check(checkin, server, checked_out, holder, title, child, blocks):
    doc = checked_out()
    copy_name = os.path.basename(doc["copy"])
    holder(title=title.format(name=copy_name, oid=doc["oid"]),
           child=child and child.format(name=copy_name))
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin)
    if blocks:
        assert checkin.box() == ("Information", CLOSE_EDITOR)
        checkin.window(CHECKIN_TITLE, timeout_ms=5000)
        last = server.last("CHECKIN")
        assert last is None or last["fields"]["XRQ_OBJECT"] != doc["oid"], "nothing was sent"
        checkin.ui_run("close", CHECKIN_TITLE)
        assert checkin.finish().code == 0
        assert os.path.exists(doc["copy"]) and record_exists(checkin.ui, doc["oid"])
    else:
        run = checkin.finish()
        assert (run.code, run.boxes) == (0, [])


def test_locked_copy_after_success(checkin, server, checked_out, holder):
    doc = checked_out()
    holder(file=doc["copy"], title="Holder")  # holds the copy, no "(id)" in any title
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    press_ok(checkin)
    run = checkin.finish()
    assert run.code == 0
    assert len(run.boxes) == 1 and run.boxes[0][1].startswith("The check-in succeeded")
    assert os.path.basename(doc["copy"]) in run.boxes[0][1]
    assert os.path.exists(doc["copy"])
    assert not record_exists(checkin.ui, doc["oid"])
    assert server_document(server, doc["oid"])["current"] == "1.3"


def test_record_gone_before_ok_gives_result_5(checkin, server, checked_out):
    doc = checked_out()
    open_dialog(checkin, arguments(server.adaptor_url, doc))
    checkin.ui.reg_delete(f"{CHECKOUTS_KEY}\\{doc['oid']}")
    press_ok(checkin)
    caption, text = checkin.box()
    assert "check-out record" in text
    checkin.ui_run("close", CHECKIN_TITLE)
    assert checkin.finish().code == 5
    assert os.path.exists(doc["copy"])
    assert server_document(server, doc["oid"])["checkout"] is not None


@pytest.mark.parametrize("oid", [None, ""], ids=["missing", "empty"])
def test_start_without_object_id_changes_nothing(checkin, server, checked_out, oid):
    other = checked_out()
    args = arguments(server.adaptor_url, other)
    args["OID"] = oid
    if oid is None:
        del args["OID"]
    checkin.start(args)
    run = checkin.finish()
    assert run.code == 0
    assert len(run.boxes) == 1 and "(OID)" in run.boxes[0][1]
    assert record_exists(checkin.ui, other["oid"]) and os.path.exists(other["copy"])


def test_missing_local_copy(checkin, server, checked_out):
    doc = checked_out()
    os.remove(doc["copy"])
    checkin.start(arguments(server.adaptor_url, doc))
    run = checkin.finish()
    assert run.code == 0
    assert run.texts == ["Can not find local copy, Please be sure that you checked out the document on "
                         "this computer."]


def test_invalid_url(checkin, checked_out):
    doc = checked_out()
    open_dialog(checkin, arguments("not a url", doc))
    press_ok(checkin)
    assert checkin.box() == ("Information", "Invalid URL")
    checkin.ui_run("close", CHECKIN_TITLE)
    assert checkin.finish().code == 1


# --- while an upload runs -------------------------------------------------------------------

def test_second_ok_during_upload_does_not_nest(checkin, checked_out, throttled_peer):
    size = 40_000_000  # the first half takes ten seconds unless released
    doc = checked_out(content=size)
    open_dialog(checkin, arguments(throttled_peer.adaptor_url, doc))
    press_ok(checkin)
    throttled_peer.wait_started()
    # OK posted straight to the dialog, past the disabled button, twice.
    for _ in range(2):
        assert checkin.ui_run("command", CHECKIN_TITLE, str(OK_BUTTON))[0] == 0
    assert not throttled_peer.requests[0][2], "the upload ended before the second OK"
    throttled_peer.release()
    run = checkin.finish()
    assert (run.code, run.boxes) == (0, [])
    assert len(throttled_peer.requests) == 1
    assert throttled_peer.requests[0][1:] == [size, True]


def test_copy_shrinking_during_upload_ends_the_attempt(checkin, checked_out, throttled_peer):
    doc = checked_out(content=24_000_000)
    open_dialog(checkin, arguments(throttled_peer.adaptor_url, doc))
    press_ok(checkin)
    throttled_peer.wait_started()
    os.truncate(doc["copy"], 100_000)
    assert checkin.box(timeout_ms=30000) == ("Information", READ_ERROR)
    checkin.ui_run("close", CHECKIN_TITLE)
    assert checkin.finish().code == 4
    assert not throttled_peer.requests[0][2]
    assert record_exists(checkin.ui, doc["oid"])


# --- languages ------------------------------------------------------------------------------

@pytest.mark.parametrize("language,title,ok", [(1033, "Checkin", "OK"), (1042, "체크인", "확인")],
                         ids=["english", "korean"])
def test_dialog_language_and_screenshot(checkin, server, checked_out, language, title, ok):
    doc = checked_out()
    checkin.ui.reg_set(CONFIG_KEY, "LanguageID", "dword", language)
    try:
        checkin.start(arguments(server.adaptor_url, doc, user="bob"))
        checkin.window(title)
        assert checkin.controls(title).text(OK_BUTTON) == ok
        save_screenshot(checkin.ui, title, f"checkin_{language}.bmp")
        checkin.ui_run("close", title)
        assert checkin.finish().code == 0
    finally:
        checkin.ui.reg_set(CONFIG_KEY, "LanguageID", "dword", 1033)
