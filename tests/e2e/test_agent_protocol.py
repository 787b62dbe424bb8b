"""The agent's WebSocket command service, spoken to as the EDMS page does, with one agent
running under Wine for the whole module."""
import asyncio
import json
import shutil
import socket
import subprocess

import pytest

from conftest import AGENT_PORT, AGENT_URL, ROOT, session, open_session, reg_get, request, run, wait_until

pytestmark = pytest.mark.usefixtures("running_agent")


@pytest.mark.parametrize("user, login_arg2", [
    ("alice", ""),
    ("alice", "ignored text"),
    ("홍길동", ""),
    ("user with blanks", ""),
])
def test_login_welcomes_the_key_with_empty_arg2(user, login_arg2):
    async def go():
        import websockets
        async with websockets.connect(AGENT_URL, open_timeout=10) as ws:
            await ws.send(json.dumps({"arg1": user, "arg2": login_arg2}))
            return json.loads(await asyncio.wait_for(ws.recv(), 10))

    assert run(go()) == {"arg1": f"Welcome {user}", "arg2": ""}


def test_check_user_without_an_edms_drive_is_success():
    async def go():
        async with session("alice") as (ws, _):
            return [await request(ws, "CHECK_USER", arg2) for arg2 in ("", "anything")]

    assert run(go()) == [{"arg1": "CHECK_USER", "arg2": "SUCCESS"}] * 2


def test_names_that_are_not_commands_get_no_reply():
    async def go():
        async with session("alice") as (ws, _):
            silent = {}
            for name in ("check_user", "Check_User", "CHECK_USER ", " CHECK_USER", "", "NO_SUCH_COMMAND",
                         "ADD_TO_DOWNLOAD", "CLEAR_DOWNLOAD"):
                silent[name] = await request(ws, name, "", wait=1.0)
            # The connection still works, and its next reply is the real command's.
            return silent, await request(ws, "CHECK_USER")

    silent, after = run(go())
    assert silent == {name: None for name in silent}
    assert after == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}


@pytest.mark.parametrize("user", ["bob", "홍길동", "alice"])
def test_any_command_saves_the_connection_user_as_edm_user_id(user):
    async def go():
        async with session(user) as (ws, _):
            # A command the agent ignores still counts.
            await ws.send(json.dumps({"arg1": "no_such_command", "arg2": ""}))
            await request(ws, "CHECK_USER")  # a reply proves the earlier message was handled

    run(go())
    assert wait_until(lambda: reg_get("EdmUserId") == user, 15), reg_get("EdmUserId")


def test_login_alone_does_not_change_edm_user_id():
    async def go(user, command):
        async with session(user) as (ws, _):
            if command:
                await request(ws, "CHECK_USER")

    run(go("alice", True))
    assert wait_until(lambda: reg_get("EdmUserId") == "alice", 15)
    run(go("carol", False))
    assert reg_get("EdmUserId") == "alice"


def handshake_status(host, origin=None, path="/"):
    """The HTTP status line of a raw opening handshake with the given headers."""
    lines = [f"GET {path} HTTP/1.1", f"Host: {host}", "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==", "Sec-WebSocket-Version: 13"]
    if origin is not None:
        lines.append(f"Origin: {origin}")
    with socket.create_connection(("127.0.0.1", AGENT_PORT), timeout=10) as s:
        s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
        data = b""
        while b"\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    return data.split(b"\r\n", 1)[0].decode("latin-1")


def test_handshake_checks_host_and_origin(devserver):
    here = f"127.0.0.1:{AGENT_PORT}"
    cases = [
        # (Host, Origin, expected status code)
        (here, None, "101"),
        (f"localhost:{AGENT_PORT}", None, "101"),
        (here, devserver, "101"),                      # the EDMS page's own origin
        (here, "http://evil.example", "403"),
        (here, "null", "403"),
        (here, devserver.replace("127.0.0.1", "127.0.0.1.evil.example"), "403"),
        (f"evil.example:{AGENT_PORT}", None, "403"),    # DNS rebinding
        (f"192.168.1.10:{AGENT_PORT}", None, "403"),    # not a loopback name
        (f"127.0.0.1:{AGENT_PORT + 1}", None, "403"),   # loopback, but not this port
        (f"evil.example:{AGENT_PORT}", devserver, "403"),
    ]
    got = [(host, origin, (handshake_status(host, origin).split(" ") + ["", ""])[1]) for host, origin, _ in cases]
    assert got == [(host, origin, code) for host, origin, code in cases]


def test_malformed_messages_leave_the_connection_and_agent_serving():
    async def go():
        async with session("alice") as (ws, _):
            for text in ("not json", "{", "[1,2]", "42", "null", '"CHECK_USER"',
                         '{"arg1": "CHECK_USER"}', '{"arg2": "x"}', '{"arg1": 5, "arg2": ""}',
                         '{"arg1": ["CHECK_USER"], "arg2": ""}', '{"arg1": "CHECK_USER", "arg2": null}'):
                await ws.send(text)
            await ws.send(b"\x00\x01binary")
            # Members beyond the two are ignored: this one is an ordinary CHECK_USER.
            await ws.send(json.dumps({"arg1": "CHECK_USER", "arg2": "", "extra": {"deep": [1, 2]}}))
            replies = []
            while True:
                try:
                    replies.append(json.loads(await asyncio.wait_for(ws.recv(), 3)))
                except asyncio.TimeoutError:
                    break
            return replies

    replies = run(go())
    # A half object (arg2 missing or null) may be read as CHECK_USER or dropped; nothing else
    # may answer, and the well-formed one must.
    assert replies[-1] == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}
    assert all(r == {"arg1": "CHECK_USER", "arg2": "SUCCESS"} for r in replies)
    assert len(replies) <= 3  # the two half objects and the well-formed one
    assert_agent_serves()


def test_garbage_before_login_does_not_log_in():
    async def go():
        import websockets
        async with websockets.connect(AGENT_URL, open_timeout=10) as ws:
            await ws.send("not json")
            await ws.send('{"arg2": "no arg1"}')
            await ws.send(json.dumps({"arg1": "alice", "arg2": ""}))
            return json.loads(await asyncio.wait_for(ws.recv(), 10))

    assert run(go()) == {"arg1": "Welcome alice", "arg2": ""}


def test_a_huge_message_closes_only_its_own_connection():
    async def go():
        import websockets
        bystander, _ = await open_session("bob")
        ws, _ = await open_session("alice")
        try:
            # Either the agent closes the connection or it ignores/answers the message.
            await ws.send(json.dumps({"arg1": "CHECK_USER", "arg2": "x" * (4 * 1024 * 1024)}))
            await asyncio.wait_for(ws.recv(), 10)
        except (websockets.ConnectionClosed, asyncio.TimeoutError):
            pass
        await ws.close()
        try:
            return await request(bystander, "CHECK_USER")
        finally:
            await bystander.close()

    assert run(go()) == {"arg1": "CHECK_USER", "arg2": "SUCCESS"}
    assert_agent_serves()


def test_a_flood_of_connections_is_capped_and_leaves_the_agent_serving():
    async def one(i):
        import websockets
        try:
            ws = await websockets.connect(AGENT_URL, open_timeout=15, close_timeout=2)
        except (OSError, asyncio.TimeoutError, websockets.InvalidHandshake, websockets.ConnectionClosed):
            return None
        try:
            await ws.send(json.dumps({"arg1": f"user{i}", "arg2": ""}))
            reply = json.loads(await asyncio.wait_for(ws.recv(), 15))
            return ws if reply["arg1"] == f"Welcome user{i}" else None
        except (asyncio.TimeoutError, websockets.ConnectionClosed):
            await ws.close()
            return None

    async def go():
        sessions = await asyncio.gather(*(one(i) for i in range(150)))
        held = [ws for ws in sessions if ws is not None]
        count = len(held)
        await asyncio.gather(*(ws.close() for ws in held), return_exceptions=True)
        return count

    logged_in = run(go(), timeout=120)
    assert 1 <= logged_in <= 100
    # Closed connections give their places back.
    assert wait_until(lambda: agent_serves(), 30)


def test_replies_to_connections_that_went_away_are_dropped():
    async def go():
        for _ in range(20):
            ws, _ = await open_session("alice")
            await ws.send(json.dumps({"arg1": "CHECK_USER", "arg2": ""}))
            ws.transport.abort()  # gone before the reply is written

    run(go())
    assert_agent_serves()


def agent_serves():
    async def go():
        async with session("alice") as (ws, welcome):
            return welcome, await request(ws, "CHECK_USER")

    try:
        return run(go(), timeout=30) == ({"arg1": "Welcome alice", "arg2": ""},
                                         {"arg1": "CHECK_USER", "arg2": "SUCCESS"})
    except Exception:
        return False


def assert_agent_serves():
    assert agent_serves(), "the agent no longer answers a fresh connection"


@pytest.mark.skipif(shutil.which("node") is None, reason="node is not installed")
def test_page_client_against_the_agent():
    done = subprocess.run(["node", "--experimental-websocket", "--test", str(ROOT / "web" / "test" / "agent-live.test.mjs")],
                          capture_output=True, timeout=120,
                          env={"PATH": "/usr/bin:/bin", "EDMS_AGENT_URL": AGENT_URL})
    out = done.stdout.decode("utf-8", "replace")
    assert done.returncode == 0, out + done.stderr.decode("utf-8", "replace")
    assert "# skipped 0" in out and "# fail 0" in out, out
