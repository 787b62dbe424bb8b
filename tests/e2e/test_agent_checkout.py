"""The agent's check-out cycle end to end under Wine: the page sends CHECKOUT, the agent runs
ZTCheckOut, opens the working copy in a stand-in editor, and runs ZTCheckIn or
ZTCheckOutCancel, replying each outcome on the page's connection."""
import asyncio
import json
import os

import pytest

from conftest import open_session, request, run, session, wait_until
from runner_fixtures import (CYCLE_TIMEOUT, EDIT, KEEP, adaptor, agent_programs, checkout_fields,  # noqa: F401
                             cycle_agent, editors, next_word, record_path, ui)

CHECKIN_TITLE = "Checkin"
OK_BUTTON = 1
QUIET = 8  # seconds in which no further reply may come


async def send_checkout(ws, arg2):
    await ws.send(json.dumps({"arg1": "CHECKOUT", "arg2": arg2}))


def copy_path(work, name, oid):
    base, ext = os.path.splitext(name)
    return work / f"{base}({oid}){ext}"


def test_unchanged_document_is_cancelled(cycle_agent, adaptor):
    name = "보고서 초안" + KEEP
    oid = adaptor.add_document(name)
    copy = copy_path(cycle_agent, name, oid)

    async def cycle():
        async with session("alice") as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            first = await next_word(ws)
            checked_out = adaptor.document(oid)["checkout"]
            return first, checked_out, await next_word(ws)

    first, checked_out, second = run(cycle(), timeout=2 * CYCLE_TIMEOUT)
    assert (first, second) == ("CHECKOUT_SUCCESS", "CANCEL_SUCCESS")
    assert checked_out == {"user": "alice", "version": "1.0"}
    # The editor was started on the working copy (it leaves a note beside it)...
    assert os.path.exists(str(copy) + ".opened")
    # ...and the silent cancel released the server's check-out, the copy and the record.
    assert adaptor.document(oid)["checkout"] is None
    assert not copy.exists()
    assert record_path(oid) is None


def test_edited_document_is_checked_in(cycle_agent, adaptor):
    name = "Notes" + EDIT
    oid = adaptor.add_document(name, text="v1\r\n")

    async def cycle():
        async with session("alice") as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            first = await next_word(ws)
            # ZTCheckIn asks for the version: the user takes the proposed one.
            await ui("wait-window", CHECKIN_TITLE, timeout_ms=90000)
            await ui("click", CHECKIN_TITLE, OK_BUTTON)
            return first, await next_word(ws)

    assert run(cycle(), timeout=2 * CYCLE_TIMEOUT) == ("CHECKOUT_SUCCESS", "CHECKIN_SUCCESS")
    doc = adaptor.document(oid)
    assert doc["current"] == "1.1" and doc["checkout"] is None
    assert record_path(oid) is None
    # The edited copy is kept in the configured work folder, as sent.
    assert not copy_path(cycle_agent, name, oid).exists()
    kept = cycle_agent / "Checked in" / f"Notes({oid}) v1.1{EDIT}"
    assert kept.stat().st_size == adaptor.last("CHECKIN")["body_size"] > 0


def test_failed_checkout_is_replied_once(cycle_agent, adaptor):
    name = "Broken" + KEEP
    oid = adaptor.add_document(name, text="x" * 300000)
    adaptor.fault(command="CHECKOUT", object=oid, mode="close", bytes=150000)

    async def cycle():
        async with session("alice") as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            # ZTCheckOut reports the dropped connection before it exits with 3.
            box = await ui("msgbox", "--dismiss", "1", timeout_ms=90000, check=False)
            first = await next_word(ws)
            return box, first, await next_word(ws, timeout=QUIET)

    box, first, second = run(cycle(), timeout=2 * CYCLE_TIMEOUT)
    assert box, "ZTCheckOut showed no message"
    assert (first, second) == ("CHECKOUT_FAIL", None)
    assert record_path(oid) is None
    assert not copy_path(cycle_agent, name, oid).exists()


REFUSED = [
    ("too few fields", lambda oid: f"{oid}^P1^a{KEEP}^1.0^TRUE^alice"),
    ("id injecting a key", lambda oid: checkout_fields(oid + "&WORK_FOLDER=C:\\", "a" + KEEP)),
    ("name leaving the work folder", lambda oid: checkout_fields(oid, "..\\..\\evil" + KEEP)),
    ("name with a path", lambda oid: checkout_fields(oid, "C:\\Windows\\evil" + KEEP)),
    ("version with a quote", lambda oid: checkout_fields(oid, "a" + KEEP, version='1.0\\"')),
    ("creator too long", lambda oid: checkout_fields(oid, "a" + KEEP, creator="c" * 200)),
    # Fields that spell a key another program reads: the check-in would take them as its own.
    ("is-current and creator choosing the new version",
     lambda oid: checkout_fields(oid, "a" + KEEP, current="NEW_VERSION", creator="2.0")),
    ("creator spelling the share key", lambda oid: checkout_fields(oid, "a" + KEEP, creator="SHARE_NAME")),
    ("page id spelling the password key", lambda oid: checkout_fields(oid, "a" + KEEP, page="PASSWORD")),
    ("version that is no version", lambda oid: checkout_fields(oid, "a" + KEEP, version="1.0b")),
    ("is-immutable that is no flag", lambda oid: checkout_fields(oid, "a" + KEEP, immutable="YES")),
]


def test_refused_checkouts_start_nothing(cycle_agent, adaptor):
    # All rows over one connection, then one quiet period: a cycle wrongly started by any of them
    # would have sent its request and a second reply by then.
    cases = {name: (adaptor.add_document("a" + KEEP), make) for name, make in REFUSED}
    before = adaptor.last("CHECKOUT")

    async def exchange():
        replies = {}
        async with session("alice") as (ws, _):
            for name, (oid, make) in cases.items():
                await send_checkout(ws, make(oid))
                replies[name] = await next_word(ws, timeout=15)
            replies["(any later reply)"] = await next_word(ws, timeout=QUIET)
        return replies

    assert run(exchange(), timeout=2 * CYCLE_TIMEOUT) == {**{name: "CHECKOUT_FAIL" for name in cases},
                                                          "(any later reply)": None}
    assert adaptor.last("CHECKOUT") == before, "a check-out request reached the server"
    started = {name: (adaptor.document(oid)["checkout"], record_path(oid)) for name, (oid, _) in cases.items()}
    assert started == {name: (None, None) for name in cases}


def test_two_checkouts_at_once_reply_each_on_its_own(cycle_agent, adaptor):
    docs = [("First" + KEEP, adaptor.add_document("First" + KEEP)),
            ("Second" + KEEP, adaptor.add_document("Second" + KEEP))]

    async def one(user, name, oid):
        async with session(user) as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            return [await next_word(ws), await next_word(ws)]

    async def both():
        return await asyncio.gather(*(one("alice", name, oid) for name, oid in docs))

    words = run(both(), timeout=2 * CYCLE_TIMEOUT)
    assert words == [["CHECKOUT_SUCCESS", "CANCEL_SUCCESS"]] * 2
    for _, oid in docs:
        assert adaptor.document(oid)["checkout"] is None


def test_cycle_runs_to_its_end_after_the_page_has_gone(cycle_agent, adaptor):
    name = "Orphan" + KEEP
    oid = adaptor.add_document(name)

    async def send_and_leave():
        ws, _ = await open_session("alice")
        await send_checkout(ws, checkout_fields(oid, name))
        await asyncio.wait_for(ws.close(), 10)

    run(send_and_leave())
    assert wait_until(lambda: adaptor.document(oid)["checkout"] is not None, 60), "the check-out never happened"
    # The silent cancel at the end releases it again, with nobody left to tell.
    assert wait_until(lambda: adaptor.document(oid)["checkout"] is None, CYCLE_TIMEOUT)
    assert wait_until(lambda: not copy_path(cycle_agent, name, oid).exists(), 10)
    assert cycle_agent_alive()


def cycle_agent_alive():
    async def check():
        async with session("bob") as (ws, _):
            return await request(ws, "CHECK_USER")

    return run(check()) == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}
