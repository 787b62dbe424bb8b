"""What devserver refuses so that a browser page, a slow peer or a careless test cannot misuse
it: admin calls from anywhere but this machine's own tools, bad admin fields, too many
connections, silent peers and oversized uploads. Each refusal leaves the server serving."""
import http.client
import json
import os
import shutil
import socket
import subprocess
import tempfile

import pytest

from conftest import DEVSERVER, hex_utf8, start_server
from tls_ca import make_test_ca, missing_reason


def raw_admin(server, method, path, headers, body=b""):
    """An admin call with exactly these headers (no Host added)."""
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    try:
        conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for name, value in headers.items():
            conn.putheader(name, value)
        conn.putheader("Content-Length", str(len(body)))
        conn.endheaders(body)
        resp = conn.getresponse()
        return resp.status, json.loads(resp.read() or b"null")
    finally:
        conn.close()


FAULT = json.dumps({"command": "DOWNLOAD", "mode": "refuse"}).encode()


@pytest.mark.parametrize("headers,status", [
    ({"Host": "evil.example:{port}", "Content-Type": "application/json"}, 403),   # DNS rebinding
    ({"Host": "127.0.0.1:1", "Content-Type": "application/json"}, 403),            # not this server
    ({"Content-Type": "application/json"}, 403),                                   # no Host at all
    ({"Host": "127.0.0.1:{port}", "Origin": "http://evil.example", "Content-Type": "application/json"}, 403),
    ({"Host": "127.0.0.1:{port}", "Origin": "null", "Content-Type": "application/json"}, 403),
    ({"Host": "127.0.0.1:{port}", "Content-Type": "text/plain"}, 415),             # a form can send this
    ({"Host": "127.0.0.1:{port}"}, 415),
    ({"Host": "localhost:{port}", "Origin": "http://127.0.0.1:{port}",
      "Content-Type": "application/json; charset=utf-8"}, 200),
], ids=["foreign-host", "other-port", "no-host", "foreign-origin", "null-origin", "text-body", "untyped-body",
        "loopback-page"])
def test_admin_calls_need_a_loopback_host_and_origin_and_a_json_body(server, headers, status):
    headers = {k: v.format(port=server.port) for k, v in headers.items()}
    got, answer = raw_admin(server, "POST", "/_admin/faults", headers, FAULT)
    assert got == status, answer
    assert server.admin("GET", "faults") == (200, {"count": 1 if status == 200 else 0})
    if status != 200:
        assert answer["error"]


@pytest.mark.parametrize("path,payload,words", [
    ("faults", {"command": "DOWNLOAD", "code": "0\r\nX-Evil: 1"}, "code"),
    ("faults", {"command": "DOWNLOAD", "code": "7;7"}, "letters and digits"),
    ("faults", {"command": "DOWNLOAD", "code": "123456789"}, "code"),
    ("faults", {"command": "DOWNLOAD", "delay_ms": 10 ** 9}, "delay_ms"),
    ("faults", {"command": "DOWNLOAD", "times": -1}, "times"),
    ("faults", {"command": "DOWNLOAD", "mode": "big_headers", "bytes": 2 ** 30}, "bytes"),
    ("faults", {"command": "NOPE"}, "command"),
    ("faults", {"mode": "refuse"}, "command"),
    ("faults", {"command": "CHECKOUT", "mode": "explode"}, "mode"),
    ("documents", {"object": "X-1", "name": "a.txt", "versions": [{"version": "1.0", "size": 2 ** 40}]}, "size"),
    ("documents", {"object": "X-2", "name": ""}, "name"),
    ("documents", {"object": "X-3", "name": "a\x00.txt"}, "control"),
    ("documents", {"object": "X-4", "name": "a.txt", "versions": []}, "versions"),
    ("updates", {"target": "T", "version": "1", "size": -5}, "size"),
    ("users", {"id": "u" * 65}, "id"),
    ("faults", ["not", "an", "object"], "object"),
])
def test_bad_admin_fields_get_400_and_change_nothing(server, path, payload, words):
    status, answer = server.admin("POST", path, payload)
    assert status == 400 and words in answer["error"], answer
    assert server.admin("GET", "faults") == (200, {"count": 0})
    for oid in ("X-1", "X-2", "X-3", "X-4"):
        assert server.admin("GET", "document?object=" + oid)[0] == 404


def read_all(sock):
    out = b""
    try:
        while chunk := sock.recv(65536):
            out += chunk
    except ConnectionResetError:
        pass
    return out


def test_connections_over_the_cap_are_turned_away(tmp_path):
    srv = start_server(tmp_path / "cap", extra=("--max-connections", "2"))
    try:
        held = [socket.create_connection(("127.0.0.1", srv.port), timeout=10) for _ in range(2)]
        with socket.create_connection(("127.0.0.1", srv.port), timeout=10) as third:
            answer = read_all(third)
        assert answer.startswith(b"HTTP/1.1 503") and b"connections" in answer, answer
        for s in held:
            s.close()
        # Once the two have gone, requests are served again (the server notices within moments).
        for _ in range(100):
            try:
                if srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00":
                    break
            except (http.client.HTTPException, ConnectionError):
                pass
        else:
            pytest.fail("the server did not serve again after the held connections closed")
    finally:
        srv.proc.terminate()
        srv.proc.wait()


@pytest.mark.parametrize("request_head,body", [
    (b"POST /adaptor HTTP/1.1\r\nHost: x\r\nContent-Le", b""),
    (b"POST /adaptor HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n", b"XRQ_COMMAND=GET"),
    (b"POST /adaptor HTTP/1.1\r\nHost: x\r\nXRQ_COMMAND: CHECKIN\r\nContent-Length: 100000\r\n\r\n", b"x" * 5000),
], ids=["headers", "form-body", "upload-body"])
def test_a_peer_that_stops_mid_request_is_dropped(tmp_path, request_head, body):
    srv = start_server(tmp_path / "silent", extra=("--request-timeout", "300"))
    try:
        with socket.create_connection(("127.0.0.1", srv.port), timeout=15) as s:
            s.sendall(request_head + body)
            assert read_all(s) == b""  # closed without a reply (a socket time-out fails the test)
        assert list((tmp_path / "silent" / "tmp").iterdir()) == []
        assert srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"
    finally:
        srv.proc.terminate()
        srv.proc.wait()


def chunks(size, piece=4096):
    for start in range(0, size, piece):
        yield b"u" * min(piece, size - start)


@pytest.mark.parametrize("size,chunked,code", [
    (4096, False, "00"),
    (4097, False, "94"),
    (4097, True, "94"),
], ids=["at-the-limit", "over-by-length", "over-by-chunks"])
def test_upload_bodies_are_bounded(tmp_path, size, chunked, code):
    srv = start_server(tmp_path / "bounded", extra=("--max-upload", "4096"))
    try:
        oid = srv.new_document()
        assert srv.checkout(oid).code == "00"
        headers = {"XRQ_COMMAND": "CHECKIN", "Content-Type": "application/octet-stream"}
        for name, value in (("XRQ_OBJECT", oid), ("XRQ_VERSION", "1.0"), ("XRQ_NEWVERSION", "1.1"),
                            ("XRQ_USER", "alice"), ("XRQ_PASS", ""), ("XRQ_SHARENAME", ""), ("XRQ_VNOTE", "")):
            headers[name] = hex_utf8(value)
        conn = srv.connect()
        try:
            if chunked:
                conn.request("POST", "/adaptor", body=chunks(size), headers=headers, encode_chunked=True)
            else:
                conn.request("POST", "/adaptor", body=b"u" * size, headers=headers)
            resp = conn.getresponse()
            resp.read()
        except ConnectionResetError:  # refused before the whole body was sent
            resp = None
        finally:
            conn.close()
        if code == "94" and resp is not None:
            assert (resp.status, resp.getheader("XRS_RTNCODE")) == (413, "94")
        elif code == "00":
            assert resp.getheader("XRS_RTNCODE") == "00"
        assert srv.document(oid)["current"] == ("1.1" if code == "00" else "1.0")
        assert list((tmp_path / "bounded" / "tmp").iterdir()) == []
    finally:
        srv.proc.terminate()
        srv.proc.wait()


@pytest.mark.parametrize("tls", [False, True], ids=["http", "https"])
def test_a_thread_that_cannot_start_turns_one_connection_away_not_the_server(tmp_path, tls):
    """Run as an unprivileged user allowed two threads: the main one and one connection's."""
    if os.geteuid() != 0 or not (shutil.which("setpriv") and shutil.which("prlimit")):
        pytest.skip("needs root, setpriv and prlimit to run devserver as a user with a thread limit")
    if tls and missing_reason():
        pytest.skip(missing_reason())
    # The clone may sit under a folder that user cannot enter (a home folder of mode 0700):
    # it runs a copy of devserver from a folder of its own that anyone may enter and read.
    unprivileged = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    place = tempfile.mkdtemp(prefix="devserver-nproc-")
    try:
        os.chmod(place, 0o755)
        binary = os.path.join(place, "devserver")
        shutil.copy(DEVSERVER, binary)
        os.chmod(binary, 0o755)
        web = os.path.join(place, "web")
        os.mkdir(web, 0o755)
        data = os.path.join(place, "data")
        os.mkdir(data)
        os.chmod(data, 0o777)
        ca = None
        if tls:
            ca = make_test_ca(os.path.join(place, "ca"))
            for name in os.listdir(ca):
                os.chmod(ca / name, 0o644)
            os.chmod(ca, 0o755)
        # Through prlimit, as the test runs it: setpriv itself may exec what that user cannot reach.
        reach = subprocess.run([*unprivileged, "prlimit", binary, "--help"], capture_output=True, text=True)
        if "usage: devserver" not in reach.stdout + reach.stderr:
            pytest.skip("user 65534 cannot run a copy of devserver from %s: %s"
                        % (place, (reach.stderr or reach.stdout).strip()))
        srv = start_server(data, web=web, binary=binary, wrap=[*unprivileged, "prlimit", "--nproc=2"], tls=ca)
        try:
            held = [socket.create_connection(("127.0.0.1", srv.port), timeout=10) for _ in range(2)]
            turned_away = srv.request("GET", "/api/documents")
            assert turned_away.status == 503 and b"cannot take" in turned_away.body
            for s in held:
                s.close()
            for _ in range(100):
                if srv.request("GET", "/api/documents").status == 200:
                    break
            else:
                pytest.fail("the server did not serve again")
        finally:
            srv.proc.terminate()
            srv.proc.wait()
    finally:
        shutil.rmtree(place, ignore_errors=True)
