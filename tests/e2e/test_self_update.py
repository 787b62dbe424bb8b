"""The agent's self-update under Wine against a devserver of its own: the update tick asks, the
test answers Yes, and the downloaded "installer" is a stand-in that notes how it was started.
What must never start it: a refused download, a checksum that does not match, an installer
that is unsigned, signed by another publisher or changed after signing, Cancel, an offered
version that is no plain name, and Exit meanwhile. An offer that is not newer is never asked.
The real installer's update runs in test_installer.py.

One agent serves the module; each case offers a newer version than the one before.
"""
import base64

import pytest

from conftest import AGENT_PORT, CONFIG_KEY, Agent, seeded_devserver, uidriver, wait_until, windows_path
from devserver_admin import AdminClient
from runner_fixtures import TOOLS_BIN
from signing import TRUST_ROOT, changed_after_signing, pin_of, trust_test_ca
from tray_fixtures import CHECK_UPDATES, IDOK, UPDATE_TIMER, menu, message_box, no_message_box, tick, wait_line
from wine_run import run_wine

TITLE = "Pellarin[1.0.0]"
QUESTION = "EDMS Agent update"  # also the update window's name
IDYES, IDCANCEL, EXIT = 6, 2, 32772
STAND_IN = TOOLS_BIN / "update_stand_in.exe"              # signed by the test bed's publisher
OTHER_PUBLISHER = TOOLS_BIN / "update_stand_in_other.exe"  # signed by "Someone Else", names ours
UNSIGNED = TOOLS_BIN / "start_recorder.exe"
POLICY_KEY = r"HKLM\Software\Policies\kelvora\Zelto"
HOLD_SECONDS = 3  # TestUpdateHoldSeconds: the installer is held this long before its checks
EARLIER = "EDMS_AGENT[0.9].exe"  # left by an earlier update: removed when the agent starts


@pytest.fixture(scope="module")
def server(windows_programs):
    missing = [str(p) for p in (STAND_IN, OTHER_PUBLISHER, UNSIGNED, TRUST_ROOT) if not p.exists()]
    if missing:
        pytest.skip("not built yet: " + ", ".join(missing))
    with seeded_devserver("edms-update-") as url:
        yield AdminClient(url), url


@pytest.fixture(scope="module")
def agent(server, tmp_path_factory):
    """(agent, work folder): the installed version 1.0.0 of kind EDMS_AGENT, in English."""
    admin, url = server
    work = tmp_path_factory.mktemp("update-work")
    (work / EARLIER).write_bytes(b"x")
    (work / "Report.docx").write_bytes(b"x")
    uidriver("reg-delete", CONFIG_KEY)
    for name, kind, value in (("AdaptorURL", "sz", f"{url}/adaptor"), ("WorkFolder", "sz", windows_path(work)),
                              ("AppType", "sz", "EDMS_AGENT"), ("AppVersion", "sz", "1.0.0"),
                              ("LanguageID", "dword", 1033), ("ServicePort", "dword", AGENT_PORT),
                              ("TestUpdateHoldSeconds", "dword", HOLD_SECONDS)):
        uidriver("reg-set", CONFIG_KEY, name, kind, value)
    trust_test_ca()
    running = Agent(work.parent / "update-agent.log", title=TITLE).start()
    try:
        yield running, work
    finally:
        running.stop()
        admin.clear_faults()
        trust_test_ca(add=False)
        run_wine("reg", "delete", POLICY_KEY, "/f", timeout=60)


def offer(admin, version, content, md5=None):
    package = {"target": "EDMS_AGENT", "version": version, "base64": base64.b64encode(content).decode()}
    if md5:
        package["md5"] = md5
    status, answer = admin.admin("POST", "/_admin/updates", package)
    assert status == 200, answer
    return answer["md5"]


def accept_update(agent, version):
    """The update tick, and Yes to its question; the index of the first debug line after it."""
    before = len(agent.trace_lines())
    tick(UPDATE_TIMER, title=TITLE)
    question = message_box(QUESTION, IDYES)
    assert f"(Version:{version}," in question
    return before


def installer_of(work, version):
    return work / f"EDMS_AGENT[{version}].exe"


def started(work, version):
    """The arguments the stand-in was started with, when it was."""
    calls = work / f"EDMS_AGENT[{version}].exe.calls"
    return calls.read_text("utf-8").splitlines() if calls.exists() else []


def test_installers_of_earlier_updates_are_removed_at_start(agent):
    running, work = agent
    wait_line(running, f"earlier update installer removed: {EARLIER}")
    assert sorted(p.name for p in work.iterdir()) == ["Report.docx"]


@pytest.mark.parametrize("version, ask, told", [
    ("0.9", tick, None),  # an older one: a server cannot take the installation back
    ("1.0.0", lambda timer, title: menu(CHECK_UPDATES, title=title), "You have latest version(1.0.0)."),
])
def test_an_offer_that_is_not_newer_is_never_asked(server, agent, version, ask, told):
    admin, _ = server
    running, _ = agent
    # devserver itself offers only newer versions: the fault answers as a server that does not.
    admin.fault(command="CHECKUPDATE", mode="refuse", code="00", message=version, bytes=1000)
    before = len(running.trace_lines())
    ask(UPDATE_TIMER, title=TITLE)
    wait_line(running, f"update {version} is not newer than 1.0.0: not offered", after=before)
    if told:
        assert message_box("Information", IDOK) == told
    assert no_message_box()
    admin.clear_faults()


@pytest.mark.parametrize("version, package, md5, fault, told", [
    ("3.0.1", UNSIGNED, None, {"mode": "refuse", "code": "30", "message": "Not for you."}, "Not for you."),
    # The stand-in would pass every other check: only the checksum keeps it from starting.
    ("3.0.2", STAND_IN, "0" * 32, None, "Checksum mismatch found."),
    ("3.0.3", UNSIGNED, None, None,
     "The update was not installed: the downloaded installer is not signed, so nothing shows that it comes "
     "from the publisher of this program. Tell your administrator."),
    ("3.0.4", OTHER_PUBLISHER, None, None,
     'The update was not installed: the downloaded installer is signed by "Someone Else (test code signing, '
     'tests only)", not by the publisher of this program. Tell your administrator.'),
    ("3.0.5", "changed", None, None,
     "The update was not installed: the downloaded installer was changed after it was signed, or its "
     "signature is damaged. Tell your administrator."),
])
def test_a_failed_check_is_told_and_starts_nothing(server, agent, version, package, md5, fault, told):
    admin, _ = server
    running, work = agent
    content = changed_after_signing(STAND_IN.read_bytes()) if package == "changed" else package.read_bytes()
    offer(admin, version, content, md5)
    if fault:
        admin.fault(command="DOWNLOADUPDATE", **fault)
    accept_update(running, version)
    assert message_box("Information", IDOK, timeout_ms=60000) == told
    # A refused download leaves nothing; a checked one stays in the work folder until the next start.
    assert installer_of(work, version).exists() == (fault is None)
    assert started(work, version) == []
    admin.clear_faults()


def test_a_checked_installer_is_started_silently_and_nobody_can_change_it_meanwhile(server, agent):
    admin, _ = server
    running, work = agent
    md5 = offer(admin, "3.0.6", STAND_IN.read_bytes())
    offer(admin, "3.0.6", STAND_IN.read_bytes(), md5.lower())  # the case of the server's checksum is no matter
    before = accept_update(running, "3.0.6")
    wait_line(running, "update installer held", after=before)
    # While held, another process can neither write it nor delete (or rename) it.
    tries = uidriver("try-open", windows_path(installer_of(work, "3.0.6")))
    assert [t.split()[:2] for t in tries] == [["write", "refused"], ["delete", "refused"]], tries
    assert wait_until(lambda: started(work, "3.0.6") == ["/S"], 60)
    wait_line(running, "update installer started", after=before)
    assert no_message_box()
    assert installer_of(work, "3.0.6").read_bytes() == STAND_IN.read_bytes()


def test_a_publisher_the_administrator_pins_by_policy_is_accepted(server, agent):
    admin, _ = server
    running, work = agent
    code, _, err = run_wine("reg", "add", POLICY_KEY, "/v", "UpdateSignerPin", "/d", pin_of("test-other-signer"),
                            "/f", timeout=60)
    assert code == 0, err
    offer(admin, "3.0.7", OTHER_PUBLISHER.read_bytes())
    accept_update(running, "3.0.7")
    assert wait_until(lambda: started(work, "3.0.7") == ["/S"], 60)
    run_wine("reg", "delete", POLICY_KEY, "/f", timeout=60)


def test_cancel_stops_the_download_and_leaves_no_installer(server, agent):
    admin, _ = server
    running, work = agent
    offer(admin, "3.0.8", b"x" * 1000)
    admin.fault(command="DOWNLOADUPDATE", mode="hold", bytes=1)
    before = accept_update(running, "3.0.8")
    uidriver("wait-window", QUESTION, timeout_ms=30000)
    # Meanwhile no second offer.
    menu(CHECK_UPDATES, title=TITLE)
    wait_line(running, "update message already open", after=before)
    uidriver("click", QUESTION, IDCANCEL)
    assert message_box("Information", IDOK) == "Aborted by user."
    assert sorted(p.name for p in work.iterdir() if "3.0.8" in p.name) == []
    admin.clear_faults()


def test_an_offered_version_that_is_no_plain_name_is_refused_unasked(server, agent):
    admin, _ = server
    running, work = agent
    offer(admin, "9.0\\..\\..\\evil", b"x")
    downloads = admin.last("DOWNLOADUPDATE")
    before = len(running.trace_lines())
    tick(UPDATE_TIMER, title=TITLE)
    wait_line(running, "update offer refused", after=before)
    assert no_message_box()
    assert admin.last("DOWNLOADUPDATE") == downloads


def test_exit_during_the_download_ends_the_agent_and_starts_nothing(server, agent):
    admin, _ = server
    running, work = agent
    offer(admin, "9.1", STAND_IN.read_bytes())
    admin.fault(command="DOWNLOADUPDATE", mode="hold", bytes=1)
    accept_update(running, "9.1")
    uidriver("wait-window", QUESTION, timeout_ms=30000)
    menu(EXIT, title=TITLE)
    assert running.wait_exit(30) == 0
    assert "update stopped: the agent is exiting" in running.trace_lines()
    assert not installer_of(work, "9.1").exists()
    assert started(work, "9.1") == []
