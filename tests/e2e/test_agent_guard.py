"""What a careless or hostile page can make the agent do, through its real port, and the
edits that must never be lost: each connection acts as itself, one cycle per document and at
most eight at once, and a working copy with edits not checked in survives a failed check-in
and a second CHECKOUT byte for byte. (Refused CHECKOUT fields are in test_agent_checkout.py,
the handshake in test_agent_protocol.py.)"""
import asyncio
import json
import os

from conftest import run, session, uidriver, wait_until, windows_path
from runner_fixtures import (CHECKOUTS_KEY, CYCLE_TIMEOUT, EDIT, KEEP, adaptor, agent_programs,  # noqa: F401
                             checkout_fields, cycle_agent, editors, next_word, record_path, ui)

CHECKIN_TITLE = "Checkin"
OK_BUTTON = 1
QUIET = 8


async def send_checkout(ws, arg2):
    await ws.send(json.dumps({"arg1": "CHECKOUT", "arg2": arg2}))


def test_a_page_without_login_text_acts_as_nobody(cycle_agent, adaptor):
    oid = adaptor.add_document("a" + KEEP)
    before = adaptor.last("CHECKOUT")

    async def exchange():
        # Someone else has logged in before: the empty login must not borrow that identity.
        async with session("alice") as (alice, _):
            await alice.send(json.dumps({"arg1": "CHECK_USER", "arg2": ""}))
            await asyncio.wait_for(alice.recv(), 10)
            async with session("") as (ws, _):
                await send_checkout(ws, checkout_fields(oid, "a" + KEEP))
                first = await next_word(ws, timeout=15)
                boxes = [await ui("msgbox", "--dismiss", "1", timeout_ms=15000, check=False)]
                # Nor may it read documents as nobody: a view, a download.
                await ws.send(json.dumps({"arg1": "VIEW", "arg2": f"{oid}^P1^a{KEEP}"}))
                boxes.append(await ui("msgbox", "--dismiss", "1", timeout_ms=15000, check=False))
                await ws.send(json.dumps({"arg1": "ADD_TO_DOWNLOAD", "arg2": f"{oid}^P1^a{KEEP}"}))
                await ws.send(json.dumps({"arg1": "DO_DOWNLOAD", "arg2": ""}))
                boxes.append(await ui("msgbox", "--dismiss", "1", timeout_ms=15000, check=False))
                return first, boxes, await next_word(ws, timeout=QUIET)

    fetched = adaptor.last("DOWNLOAD")
    first, boxes, second = run(exchange())
    assert (first, second) == ("CHECKOUT_FAIL", None)
    for box in boxes:
        assert box and box[0] == "Information" and "log" in box[1], boxes
    assert adaptor.last("CHECKOUT") == before and adaptor.last("DOWNLOAD") == fetched


def test_one_cycle_per_document(cycle_agent, adaptor):
    name = "Shared" + KEEP
    oid = adaptor.add_document(name)

    async def twice():
        async with session("alice") as (first, _), session("bob") as (second, _):
            await send_checkout(first, checkout_fields(oid, name))
            assert await next_word(first) == "CHECKOUT_SUCCESS"
            # While the first cycle runs, the same document again (in another case) is refused.
            await send_checkout(second, checkout_fields(oid.lower(), name))
            refused = await next_word(second, timeout=15)
            return refused, await next_word(first)

    assert run(twice(), timeout=2 * CYCLE_TIMEOUT) == ("CHECKOUT_FAIL", "CANCEL_SUCCESS")
    assert adaptor.document(oid)["checkout"] is None


def test_at_most_eight_cycles_at_once(cycle_agent, adaptor):
    docs = [(f"Held{i}" + KEEP, adaptor.add_document(f"Held{i}" + KEEP, text="x" * 4096)) for i in range(9)]
    for _, oid in docs[:8]:
        adaptor.fault(command="CHECKOUT", object=oid, mode="hold", bytes=1)

    async def nine():
        async with session("alice") as (ws, _):
            for name, oid in docs[:8]:
                await send_checkout(ws, checkout_fields(oid, name))
            await asyncio.to_thread(wait_until, lambda: all(adaptor.document(oid)["checkout"] for _, oid in docs[:8]), 90)
            name, oid = docs[8]
            await send_checkout(ws, checkout_fields(oid, name))
            ninth = await next_word(ws, timeout=30)
            adaptor.clear_faults()  # lets the eight go on to their end
            rest = [await next_word(ws) for _ in range(16)]
            return ninth, rest

    ninth, rest = run(nine(), timeout=6 * CYCLE_TIMEOUT)
    assert ninth == "CHECKOUT_FAIL"
    assert sorted(rest) == sorted(["CHECKOUT_SUCCESS", "CANCEL_SUCCESS"] * 8)
    assert adaptor.document(docs[8][1])["checkout"] is None


def test_a_korean_user_id_of_eleven_syllables_checks_out(cycle_agent, adaptor):
    user = "김" * 11  # 33 bytes, 11 characters
    name = "K" + KEEP
    oid = adaptor.add_document(name)

    async def cycle():
        async with session(user) as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            return await next_word(ws), await next_word(ws)

    assert run(cycle(), timeout=2 * CYCLE_TIMEOUT) == ("CHECKOUT_SUCCESS", "CANCEL_SUCCESS")


def test_edits_survive_a_refused_checkin_and_a_second_checkout(cycle_agent, adaptor):
    name = "Minutes" + EDIT
    oid = adaptor.add_document(name, text="agreed\r\n")
    adaptor.fault(command="CHECKIN", object=oid, mode="refuse", code="55", message="locked by the archive")
    copy = cycle_agent / f"Minutes({oid}){EDIT}"

    async def first_cycle():
        async with session("alice") as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            first = await next_word(ws)
            await ui("wait-window", CHECKIN_TITLE, timeout_ms=90000)
            await ui("click", CHECKIN_TITLE, OK_BUTTON)
            refusal = await ui("msgbox", "--dismiss", "1", timeout_ms=60000, check=False)
            await ui("close", CHECKIN_TITLE)
            return first, refusal, await next_word(ws)

    first, refusal, finished = run(first_cycle(), timeout=2 * CYCLE_TIMEOUT)
    assert (first, finished) == ("CHECKOUT_SUCCESS", "CHECKIN_FAIL")
    assert refusal and "locked by the archive" in refusal[1]
    edited = copy.read_bytes()
    assert edited.endswith(b"edited")
    assert record_path(oid) == windows_path(copy)

    async def second_checkout():
        async with session("alice") as (ws, _):
            await send_checkout(ws, checkout_fields(oid, name))
            box = await ui("msgbox", "--dismiss", "1", timeout_ms=90000, check=False)
            return box, await next_word(ws), await next_word(ws, timeout=QUIET)

    box, again, nothing = run(second_checkout(), timeout=2 * CYCLE_TIMEOUT)
    assert (again, nothing) == ("CHECKOUT_FAIL", None)
    assert box and windows_path(copy) in box[1]
    assert copy.read_bytes() == edited, "the edited working copy changed"
    assert record_path(oid) == windows_path(copy)


def test_the_agent_tells_of_edits_left_at_start(agent_programs, write_config, start_agent, work_dirs):
    uidriver("reg-delete", CHECKOUTS_KEY)  # whatever earlier tests left behind
    copy = work_dirs / "work" / "Left(L-1).txt"
    copy.write_bytes(b"changed after the check-out")
    key = f"{CHECKOUTS_KEY}\\L-1"
    for value, data in (("PageId", "P1"), ("LocalPath", windows_path(copy)), ("Version", "1.0"),
                        ("Immutable", "F"), ("CopyLastWrite", "1"), ("CopySize", "5")):
        uidriver("reg-set", key, value, "sz", data)
    try:
        write_config(LanguageID=1033)
        agent = start_agent()
        assert wait_until(lambda: any("1 documents have changes that are not checked in" in line
                                      for line in agent.trace_lines()), 30), agent.log()
    finally:
        uidriver("reg-delete", key)
        copy.unlink()
