"""Starts a devserver on a free port with a temporary data folder and talks to it
over real HTTP or HTTPS (stdlib http.client and ssl only)."""
import http.client
import json
import os
import ssl
import subprocess
import sys
import uuid

import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "shared"))
from tls_ca import server_args  # noqa: E402
DEVSERVER = os.environ.get("DEVSERVER", os.path.join(REPO, "build", "native", "bin", "devserver"))

# Request fields of each form command, in the order the programs send them.
FORM_FIELDS = {
    "CHECKOUT": ["XRQ_OBJECT", "XRQ_PAGE", "XRQ_VERSION", "XRQ_USER", "XRQ_PASS"],
    "CHECKOUTCANCEL": ["XRQ_OBJECT", "XRQ_VERSION", "XRQ_USER", "XRQ_PASS"],
    "GETCHECKOUTLIST": ["XRQ_USER", "XRQ_SHARENAME"],
    "DOWNLOAD": ["XRQ_OBJECT", "XRQ_PAGE", "XRQ_USER", "XRQ_PASS"],
    "GETNEWMSGCOUNT": ["XRQ_USER"],
    "CHECKUPDATE": ["XRQ_TARGET", "XRQ_INSTVER", "XRQ_USER"],
    "DOWNLOADUPDATE": ["XRQ_TARGET", "XRQ_REQVER", "XRQ_USER"],
}
CHECKIN_FIELDS = ["XRQ_OBJECT", "XRQ_VERSION", "XRQ_NEWVERSION", "XRQ_USER", "XRQ_PASS",
                  "XRQ_SHARENAME", "XRQ_VNOTE"]


def hex_utf8(text):
    return text.encode("utf-8").hex()


def form_encode(text):
    return "".join("+" if c == " " else "%%%02x" % ord(c) for c in text)


def pattern(size):
    """The bytes the admin API writes for {"size": N}: byte i is i % 251."""
    period = bytes(range(251))
    return (period * (size // 251 + 1))[:size]


class Reply:
    def __init__(self, status, headers, body, raw_headers):
        self.status = status
        self.headers = headers
        self.body = body
        self.raw_headers = raw_headers

    @property
    def code(self):
        return self.headers.get("XRS_RTNCODE")

    @property
    def desc(self):
        return bytes.fromhex(self.headers.get("XRS_CODEDESC", "")).decode("utf-8")

    @property
    def filesize(self):
        return self.headers.get("XRS_FILESIZE")


class Server:
    def __init__(self, proc, port, data, url, tls_context=None):
        self.proc = proc
        self.port = port
        self.data = data
        self.url = url  # as its "listening on" line gives it
        self.tls_context = tls_context

    address = "127.0.0.1"

    def connect(self, timeout=30):
        if self.tls_context:
            return http.client.HTTPSConnection(self.address, self.port, timeout=timeout, context=self.tls_context)
        return http.client.HTTPConnection(self.address, self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None):
        conn = self.connect()
        try:
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            data = resp.read()
            return Reply(resp.status, dict(resp.getheaders()), data, str(resp.msg))
        finally:
            conn.close()

    def form(self, command, **values):
        """Sends a form command; every field is sent, missing ones as empty text."""
        body = "XRQ_COMMAND=" + command
        for name in FORM_FIELDS[command]:
            body += "&%s=%s" % (name, form_encode(hex_utf8(values.get(name, ""))))
        if command == "DOWNLOAD":
            body += "&XRQ_FORCE=TRUE"
        return self.raw_form(body)

    def raw_form(self, body):
        return self.request("POST", "/adaptor", body=body.encode("ascii"),
                            headers={"Content-Type": "application/x-www-form-urlencoded"})

    def checkin(self, content, **values):
        """content: bytes or an open binary file (streamed with its length)."""
        headers = {"Content-Type": "application/octet-stream", "XRQ_COMMAND": "CHECKIN"}
        for name in CHECKIN_FIELDS:
            headers[name] = hex_utf8(values.get(name, ""))
        if not isinstance(content, (bytes, bytearray)):
            headers["Content-Length"] = str(os.fstat(content.fileno()).st_size)
        return self.request("POST", "/adaptor", body=content, headers=headers)

    def admin(self, method, path, payload=None):
        body = json.dumps(payload).encode() if payload is not None else None
        reply = self.request(method, "/_admin/" + path, body=body,
                             headers={"Content-Type": "application/json"} if body else {})
        return reply.status, json.loads(reply.body or b"null")

    def new_document(self, creator="alice", name="Doc.txt", versions=None, **extra):
        object_id = "T-" + uuid.uuid4().hex[:10]
        payload = {"object": object_id, "page": "P1", "name": name, "creator": creator,
                   "versions": versions or [{"version": "1.0", "text": "first", "note": "n1"}]}
        payload.update(extra)
        status, answer = self.admin("POST", "documents", payload)
        assert status == 200, answer
        return object_id

    def document(self, object_id):
        status, answer = self.admin("GET", "document?object=" + object_id)
        assert status == 200, answer
        return answer

    def checkout(self, object_id, user="alice", version="1.0", page="P1"):
        return self.form("CHECKOUT", XRQ_OBJECT=object_id, XRQ_PAGE=page, XRQ_VERSION=version,
                         XRQ_USER=user, XRQ_PASS="KVMRT")

    def rss_kib(self, key="VmRSS"):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        raise AssertionError(key + " not found")


def start_server(data, seed=True, web=None, host=None, extra=(), wrap=(), binary=None, tls=None):
    """`wrap`: a command line that runs devserver (for example under other limits);
    `binary`: another copy of devserver to run; `tls`: a folder from tls_ca.make_test_ca, whose
    server certificate devserver serves https with and whose CA the server's requests trust."""
    args = [*wrap, binary or DEVSERVER, "--port", "0", "--data", str(data), *extra]
    context = None
    if tls:
        args += server_args(tls)
        context = ssl.create_default_context(cafile=os.path.join(tls, "ca.pem"))
    if host:
        args += ["--host", host]
    if seed:
        args.append("--seed")
    if web:
        args += ["--web", str(web)]
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:quarantine_size_mb=16")
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
    line = proc.stdout.readline()
    if "listening on" not in line:
        proc.kill()
        raise RuntimeError("devserver did not start: %r" % line)
    port = int(line.rsplit(":", 1)[1])
    return Server(proc, port, data, line.split()[-1], context)


@pytest.fixture(scope="session")
def web_dir(tmp_path_factory):
    web = tmp_path_factory.mktemp("web")
    (web / "index.html").write_text("<!DOCTYPE html><title>demo</title>")
    (web / "client.js").write_text("// client")
    return web


@pytest.fixture(scope="session")
def server(tmp_path_factory, web_dir):
    srv = start_server(tmp_path_factory.mktemp("data"), web=web_dir)
    yield srv
    srv.proc.terminate()
    srv.proc.wait(timeout=10)


@pytest.fixture(autouse=True)
def no_faults_left(request):
    yield
    if "server" in request.fixturenames:
        request.getfixturevalue("server").admin("DELETE", "faults")
