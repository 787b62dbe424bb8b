"""devserver over https: commands, downloads, uploads, pages, faults and the admin API (which
each case uses to set itself up) as over http, and clients that fail the handshake or find the
server full leave it serving."""
import http.client
import socket
import ssl
import time

import pytest

from conftest import pattern, start_server
from tls_ca import make_test_ca, missing_reason

pytestmark = pytest.mark.skipif(missing_reason() is not None, reason=str(missing_reason()))

# Over one block of the encrypted file sending, and not a whole number of them.
BIG = 600 * 1024 + 7


@pytest.fixture(scope="module")
def ca(tmp_path_factory):
    return make_test_ca(tmp_path_factory.mktemp("ca"))


@pytest.fixture(scope="module")
def tls_server(ca, tmp_path_factory, web_dir):
    srv = start_server(tmp_path_factory.mktemp("tls-data"), web=web_dir, tls=ca, extra=("--request-timeout", "500"))
    yield srv
    srv.proc.terminate()
    srv.proc.wait(timeout=10)


def form(srv):
    assert srv.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"


def download(srv):
    oid = srv.new_document(versions=[{"version": "1.0", "size": BIG}])
    reply = srv.checkout(oid)
    assert (reply.code, reply.filesize, reply.body == pattern(BIG)) == ("00", str(BIG), True)


def checkin(srv):
    oid = srv.new_document()
    assert srv.checkout(oid).code == "00"
    content = bytes(range(256)) * (BIG // 256)
    reply = srv.checkin(content, XRQ_OBJECT=oid, XRQ_VERSION="1.0", XRQ_NEWVERSION="1.1", XRQ_USER="alice")
    assert reply.code == "00", reply.desc
    assert srv.admin("GET", "last?command=CHECKIN")[1]["body_size"] == len(content)
    assert srv.document(oid)["current"] == "1.1"


def held_download(srv):
    """The hold fault sends a first piece, waits, then the rest from where the piece ended."""
    oid = srv.new_document(versions=[{"version": "1.0", "size": BIG}])
    assert srv.admin("POST", "faults", {"command": "CHECKOUT", "object": oid, "mode": "hold", "bytes": 300000,
                                        "delay_ms": 1000, "times": 1})[0] == 200
    assert srv.checkout(oid).body == pattern(BIG)


def static_page(srv):
    assert srv.request("GET", "/index.html").body == b"<!DOCTYPE html><title>demo</title>"


@pytest.mark.parametrize("exchange", [form, download, checkin, held_download, static_page],
                         ids=lambda f: f.__name__)
def test_requests_over_https(tls_server, exchange):
    assert tls_server.url.startswith("https://127.0.0.1:")
    exchange(tls_server)


def threads(srv):
    with open("/proc/%d/status" % srv.proc.pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("Threads:"))


def untrusting_client(srv):
    conn = http.client.HTTPSConnection("127.0.0.1", srv.port, timeout=10, context=ssl.create_default_context())
    with pytest.raises(ssl.SSLCertVerificationError):
        conn.request("GET", "/index.html")
    conn.close()


def silent_mid_handshake(srv):
    with socket.create_connection(("127.0.0.1", srv.port), timeout=10) as s:
        s.sendall(b"\x16\x03\x01\x02\x00")  # a TLS record header, then nothing
        assert s.recv(100) == b""  # dropped after the request time-out


@pytest.mark.parametrize("client", [untrusting_client, silent_mid_handshake], ids=lambda f: f.__name__)
def test_a_failed_handshake_leaves_the_server_serving_without_a_thread_left(tls_server, client):
    for _ in range(3):
        client(tls_server)
    assert tls_server.form("GETNEWMSGCOUNT", XRQ_USER="alice").code == "00"
    deadline = time.monotonic() + 10
    while threads(tls_server) > 1 and time.monotonic() < deadline:
        time.sleep(0.05)
    assert threads(tls_server) == 1


def test_connections_over_the_cap_are_told_so_over_tls(ca, tmp_path):
    srv = start_server(tmp_path / "cap", tls=ca, extra=("--max-connections", "1"))
    try:
        with socket.create_connection(("127.0.0.1", srv.port), timeout=10):
            turned_away = srv.request("GET", "/index.html")
            assert turned_away.status == 503 and b"connections" in turned_away.body
        for _ in range(100):
            if srv.request("GET", "/index.html").status == 200:
                break
        else:
            pytest.fail("the server did not serve again after the held connection closed")
    finally:
        srv.proc.terminate()
        srv.proc.wait()
