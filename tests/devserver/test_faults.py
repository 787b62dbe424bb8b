"""Every fault-injection mode does what it says, and only to what it matches."""
import http.client
import socket
import time

import pytest

from conftest import pattern


def download(server, oid):
    return server.form("DOWNLOAD", XRQ_OBJECT=oid, XRQ_PAGE="P1", XRQ_USER="alice")


def test_refuse_replies_with_the_given_code_and_message_and_skips_the_command(server):
    oid = server.new_document()
    server.admin("POST", "faults", {"command": "CHECKOUT", "object": oid, "mode": "refuse",
                                    "code": "77", "message": "잠김: 점검 중"})
    reply = server.checkout(oid)
    assert (reply.code, reply.desc, reply.body) == ("77", "잠김: 점검 중", b"")
    assert server.document(oid)["checkout"] is None
    # another object is not matched
    other = server.new_document()
    assert server.checkout(other).code == "00"
    # with bytes, any answer: an update offer the store would never make
    server.admin("POST", "faults", {"command": "CHECKUPDATE", "mode": "refuse", "code": "00", "message": "0.1",
                                    "bytes": 123})
    reply = server.form("CHECKUPDATE", XRQ_TARGET="EDMS_AGENT", XRQ_INSTVER="9.0", XRQ_USER="alice")
    assert (reply.code, reply.desc, bytes.fromhex(reply.filesize)) == ("00", "0.1", b"123")


def test_times_limits_how_often_a_fault_applies(server):
    server.admin("POST", "faults", {"command": "GETNEWMSGCOUNT", "mode": "refuse", "code": "01", "times": 2})
    codes = [server.form("GETNEWMSGCOUNT", XRQ_USER="x").code for _ in range(3)]
    assert codes == ["01", "01", "00"]


def test_short_body_announces_more_than_it_sends(server):
    oid = server.new_document(versions=[{"version": "1.0", "size": 10000}])
    server.admin("POST", "faults", {"command": "DOWNLOAD", "mode": "short", "bytes": 1234})
    reply = download(server, oid)
    assert reply.code == "00"
    assert reply.filesize == "10000"
    assert reply.body == pattern(1234)


def test_close_cuts_the_connection_part_way_through_the_body(server):
    oid = server.new_document(versions=[{"version": "1.0", "size": 200000}])
    server.admin("POST", "faults", {"command": "CHECKOUT", "object": oid, "mode": "close"})
    conn = server.connect()
    body = "XRQ_COMMAND=CHECKOUT&XRQ_OBJECT=%s&XRQ_PAGE=%s&XRQ_VERSION=%s&XRQ_USER=%s&XRQ_PASS=" % tuple(
        "".join("%%%02x" % ord(c) for c in v.encode().hex()) for v in (oid, "P1", "1.0", "alice"))
    conn.request("POST", "/adaptor", body=body, headers={"Content-Type": "application/x-www-form-urlencoded"})
    resp = conn.getresponse()
    assert resp.getheader("XRS_FILESIZE") == "200000"
    assert resp.getheader("Content-Length") == "200000"
    with pytest.raises(http.client.IncompleteRead) as err:
        resp.read()
    assert err.value.partial == pattern(100000)
    conn.close()


def test_close_without_a_file_drops_the_connection_before_any_reply(server):
    server.admin("POST", "faults", {"command": "GETCHECKOUTLIST", "mode": "close", "times": 1})
    with pytest.raises((http.client.RemoteDisconnected, ConnectionResetError)):
        server.form("GETCHECKOUTLIST", XRQ_USER="alice")
    assert server.form("GETCHECKOUTLIST", XRQ_USER="alice").code == "00"


def test_delay_holds_the_reply(server):
    server.admin("POST", "faults", {"command": "GETNEWMSGCOUNT", "mode": "delay", "delay_ms": 700, "times": 1})
    start = time.monotonic()
    reply = server.form("GETNEWMSGCOUNT", XRQ_USER="alice")
    elapsed = time.monotonic() - start
    assert reply.code == "00"
    assert elapsed >= 0.65
    start = time.monotonic()
    server.form("GETNEWMSGCOUNT", XRQ_USER="alice")
    assert time.monotonic() - start < 0.5


def start_download(server, oid):
    conn = server.connect()
    body = "XRQ_COMMAND=DOWNLOAD&XRQ_OBJECT=%s&XRQ_PAGE=%s&XRQ_USER=%s&XRQ_PASS=" % tuple(
        "".join("%%%02x" % ord(c) for c in v.encode().hex()) for v in (oid, "P1", "alice"))
    conn.request("POST", "/adaptor", body=body, headers={"Content-Type": "application/x-www-form-urlencoded"})
    return conn, conn.getresponse()


@pytest.mark.parametrize("release", [("POST", "release"), ("DELETE", "faults")])
def test_hold_trickles_the_body_until_released(server, release):
    oid = server.new_document(versions=[{"version": "1.0", "size": 5000}])
    server.admin("POST", "faults", {"command": "DOWNLOAD", "object": oid, "mode": "hold", "delay_ms": 60000,
                                    "bytes": 1000})
    conn, resp = start_download(server, oid)
    assert resp.getheader("XRS_FILESIZE") == "5000"
    # Pieces keep coming while held, so a client's receive time-out does not fire.
    assert resp.read(2000) == pattern(2000)
    server.admin(*release)
    start = time.monotonic()
    assert resp.read() == pattern(5000)[2000:]
    assert time.monotonic() - start < 3
    conn.close()
    server.admin("DELETE", "faults")


def test_hold_ends_by_itself_after_its_time(server):
    oid = server.new_document(versions=[{"version": "1.0", "size": 100}])
    server.admin("POST", "faults", {"command": "DOWNLOAD", "object": oid, "mode": "hold", "delay_ms": 1500})
    start = time.monotonic()
    conn, resp = start_download(server, oid)
    assert resp.read() == pattern(100)
    assert 1.4 < time.monotonic() - start < 10
    conn.close()


def test_big_headers_put_padding_before_the_reply_fields(server):
    server.admin("POST", "faults", {"command": "GETNEWMSGCOUNT", "mode": "big_headers", "bytes": 5000})
    with socket.create_connection(("127.0.0.1", server.port)) as s:
        body = "XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=" + "".join("%%%02x" % ord(c) for c in "alice".encode().hex())
        s.sendall(("POST /adaptor HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s"
                   % (len(body), body)).encode())
        raw = b""
        while chunk := s.recv(65536):
            raw += chunk
    head = raw.split(b"\r\n\r\n", 1)[0].decode()
    assert len(head) > 5000
    assert head.index("XRS_PADDING") < head.index("XRS_RTNCODE")
    assert head.index("XRS_RTNCODE") > 4096  # past the largest header buffer a client uses


def test_last_request_shows_what_was_received(server):
    oid = server.new_document()
    server.checkout(oid, "bob", "1.0")
    status, last = server.admin("GET", "last?command=CHECKOUT")
    assert status == 200
    assert last["fields"] == {"XRQ_OBJECT": oid, "XRQ_PAGE": "P1", "XRQ_VERSION": "1.0",
                              "XRQ_USER": "bob", "XRQ_PASS": "KVMRT"}
    assert last["raw"]["XRQ_USER"] == "626f62"
