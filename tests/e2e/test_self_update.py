"""The agent's self-update under Wine against a devserver of its own: the update tick asks, the
test answers Yes, and the downloaded "installer" is a stand-in that notes how it was started.
What must never start it: a refused download, a checksum that does not match, a file that does
not name the publisher, Cancel, an offered version that is no plain name, and Exit meanwhile.
The real installer's update runs in test_installer.py.

One agent serves the module; each case offers a newer version than the one before.
"""
import base64

import pytest

from conftest import AGENT_PORT, CONFIG_KEY, Agent, seeded_devserver, uidriver, wait_until, windows_path
from devserver_admin import AdminClient
from runner_fixtures import TOOLS_BIN
from tray_fixtures import CHECK_UPDATES, IDOK, UPDATE_TIMER, menu, message_box, no_message_box, tick, wait_line

TITLE = "Pellarin[1.0.0]"
QUESTION = "EDMS Agent update"  # also the update window's name
IDYES, IDCANCEL, EXIT = 6, 2, 32772
STAND_IN = TOOLS_BIN / "update_stand_in.exe"              # names this system's publisher
OTHER_PUBLISHER = TOOLS_BIN / "update_stand_in_other.exe"  # names "Someone Else"
NO_PUBLISHER = TOOLS_BIN / "start_recorder.exe"           # no version resource


@pytest.fixture(scope="module")
def server(windows_programs):
    missing = [str(p) for p in (STAND_IN, OTHER_PUBLISHER, NO_PUBLISHER) if not p.exists()]
    if missing:
        pytest.skip("not built yet: " + ", ".join(missing))
    with seeded_devserver("edms-update-") as url:
        yield AdminClient(url), url


@pytest.fixture(scope="module")
def agent(server, tmp_path_factory):
    """(agent, work folder): the installed version 1.0.0 of kind EDMS_AGENT, in English."""
    admin, url = server
    work = tmp_path_factory.mktemp("update-work")
    uidriver("reg-delete", CONFIG_KEY)
    for name, kind, value in (("AdaptorURL", "sz", f"{url}/adaptor"), ("WorkFolder", "sz", windows_path(work)),
                              ("AppType", "sz", "EDMS_AGENT"), ("AppVersion", "sz", "1.0.0"),
                              ("LanguageID", "dword", 1033), ("ServicePort", "dword", AGENT_PORT)):
        uidriver("reg-set", CONFIG_KEY, name, kind, value)
    running = Agent(work.parent / "update-agent.log", title=TITLE).start()
    try:
        yield running, work
    finally:
        running.stop()
        admin.clear_faults()


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


@pytest.mark.parametrize("version, package, md5, fault, told", [
    ("3.0.1", NO_PUBLISHER, None, {"mode": "refuse", "code": "30", "message": "Not for you."}, "Not for you."),
    # The stand-in would pass every later check: only the checksum keeps it from starting.
    ("3.0.2", STAND_IN, "0" * 32, None, "Checksum mismatch found."),
    ("3.0.3", NO_PUBLISHER, None, None,
     "The update was not installed: the downloaded installer does not name its publisher."),
    ("3.0.4", OTHER_PUBLISHER, None, None,
     'The update was not installed: the downloaded installer names the publisher "Someone Else", not "kelvora".'),
])
def test_a_failed_check_is_told_and_starts_nothing(server, agent, version, package, md5, fault, told):
    admin, _ = server
    running, work = agent
    offer(admin, version, package.read_bytes(), md5)
    if fault:
        admin.fault(command="DOWNLOADUPDATE", **fault)
    accept_update(running, version)
    assert message_box("Information", IDOK) == told
    # A refused download leaves nothing; a checked one stays in the work folder.
    assert installer_of(work, version).exists() == (fault is None)
    assert started(work, version) == []
    admin.clear_faults()


def test_a_checked_installer_is_started_silently(server, agent):
    admin, _ = server
    running, work = agent
    md5 = offer(admin, "3.0.5", STAND_IN.read_bytes())
    offer(admin, "3.0.5", STAND_IN.read_bytes(), md5.lower())  # the case of the server's checksum is no matter
    before = accept_update(running, "3.0.5")
    assert wait_until(lambda: started(work, "3.0.5") == ["/S"], 60)
    wait_line(running, "update installer started", after=before)
    assert no_message_box()
    assert installer_of(work, "3.0.5").read_bytes() == STAND_IN.read_bytes()


def test_cancel_stops_the_download_and_leaves_no_installer(server, agent):
    admin, _ = server
    running, work = agent
    offer(admin, "3.0.6", b"x" * 1000)
    admin.fault(command="DOWNLOADUPDATE", mode="hold", bytes=1)
    before = accept_update(running, "3.0.6")
    uidriver("wait-window", QUESTION, timeout_ms=30000)
    # Meanwhile no second offer.
    menu(CHECK_UPDATES, title=TITLE)
    wait_line(running, "update message already open", after=before)
    uidriver("click", QUESTION, IDCANCEL)
    assert message_box("Information", IDOK) == "Aborted by user."
    assert sorted(p.name for p in work.iterdir() if "3.0.6" in p.name) == []
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
