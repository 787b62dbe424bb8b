"""The agent's tray menu, interval trackbars, periodic checks and notice window under Wine,
against devserver. Tray choices and timer ticks are posted to the main window as the system
would; what the agent starts is seen through stand-ins that note their arguments."""
import uuid

import pytest

from conftest import AGENT_TITLE, APP_VERSION, reg_get, uidriver, wait_until, windows_path
from runner_fixtures import adaptor  # noqa: F401
from tray_fixtures import (CHECK_UPDATES, EDMS, IDNO, IDOK, NOTICE, NOTICE_SLIDER, NOTICE_TIMER, NOTICE_VALUE,  # noqa: F401
                           TRASHCAN, TRAY_NOTIFY, UPDATE_SLIDER, UPDATE_TIMER, UPDATE_VALUE, VK_ESCAPE, VK_LEFT, VK_RIGHT,
                           WM_KEYDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WORKING_DOCUMENTS, agent_folder, become_user, menu,
                           message_box, no_message_box, post, recorder, screenshot, stand_in_browser, tick, wait_line)

NO_USER = "No user account information found. please logon to edms."


def unique(prefix):
    return f"{prefix}-{uuid.uuid4().hex[:8]}"


def test_notice_tick_shows_the_unread_count_and_stays_silent_otherwise(write_config, start_agent, adaptor):
    write_config()
    agent = start_agent()
    three, none = unique("three"), unique("none")
    for i in range(3):
        adaptor.admin("POST", "/_admin/notices", {"user": three, "title": f"n{i}", "body": "b"})
    refusal = {"command": "GETNEWMSGCOUNT", "mode": "refuse", "code": "55", "message": "not now"}
    # Each case waits for the last line its tick writes.
    cases = [
        (three, None, "balloon shown: ", ["balloon shown: 3 unread messages..."]),
        (none, None, "notice count 0", []),
        # A refusal is silent, also for a user who has unread notices.
        (three, refusal, "notice check failed, result -1", []),
    ]
    for user, fault, outcome, balloons in cases:
        if fault:
            adaptor.fault(**fault)
        become_user(user)
        before = len(agent.trace_lines())
        tick(NOTICE_TIMER)
        wait_line(agent, outcome, after=before)
        assert [line for line in agent.trace_lines()[before:] if line.startswith("balloon")] == balloons, user


def test_check_updates_without_a_newer_package_names_the_installed_version(write_config, start_agent):
    # devserver offers 2.0.0 for EDMS_AGENT: older than the installed version.
    write_config(AppType="EDMS_AGENT")
    start_agent()
    menu(CHECK_UPDATES)
    assert message_box("Information", IDOK) == f"You have latest version({APP_VERSION})."


def test_offered_update_is_asked_once_and_no_pauses_then_rearms_the_timer(write_config, start_agent, adaptor):
    write_config(AppType="EDMS_AGENT", AppVersion="1.0.0")
    agent = start_agent(title="Pellarin[1.0.0]")
    downloads = adaptor.last("DOWNLOADUPDATE")
    before = len(agent.trace_lines())
    menu(CHECK_UPDATES, title="Pellarin[1.0.0]")
    uidriver("msgbox", "--caption", "EDMS Agent update", timeout_ms=30000)
    # A second "Check updates..." while the question is up brings it forward, nothing more.
    menu(CHECK_UPDATES, title="Pellarin[1.0.0]")
    wait_line(agent, "update message already open", after=before)
    text = message_box("EDMS Agent update", IDNO)
    assert text.startswith("An update(Version:2.0.0,Size:") and text.endswith(
        ") is now available. Proceed with the update?"), text
    answered = wait_line(agent, "update question answered no", after=before)
    rearmed = wait_line(agent, "timer 1 armed 600000 ms", after=answered)
    lines = agent.trace_lines()
    assert lines.index("timer 1 paused", before) < answered < rearmed
    assert no_message_box()
    assert adaptor.last("DOWNLOADUPDATE") == downloads


def test_trackbar_rearms_its_timer_and_the_interval_survives_the_next_command(write_config, start_agent):
    write_config()  # no intervals configured: 5 and 10 minutes
    agent = start_agent()
    post(TRAY_NOTIFY, 143, WM_LBUTTONDBLCLK)  # the trackbars are made when the window is first shown
    assert wait_until(lambda: uidriver("is-visible", AGENT_TITLE) == ["true"], 15)
    cases = [
        (NOTICE_SLIDER, NOTICE_VALUE, VK_RIGHT, 10, "timer 0 armed 900000 ms", "NoticeCheckTime", "15"),
        (UPDATE_SLIDER, UPDATE_VALUE, VK_LEFT, 3, "timer 1 armed 420000 ms", "UpdateCheckTime", "7"),
    ]
    for slider, value, key, presses, armed, name, minutes in cases:
        before = len(agent.trace_lines())
        uidriver("key", AGENT_TITLE, slider, key, presses)
        wait_line(agent, armed, after=before)
        assert uidriver("text", AGENT_TITLE, value) == [minutes]
        assert wait_until(lambda: reg_get(name) == minutes, 15), name
    # The next command saves the agent's record (a new user): the intervals stay.
    user = unique("next")
    become_user(user)
    assert wait_until(lambda: reg_get("EdmUserId") == user, 15)
    assert (reg_get("NoticeCheckTime"), reg_get("UpdateCheckTime")) == ("15", "7")


def test_edms_opens_the_page_for_the_user_encoded(write_config, start_agent, devserver, stand_in_browser):
    write_config(EdmUserId="홍 길동+a&b=c")
    start_agent()
    menu(EDMS)
    assert wait_until(lambda: stand_in_browser() != [], 30)
    assert stand_in_browser() == [f"{devserver}/?XRQ_USER=%ED%99%8D%20%EA%B8%B8%EB%8F%99%2Ba%26b%3Dc"]


def test_working_documents_and_trashcan_start_beside_the_agent_for_the_user(write_config, start_agent, devserver,
                                                                             work_dirs, agent_folder):
    for name in ("ZTWorkingDocuments.exe", "ZTTrashCan.exe"):
        agent_folder.add(name)
    write_config(AppType="ZELTO_CLIENT", EdmUserId="alice")
    start_agent(exe=agent_folder.exe)
    common = f"FILE_PATH=&ADAPTOR_URL={devserver}/adaptor&WORK_FOLDER={windows_path(work_dirs / 'work')}&USER_ID=alice"
    for command, name, tail in ((WORKING_DOCUMENTS, "ZTWorkingDocuments.exe", "&PASSWORD=KVMRT"),
                                (TRASHCAN, "ZTTrashCan.exe", "&XRQ_SHARENAME=*")):
        menu(command)
        assert wait_until(lambda: agent_folder.calls(name) != [], 30), name
        assert agent_folder.calls(name) == [common + tail]


@pytest.mark.parametrize("config, commands", [
    ({}, [(WORKING_DOCUMENTS, NO_USER), (NOTICE, NO_USER)]),
    # A value that would end early in the argument string; a program that is not there; a page
    # address that is not a web address.
    ({"EdmUserId": "alice", "AppType": "ZELTO_CLIENT", "AdaptorURL": "http://127.0.0.1:9/adaptor?site=1&x=2",
      "EdmsURL": r"C:\windows\notepad.exe"},
     [(WORKING_DOCUMENTS, "ZTWorkingDocuments.exe was not started: the user ID, the server address or the work "
                          "folder holds text that cannot be passed to it safely."),
      (TRASHCAN, "ZTTrashCan.exe was not found in the agent's folder"),
      (EDMS, 'The page address "C:\\windows\\notepad.exe" is not a web address (http or https).')]),
])
def test_tray_commands_that_cannot_start_say_why_and_start_nothing(write_config, start_agent, agent_folder,
                                                                    stand_in_browser, config, commands):
    agent_folder.add("ZTWorkingDocuments.exe")
    write_config(**config)
    start_agent(exe=agent_folder.exe)
    for command, message in commands:
        menu(command)
        assert message_box("Information", IDOK).startswith(message), command
    assert agent_folder.calls("ZTWorkingDocuments.exe") == []
    assert stand_in_browser() == []


def test_notice_opens_in_the_default_browser_when_no_browser_control_can_show_it(write_config, start_agent, devserver,
                                                                                  stand_in_browser):
    # Wine has no engine behind its browser control, so this is the path the agent takes here.
    write_config(EdmUserId="김 alice", LanguageID=1042)
    agent = start_agent()
    menu(NOTICE)
    assert wait_until(lambda: stand_in_browser() != [], 30), "\n".join(agent.trace_lines())
    assert stand_in_browser() == [f"{devserver}/notice?XRQ_USER=%EA%B9%80%20alice&XRQ_LANG=1042"]
    assert "notice window shown" not in agent.trace_lines()


def test_compat_kind_asks_for_no_notices(write_config, start_agent, adaptor, stand_in_browser):
    user = unique("compat")
    adaptor.admin("POST", "/_admin/notices", {"user": user, "title": "n", "body": "b"})
    write_config(AppType="ZELTO_CLIENT_COMPAT", EdmUserId=user)
    agent = start_agent()

    def asked(command):
        last = adaptor.last(command)
        return last is not None and last["fields"].get("XRQ_USER") == user

    tick(NOTICE_TIMER)
    menu(NOTICE)
    post(TRAY_NOTIFY, 145, WM_LBUTTONDBLCLK)  # the main window cannot be brought up either
    wait_line(agent, "trackbars made")  # though it made its trackbars
    uidriver("key", AGENT_TITLE, NOTICE_SLIDER, VK_RIGHT)
    # The window handles these one after the other and the checks go out in the order asked:
    # once the update check has arrived, everything before it has been done.
    tick(UPDATE_TIMER)
    assert wait_until(lambda: asked("CHECKUPDATE"), 30)
    assert not asked("GETNEWMSGCOUNT")
    assert uidriver("is-visible", AGENT_TITLE) == ["false"]
    lines = agent.trace_lines()
    assert lines.count("timer 0 not armed") == 2
    assert not [line for line in lines if line.startswith("balloon") or line.startswith("notice")]
    assert stand_in_browser() == []


@pytest.mark.parametrize("language", [1033, 1042])
def test_tray_menu_and_main_window_in_both_languages(write_config, start_agent, language):
    """Also leaves build/screenshots/tray_menu_<language>.bmp and main_window_<language>.bmp."""
    write_config(LanguageID=language, AppType="EDMS_AGENT", NoticeCheckTime=15)
    start_agent()
    post(TRAY_NOTIFY, 143, WM_RBUTTONUP)  # the right button released on the icon
    screenshot("#32768", f"tray_menu_{language}.bmp", by_class=True)
    uidriver("--class", "post", "#32768", WM_KEYDOWN, VK_ESCAPE, 0)
    post(TRAY_NOTIFY, 143, WM_LBUTTONDBLCLK)  # a double click restores the main window
    screenshot(AGENT_TITLE, f"main_window_{language}.bmp")
    assert uidriver("text", AGENT_TITLE, NOTICE_VALUE) == ["15"]
    assert uidriver("text", AGENT_TITLE, UPDATE_VALUE) == ["10"]
