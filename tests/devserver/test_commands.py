"""Each adaptor command's success and refusal, and the check-out state rules."""
import base64
import hashlib

import pytest

from conftest import pattern


def test_checkout_returns_the_version_file_and_records_the_holder(server):
    oid = server.new_document(versions=[{"version": "1.0", "size": 70000}])
    reply = server.checkout(oid)
    assert reply.code == "00", reply.desc
    assert reply.filesize == "70000"
    assert reply.body == pattern(70000)
    assert server.document(oid)["checkout"] == {"user": "alice", "version": "1.0"}


@pytest.mark.parametrize("field,value,code", [
    ("object", "NO-SUCH-DOC", "10"),
    ("page", "P9", "10"),
    ("version", "7.7", "11"),
])
def test_checkout_refuses_what_does_not_exist(server, field, value, code):
    oid = server.new_document()
    args = {"object_id": oid, "page": "P1", "version": "1.0"}
    args["object_id" if field == "object" else field] = value
    reply = server.checkout(**args)
    assert reply.code == code
    assert reply.desc
    assert reply.body == b""
    assert server.document(oid)["checkout"] is None


def test_checkout_held_by_another_user_is_refused_and_own_repeat_is_allowed(server):
    oid = server.new_document(versions=[{"version": "1.0", "text": "a"}, {"version": "1.1", "text": "b"}])
    assert server.checkout(oid, "alice", "1.1").code == "00"
    other = server.checkout(oid, "bob", "1.1")
    assert other.code == "20"
    assert "alice" in other.desc
    again = server.checkout(oid, "alice", "1.0")
    assert again.code == "00" and again.body == b"a"
    assert server.document(oid)["checkout"] == {"user": "alice", "version": "1.0"}


def test_cancel_releases_only_the_callers_checkout(server):
    oid = server.new_document()
    assert server.form("CHECKOUTCANCEL", XRQ_OBJECT=oid, XRQ_VERSION="1.0", XRQ_USER="alice").code == "21"
    assert server.checkout(oid).code == "00"
    cases = [("bob", "1.0", "21"), ("alice", "2.0", "21"), ("alice", "1.0", "00"), ("alice", "1.0", "21")]
    for user, version, code in cases:
        reply = server.form("CHECKOUTCANCEL", XRQ_OBJECT=oid, XRQ_VERSION=version, XRQ_USER=user)
        assert reply.code == code, (user, version, reply.desc)
    assert server.document(oid)["checkout"] is None
    assert server.checkout(oid, "bob").code == "00"


def checkin(server, oid, new, user="alice", version="1.0", content=b"edited", note=""):
    return server.checkin(content, XRQ_OBJECT=oid, XRQ_VERSION=version, XRQ_NEWVERSION=new,
                          XRQ_USER=user, XRQ_VNOTE=note)


@pytest.mark.parametrize("creator,immutable,held,new,code,stored", [
    # current version, caller is the creator: same, minor or major
    ("alice", False, "1.2", "1.2", "00", "1.2"),
    ("alice", False, "1.2", "1.3", "00", "1.3"),
    ("alice", False, "1.2", "2.0", "00", "2.0"),
    ("alice", False, "1.2", "1.4", "22", None),
    ("alice", False, "1.2", "3.0", "22", None),
    # the same version as the arithmetic writes it overwrites "1.02" in place
    ("alice", False, "1.02", "1.2", "00", "1.02"),
    ("alice", False, "3.10.4", "3.11.0", "00", "3.11.0"),
    # not the creator: the version must change
    ("bob", False, "1.2", "1.2", "22", None),
    ("bob", False, "1.2", "1.3", "00", "1.3"),
    # immutable: only the same version, for anyone
    ("alice", True, "1.2", "1.3", "22", None),
    ("bob", True, "1.2", "1.2", "00", "1.2"),
])
def test_checkin_version_rules(server, creator, immutable, held, new, code, stored):
    oid = server.new_document(creator=creator, immutable=immutable,
                              versions=[{"version": held, "text": "old"}])
    assert server.checkout(oid, "alice", held).code == "00"
    reply = checkin(server, oid, new, version=held)
    assert reply.code == code, reply.desc
    doc = server.document(oid)
    if code == "00":
        assert doc["checkout"] is None
        assert doc["current"] == stored
        assert len(doc["versions"]) == (1 if stored == held else 2)
        assert server.form("DOWNLOAD", XRQ_OBJECT=oid, XRQ_PAGE="P1", XRQ_USER="bob").body == b"edited"
    else:
        assert doc["checkout"] == {"user": "alice", "version": held}
        assert doc["current"] == held


def test_checkin_of_an_older_version_may_only_overwrite_it(server):
    oid = server.new_document(versions=[{"version": "1.0", "text": "old"}, {"version": "1.1", "text": "cur"}])
    assert server.checkout(oid, "alice", "1.0").code == "00"
    assert checkin(server, oid, "1.1").code == "22"
    assert checkin(server, oid, "2.0").code == "22"
    assert checkin(server, oid, "1.0", content=b"fixed").code == "00"
    doc = server.document(oid)
    assert sorted(v["version"] for v in doc["versions"]) == ["1.0", "1.1"]
    assert doc["current"] == "1.0"
    assert server.checkout(oid, "bob", "1.0").body == b"fixed"


def test_checkin_needs_the_holder_and_the_held_version(server):
    oid = server.new_document()
    assert checkin(server, oid, "1.1").code == "21"          # nobody holds it
    assert server.checkout(oid, "alice").code == "00"
    assert checkin(server, oid, "1.1", user="bob").code == "21"
    assert checkin(server, oid, "1.1", version="0.9").code == "21"
    assert checkin(server, "NO-SUCH", "1.1").code == "10"
    assert server.document(oid)["checkout"] == {"user": "alice", "version": "1.0"}
    assert len(server.document(oid)["versions"]) == 1


def test_checkin_refuses_a_version_that_already_exists(server):
    oid = server.new_document(versions=[{"version": "1.3", "text": "x"}, {"version": "1.2", "text": "y"}],
                              current="1.2")
    assert server.checkout(oid, "alice", "1.2").code == "00"
    reply = checkin(server, oid, "1.3", version="1.2")
    assert reply.code == "22" and "exists" in reply.desc
    assert checkin(server, oid, "2.0", version="1.2").code == "00"


def test_korean_name_and_note_round_trip_byte_for_byte(server):
    name = "분기 보고서 (최종).docx"
    note = "오타 수정 — 표 2 갱신 ✓"
    oid = server.new_document(name=name, versions=[{"version": "1.0", "text": "v1"}])
    assert server.checkout(oid, "alice").code == "00"
    assert checkin(server, oid, "1.1", note=note, content="한글 본문".encode()).code == "00"
    last = server.admin("GET", "last?command=CHECKIN")[1]
    assert last["fields"]["XRQ_VNOTE"] == note
    assert server.checkout(oid, "alice", "1.1").body == "한글 본문".encode()
    rows = server.form("GETCHECKOUTLIST", XRQ_USER="alice").desc.split("\f")
    row = next(r.split("\t") for r in rows if r.split("\t")[1] == oid)
    assert row[2].encode() == name.encode()
    assert row[7].encode() == note.encode()


def test_checkout_list_has_nine_fields_per_row_and_flags_the_current_version(server):
    user = "lister"
    server.admin("POST", "users", {"id": "owner1", "name": "Owner One"})
    a = server.new_document(creator="owner1", name="A.docx",
                            versions=[{"version": "1.0", "text": "a", "note": "old"},
                                      {"version": "1.1", "text": "b", "note": "new"}])
    b = server.new_document(creator="owner1", name="B.docx", versions=[{"version": "2.0", "note": "only"}])
    assert server.form("GETCHECKOUTLIST", XRQ_USER=user).desc == ""
    assert server.checkout(a, user, "1.0").code == "00"
    assert server.checkout(b, user, "2.0").code == "00"
    reply = server.form("GETCHECKOUTLIST", XRQ_USER=user, XRQ_SHARENAME="share")
    assert reply.code == "00"
    rows = sorted(r.split("\t") for r in reply.desc.split("\f"))
    assert rows == [["1.0", a, "A.docx", "", "", "owner1", "Owner One", "old", "F"],
                    ["2.0", b, "B.docx", "", "", "owner1", "Owner One", "only", "T"]]


def test_download_returns_the_current_version(server):
    oid = server.new_document(versions=[{"version": "1.0", "text": "old"}, {"version": "1.1", "text": "new"}],
                              current="1.1")
    reply = server.form("DOWNLOAD", XRQ_OBJECT=oid, XRQ_PAGE="P1", XRQ_USER="bob")
    assert (reply.code, reply.filesize, reply.body) == ("00", "3", b"new")
    for obj, page in [("NO-SUCH", "P1"), (oid, "P2")]:
        refused = server.form("DOWNLOAD", XRQ_OBJECT=obj, XRQ_PAGE=page, XRQ_USER="bob")
        assert refused.code == "10" and refused.desc and refused.body == b""


def test_unread_count_follows_the_notice_page(server):
    user = "reader"
    assert server.form("GETNEWMSGCOUNT", XRQ_USER=user).desc == "0"
    for title in ["one", "two", "three"]:
        server.admin("POST", "notices", {"user": user, "title": title, "body": "b"})
    reply = server.form("GETNEWMSGCOUNT", XRQ_USER=user)
    assert (reply.code, reply.desc) == ("00", "3")
    page = server.request("GET", "/notice?XRQ_USER=%s&XRQ_LANG=1033" % user)
    assert page.status == 200
    assert server.form("GETNEWMSGCOUNT", XRQ_USER=user).desc == "0"


def test_update_offer_and_installer_with_md5(server):
    server.admin("POST", "updates", {"target": "T_APP", "version": "3.1.0", "size": 100000})
    server.admin("POST", "updates", {"target": "T_APP", "version": "3.0.9", "size": 10})
    cases = [("3.0.0", "3.1.0", "100000"), ("3.0.10", "3.1.0", "100000"), ("3.1.0", None, "0"),
             ("9.0", None, "0")]
    for installed, offered, size in cases:
        reply = server.form("CHECKUPDATE", XRQ_TARGET="T_APP", XRQ_INSTVER=installed, XRQ_USER="alice")
        assert reply.code == "00"
        assert bytes.fromhex(reply.filesize).decode() == size, installed
        if offered:
            assert reply.desc == offered
    none = server.form("CHECKUPDATE", XRQ_TARGET="NOBODY", XRQ_INSTVER="1.0", XRQ_USER="alice")
    assert bytes.fromhex(none.filesize).decode() == "0"

    reply = server.form("DOWNLOADUPDATE", XRQ_TARGET="T_APP", XRQ_REQVER="3.1.0", XRQ_USER="alice")
    assert reply.code == "00"
    assert reply.body == pattern(100000)
    assert reply.filesize == "100000"
    assert reply.desc == hashlib.md5(reply.body).hexdigest().upper()
    missing = server.form("DOWNLOADUPDATE", XRQ_TARGET="T_APP", XRQ_REQVER="4.0", XRQ_USER="alice")
    assert missing.code == "30" and missing.body == b""


def test_update_package_from_base64_with_an_answered_checksum(server):
    content = bytes(range(256)) * 4000 + b"\x00\xff\x01"  # 1 MB and a tail that needs padding
    status, answer = server.admin("POST", "updates", {"target": "B64_APP", "version": "1.0",
                                                      "base64": base64.b64encode(content).decode(),
                                                      "md5": "0123456789abcdef0123456789ABCDEF"})
    assert (status, answer["size"]) == (200, len(content))
    reply = server.form("DOWNLOADUPDATE", XRQ_TARGET="B64_APP", XRQ_REQVER="1.0", XRQ_USER="alice")
    assert reply.body == content
    assert reply.desc == "0123456789abcdef0123456789ABCDEF"
    for bad in ({"base64": "QQ="}, {"base64": "Q=Q="}, {"base64": "QQ==QQ=="}, {"base64": "QUJD\n"},
                {"text": "x", "md5": "123"}, {"text": "x", "md5": "g" * 32}):
        status, answer = server.admin("POST", "updates", {"target": "B64_APP", "version": "2.0", **bad})
        assert status == 400, bad
