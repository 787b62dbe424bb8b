"""ZTCheckOutCancel.exe under Wine against devserver: the question, the refusal, the success,
and the working copy that stays while someone holds it open."""
import os

import pytest

from checkin_fixtures import (CANCEL_TITLE, CHECKOUTS_KEY, cancel, cancel_program,  # noqa: F401
                              checked_out, devserver, english, hex_utf8, holder, record_exists,
                              kept_folder, server, server_document, uidriver, work_folder)

QUESTION = "If you cancel checkout ,working document will be deleted. Do you want to continue?"
YES, NO = 6, 7


def arguments(server, doc, suppress="TRUE", **extra):
    args = {
        "OID": doc["oid"],
        "VERSION_NO": doc["version"],
        "FILE_PATH": hex_utf8("\\\\edms\\share\\" + doc["name"]),
        "ADAPTOR_URL": server.adaptor_url,
        "USER_ID": "alice",
        "SUPRESS_WARNING": suppress,
    }
    args.update(extra)
    return {k: v for k, v in args.items() if v is not None}


def cancel_requests_for(server, oid):
    last = server.last("CHECKOUTCANCEL")
    return last is not None and last["fields"]["XRQ_OBJECT"] == oid


def test_success_removes_record_and_copy(cancel, server, checked_out):
    doc = checked_out()
    run = cancel.start(arguments(server, doc)).finish()
    assert (run.code, run.boxes) == (0, [])
    assert not os.path.exists(doc["copy"])
    assert not record_exists(cancel.ui, doc["oid"])
    assert server_document(server, doc["oid"])["checkout"] is None


@pytest.mark.parametrize("suppress", [None, "FALSE", "yes"], ids=["absent", "false", "other"])
def test_question_no_sends_nothing(cancel, server, checked_out, suppress):
    doc = checked_out()
    cancel.start(arguments(server, doc, suppress=suppress))
    assert cancel.box(dismiss=NO) == ("Information", QUESTION)
    run = cancel.finish()
    assert (run.code, len(run.boxes)) == (0, 1)
    assert not cancel_requests_for(server, doc["oid"])
    assert os.path.exists(doc["copy"]) and record_exists(cancel.ui, doc["oid"])
    assert server_document(server, doc["oid"])["checkout"] is not None


def test_question_yes_cancels(cancel, server, checked_out):
    doc = checked_out()
    cancel.start(arguments(server, doc, suppress=None))
    assert cancel.box(dismiss=YES)[1] == QUESTION
    run = cancel.finish()
    assert (run.code, len(run.boxes)) == (0, 1)
    assert not os.path.exists(doc["copy"]) and not record_exists(cancel.ui, doc["oid"])


def test_suppress_in_lower_case_asks_nothing(cancel, server, checked_out):
    doc = checked_out()
    run = cancel.start(arguments(server, doc, suppress="true")).finish()
    assert (run.code, run.boxes) == (0, [])
    assert not record_exists(cancel.ui, doc["oid"])


def test_refusal_keeps_record_and_copy(cancel, server, checked_out):
    doc = checked_out()
    server.fault(command="CHECKOUTCANCEL", object=doc["oid"], mode="refuse", code="01",
                 message="취소할 수 없습니다.")
    run = cancel.start(arguments(server, doc)).finish()
    assert run.code == 0  # the cancel program always ends with 0
    assert run.boxes == [("Information", "취소할 수 없습니다.")]
    assert os.path.exists(doc["copy"]) and record_exists(cancel.ui, doc["oid"])
    assert server_document(server, doc["oid"])["checkout"] is not None


def test_invalid_url_sends_nothing(cancel, server, checked_out):
    doc = checked_out()
    run = cancel.start(arguments(server, doc, ADAPTOR_URL="ftp://nowhere")).finish()
    assert run.texts == ["Invalid URL"]
    assert not cancel_requests_for(server, doc["oid"])
    assert record_exists(cancel.ui, doc["oid"])


def test_copy_held_open_stays_record_goes(cancel, server, checked_out, holder):
    doc = checked_out()
    holder(file=doc["copy"], title="Holder")
    run = cancel.start(arguments(server, doc)).finish()
    assert (run.code, run.boxes) == (0, [])
    assert os.path.exists(doc["copy"])
    assert not record_exists(cancel.ui, doc["oid"])
    assert server_document(server, doc["oid"])["checkout"] is None


@pytest.mark.parametrize("oid", [None, ""], ids=["missing", "empty"])
def test_start_without_object_id_changes_nothing(cancel, server, checked_out, oid):
    other = checked_out()
    args = arguments(server, other)
    args.pop("OID")
    if oid is not None:
        args = {"OID": oid, **args}
    run = cancel.start(args).finish()
    assert run.code == 0
    assert len(run.boxes) == 1 and "(OID)" in run.boxes[0][1]
    assert not cancel_requests_for(server, other["oid"])
    assert record_exists(cancel.ui, other["oid"]) and os.path.exists(other["copy"])


def test_window_shows_name_and_version(cancel, server, checked_out):
    doc = checked_out(name="보고서 final.docx", version="3.10.4")
    # The controls are filled before the question: read them while it is asked.
    cancel.start(arguments(server, doc, suppress=None))
    cancel.window(CANCEL_TITLE)
    controls = cancel.controls(CANCEL_TITLE)
    assert (controls.text(1001), controls.text(1005)) == (doc["name"], "3.10.4")
    cancel.box(dismiss=NO)
    assert cancel.finish().code == 0
