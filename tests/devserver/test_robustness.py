"""Bad requests are refused with a clear message and the server keeps serving; uploads
go to disk; pages; seed data."""
import json
import os
import socket
import threading
import time

import pytest

from conftest import hex_utf8, pattern, start_server


def assert_alive(server):
    assert server.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"


@pytest.mark.parametrize("body,code,words", [
    ("XRQ_COMMAND=NOPE&XRQ_USER=%36%31", "91", "Unknown command"),
    ("XRQ_USER=%36%31", "90", "XRQ_COMMAND"),
    ("XRQ_COMMAND=GETNEWMSGCOUNT", "90", "XRQ_USER"),
    ("XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=%7a%7a", "90", "hex"),       # "zz"
    ("XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=%36", "90", "hex"),          # odd length
    ("XRQ_COMMAND=CHECKIN&XRQ_OBJECT=", "90", "headers"),
    ("", "90", "XRQ_COMMAND"),
    ("%%%&&==&", "90", "XRQ_COMMAND"),
])
def test_bad_form_requests_are_refused(server, body, code, words):
    reply = server.raw_form(body)
    assert reply.code == code
    assert words in reply.desc
    assert_alive(server)


def test_upload_variant_refusals(server):
    headers = {"XRQ_COMMAND": "GETNEWMSGCOUNT", "XRQ_USER": hex_utf8("alice")}
    reply = server.request("POST", "/adaptor", body=b"xyz", headers=headers)
    assert reply.code == "90" and "form body" in reply.desc
    missing = server.checkin(b"abc")  # all fields empty: document "" does not exist
    assert missing.code == "10"
    headers = {"XRQ_COMMAND": "CHECKIN", "XRQ_OBJECT": "41"}
    reply = server.request("POST", "/adaptor", body=b"abc", headers=headers)
    assert reply.code == "90" and "XRQ_VERSION" in reply.desc
    assert not os.listdir(server.data / "tmp")
    assert_alive(server)


@pytest.mark.parametrize("method,path,status", [
    ("GET", "/adaptor", 405),
    ("PUT", "/adaptor", 405),
    ("POST", "/elsewhere", 405),
    ("GET", "/no-such-page.html", 404),
    ("GET", "/../../etc/passwd", 404),
    ("GET", "/%2e%2e/%2e%2e/etc/passwd", 404),
])
def test_wrong_method_or_path(server, method, path, status):
    reply = server.request(method, path)
    assert reply.status == status
    if path == "/adaptor":
        assert reply.code == "92" and reply.desc
    assert_alive(server)


def raw_exchange(server, data):
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
        s.sendall(data)
        out = b""
        try:
            while chunk := s.recv(65536):
                out += chunk
        except ConnectionResetError:
            pass
    return out


def test_oversized_headers_and_garbage_are_answered(server):
    big = b"POST /adaptor HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 100000 + b"\r\n\r\n"
    answer = raw_exchange(server, big)
    assert answer.startswith(b"HTTP/1.1 431")
    assert b"XRS_RTNCODE: 93" in answer
    answer = raw_exchange(server, b"\x00\x01 not http at all\r\n\r\n")
    assert b"XRS_RTNCODE: 90" in answer
    assert raw_exchange(server, b"POST /adaptor HTTP/1.1\r\nHost: x\r\nContent-Length: 9999999999\r\n\r\n") \
        .startswith(b"HTTP/1.1 413")
    assert_alive(server)


def test_upload_is_streamed_to_disk(server, tmp_path):
    size = 64 * 1024 * 1024
    src = tmp_path / "big.bin"
    with open(src, "wb") as f:
        for _ in range(64):
            f.write(os.urandom(1024 * 1024))
    oid = server.new_document()
    assert server.checkout(oid).code == "00"
    before = server.rss_kib()
    peak = [before]
    done = threading.Event()

    def watch():
        while not done.is_set():
            peak[0] = max(peak[0], server.rss_kib())
            done.wait(0.01)

    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        with open(src, "rb") as f:
            reply = server.checkin(f, XRQ_OBJECT=oid, XRQ_VERSION="1.0", XRQ_NEWVERSION="1.1", XRQ_USER="alice")
    finally:
        done.set()
        watcher.join()
    assert reply.code == "00", reply.desc
    assert (peak[0] - before) * 1024 < size / 4, (before, peak[0])
    doc = server.document(oid)
    assert doc["versions"][-1]["size"] == size
    got = server.form("DOWNLOAD", XRQ_OBJECT=oid, XRQ_PAGE="P1", XRQ_USER="alice").body
    assert got == src.read_bytes()


def test_serves_several_connections_at_once(server):
    oid = server.new_document(versions=[{"version": "1.0", "size": 300000}])
    server.admin("POST", "faults", {"command": "GETNEWMSGCOUNT", "mode": "delay", "delay_ms": 3000, "times": 1})
    slow = threading.Thread(target=lambda: server.form("GETNEWMSGCOUNT", XRQ_USER="alice"))
    slow.start()
    results = []
    workers = [threading.Thread(target=lambda: results.append(
        server.form("DOWNLOAD", XRQ_OBJECT=oid, XRQ_PAGE="P1", XRQ_USER="bob").body)) for _ in range(6)]
    for w in workers:
        w.start()
    for w in workers:
        w.join(timeout=2.5)
    assert len(results) == 6 and all(r == pattern(300000) for r in results)
    slow.join()


def test_unfinished_uploads_of_an_earlier_run_are_swept_at_start(tmp_path):
    data = tmp_path / "swept"
    (data / "tmp").mkdir(parents=True)
    (data / "tmp" / "up123-456-1").write_bytes(b"x" * 1000)
    (data / "tmp" / "keep.txt").write_text("not ours")
    srv = start_server(data)
    try:
        assert sorted(os.listdir(data / "tmp")) == ["keep.txt"]
    finally:
        srv.proc.terminate()
        srv.proc.wait()


def test_idle_connections_are_closed_and_busy_ones_are_not(tmp_path):
    srv = start_server(tmp_path / "idle", extra=("--idle-timeout", "700"))
    try:
        body = "XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=" + "".join("%%%02x" % ord(c) for c in hex_utf8("alice"))
        request = ("POST /adaptor HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                   "Content-Length: %d\r\n\r\n%s" % (len(body), body)).encode()
        silent = socket.create_connection(("127.0.0.1", srv.port))
        kept = socket.create_connection(("127.0.0.1", srv.port))
        busy = socket.create_connection(("127.0.0.1", srv.port))
        for s in (silent, kept, busy):
            s.settimeout(10)
        kept.sendall(request)
        assert b"XRS_RTNCODE: 00" in kept.recv(65536)
        # A peer that keeps asking within the limit is served past it.
        for _ in range(4):
            busy.sendall(request)
            assert b"XRS_RTNCODE: 00" in busy.recv(65536)
            time.sleep(0.3)
        # The other two have been idle for over a second by now.
        assert silent.recv(1) == b""
        assert kept.recv(1) == b""
        for s in (silent, kept, busy):
            s.close()
        assert srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"
    finally:
        srv.proc.terminate()
        srv.proc.wait()


def test_notice_page_lists_marks_read_and_carries_size_and_close_marker(server):
    user = "noticed"
    server.admin("POST", "notices", {"user": user, "title": "<점검> & 안내", "body": "본문"})
    page = server.request("GET", "/notice?XRQ_USER=%s&XRQ_LANG=1042" % user)
    html = page.body.decode()
    assert page.status == 200
    assert 'style="width:600px;height:400px"' in html
    assert "&lt;점검&gt; &amp; 안내" in html and 'class="unread"' in html
    close = html.split('id="close" href="', 1)[1].split('"', 1)[0]
    assert close.upper().find("ZELTO_ACTION") > 0
    again = server.request("GET", "/notice?XRQ_USER=%s&XRQ_LANG=1033" % user).body.decode()
    assert 'class="unread"' not in again and 'class="read"' in again
    assert server.request("GET", close).status == 200


def test_static_files_from_the_web_folder(server, web_dir):
    assert server.request("GET", "/").body == (web_dir / "index.html").read_bytes()
    js = server.request("GET", "/client.js")
    assert js.body == b"// client" and "javascript" in js.headers["Content-Type"]


def test_admin_answers_loopback_only(tmp_path):
    addresses = set()
    for family, _, _, _, sockaddr in socket.getaddrinfo(socket.gethostname(), None, socket.AF_INET):
        if not sockaddr[0].startswith("127."):
            addresses.add(sockaddr[0])
    if not addresses:
        pytest.skip("this machine has no address other than loopback")
    srv = start_server(tmp_path / "open", host="0.0.0.0")
    try:
        srv.address = sorted(addresses)[0]
        assert srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"
        reply = srv.request("POST", "/_admin/faults", body=b'{"command":"DOWNLOAD"}')
        assert reply.status == 403
        srv.address = "127.0.0.1"
        assert srv.admin("GET", "faults") == (200, {"count": 0})
    finally:
        srv.proc.terminate()
        srv.proc.wait()


def test_seed_data(tmp_path):
    srv = start_server(tmp_path / "seeded")
    try:
        docs = {oid: srv.document(oid) for oid in ["DEMO-1", "DEMO-2", "DEMO-3", "DEMO-4", "DEMO-5"]}
        d1 = docs["DEMO-1"]
        assert (d1["name"], d1["page"], d1["current"], d1["creator"]) == ("Report.docx", "P1", "1.0", "alice")
        assert docs["DEMO-2"]["immutable"]
        assert len(docs["DEMO-3"]["versions"]) == 2 and docs["DEMO-3"]["current"] == "1.1"
        assert any("\uac00" <= ch <= "\ud7a3" for ch in docs["DEMO-4"]["name"])
        # The two documents the machine has editors for hold what those editors read.
        minutes = srv.form("DOWNLOAD", XRQ_OBJECT="DEMO-4", XRQ_PAGE="P1", XRQ_USER="alice").body
        assert minutes.startswith(b"\xef\xbb\xbf") and "참석자" in minutes.decode("utf-8-sig")
        notes = srv.form("DOWNLOAD", XRQ_OBJECT="DEMO-5", XRQ_PAGE="P1", XRQ_USER="alice").body
        assert docs["DEMO-5"]["name"].endswith(".rtf") and notes.startswith(b"{\\rtf1") and notes.rstrip().endswith(b"}")
        assert srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").desc == "2"
        update = srv.form("CHECKUPDATE", XRQ_TARGET="EDMS_AGENT", XRQ_INSTVER="1.0.0", XRQ_USER="alice")
        assert int(bytes.fromhex(update.filesize).decode()) > 0
        assert srv.checkout("DEMO-3", "bob", "1.0").code == "00"
    finally:
        srv.proc.terminate()
        srv.proc.wait()
    # a second start with --seed leaves the data as it was
    again = start_server(tmp_path / "seeded")
    try:
        assert again.document("DEMO-3")["checkout"] == {"user": "bob", "version": "1.0"}
    finally:
        again.proc.terminate()
        again.proc.wait()


def test_page_document_list_follows_the_adaptor(tmp_path):
    """The demo page's read-only list: every document, its versions with notes and authors'
    names, and who holds it; what the adaptor changes shows at the next read."""
    srv = start_server(tmp_path / "listed")
    try:
        def listed():
            reply = srv.request("GET", "/api/documents")
            assert reply.status == 200 and reply.headers["Content-Type"].startswith("application/json")
            return {d["object"]: d for d in json.loads(reply.body)["documents"]}

        before = listed()
        assert sorted(before) == ["DEMO-1", "DEMO-2", "DEMO-3", "DEMO-4", "DEMO-5"]
        budget = before["DEMO-3"]
        assert (budget["name"], budget["page"], budget["current"], budget["checkout"]) == ("Budget.xlsx", "P1", "1.1", None)
        assert [(v["version"], v["note"], v["author_name"]) for v in budget["versions"]] == [
            ("1.0", "First draft", "Alice"), ("1.1", "Figures corrected", "Bob")]
        assert srv.checkout("DEMO-4", "bob").code == "00"
        assert listed()["DEMO-4"]["checkout"] == {"user": "bob", "user_name": "Bob", "version": "1.0"}
        reply = srv.checkin(b"minutes, revised", XRQ_OBJECT="DEMO-4", XRQ_VERSION="1.0", XRQ_NEWVERSION="1.1",
                            XRQ_USER="bob", XRQ_VNOTE="결정 사항 추가")
        assert reply.code == "00", reply.desc
        after = listed()["DEMO-4"]
        assert (after["current"], after["checkout"]) == ("1.1", None)
        assert after["versions"][-1] == {"version": "1.1", "note": "결정 사항 추가", "author": "bob",
                                         "author_name": "Bob", "size": len(b"minutes, revised")}
        assert srv.request("POST", "/api/documents", body=b"{}").status == 405
    finally:
        srv.proc.terminate()
        srv.proc.wait()
