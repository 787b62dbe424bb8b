"""devserver's admin API as the end-to-end tests use it: documents, faults, and what the
adaptor last received."""
import json
import urllib.error
import urllib.request


class AdminClient:
    def __init__(self, base_url):
        self.base = base_url

    def admin(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode("utf-8")
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            # Generous: a document of a few GiB is written before the answer, on a disk that
            # may be busy with the rest of the run.
            with urllib.request.urlopen(req, timeout=120) as r:
                return r.status, json.loads(r.read() or b"null")
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read() or b"null")

    def document(self, oid):
        status, out = self.admin("GET", f"/_admin/document?object={oid}")
        assert status == 200, out
        return out

    def fault(self, **fields):
        status, out = self.admin("POST", "/_admin/faults", fields)
        assert status == 200, out

    def clear_faults(self):
        self.admin("DELETE", "/_admin/faults")

    def release(self):
        """Lets every reply held by a "hold" fault go on."""
        status, out = self.admin("POST", "/_admin/release")
        assert status == 200, out

    def last(self, command):
        status, out = self.admin("GET", f"/_admin/last?command={command}")
        return out if status == 200 else None
